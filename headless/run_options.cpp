#include "headless/run_options.h"

#include <charconv>
#include <cmath>

namespace {

// About 31 years: enough for any log, and its buffer count fits 64 bits with room to spare.
constexpr double kMostSeconds = 1e9;

std::optional<double> ParseSeconds(const std::string& text) {
    const auto value = ParseNumber(text);
    if (!value || !(*value > 0 && *value <= kMostSeconds)) {
        return std::nullopt;
    }
    return value;
}

std::string RateChoices() {
    std::string text;
    for (const int rate : kStreamRates) {
        text += (text.empty() ? "" : ", ") + std::to_string(rate);
    }
    return text;
}

// --format: the row format, and for a measuring command also the sample format; one of each.
bool ApplyFormat(const std::string& value, bool measuring, RunOptions* options,
                 std::string* error) {
    if (value == "csv" || value == "jsonl") {
        if (options->row_format_given) {
            *error = "--format names the row format twice";
            return false;
        }
        options->row_format_given = true;
        options->format = value == "csv" ? RowFormat::Csv : RowFormat::Jsonl;
        return true;
    }
    const auto sample = measuring ? ParseSampleFormat(value) : std::nullopt;
    if (!sample) {
        *error = measuring ? "--format is csv or jsonl (the rows), or s16, s24, s32 or float (the "
                             "samples), not '" +
                                 value + "'"
                           : "--format is csv or jsonl, not '" + value + "'";
        return false;
    }
    if (options->sample_format_given) {
        *error = "--format names the sample format twice";
        return false;
    }
    options->sample_format_given = true;
    options->stream.format = *sample;
    return true;
}

bool ApplyRunOption(const std::string& name, const std::string& value, bool measuring,
                    RunOptions* options, std::string* error) {
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
    } else if (name == "--rate") {
        const auto rate = ParseWholeNumber(value, kStreamRates.front(), kStreamRates.back());
        if (!rate || !IsStreamRate(*rate)) {
            *error = "--rate is one of " + RateChoices() + " Hz, not '" + value + "'";
            return false;
        }
        options->stream.rate_hz = *rate;
    } else {
        return ApplyFormat(value, measuring, options, error);
    }
    return true;
}

bool Walk(const std::vector<std::string>& args, RunOptions* options,
          const std::function<OptionKind(const std::string& name)>& kindOf,
          const std::function<bool(const std::string& name, const std::string& value,
                                   std::string* error)>& apply,
          bool measuring, bool sharedOnly, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options->help = true;
            return true;
        }
        const bool shared = name == "--seconds" || name == "--device" || name == "--format" ||
                            (measuring && name == "--rate");
        const OptionKind kind = shared ? OptionKind::Value : kindOf(name);
        if (kind == OptionKind::Unknown) {
            *error = "unknown option '" + name + "' (see --help)";
            return false;
        }
        std::string value;
        if (kind == OptionKind::Value) {
            if (i + 1 >= args.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (shared != sharedOnly) {
            continue;
        }
        if (!(shared ? ApplyRunOption(name, value, measuring, options, error)
                     : apply(name, value, error))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<double> ParseNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseWholeNumber(const std::string& text, int lo, int hi) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < lo || value > hi) {
        return std::nullopt;
    }
    return value;
}

bool WalkOptions(const std::vector<std::string>& args, RunOptions* options,
                 const std::function<OptionKind(const std::string& name)>& kindOf,
                 const std::function<bool(const std::string& name, const std::string& value,
                                          std::string* error)>& apply,
                 std::string* error) {
    return Walk(args, options, kindOf, apply, false, true, error) &&
           Walk(args, options, kindOf, apply, false, false, error);
}

bool WalkMeasuringOptions(
    const std::vector<std::string>& args, RunOptions* options,
    const std::function<OptionKind(const std::string& name)>& kindOf,
    const std::function<bool(const std::string& name, const std::string& value,
                             std::string* error)>& apply,
    std::string* error) {
    return Walk(args, options, kindOf, apply, true, true, error) &&
           Walk(args, options, kindOf, apply, true, false, error);
}

std::string RunOptionsUsage() {
    return "  --seconds N    measure for N seconds (default: until Ctrl-C or SIGTERM)\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n"
           "  --format       csv (the default) or jsonl, one JSON object a line\n";
}

std::string StreamOptionsUsage() {
    return "  --rate HZ      the card's rate: " + RateChoices() +
           " (default 44100);\n"
           "                 the frequencies' limits follow it (Nyquist is half of it)\n"
           "  --format s16|s24|s32|float  the card's sample format (default s16); may be given\n"
           "                 beside the row format. Any rate or format but 44100 Hz s16 opens\n"
           "                 the card on its own, and refuses (exit 3) when it does not offer it\n";
}

std::string ExitStatusUsage() {
    return "Exit status: 0 done, 2 bad arguments, 3 the device cannot be opened or sends\n"
           "nothing for 10 s.\n";
}
