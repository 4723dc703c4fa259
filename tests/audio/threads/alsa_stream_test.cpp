// The ALSA measurement stream against devices restricted by a private configuration
// (tests/audio/alsa_restricted.conf): plugs in front of the null device whose slaves are fixed
// at 48000 Hz s16 (tavrin_48k) or 96000 Hz packed 24-bit (tavrin_96k_s24_3). No sound server;
// the null device captures silence as fast as it is read.

#include "audio/stream/alsa_stream.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr const char* kDevice = "tavrin_48k";

class AlsaStreamRestricted : public ::testing::Test {
protected:
    // alsa-lib reads ALSA_CONFIG_PATH afresh whenever its configuration is updated (at each
    // open), so setting it in the process before the first open is enough.
    static void SetUpTestSuite() { setenv("ALSA_CONFIG_PATH", TAVRIN_ALSA_RESTRICTED_CONF, 1); }
};

TEST_F(AlsaStreamRestricted, OffersExactlyItsSlavesRateAndFormat) {
    const StreamOffer offer = QueryAlsaOffer(kDevice);
    EXPECT_EQ(offer.rates_hz, std::vector<int>{48000});
    EXPECT_EQ(offer.formats, std::vector<SampleFormat>{SampleFormat::S16});
}

// Packed 24-bit serves s24 when 24 bits in 4 bytes is not there.
TEST_F(AlsaStreamRestricted, PackedS24IsOfferedAndOpensAsS24) {
    const StreamOffer offer = QueryAlsaOffer("tavrin_96k_s24_3");
    EXPECT_EQ(offer.rates_hz, std::vector<int>{96000});
    EXPECT_EQ(offer.formats, std::vector<SampleFormat>{SampleFormat::S24});
    std::string error;
    EXPECT_NE(OpenAlsaStream("tavrin_96k_s24_3", {96000, SampleFormat::S24}, &error), nullptr)
        << error;
}

class AlsaStreamRefusal : public AlsaStreamRestricted,
                          public ::testing::WithParamInterface<StreamFormat> {};

// Each of these the plug would happily convert to 48000 Hz s16 if allowed.
TEST_P(AlsaStreamRefusal, IsOneLineNamingWhatTheDeviceOffers) {
    const StreamFormat asked = GetParam();
    std::string error;
    EXPECT_EQ(OpenAlsaStream(kDevice, asked, &error), nullptr);
    EXPECT_EQ(error, "'tavrin_48k' does not offer " + std::to_string(asked.rate_hz) + " Hz " +
                         SampleFormatName(asked.format) + "; it offers 48000 Hz and s16");
}

INSTANTIATE_TEST_SUITE_P(OtherFormats, AlsaStreamRefusal,
                         ::testing::Values(StreamFormat{96000, SampleFormat::S24},
                                           StreamFormat{44100, SampleFormat::S16},
                                           StreamFormat{48000, SampleFormat::S24},
                                           StreamFormat{48000, SampleFormat::S32},
                                           StreamFormat{48000, SampleFormat::Float}));

TEST_F(AlsaStreamRestricted, AMissingDeviceOffersNothingAndSaysItCannotOpen) {
    EXPECT_TRUE(QueryAlsaOffer("tavrin_no_such_device").rates_hz.empty());
    std::string error;
    EXPECT_EQ(OpenAlsaStream("tavrin_no_such_device", {48000, SampleFormat::S16}, &error), nullptr);
    EXPECT_EQ(error.rfind("cannot open 'tavrin_no_such_device' for capture: ", 0), 0u) << error;
}

struct Seen {
    std::atomic<int> periods{0};
    std::atomic<int> wrongPeriods{0}; // not 4096 frames, not silent, or with a gap
    std::atomic<int> unstamped{0};
    std::atomic<uint64_t> allocations{0};
};

void CountPeriod(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                 void* context) {
    auto* seen = static_cast<Seen*>(context);
    if (seen->periods.load() == 0) {
        tavrin::test::ArmAllocationCountOnThisThread();
        tavrin::test::ResetAllocationCount();
    } else {
        seen->allocations.store(tavrin::test::AllocationsOnArmedThreads());
    }
    bool silent = true;
    for (int i = 0; i < 2 * frames; ++i) {
        silent = silent && interleaved[i] == 0.0f;
    }
    if (frames != 4096 || !silent || gapCount != 0) {
        ++seen->wrongPeriods;
    }
    if (stamp.clock != DeviceClock::Monotonic) {
        ++seen->unstamped;
    }
    ++seen->periods;
}

class CountingSource final : public IStreamSource {
public:
    void Fill(float* interleaved, int frames) override {
        std::fill(interleaved, interleaved + 2 * frames, 0.25f);
        ++fills;
    }
    std::atomic<int> fills{0};
};

// Opens at the one format offered, runs, stops with no call after Stop, and runs again.
TEST_F(AlsaStreamRestricted, ItsOwnFormatOpensAndDeliversPeriodsUntilStopped) {
    std::string error;
    const auto stream = OpenAlsaStream(kDevice, {48000, SampleFormat::S16}, &error);
    ASSERT_NE(stream, nullptr) << error;
    EXPECT_EQ(stream->PeriodFrames(), 4096);
    for (int run = 0; run < 2; ++run) {
        Seen seen;
        CountingSource source;
        ASSERT_TRUE(stream->Start(CountPeriod, &seen, &source, &error)) << error;
        EXPECT_TRUE(WaitUntil([&] { return seen.periods.load() >= 4 && source.fills >= 2; }))
            << seen.periods.load() << " periods, " << source.fills.load() << " fills";
        stream->Stop();
        const int periods = seen.periods.load(), fills = source.fills.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(seen.periods.load(), periods);
        EXPECT_EQ(source.fills.load(), fills);
        EXPECT_EQ(seen.wrongPeriods.load(), 0);
        EXPECT_EQ(seen.unstamped.load(), 0);
        if (tavrin::test::kAllocationsCounted) {
            EXPECT_EQ(seen.allocations.load(), 0u) << "the I/O thread allocated";
        }
    }
}

} // namespace
