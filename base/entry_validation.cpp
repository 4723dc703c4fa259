#include "base/entry_validation.h"

#include <charconv>
#include <cmath>

namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Drops one leading '+'; from_chars takes no sign other than '-'.
std::string_view DropPlus(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    return text;
}

} // namespace

std::optional<uint32_t> ParseFrequencyEntry(std::string_view text) {
    text = DropPlus(Trim(text));
    // Digits only: a sign, a decimal point or an exponent is not a whole number.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt; // too large for 32 bits
    }
    if (value > kFreqEntryMax) { // the minimum is 0
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    text = DropPlus(text);
    // Rejects "inf", "nan" and hexadecimal forms, which from_chars would otherwise read.
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseReferenceEntry(std::string_view text) {
    const std::optional<double> value = ParseDecimal(Trim(text));
    if (!value || *value < kRefEntryMin || *value > kRefEntryMax) {
        return std::nullopt;
    }
    return value;
}

std::string FrequencyEntryMessage() {
    return "请输入 0 到 20000 之间的整数。";
}

std::string ReferenceEntryMessage() {
    return "请输入 0.001 到 10000 之间的数。";
}
