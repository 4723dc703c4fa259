#include "audio/stream/stream_format.h"

#include "base/le_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

int EncodingBits(SampleEncoding encoding) {
    return SampleBits(FormatOf(encoding));
}

// The integer code a converter gives for `x`, `scale` being 2^(bits-1): scaled so that -1.0 is
// the most negative code, dithered, clipped, rounded half away from zero (a tie is a measure-zero
// event for real signals). NaN is silence rather than an undefined conversion.
int64_t QuantiseCode(double x, double scale, CFastRandom* dither) {
    double code = std::isnan(x) ? 0.0 : x * scale;
    if (dither != nullptr) {
        code += dither->Triangular();
    }
    code = std::clamp(code, -scale, scale - 1.0);
    return std::llround(code);
}

inline int32_t SignExtend24(uint32_t value) {
    return int32_t(value << 8) >> 8;
}

} // namespace

std::optional<SampleFormat> ParseSampleFormat(std::string_view text) {
    for (SampleFormat format :
         {SampleFormat::S16, SampleFormat::S24, SampleFormat::S32, SampleFormat::Float}) {
        if (text == SampleFormatName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

const char* SampleFormatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return "s16";
    case SampleFormat::S24:
        return "s24";
    case SampleFormat::S32:
        return "s32";
    case SampleFormat::Float:
        return "float";
    }
    return "?";
}

bool IsStreamRate(int rate_hz) {
    return std::find(kStreamRates.begin(), kStreamRates.end(), rate_hz) != kStreamRates.end();
}

int SampleBits(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return 16;
    case SampleFormat::S24:
    case SampleFormat::Float:
        return 24;
    case SampleFormat::S32:
        return 32;
    }
    return 16;
}

int EncodingBytes(SampleEncoding encoding) {
    switch (encoding) {
    case SampleEncoding::S16:
        return 2;
    case SampleEncoding::S24In3:
        return 3;
    case SampleEncoding::S24In4:
    case SampleEncoding::S32:
    case SampleEncoding::Float:
        return 4;
    }
    return 2;
}

SampleFormat FormatOf(SampleEncoding encoding) {
    switch (encoding) {
    case SampleEncoding::S16:
        return SampleFormat::S16;
    case SampleEncoding::S24In4:
    case SampleEncoding::S24In3:
        return SampleFormat::S24;
    case SampleEncoding::S32:
        return SampleFormat::S32;
    case SampleEncoding::Float:
        return SampleFormat::Float;
    }
    return SampleFormat::S16;
}

std::string DescribeStreamFormat(const StreamFormat& format, bool chinese) {
    // %g keeps "44.1" and "96" as people write them, without a trailing ".0".
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g kHz", format.rate_hz / 1000.0);
    // The container's width: float is told as the 32-bit sample the card carries.
    const int bits = format.format == SampleFormat::Float ? 32 : SampleBits(format.format);
    std::string text = std::string(rate) + "/" + std::to_string(bits);
    if (format.format == SampleFormat::Float) {
        return text + (chinese ? " 位浮点" : "-bit float");
    }
    return text + (chinese ? " 位" : "-bit");
}

void DecodeSamples(SampleEncoding encoding, const uint8_t* bytes, float* out, size_t count) {
    switch (encoding) {
    case SampleEncoding::S16:
        for (size_t i = 0; i < count; ++i) {
            out[i] = float(int16_t(GetLe16(bytes + 2 * i))) * 0x1.0p-15f;
        }
        return;
    case SampleEncoding::S24In4:
        for (size_t i = 0; i < count; ++i) {
            out[i] = float(SignExtend24(GetLe32(bytes + 4 * i))) * 0x1.0p-23f;
        }
        return;
    case SampleEncoding::S24In3:
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* at = bytes + 3 * i;
            const uint32_t value = GetLe16(at) | uint32_t(at[2]) << 16;
            out[i] = float(SignExtend24(value)) * 0x1.0p-23f;
        }
        return;
    case SampleEncoding::S32:
        for (size_t i = 0; i < count; ++i) {
            // float keeps 24 bits of the 32: the analysers see what a float stream would carry.
            out[i] = float(int32_t(GetLe32(bytes + 4 * i))) * 0x1.0p-31f;
        }
        return;
    case SampleEncoding::Float:
        std::memcpy(out, bytes, count * sizeof(float));
        return;
    }
}

void EncodeSamples(SampleEncoding encoding, const float* in, uint8_t* bytes, size_t count,
                   CFastRandom* dither) {
    if (encoding == SampleEncoding::Float) {
        std::memcpy(bytes, in, count * sizeof(float));
        return;
    }
    const double scale = std::ldexp(1.0, EncodingBits(encoding) - 1);
    const int width = EncodingBytes(encoding);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t code = uint32_t(QuantiseCode(in[i], scale, dither));
        uint8_t* at = bytes + size_t(width) * i;
        switch (encoding) {
        case SampleEncoding::S16:
            PutLe16(at, uint16_t(code));
            break;
        case SampleEncoding::S24In4:
            // Sign-extended into the top byte, as a card reading all 32 bits expects.
            PutLe32(at, code);
            break;
        case SampleEncoding::S24In3:
            PutLe16(at, uint16_t(code));
            at[2] = uint8_t(code >> 16);
            break;
        case SampleEncoding::S32:
            PutLe32(at, code);
            break;
        case SampleEncoding::Float:
            break;
        }
    }
}

double QuantiseToBits(double x, int bits, CFastRandom* dither) {
    const double scale = std::ldexp(1.0, bits - 1);
    return double(QuantiseCode(x, scale, dither)) / scale;
}
