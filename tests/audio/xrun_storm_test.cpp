#include "audio/wave/xrun_storm.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct StormCase {
    const char* name;
    // What the I/O thread meets, in order: x an xrun, r a recovery, f frames moved, z a transfer
    // that moved none, n a fresh stream (opened again), +N N milliseconds passing.
    const char* events;
    const char* verdicts; // one per x: C counted, R a repeat, L the device is lost
};

class XrunStorm : public ::testing::TestWithParam<StormCase> {};

TEST_P(XrunStorm, JudgesEachXrun) {
    CXrunStorm storm;
    CXrunStorm::Clock::time_point now{};
    std::string verdicts;
    std::istringstream events(GetParam().events);
    for (std::string event; events >> event;) {
        if (event == "x") {
            const auto verdict = storm.Xrun(now);
            verdicts += verdict == CXrunStorm::Verdict::Count    ? 'C'
                        : verdict == CXrunStorm::Verdict::Repeat ? 'R'
                                                                 : 'L';
        } else if (event == "r") {
            storm.Recovered(now);
        } else if (event == "f") {
            storm.Moved(1);
        } else if (event == "z") {
            storm.Moved(0);
        } else if (event == "n") {
            storm.Reset();
        } else {
            now += std::chrono::milliseconds(std::stoi(event.substr(1)));
        }
    }
    EXPECT_EQ(verdicts, GetParam().verdicts);
}

const StormCase kStormCases[] = {
    // A server gone under PipeWire's plugin: every restart fails at once.
    {"storm", "x r x r x r x", "CRRL"},
    {"storm_paced_by_polls", "x r +150 x r +150 x r +150 x", "CRRL"},
    // A busy machine: each restart brings frames before the next overrun.
    {"overruns_with_frames", "x r f x r f x r f x r f x", "CCCCC"},
    // A thread starved longer than the device buffer, again and again: real overruns.
    {"starved_thread", "x r +400 x r +400 x r +400 x", "CCCC"},
    {"frames_end_a_storm", "x r x r x r f x r x r x", "CRRCRR"},
    {"empty_transfers_are_no_frames", "x r z x r z x r z x", "CRRL"},
    {"fresh_stream_counts_anew", "x r x r x n x r x", "CRRCR"},
};

INSTANTIATE_TEST_SUITE_P(Cases, XrunStorm, ::testing::ValuesIn(kStormCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
