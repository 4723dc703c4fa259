#include "headless/measure_options.h"

#include "base/entry_validation.h"
#include "measure/multimeter.h"

namespace {

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
    const auto kindOf = [](const std::string& name) {
        const bool known =
            name == "--generate" || name == "--meter" || name == "--ref" || name == "--record";
        return known ? OptionKind::Value : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        if (name == "--generate") {
            const auto generate = ParseGenerate(value);
            if (!generate) {
                *why = "--generate wants L|R=HZ,sine|triangle|square,DB with HZ a whole number "
                       "0..20000 and DB one of 0 -6 -12 -18 -24, not '" +
                       value + "'";
                return false;
            }
            options->generate.push_back(*generate);
        } else if (name == "--meter") {
            options->meterMode = ParseMeterMode(value);
            if (!options->meterMode) {
                *why = "--meter is R, C, L or V, not '" + value + "'";
                return false;
            }
        } else if (name == "--ref") {
            const auto ref = ParseReferenceEntry(value);
            if (!ref) {
                *why = "--ref wants a number from 0.001 to 10000, not '" + value + "'";
                return false;
            }
            options->refValue = *ref;
            refGiven = true;
        } else {
            if (value.empty()) {
                *why = "--record wants a file name";
                return false;
            }
            options->recordPath = value;
        }
        return true;
    };
    if (!WalkOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (refGiven && !options->meterMode && !options->help) {
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
           "The last columns, x1_vrms and x2_vrms, are volts for an input the device is\n"
           "calibrated for (tavrin calibrate), else empty.\n" +
           RunOptionsUsage() +
           "  --generate     drive an output channel: whole hertz 0..20000, dB 0 -6 -12 -18 -24\n"
           "  --meter        add the multimeter's reading; --ref is the reference's value\n"
           "  --record       record the input to a WAV file meanwhile\n" +
           ExitStatusUsage();
}
