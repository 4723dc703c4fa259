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

bool ApplyRunOption(const std::string& name, const std::string& value, RunOptions* options,
                    std::string* error) {
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
    } else {
        if (value != "csv" && value != "jsonl") {
            *error = "--format is csv or jsonl, not '" + value + "'";
            return false;
        }
        options->format = value == "csv" ? RowFormat::Csv : RowFormat::Jsonl;
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
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options->help = true;
            return true;
        }
        const bool shared = name == "--seconds" || name == "--device" || name == "--format";
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
        if (!(shared ? ApplyRunOption(name, value, options, error) : apply(name, value, error))) {
            return false;
        }
    }
    return true;
}

std::string RunOptionsUsage() {
    return "  --seconds N    measure for N seconds (default: until Ctrl-C or SIGTERM)\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n"
           "  --format       csv (the default) or jsonl, one JSON object a line\n";
}

std::string ExitStatusUsage() {
    return "Exit status: 0 done, 2 bad arguments, 3 the device cannot be opened or sends\n"
           "nothing for 10 s.\n";
}
