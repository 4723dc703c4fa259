// Every reading that refuses a clipped input asks the same question: the status of one input is
// never "clipped" to one analyser and fine to another.
#include "analysis/common/block_checks.h"
#include "base/full_scale.h"
#include "headless/input_level.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct ClipCase {
    const char* what;
    std::vector<int16_t> samples;
    bool clipped;
};

const ClipCase kCases[] = {
    {"a peak that just reaches full scale", {0, 32767, 0, -32768, 0}, false},
    {"a flattened top", {0, 32767, 32767, 0}, true},
    {"a flattened bottom", {0, -32768, -32768, 0}, true},
    {"both rails count alike", {0, -32767, -32768, 0}, true},
    {"one short of full scale", {32766, 32766, -32766, -32766}, false},
    {"full scale twice, apart", {32767, 0, 32767, 0, -32768}, false},
};

TEST(ClipRuleTest, EveryReadingAgreesOnWhatClipped) {
    for (const ClipCase& c : kCases) {
        SCOPED_TRACE(c.what);
        const int frames = int(c.samples.size());

        CClipRun run; // in two buffers: a run goes on across the boundary
        const int half = frames / 2;
        for (int i = 0; i < half; ++i) {
            run.Add(c.samples[size_t(i)]);
        }
        for (int i = half; i < frames; ++i) {
            run.Add(c.samples[size_t(i)]);
        }
        EXPECT_EQ(run.Clipped(), c.clipped) << "the rule itself";

        std::vector<int16_t> interleaved;
        std::vector<double> fractions;
        for (int16_t s : c.samples) {
            interleaved.insert(interleaved.end(), {0, s}); // on X2
            fractions.push_back(s / kFullScale);
        }
        CInputLevel level;
        level.Add(interleaved.data(), frames);
        EXPECT_EQ(level.Level(1).clipped, c.clipped) << "the input level (tavrin calibrate)";
        EXPECT_FALSE(level.Level(0).clipped);

        std::vector<double> out(size_t(frames), 0.0);
        EXPECT_EQ(ReadBlock(fractions.data(), 1, frames, out.data()).clipped, c.clipped)
            << "the analysers' block checks";
    }
}

TEST(ClipRuleTest, ARunSplitAcrossTwoBuffersClips) {
    const int16_t first[] = {0, 0, 0, 32767};
    const int16_t second[] = {0, 32767, 0, 0};
    CInputLevel level;
    level.Add(first, 2);
    level.Add(second, 2);
    EXPECT_TRUE(level.Level(1).clipped);
}

} // namespace
