// The distortion monitor over a stream fed buffer by buffer: where its blocks begin and end,
// when new settings take hold, a gap's refusal, and that a block read through it reads as the
// analyser reads the same samples, with planted harmonics as the oracle.
#include "analysis/distortion/distortion_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double kFs = 44100.0;

// Interleaved codes of a 997 Hz tone from frame `first` on: X1 at level1_dbfs with H2 and H3
// planted (dB below the fundamental; nothing at -300), X2 a plain tone at level2_dbfs.
std::vector<int16_t> Tone(int64_t first, int frames, double level1_dbfs, double level2_dbfs,
                          double h2_db = -300, double h3_db = -300) {
    const auto amplitude = [](double dbfs) { return 32768.0 * std::pow(10.0, dbfs / 20.0); };
    std::vector<int16_t> codes(size_t(2) * frames);
    for (int n = 0; n < frames; ++n) {
        const double w = 2.0 * std::numbers::pi * std::fmod(997.0 * (first + n), kFs) / kFs;
        const double x1 = std::sin(w) + std::pow(10.0, h2_db / 20) * std::sin(2 * w) +
                          std::pow(10.0, h3_db / 20) * std::sin(3 * w);
        codes[2 * n] = int16_t(std::nearbyint(amplitude(level1_dbfs) * x1));
        codes[2 * n + 1] = int16_t(std::nearbyint(amplitude(level2_dbfs) * std::sin(w)));
    }
    return codes;
}

struct Collected {
    std::vector<DistortionRow> rows;
    CDistortionMonitor monitor;
    explicit Collected(bool withSpectra = false)
        : monitor([this](const DistortionRow& row) { rows.push_back(row); }, withSpectra) {}
    // Feeds `codes` in pieces of `piece` frames, all with one gap count.
    void Feed(const std::vector<int16_t>& codes, int piece, uint64_t gapCount = 0) {
        const int frames = int(codes.size() / 2);
        for (int at = 0; at < frames; at += piece) {
            monitor.Append(codes.data() + 2 * at, std::min(piece, frames - at), gapCount);
        }
    }
};

DistortionMonitorSettings Settings(int blockFrames, std::optional<ImdKind> imd = {}) {
    DistortionMonitorSettings settings;
    settings.block_frames = blockFrames;
    if (imd) {
        settings.imd = ImdPreset(*imd);
    }
    return settings;
}

TEST(DistortionMonitor, BlocksHoldExactlyTheirFramesAndStartAtTheirFirstFramesTime) {
    Collected c;
    c.monitor.SetSettings(Settings(8192));
    // Each block at a level of its own, fed in pieces that straddle the blocks' edges: a block
    // holding frames of its neighbour would read another level or a level that changes.
    int64_t frame = 0;
    std::vector<int16_t> stream;
    for (int block = 0; block < 4; ++block, frame += 8192) {
        const auto codes = Tone(frame, 8192, -6.0 - 3 * block, -20.0);
        stream.insert(stream.end(), codes.begin(), codes.end());
    }
    const auto tail = Tone(frame, 5000, -30.0, -20.0);
    stream.insert(stream.end(), tail.begin(), tail.end());
    c.Feed(stream, 3000);

    ASSERT_EQ(c.rows.size(), 4u) << "the tail is not a block yet";
    for (int block = 0; block < 4; ++block) {
        const DistortionRow& row = c.rows[block];
        SCOPED_TRACE(block);
        EXPECT_DOUBLE_EQ(row.time_s, block * 8192 / kFs);
        EXPECT_FALSE(row.gap);
        EXPECT_DOUBLE_EQ(row.bin_hz, kFs / 8192);
        EXPECT_EQ(row.channels[0].refusal, DistortionRefusal::None);
        ASSERT_TRUE(row.channels[0].level_dbfs.has_value());
        EXPECT_NEAR(*row.channels[0].level_dbfs, -6.0 - 3 * block, 0.02);
        ASSERT_TRUE(row.channels[1].level_dbfs.has_value());
        EXPECT_NEAR(*row.channels[1].level_dbfs, -20.0, 0.02);
        EXPECT_FALSE(row.imd[0].has_value());
        EXPECT_TRUE(row.residual_dbfs[0].empty()) << "spectra only when asked";
    }
}

TEST(DistortionMonitor, NewSettingsTakeHoldAtTheNextBufferAndDropThePartlyFilledBlock) {
    Collected c;
    c.monitor.SetSettings(Settings(8192));
    c.Feed(Tone(0, 12288, -6, -6), 4096); // a block and a half
    ASSERT_EQ(c.rows.size(), 1u);

    DistortionMonitorSettings wider = Settings(16384, ImdKind::Smpte);
    wider.analysis.band_hi_hz = 22050;
    c.monitor.SetSettings(wider);
    c.Feed(Tone(12288, 16384 + 4096, -6, -6), 4096);
    ASSERT_EQ(c.rows.size(), 2u);
    // The half block was dropped: the new block starts with the first buffer after the change.
    EXPECT_DOUBLE_EQ(c.rows[1].time_s, 12288 / kFs);
    EXPECT_DOUBLE_EQ(c.rows[1].bin_hz, kFs / 16384);
    EXPECT_TRUE(c.rows[1].imd[0].has_value());
    EXPECT_TRUE(c.rows[1].imd[1].has_value());

    // Out of range: clamped to the largest block.
    c.monitor.SetSettings(Settings(1 << 20));
    c.Feed(Tone(0, kMaxDistortionBlockFrames, -6, -6), 4096);
    ASSERT_EQ(c.rows.size(), 3u);
    EXPECT_DOUBLE_EQ(c.rows[2].bin_hz, kFs / kMaxDistortionBlockFrames);
    EXPECT_DOUBLE_EQ(c.rows[2].time_s, (12288 + 16384 + 4096) / kFs);
}

TEST(DistortionMonitor, AGapRefusesTheBlockThatReceivesTheBufferAfterItAndNoOther) {
    Collected c;
    c.monitor.SetSettings(Settings(8192, ImdKind::Ccif));
    // Pieces of 4096 frames, two to a block. The count moves with piece 3 (inside block 1) and
    // with piece 4 (the first of block 2).
    const uint64_t gapCounts[] = {7, 7, 7, 8, 9, 9, 9, 9};
    for (int piece = 0; piece < 8; ++piece) {
        const auto codes = Tone(piece * 4096, 4096, -6, -6);
        c.monitor.Append(codes.data(), 4096, gapCounts[piece]);
    }
    ASSERT_EQ(c.rows.size(), 4u);
    const bool gapped[] = {false, true, true, false};
    for (int block = 0; block < 4; ++block) {
        SCOPED_TRACE(block);
        const DistortionRow& row = c.rows[block];
        EXPECT_EQ(row.gap, gapped[block]);
        EXPECT_DOUBLE_EQ(row.time_s, block * 8192 / kFs);
        for (int ch = 0; ch < 2; ++ch) {
            const DistortionReading& reading = row.channels[ch];
            ASSERT_TRUE(row.imd[ch].has_value());
            if (row.gap) {
                EXPECT_NE(reading.refusal, DistortionRefusal::None);
                EXPECT_FALSE(reading.f0_hz || reading.level_dbfs || reading.thd_db ||
                             reading.thdn_db || reading.sinad_db || reading.snr_db);
                EXPECT_FALSE(std::any_of(reading.harmonics.begin(), reading.harmonics.end(),
                                         [](const HarmonicReading& h) { return h.level_db; }));
                EXPECT_FALSE(row.imd[ch]->imd_db.has_value());
            } else {
                EXPECT_TRUE(reading.thdn_db.has_value());
            }
        }
    }
}

TEST(DistortionMonitor, ReadsAPlantedHarmonicBlockAsTheAnalyserReadsTheSameSamples) {
    constexpr int kFrames = 65536;
    const auto codes = Tone(0, kFrames, -6.0, -20.0, -60.0, -70.0);
    Collected c(true);
    c.monitor.SetSettings(Settings(kFrames, ImdKind::Smpte));
    c.Feed(codes, 4096);
    ASSERT_EQ(c.rows.size(), 1u);
    const DistortionRow& row = c.rows[0];

    std::vector<double> samples(codes.size());
    std::transform(codes.begin(), codes.end(), samples.begin(),
                   [](int16_t code) { return code / 32768.0; });
    CDistortionAnalyser analyser(kFrames, kFs);
    for (int ch = 0; ch < 2; ++ch) {
        SCOPED_TRACE(ch);
        const DistortionReading direct = analyser.Analyse(samples.data() + ch, 2, {});
        const DistortionReading& read = row.channels[ch];
        EXPECT_EQ(read.refusal, direct.refusal);
        EXPECT_EQ(read.f0_hz, direct.f0_hz);
        EXPECT_EQ(read.level_dbfs, direct.level_dbfs);
        EXPECT_EQ(read.thd_db, direct.thd_db);
        EXPECT_EQ(read.thdn_db, direct.thdn_db);
        EXPECT_EQ(read.snr_db, direct.snr_db);
        for (int i = 0; i < kHarmonicCount; ++i) {
            EXPECT_EQ(read.harmonics[i].level_db, direct.harmonics[i].level_db) << i;
        }
        EXPECT_EQ(row.residual_dbfs[ch], analyser.ResidualSpectrumDbfs());
        EXPECT_EQ(row.residual_dbfs[ch].size(), size_t(kFrames / 2 + 1));
        const ImdReading imd = analyser.AnalyseImd(samples.data() + ch, 2, ImdKind::Smpte);
        EXPECT_EQ(row.imd[ch]->refusal, imd.refusal);
        EXPECT_EQ(row.imd[ch]->imd_db, imd.imd_db);
    }
    // And both read what was planted: THD = sqrt(10^-6 + 10^-7) on X1, a clean tone on X2.
    ASSERT_TRUE(row.channels[0].thd_db && row.channels[0].harmonics[0].level_db &&
                row.channels[0].harmonics[1].level_db);
    EXPECT_NEAR(*row.channels[0].thd_db, 10 * std::log10(1.1e-6), 0.1);
    EXPECT_NEAR(*row.channels[0].harmonics[0].level_db, -60.0, 0.1);
    EXPECT_NEAR(*row.channels[0].harmonics[1].level_db, -70.0, 0.1);
    ASSERT_TRUE(row.channels[1].thd_db.has_value());
    EXPECT_LT(*row.channels[1].thd_db, -90.0);
}

} // namespace
