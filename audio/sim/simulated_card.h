#pragma once
// The simulated card's insides, shared by its controls (simulated_bench.cpp: what tests set and
// read through CSimulatedBench) and its moving parts (simulated_card.cpp: the devices' periods,
// the clock that runs them, the open). Not for use outside audio/sim.

#include "audio/sim/simulated_bench.h"
#include "audio/sim/simulated_dut_chain.h"
#include "audio/wave/wave_backends.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace simcard {

class CSimDevice;

// All bench state lives behind one mutex; the lock order is bench, then a device's queue.
struct BenchState {
    std::mutex mutex;
    std::condition_variable wake;
    BenchClock clock = BenchClock::RealTime;
    ChannelSignal signals[kChannels];
    std::map<std::pair<WaveDirection, WaveCall>, std::pair<MMRESULT, int>> faults;
    CSimDevice* in = nullptr;
    CSimDevice* out = nullptr;
    bool inStarted = false;
    bool gone = false;
    int reopenAttempts = 0;
    std::string names[2]; // of the open devices
    int opens[2] = {0, 0};
    int closes[2] = {0, 0};
    int64_t inputFrame = 0; // absolute index of the next captured frame
    // Frames the card's clock has run, every period counted: the clock both ends stamp their
    // headers on. The period's output goes out on the cable over the same frames its input
    // captures, so a plain cable's round trip is none at all.
    int64_t cardFrame = 0;
    int64_t filled = 0;
    int64_t played = 0;
    std::vector<int16_t> line = std::vector<int16_t>(size_t(kFramesPerBuffer) * kChannels);
    CSimulatedDut dut;
    std::optional<CSimulatedDutChain> chain; // of the latest "sim:dut=..." opened
    std::string chainName;
    // A measurement stream (simulated_stream.h) holds the card: one card, so it and the
    // 16-bit devices are never open at once.
    bool streamOpen = false;
    bool quit = false;
    std::thread ticker;
};

// The one bench of the process.
BenchState& State();

// A lost device's retry pace, in buffer periods of bench time.
inline const int kReopenPeriods =
    std::max(1, int(std::chrono::duration<double>(kReopenInterval).count() / kBufferSeconds + 0.5));

inline int Index(WaveDirection d) {
    return d == WaveDirection::In ? 0 : 1;
}

// The injected failure due now for `call` in `d`, counted down, or none. Bench lock held.
MMRESULT TakeFault(BenchState& s, WaveDirection d, WaveCall call);

// The period under way on the card's clock.
inline ClockStamp CardStamp(const BenchState& s) {
    return StampAfterFrames({0, DeviceClock::Bench}, double(s.cardFrame), kSampleRate);
}

class CSimDevice final : public CWaveDevice {
public:
    using CWaveDevice::CWaveDevice;

    bool HasHeader() { return Front() != nullptr; }

    MMRESULT InjectedFault(WaveCall call) override {
        std::lock_guard lock(State().mutex);
        return TakeFault(State(), Direction(), call);
    }

    MMRESULT Start() override {
        std::lock_guard lock(State().mutex);
        if (Direction() == WaveDirection::In) {
            State().inStarted = true;
        }
        State().wake.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override {
        std::lock_guard lock(State().mutex);
        if (Direction() == WaveDirection::In) {
            State().inStarted = false;
        }
        CompleteAll();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override {
        std::lock_guard lock(State().mutex);
        if (QueuedHeaders() != 0) {
            return WaveFail(WAVERR_STILLPLAYING, "buffers are still queued on the device");
        }
        BenchState& s = State();
        (Direction() == WaveDirection::In ? s.in : s.out) = nullptr;
        if (Direction() == WaveDirection::In) {
            s.inStarted = false;
        }
        ++s.closes[Index(Direction())];
        return MMSYSERR_NOERROR;
    }

protected:
    void OnHeaderQueued() override { State().wake.notify_all(); }

public:
    // One buffer period of a gone or coming-back card, bench lock held: true while the device
    // moves no data.
    bool OutageOnePeriod(BenchState& s) {
        if (!IsLost()) {
            if (!s.gone) {
                return false;
            }
            m_periodsToRetry = kReopenPeriods;
            MarkLost(MMSYSERR_NODRIVER, "simulated bench: the %s is gone; retrying",
                     Direction() == WaveDirection::In ? "line input" : "line output");
            return true;
        }
        if (--m_periodsToRetry > 0) {
            return true;
        }
        ++s.reopenAttempts;
        m_periodsToRetry = kReopenPeriods;
        if (!s.gone) {
            MarkBack();
        }
        return IsLost();
    }

    // One buffer period, bench lock held: output first, so what is played this period is what
    // the cable carries to the input in the same period.
    void PlayOnePeriod(BenchState& s) {
        WAVEHDR* h = Front();
        std::fill(s.line.begin(), s.line.end(), int16_t(0));
        if (h == nullptr) {
            return;
        }
        const size_t bytes = std::min<size_t>(h->dwBufferLength, s.line.size() * sizeof(int16_t));
        std::memcpy(s.line.data(), h->lpData, bytes);
        h->stamp = CardStamp(s);
        ++s.played;
        CompleteFront();
    }

    void CaptureOnePeriod(BenchState& s) {
        WAVEHDR* h = Front();
        const int64_t first = s.inputFrame;
        s.inputFrame += kFramesPerBuffer;
        if (h == nullptr) {
            CountDroppedInputFrames(kFramesPerBuffer);
            return;
        }
        const size_t frames =
            std::min<size_t>(h->dwBufferLength / kBytesPerFrame, kFramesPerBuffer);
        auto* samples = reinterpret_cast<int16_t*>(h->lpData);
        for (size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < kChannels; ++c) {
                const ChannelSignal& signal = s.signals[c];
                samples[f * kChannels + c] =
                    signal ? signal(first + int64_t(f)) : s.line[f * kChannels + c];
            }
        }
        h->dwBytesRecorded = uint32_t(frames * kBytesPerFrame);
        h->stamp = CardStamp(s);
        ++s.filled;
        CompleteFront();
    }

private:
    int m_periodsToRetry = 0; // bench lock
};

// "sim:dut=...": a name that sets its own chain of stages.
inline bool IsChainName(const std::string& name) {
    return name.rfind(kSimDutChainPrefix, 0) == 0;
}

// An end open as "sim:dut" puts the device under test in the cable. It works on silence too:
// an amplifier with nothing at its input still hums.
bool OpenAs(const BenchState& s, const std::string& name);

// One buffer period of the whole card: output, cable (and device under test), input. Bench
// lock held.
void Tick(BenchState& s);

} // namespace simcard
