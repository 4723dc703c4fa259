// The distortion analyser at a card's own rates and depths: 24-bit quantisation read as what it
// is, harmonics far below 16 bits, and harmonics and bands up to Nyquist at 192 kHz. The oracles
// are the samples' own rounding error and the levels planted.
#include "analysis/distortion/distortion.h"
#include "analysis/distortion/distortion_monitor.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr int kFrames = 65536;
const double kMinus1Dbfs = std::pow(10.0, -1.0 / 20);

// A 24-bit 997 Hz tone at -1 dBFS at 96 kHz: THD+N is its own rounding error, about -148 dB in
// the 20-20000 band, which double-precision arithmetic must not hide.
TEST(HiresDistortion, Thdn24BitIsTheRoundingError) {
    constexpr double rate = 96000;
    const auto ideal = Synthesise(kFrames, {{kMinus1Dbfs, 997, 0.4}}, rate);
    const auto x = QuantiseBits(ideal, 24, false);
    std::vector<double> error(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        error[k] = x[k] - ideal[k];
    }
    const double noise = BandMeanSquare(error, 20, 20000, rate);
    const double oracleDb = 10 * std::log10(noise / (0.5 * kMinus1Dbfs * kMinus1Dbfs + noise));
    ASSERT_LT(oracleDb, -140) << "the tone is not 24-bit";

    CDistortionAnalyser analyser(kFrames, rate);
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.f0_hz, 997, 1e-6);
    EXPECT_NEAR(*r.thdn_db, oracleDb, 1.0);
    RecordProperty("thdn_db", std::to_string(*r.thdn_db));
    RecordProperty("oracle_db", std::to_string(oracleDb));
}

// H2 at -130 dB under a 24-bit -1 dBFS tone at 96 kHz, on a bin and between bins.
TEST(HiresDistortion, PlantedH2At130DbBelowA24BitTone) {
    constexpr double rate = 96000;
    const double a2 = kMinus1Dbfs * std::pow(10.0, -130.0 / 20);
    for (const double f0 : {997.0, 1500 * rate / kFrames}) {
        const auto x = QuantiseBits(
            Synthesise(kFrames, {{kMinus1Dbfs, f0, 0.4}, {a2, 2 * f0, 1.3}}, rate), 24, false);
        CDistortionAnalyser analyser(kFrames, rate);
        const DistortionReading r = analyser.Analyse(x.data(), 1, {});
        ASSERT_EQ(r.refusal, DistortionRefusal::None) << f0;
        EXPECT_NEAR(*r.harmonics[0].level_db, -130, 0.5) << f0 << " Hz";
        RecordProperty(f0 == 997.0 ? "h2_db_off_bin" : "h2_db_on_bin",
                       std::to_string(*r.harmonics[0].level_db));
    }
}

// At 192 kHz a 9 kHz tone's harmonics reach 90 kHz, and each is read. The band limits the noise
// only: by default it ends at 20 kHz and leaves out every harmonic but H2 and a spur at 50.5 kHz;
// asked to reach Nyquist (any figure above it counts as Nyquist) it holds them all.
TEST(HiresDistortion, At192kHarmonicsTo90kHzAndTheBandToNyquist) {
    constexpr double rate = 192000;
    const double h = std::pow(10.0, -100.0 / 20);
    const double spur = std::pow(10.0, -90.0 / 20);
    std::vector<Partial> partials = {{0.5, 9000, 0.2}, {0.5 * spur, 50500, 0.9}};
    for (int n = 2; n <= 10; ++n) {
        partials.push_back({0.5 * h, n * 9000.0, 0.3 * n});
    }
    const auto x = Synthesise(kFrames, partials, rate);
    CDistortionAnalyser analyser(kFrames, rate);

    const DistortionReading narrow = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(narrow.refusal, DistortionRefusal::None);
    for (const HarmonicReading& hr : narrow.harmonics) {
        ASSERT_TRUE(hr.level_db) << "H" << hr.order << " at " << hr.freq_hz << " Hz";
        EXPECT_NEAR(*hr.level_db, -100, 0.05) << "H" << hr.order;
    }
    EXPECT_NEAR(narrow.harmonics.back().freq_hz, 90000, 1e-3);
    EXPECT_NEAR(*narrow.thd_db, 10 * std::log10(9e-10), 0.05);
    EXPECT_NEAR(*narrow.thdn_db, -100, 0.05) << "only H2 lies in 20..20000";

    DistortionSettings toNyquist;
    toNyquist.band_hi_hz = 1e6;
    const DistortionReading wide = analyser.Analyse(x.data(), 1, toNyquist);
    ASSERT_EQ(wide.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*wide.thdn_db, 10 * std::log10(9e-10 + 1e-9), 0.05);
    EXPECT_NEAR(*wide.snr_db, 90, 0.05) << "the spur is the only noise";
}

// The monitor fed a 24-bit stream as float buffers at 96 kHz: its rows keep the 24-bit floor
// (a 16-bit path would read -97 dB) and count time and bins at 96 kHz.
TEST(HiresDistortion, MonitorFedFloatAt96kKeepsThe24BitFloor) {
    constexpr double rate = 96000;
    const auto x =
        QuantiseBits(Synthesise(2 * kFrames, {{kMinus1Dbfs, 997, 0.4}}, rate), 24, false);
    std::vector<float> interleaved(2 * x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        interleaved[2 * n] = interleaved[2 * n + 1] = float(x[n]);
    }
    std::vector<DistortionRow> rows;
    CDistortionMonitor monitor([&rows](const DistortionRow& row) { rows.push_back(row); }, false);
    DistortionMonitorSettings settings;
    settings.block_frames = kFrames;
    settings.sample_rate_hz = rate;
    monitor.SetSettings(settings);
    EXPECT_DOUBLE_EQ(DistortionBlockSeconds(settings), kFrames / rate);
    for (size_t at = 0; at < x.size(); at += 4096) {
        CDistortionMonitor::TapFloat(interleaved.data() + 2 * at, 4096, 0, &monitor);
    }
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_DOUBLE_EQ(rows[1].time_s, kFrames / rate);
    EXPECT_DOUBLE_EQ(rows[1].bin_hz, rate / kFrames);
    for (const DistortionReading& r : rows[1].channels) {
        ASSERT_EQ(r.refusal, DistortionRefusal::None);
        EXPECT_LT(*r.thdn_db, -140);
    }
}

} // namespace
