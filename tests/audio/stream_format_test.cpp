#include "audio/stream/measure_stream.h"
#include "audio/stream/stream_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct GoldenCase {
    const char* name;
    SampleEncoding encoding;
    float value;
    std::vector<uint8_t> bytes; // little-endian, written by hand
    float decoded;              // what the bytes read back as (a clipped value reads its code)
};

class StreamGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(StreamGolden, EncodesToTheBytesAndDecodesBack) {
    const GoldenCase& c = GetParam();
    std::vector<uint8_t> bytes(c.bytes.size(), 0xAA);
    EncodeSamples(c.encoding, &c.value, bytes.data(), 1, nullptr);
    EXPECT_EQ(bytes, c.bytes);
    float decoded = 0.5f;
    DecodeSamples(c.encoding, c.bytes.data(), &decoded, 1);
    EXPECT_EQ(decoded, c.decoded);
}

constexpr float kLsb16 = 0x1.0p-15f, kLsb24 = 0x1.0p-23f, kLsb32 = 0x1.0p-31f;
using E = SampleEncoding;

INSTANTIATE_TEST_SUITE_P(
    Encodings, StreamGolden,
    ::testing::Values(
        GoldenCase{"s16_zero", E::S16, 0.0f, {0x00, 0x00}, 0.0f},
        GoldenCase{"s16_one_lsb", E::S16, kLsb16, {0x01, 0x00}, kLsb16},
        GoldenCase{"s16_minus_one_lsb", E::S16, -kLsb16, {0xFF, 0xFF}, -kLsb16},
        GoldenCase{"s16_negative_full", E::S16, -1.0f, {0x00, 0x80}, -1.0f},
        GoldenCase{"s16_positive_full_clips", E::S16, 1.0f, {0xFF, 0x7F}, 1.0f - kLsb16},
        GoldenCase{"s24in4_one_lsb", E::S24In4, kLsb24, {0x01, 0x00, 0x00, 0x00}, kLsb24},
        GoldenCase{"s24in4_minus_one_lsb", E::S24In4, -kLsb24, {0xFF, 0xFF, 0xFF, 0xFF}, -kLsb24},
        GoldenCase{"s24in4_negative_full", E::S24In4, -1.0f, {0x00, 0x00, 0x80, 0xFF}, -1.0f},
        GoldenCase{
            "s24in4_positive_full_clips", E::S24In4, 1.0f, {0xFF, 0xFF, 0x7F, 0x00}, 1.0f - kLsb24},
        GoldenCase{"s24in3_zero", E::S24In3, 0.0f, {0x00, 0x00, 0x00}, 0.0f},
        GoldenCase{"s24in3_one_lsb", E::S24In3, kLsb24, {0x01, 0x00, 0x00}, kLsb24},
        GoldenCase{"s24in3_minus_one_lsb", E::S24In3, -kLsb24, {0xFF, 0xFF, 0xFF}, -kLsb24},
        GoldenCase{"s24in3_negative_full", E::S24In3, -1.0f, {0x00, 0x00, 0x80}, -1.0f},
        GoldenCase{
            "s24in3_positive_full_clips", E::S24In3, 1.0f, {0xFF, 0xFF, 0x7F}, 1.0f - kLsb24},
        GoldenCase{"s32_one_lsb", E::S32, kLsb32, {0x01, 0x00, 0x00, 0x00}, kLsb32},
        GoldenCase{"s32_minus_one_lsb", E::S32, -kLsb32, {0xFF, 0xFF, 0xFF, 0xFF}, -kLsb32},
        GoldenCase{"s32_negative_full", E::S32, -1.0f, {0x00, 0x00, 0x00, 0x80}, -1.0f},
        // 1 - 2^-31 is not a float: it reads back as the nearest, 1.0.
        GoldenCase{"s32_positive_full_clips", E::S32, 1.0f, {0xFF, 0xFF, 0xFF, 0x7F}, 1.0f},
        GoldenCase{"float_one", E::Float, 1.0f, {0x00, 0x00, 0x80, 0x3F}, 1.0f},
        GoldenCase{"float_minus_half", E::Float, -0.5f, {0x00, 0x00, 0x00, 0xBF}, -0.5f},
        GoldenCase{
            "float_over_full_scale_unclipped", E::Float, 1.5f, {0x00, 0x00, 0xC0, 0x3F}, 1.5f}),
    [](const auto& info) { return std::string(info.param.name); });

// A card that carries 24 bits in 4 bytes ignores the top one; so does the decoder.
TEST(StreamFormat, S24In4IgnoresTheTopByte) {
    const uint8_t bytes[] = {0xFF, 0xFF, 0x7F, 0x12, 0x00, 0x00, 0x80, 0x00};
    float out[2] = {};
    DecodeSamples(SampleEncoding::S24In4, bytes, out, 2);
    EXPECT_EQ(out[0], 1.0f - kLsb24);
    EXPECT_EQ(out[1], -1.0f);
}

class StreamRoundTrip : public ::testing::TestWithParam<SampleEncoding> {};

// With and without dither, the bytes read back exactly as the converter model quantises, sample
// for sample, over a range that reaches past both clipping points.
TEST_P(StreamRoundTrip, EncodeThenDecodeEqualsQuantiseToBits) {
    const SampleEncoding encoding = GetParam();
    const int bits = SampleBits(FormatOf(encoding));
    constexpr size_t kCount = 4096;
    CFastRandom inputs(7);
    std::vector<float> in(kCount);
    for (float& x : in) {
        x = float(2.2 * inputs.Uniform() - 1.1);
    }
    std::vector<uint8_t> bytes(kCount * size_t(EncodingBytes(encoding)));
    std::vector<float> out(kCount);
    for (bool dithered : {false, true}) {
        CFastRandom encodeDither(11), oracleDither(11);
        EncodeSamples(encoding, in.data(), bytes.data(), kCount,
                      dithered ? &encodeDither : nullptr);
        DecodeSamples(encoding, bytes.data(), out.data(), kCount);
        for (size_t i = 0; i < kCount; ++i) {
            const double q = QuantiseToBits(in[i], bits, dithered ? &oracleDither : nullptr);
            ASSERT_EQ(out[i], float(q)) << "sample " << i << " dithered " << dithered;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(IntegerEncodings, StreamRoundTrip,
                         ::testing::Values(SampleEncoding::S16, SampleEncoding::S24In4,
                                           SampleEncoding::S24In3, SampleEncoding::S32));

// Without dither the result sits on the 24-bit grid within half a step of the input.
TEST(QuantiseToBits, UnditheredErrorIsWithinHalfAStep) {
    const double step = std::ldexp(1.0, -23);
    CFastRandom inputs(3);
    for (int i = 0; i < 100000; ++i) {
        const double x = (2.0 - 2 * step) * inputs.Uniform() - 1.0;
        const double q = QuantiseToBits(x, 24, nullptr);
        ASSERT_EQ(q / step, std::round(q / step)) << x;
        ASSERT_LE(std::abs(q - x), 0.5 * step) << x;
    }
}

// TPDF of +-1 step adds its variance (1/6) to rounding's (1/12), whatever the signal, and no
// bias: total error power 1/4 step^2.
TEST(QuantiseToBits, TpdfDitheredErrorIsUnbiasedWithAQuarterStepSquaredPower) {
    const double step = std::ldexp(1.0, -15);
    CFastRandom inputs(5), dither(9);
    constexpr int kCount = 400000;
    double sum = 0, sumSquares = 0;
    for (int i = 0; i < kCount; ++i) {
        const double x = 1.8 * inputs.Uniform() - 0.9;
        const double e = (QuantiseToBits(x, 16, &dither) - x) / step;
        sum += e;
        sumSquares += e * e;
    }
    EXPECT_NEAR(sum / kCount, 0.0, 0.005);
    EXPECT_NEAR(sumSquares / kCount, 0.25, 0.005);
}

TEST(StreamFormat, NamesParseBackAndOthersAreRefused) {
    for (SampleFormat f :
         {SampleFormat::S16, SampleFormat::S24, SampleFormat::S32, SampleFormat::Float}) {
        EXPECT_EQ(ParseSampleFormat(SampleFormatName(f)), f);
    }
    for (const char* text : {"", "S16", "s8", "f32", "float32", "s24 "}) {
        EXPECT_FALSE(ParseSampleFormat(text).has_value()) << text;
    }
}

struct DescribeCase {
    StreamFormat format;
    bool chinese;
    const char* text;
};

class StreamDescribe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(StreamDescribe, ReadsAsPeopleWriteIt) {
    EXPECT_EQ(DescribeStreamFormat(GetParam().format, GetParam().chinese), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StreamDescribe,
    ::testing::Values(DescribeCase{{96000, SampleFormat::S24}, false, "96 kHz/24-bit"},
                      DescribeCase{{96000, SampleFormat::S24}, true, "96 kHz/24 位"},
                      DescribeCase{{44100, SampleFormat::S16}, true, "44.1 kHz/16 位"},
                      DescribeCase{{176400, SampleFormat::S32}, false, "176.4 kHz/32-bit"},
                      DescribeCase{{192000, SampleFormat::Float}, true, "192 kHz/32 位浮点"},
                      DescribeCase{{192000, SampleFormat::Float}, false, "192 kHz/32-bit float"}));

struct RefusalCase {
    StreamOffer offer;
    const char* line;
};

class StreamRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(StreamRefusal, NamesWhatTheDeviceOffers) {
    EXPECT_EQ(RefusalLine("tavrin_48k", {96000, SampleFormat::S24}, GetParam().offer),
              GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Offers, StreamRefusal,
    ::testing::Values(
        RefusalCase{{{48000}, {SampleFormat::S16}},
                    "'tavrin_48k' does not offer 96000 Hz s24; it offers 48000 Hz and s16"},
        RefusalCase{{{44100, 48000}, {SampleFormat::S16, SampleFormat::S32}},
                    "'tavrin_48k' does not offer 96000 Hz s24; it offers 44100, 48000 Hz and s16, "
                    "s32"},
        RefusalCase{{}, "'tavrin_48k' does not offer 96000 Hz s24; it could not be opened"}));

} // namespace
