#include "headless/sweep_options.h"

#include "base/pcm_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace {

constexpr int kMinLength = 1 << 16;
constexpr int kMaxLength = 1 << 20;
constexpr int kDefaultLength = 1 << 18;

constexpr std::array<std::pair<const char*, SweepSmoothing>, 6> kSmoothings = {{
    {"none", SweepSmoothing::None},
    {"1/48", SweepSmoothing::Octave48},
    {"1/24", SweepSmoothing::Octave24},
    {"1/12", SweepSmoothing::Octave12},
    {"1/6", SweepSmoothing::Octave6},
    {"1/3", SweepSmoothing::Octave3},
}};

bool PowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// The highest frequency a result may reach: Nyquist at the panel's rate, as always; at a higher
// rate 0.45 of it, below the card's own anti-alias filter.
double MostHz(int rate_hz) {
    return std::max(kSampleRate / 2.0, 0.45 * rate_hz);
}

// The default length: the power of two of frames nearest to the panel rate's 5.94 s.
int DefaultLength(int rate_hz) {
    const int octaves = int(std::lround(std::log2(rate_hz / kSampleRate)));
    return std::clamp(kDefaultLength << std::max(octaves, 0), kMinLength, kMaxLength);
}

std::optional<double> ParseHz(const std::string& text, double mostHz) {
    const auto hz = ParseNumber(text);
    if (!hz || !(*hz > 0 && *hz <= mostHz)) {
        return std::nullopt;
    }
    return hz;
}

// "LEFT,RIGHT" in milliseconds: the gate from LEFT before the peak to RIGHT after it.
std::optional<std::pair<double, double>> ParseGate(const std::string& text) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const auto left = ParseNumber(text.substr(0, comma));
    const auto right = ParseNumber(text.substr(comma + 1));
    if (!left || !right || !(*left >= 0 && *left <= kSweepGateMostMs) ||
        !(*right > 0 && *right <= kSweepGateMostMs)) {
        return std::nullopt;
    }
    return std::make_pair(*left, *right);
}

} // namespace

bool ParseSweepOptions(const std::vector<std::string>& args, SweepOptions* options,
                       std::string* error) {
    *options = SweepOptions{};
    SweepMeasurementSettings& m = options->measurement;
    bool lengthGiven = false;
    const auto kindOf = [](const std::string& name) {
        const bool known =
            name == "--from" || name == "--to" || name == "--length" || name == "--level" ||
            name == "--channel" || name == "--reference" || name == "--average" ||
            name == "--smoothing" || name == "--points-per-octave" || name == "--window-ms" ||
            name == "--csv" || name == "--frd" || name == "--ir" || name == "--capture";
        return known ? OptionKind::Value : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        const std::string quoted = ", not '" + value + "'";
        if (name == "--from" || name == "--to") {
            const double mostHz = MostHz(options->stream.rate_hz);
            const auto hz = ParseHz(value, mostHz);
            if (!hz) {
                *why =
                    name + " wants hertz above 0 and up to " + std::to_string(int(mostHz)) + quoted;
                return false;
            }
            (name == "--from" ? m.analysis.lo_hz : m.analysis.hi_hz) = *hz;
        } else if (name == "--length") {
            const auto frames = ParseWholeNumber(value, kMinLength, kMaxLength);
            if (!frames || !PowerOfTwo(*frames)) {
                *why = "--length wants a power of two from 65536 to 1048576 frames" + quoted;
                return false;
            }
            m.sweep.frames = *frames;
            lengthGiven = true;
        } else if (name == "--level") {
            const auto level = ParseNumber(value);
            if (!level || *level < -60 || *level > -1) {
                *why = "--level wants dBFS from -60 to -1" + quoted;
                return false;
            }
            m.sweep.level_dbfs = *level;
        } else if (name == "--channel") {
            if (value == "L" || value == "l") {
                m.output = SweepOutput::Left;
            } else if (value == "R" || value == "r") {
                m.output = SweepOutput::Right;
            } else if (value == "both") {
                m.output = SweepOutput::Both;
            } else {
                *why = "--channel is L, R or both" + quoted;
                return false;
            }
        } else if (name == "--reference") {
            if (value != "x2" && value != "none") {
                *why = "--reference is x2 or none" + quoted;
                return false;
            }
            m.reference = value == "x2" ? SweepReference::X2 : SweepReference::None;
        } else if (name == "--average") {
            const auto n = ParseWholeNumber(value, 1, 64);
            if (!n) {
                *why = "--average wants a whole number from 1 to 64" + quoted;
                return false;
            }
            m.averages = *n;
        } else if (name == "--smoothing") {
            const auto it = std::find_if(kSmoothings.begin(), kSmoothings.end(),
                                         [&](const auto& s) { return value == s.first; });
            if (it == kSmoothings.end()) {
                *why = "--smoothing is none, 1/48, 1/24, 1/12, 1/6 or 1/3" + quoted;
                return false;
            }
            m.analysis.smoothing = it->second;
        } else if (name == "--points-per-octave") {
            const auto n = ParseWholeNumber(value, 1, 480);
            if (!n) {
                *why = "--points-per-octave wants a whole number from 1 to 480" + quoted;
                return false;
            }
            m.analysis.points_per_octave = *n;
        } else if (name == "--window-ms") {
            const auto gate = ParseGate(value);
            if (!gate) {
                *why = "--window-ms wants LEFT,RIGHT: milliseconds before the peak (0 to 5000) "
                       "and after it (above 0, to 5000)" +
                       quoted;
                return false;
            }
            std::tie(m.analysis.gate_left_ms, m.analysis.gate_right_ms) = *gate;
        } else if (value.empty()) {
            *why = name + " wants a file name";
            return false;
        } else {
            (name == "--csv"   ? options->csv
             : name == "--frd" ? options->frd
             : name == "--ir"  ? options->ir
                               : options->capture) = value;
        }
        return true;
    };
    if (!WalkMeasuringOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (options->help) {
        return true;
    }
    if (options->seconds) {
        *error = "--seconds does not apply to a sweep: its length is --length";
        return false;
    }
    if (options->format != RowFormat::Csv) {
        *error = "--format does not apply to a sweep: its result is CSV, FRD or WAV";
        return false;
    }
    m.sweep.rate_hz = options->stream.rate_hz;
    if (!lengthGiven) {
        m.sweep.frames = DefaultLength(options->stream.rate_hz);
    }
    if (m.analysis.lo_hz >= m.analysis.hi_hz) {
        *error = "--from must lie below --to";
        return false;
    }
    SweepForBand(m);
    try {
        MakeSweepShape(m.sweep);
    } catch (const std::invalid_argument&) {
        *error = "--from is too low for --length: a longer sweep reaches lower";
        return false;
    }
    if (options->capture && !options->stream.IsPanelFormat()) {
        *error = "--capture records the panel's own 44100 Hz s16 stream: not at another rate or "
                 "format";
        return false;
    }
    if (options->ir && options->ir == options->csv) {
        *error = "--ir and --csv name the same file";
        return false;
    }
    return true;
}

std::string SweepUsage() {
    return "usage: tavrin sweep [--device NAME] [--rate HZ] [--format s16|s24|s32|float]\n"
           "                    [--from HZ] [--to HZ] [--length FRAMES]\n"
           "                    [--level DBFS] [--channel L|R|both] [--reference x2|none]\n"
           "                    [--average N] [--smoothing 1/N] [--points-per-octave N]\n"
           "                    [--window-ms LEFT,RIGHT]\n"
           "                    [--csv FILE] [--frd FILE] [--ir FILE.wav] [--capture FILE.wav]\n"
           "One frequency response through the card: a synchronized sweep plays on the output\n"
           "and the input's magnitude, phase, group delay and H2..H9 and THD come out as CSV on\n"
           "stdout (or in the --csv file); the latency and progress go to stderr.\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n" +
           StreamOptionsUsage() +
           "  --from HZ      the result's lowest frequency, 2 or more (default 20); the sweep\n"
           "                 starts an octave below it, at 10 Hz at the highest (a long\n"
           "                 sweep reaches lowest)\n"
           "  --to HZ        the result's highest frequency, up to 22050, or 0.45 of the rate\n"
           "                 above 48000 Hz (default 20000); the sweep goes on to Nyquist\n"
           "  --length N     the sweep with its silent tail, in frames: a power of two from\n"
           "                 65536 to 1048576 (default 262144, 5.94 s at 44100 Hz; at 88200\n"
           "                 and 96000 Hz 524288, at 176400 and 192000 Hz 1048576)\n"
           "  --level DBFS   the sweep's RMS, -60 to -1 (default -12)\n"
           "  --channel      the output playing the sweep: L (measured on X1), R (on X2) or\n"
           "                 both (the default, measured on X1)\n"
           "  --reference    x2: the sweep plays on both outputs and the result is X1 over X2,\n"
           "                 so the card's own response and latency cancel; none (the default)\n"
           "  --average N    sweeps played back to back and averaged, 1 to 64 (default 1)\n"
           "  --smoothing    none (the default), 1/48, 1/24, 1/12, 1/6 or 1/3 octave\n"
           "  --points-per-octave N  1 to 480 (default 48)\n"
           "  --window-ms LEFT,RIGHT  gate the impulse response from LEFT ms before its peak\n"
           "                 (0 to 5000; half a Hann window rising) to RIGHT ms after it (above\n"
           "                 0 to 5000; a Tukey window's last quarter falling), leaving out\n"
           "                 what arrives later (a room's reflections); the response holds from\n"
           "                 1 / (LEFT + RIGHT) up, which stderr states\n"
           "  --csv FILE     the CSV there instead of stdout ('-': stdout)\n"
           "  --frd FILE     frequency, magnitude and phase as FRD text as well\n"
           "  --ir FILE.wav  the linear impulse response as a 32-bit float WAV as well, at the\n"
           "                 rate measured\n"
           "  --capture FILE.wav  the capture itself, both inputs from before the sweep\n"
           "                 started, as a 16-bit WAV\n"
           "A gap in the capture (an xrun) is measured again once.\n"
           "Exit status: 0 done, 1 stopped by Ctrl-C or SIGTERM, 2 bad arguments or a file\n"
           "that cannot be written, 3 the device cannot be opened or sends nothing for 10 s,\n"
           "4 the measurement refused (a gap twice, clipping, or no sweep came back).\n";
}
