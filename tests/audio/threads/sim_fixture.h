#pragma once
// Capture and playback objects on the simulated bench, with a recording alert sink.

#include "audio/sim/simulated_bench.h"
#include "audio/sound_in.h"
#include "audio/sound_play.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

class SimBenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectWaveBackend("sim");
        Bench().Reset();
        Bench().SetClock(BenchClock::Stepped);
    }
    void TearDown() override { SelectWaveBackend(nullptr); }

    static CSimulatedBench& Bench() { return CSimulatedBench::Instance(); }

    CAlertRecorder m_alerts;
};

// Counts callbacks and lets a test look at or change every buffer.
struct CallbackProbe {
    std::atomic<int> calls{0};
    std::atomic<int> lastLength{-1};
    std::function<void(SampleBuffer*)> action;

    static void Callback(SampleBuffer* buffer, void* context) {
        auto* self = static_cast<CallbackProbe*>(context);
        self->lastLength = buffer->m_length;
        if (self->action) {
            self->action(buffer);
        }
        ++self->calls;
    }
};

template <typename Thread>
void Wire(Thread& thread, CallbackProbe& probe) {
    thread.m_callback = &CallbackProbe::Callback;
    thread.m_callbackContext = &probe;
}
