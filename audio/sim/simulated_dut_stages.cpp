#include "audio/sim/simulated_dut_stages.h"

#include <charconv>
#include <cmath>

namespace {

using Kind = DutStage::Kind;

struct StageRule {
    const char* keyword;
    Kind kind;
    int count; // numbers after the keyword
    const char* shape;
    bool per_channel; // may take "x1:"
};

constexpr StageRule kRules[] = {
    {"lowpass", Kind::Lowpass, 2, "lowpass:F:Q", true},
    {"highpass", Kind::Highpass, 2, "highpass:F:Q", true},
    {"peak", Kind::Peak, 3, "peak:F:Q:DB", true},
    {"delay", Kind::Delay, 1, "delay:N", true},
    {"echo", Kind::Echo, 2, "echo:N:G", true},
    {"poly", Kind::Poly, 2, "poly:A2:A3", true},
    {"noise", Kind::Noise, 1, "noise:DBFS", true},
    {"tone", Kind::Tone, 2, "tone:HZ:DBFS", true},
    {"gain", Kind::Gain, 1, "gain:DB", true},
    {"divider", Kind::Divider, 1, "divider:REF:NETWORK", false},
    {"zin", Kind::Zin, 1, "zin:OHMS", false},
    {"mismatch", Kind::Mismatch, 2, "mismatch:DB:DEG", false},
    {"dither", Kind::Dither, 0, "dither", false},
    {"crosstalk", Kind::Crosstalk, 2, "crosstalk:LR:RL", false},
};

bool Fail(std::string& error, const std::string& what) {
    error = "sim:dut: " + what;
    return false;
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// Splits at each ':' up to `pieces` pieces; the last keeps any further ':'.
std::vector<std::string_view> Split(std::string_view text, char at, size_t pieces) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < pieces) {
        const size_t cut = text.find(at);
        if (cut == std::string_view::npos) {
            break;
        }
        parts.push_back(text.substr(0, cut));
        text.remove_prefix(cut + 1);
    }
    parts.push_back(text);
    return parts;
}

bool Number(std::string_view text, double& value) {
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
    return code == std::errc() && end == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

// The ranges outside which a stage makes no sense or the simulation would mislead. Delays reach
// one second, frequencies Nyquist, at the chain's rate.
bool CheckRanges(const StageRule& rule, const DutStage& s, int rate_hz, std::string& error) {
    const double nyquistHz = rate_hz / 2.0;
    const double maxDelayFrames = rate_hz;
    const std::string belowNyquist =
        "the frequency must be above 0 and below " + std::to_string(rate_hz / 2) + " Hz";
    const std::string seconds = std::to_string(rate_hz) + " frames";
    const double* a = s.args;
    const auto bad = [&](const char* what) {
        return Fail(error, std::string(rule.keyword) + ": " + what);
    };
    switch (s.kind) {
    case Kind::Lowpass:
    case Kind::Highpass:
    case Kind::Peak:
        if (!(a[0] > 0 && a[0] < nyquistHz)) {
            return bad(belowNyquist.c_str());
        }
        if (!(a[1] > 0)) {
            return bad("Q must be above 0");
        }
        if (s.kind == Kind::Peak && std::abs(a[2]) > 60) {
            return bad("the gain must be within +-60 dB");
        }
        return true;
    case Kind::Delay:
        return (a[0] >= 0 && a[0] <= maxDelayFrames)
                   ? true
                   : bad(("the delay must be 0 to " + seconds).c_str());
    case Kind::Echo:
        if (!(a[0] >= 1 && a[0] <= maxDelayFrames && a[0] == std::floor(a[0]))) {
            return bad(("the delay must be a whole 1 to " + seconds).c_str());
        }
        return std::abs(a[1]) <= 1 ? true : bad("the gain must be within +-1");
    case Kind::Noise:
        return a[0] <= 0 ? true : bad("the level must be 0 dBFS or below");
    case Kind::Tone:
        if (!(a[0] > 0 && a[0] < nyquistHz)) {
            return bad(belowNyquist.c_str());
        }
        return a[1] <= 0 ? true : bad("the level must be 0 dBFS or below");
    case Kind::Gain:
        return std::abs(a[0]) <= 60 ? true : bad("the gain must be within +-60 dB");
    case Kind::Divider:
    case Kind::Zin:
        return a[0] > 0 ? true : bad("the resistance must be above 0 ohms");
    case Kind::Mismatch:
        if (std::abs(a[0]) > 20 || std::abs(a[1]) > 180) {
            return bad("the gain must be within +-20 dB and the phase within +-180 degrees");
        }
        return true;
    case Kind::Crosstalk:
        return a[0] <= 0 && a[1] <= 0 ? true : bad("the leaks must be 0 dB or below");
    case Kind::Poly:
    case Kind::Dither:
        return true;
    }
    return true;
}

bool ParseStage(std::string_view text, DutStage& stage, int rate_hz, std::string& error) {
    if (text.substr(0, 3) == "x1:") {
        stage.x1_only = true;
        text.remove_prefix(3);
    }
    const std::string_view keyword = text.substr(0, text.find(':'));
    const StageRule* rule = nullptr;
    for (const StageRule& r : kRules) {
        if (keyword == r.keyword) {
            rule = &r;
        }
    }
    if (rule == nullptr) {
        return Fail(error, "unknown stage " + Quoted(keyword));
    }
    if (stage.x1_only && !rule->per_channel) {
        return Fail(error, "x1: does not apply to " + std::string(rule->keyword));
    }
    stage.kind = rule->kind;
    const bool divider = rule->kind == Kind::Divider;
    const auto parts = Split(text, ':', divider ? 3 : std::string_view::npos);
    const size_t wanted = size_t(rule->count) + (divider ? 2 : 1);
    if (parts.size() != wanted) {
        return Fail(error, Quoted(text) + " is not " + rule->shape);
    }
    for (int i = 0; i < rule->count; ++i) {
        if (!Number(parts[size_t(i) + 1], stage.args[i])) {
            return Fail(error, std::string(rule->keyword) + ": " + Quoted(parts[size_t(i) + 1]) +
                                   " is not a number");
        }
    }
    if (divider) {
        std::string why;
        auto network = ParseSimulatedNetwork(parts[2], why);
        if (!network) {
            return Fail(error, "divider: " + why);
        }
        stage.network = std::move(*network);
    }
    return CheckRanges(*rule, stage, rate_hz, error);
}

} // namespace

std::optional<std::vector<DutStage>> ParseDutStages(std::string_view stages, std::string& error,
                                                    int rate_hz) {
    std::vector<DutStage> chain;
    int dividers = 0, zins = 0;
    size_t begin = 0;
    for (size_t i = 0; i <= stages.size(); ++i) {
        // A '+' before a lowercase word starts a stage; before R, L, C or '(' it is a network's.
        const bool end = i == stages.size();
        if (!end && !(stages[i] == '+' && i + 1 < stages.size() && stages[i + 1] >= 'a' &&
                      stages[i + 1] <= 'z')) {
            continue;
        }
        const std::string_view text = stages.substr(begin, i - begin);
        if (text.empty()) {
            Fail(error, "empty stage in " + Quoted(stages));
            return std::nullopt;
        }
        DutStage stage;
        if (!ParseStage(text, stage, rate_hz, error)) {
            return std::nullopt;
        }
        dividers += stage.kind == Kind::Divider;
        zins += stage.kind == Kind::Zin;
        chain.push_back(std::move(stage));
        begin = i + 1;
    }
    if (zins > 1) {
        Fail(error, "more than one zin");
        return std::nullopt;
    }
    if (zins == 1 && dividers == 0) {
        Fail(error, "zin needs a divider in the same chain");
        return std::nullopt;
    }
    return chain;
}
