#include "measure_options.h"

#include "entry_validation.h"
#include "multimeter.h"

#include <charconv>

namespace {

// About 31 years: enough for any log, and its buffer count fits 64 bits with room to spare.
constexpr double kMostSeconds = 1e9;

std::optional<double> ParseSeconds(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !(value > 0 && value <= kMostSeconds)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseWaveform(const std::string& text) {
    if (text == "sine") {
        return 0;
    }
    if (text == "triangle") {
        return 1;
    }
    if (text == "square") {
        return 2;
    }
    return std::nullopt;
}

// "0", "-6" ... "-24" to the generator's divisor 1 ... 16.
std::optional<int> ParseAttenuation(const std::string& text) {
    for (int step = 0, divisor = 1; step <= 4; ++step, divisor *= 2) {
        if (text == std::to_string(-6 * step) || (step == 0 && text == "-0")) {
            return divisor;
        }
    }
    return std::nullopt;
}

// "L=1000,sine,0": channel, hertz, waveform, dB.
std::optional<GenerateOption> ParseGenerate(const std::string& text) {
    if (text.size() < 2 || (text[0] != 'L' && text[0] != 'R') || text[1] != '=') {
        return std::nullopt;
    }
    std::vector<std::string> fields{""};
    for (char c : text.substr(2)) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (fields.size() != 3) {
        return std::nullopt;
    }
    const auto hertz = ParseFrequencyEntry(fields[0]);
    const auto waveform = ParseWaveform(fields[1]);
    const auto divisor = ParseAttenuation(fields[2]);
    if (!hertz || !waveform || !divisor) {
        return std::nullopt;
    }
    return GenerateOption{text[0] == 'L' ? 0 : 1, int(*hertz), *waveform, *divisor};
}

std::optional<int> ParseMeterMode(const std::string& text) {
    if (text == "R") {
        return kMeterModeR;
    }
    if (text == "C") {
        return kMeterModeC;
    }
    if (text == "L") {
        return kMeterModeL;
    }
    if (text == "V") {
        return kMeterModeVac;
    }
    return std::nullopt;
}

} // namespace

bool ParseMeasureOptions(const std::vector<std::string>& args, MeasureOptions* options,
                         std::string* error) {
    *options = MeasureOptions{};
    bool refGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options->help = true;
            return true;
        }
        const bool takesValue = name == "--seconds" || name == "--device" || name == "--format" ||
                                name == "--generate" || name == "--meter" || name == "--ref" ||
                                name == "--record";
        if (!takesValue) {
            *error = "unknown option '" + name + "' (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--seconds") {
            options->seconds = ParseSeconds(value);
            if (!options->seconds) {
                *error = "--seconds wants a number above 0 and up to 1e9, not '" + value + "'";
                return false;
            }
        } else if (name == "--device") {
            if (value.empty()) {
                *error = "--device wants a name: sim, default or an ALSA device";
                return false;
            }
            options->device = value;
        } else if (name == "--format") {
            if (value != "csv" && value != "jsonl") {
                *error = "--format is csv or jsonl, not '" + value + "'";
                return false;
            }
            options->format = value == "csv" ? RowFormat::Csv : RowFormat::Jsonl;
        } else if (name == "--generate") {
            const auto generate = ParseGenerate(value);
            if (!generate) {
                *error = "--generate wants L|R=HZ,sine|triangle|square,DB with HZ a whole number "
                         "0..20000 and DB one of 0 -6 -12 -18 -24, not '" +
                         value + "'";
                return false;
            }
            options->generate.push_back(*generate);
        } else if (name == "--meter") {
            options->meterMode = ParseMeterMode(value);
            if (!options->meterMode) {
                *error = "--meter is R, C, L or V, not '" + value + "'";
                return false;
            }
        } else if (name == "--ref") {
            const auto ref = ParseReferenceEntry(value);
            if (!ref) {
                *error = "--ref wants a number from 0.001 to 10000, not '" + value + "'";
                return false;
            }
            options->refValue = *ref;
            refGiven = true;
        } else {
            if (value.empty()) {
                *error = "--record wants a file name";
                return false;
            }
            options->recordPath = value;
        }
    }
    if (refGiven && !options->meterMode) {
        *error = "--ref needs --meter";
        return false;
    }
    return true;
}

std::string MeasureUsage() {
    return "usage: tavrin measure [--seconds N] [--device NAME] [--format csv|jsonl]\n"
           "                      [--generate L|R=HZ,sine|triangle|square,DB]...\n"
           "                      [--meter R|C|L|V [--ref VALUE]] [--record FILE.wav]\n"
           "One row per captured buffer (4096 frames, 92.9 ms) on stdout; messages on stderr.\n"
           "  --seconds N    measure for N seconds (default: until Ctrl-C or SIGTERM)\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n"
           "  --format       csv (the default) or jsonl, one JSON object a line\n"
           "  --generate     drive an output channel: whole hertz 0..20000, dB 0 -6 -12 -18 -24\n"
           "  --meter        add the multimeter's reading; --ref is the reference's value\n"
           "  --record       record the input to a WAV file meanwhile\n"
           "Exit status: 0 done, 2 bad arguments, 3 the device cannot be opened or sends\n"
           "nothing for 10 s.\n";
}
