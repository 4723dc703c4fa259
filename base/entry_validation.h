#pragma once
// What the two entry dialogs accept, as plain functions over the edit field's text (UTF-8),
// so the rules are tested without a window; `tavrin measure` takes the same values from its
// command line. Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Output frequency in whole hertz.
inline constexpr uint32_t kFreqEntryMin = 0;
inline constexpr uint32_t kFreqEntryMax = 20000;
// Multimeter reference value, no unit.
inline constexpr double kRefEntryMin = 0.001;
inline constexpr double kRefEntryMax = 10000.0;

// A whole number in 0..20000: optional blanks around it, an optional '+', decimal digits only.
std::optional<uint32_t> ParseFrequencyEntry(std::string_view text);
// A finite decimal number in 0.001..10000 (fractions and exponents allowed), blanks around it.
std::optional<double> ParseReferenceEntry(std::string_view text);

// A finite decimal number and nothing else: an optional sign, digits, a point, an exponent. No
// blanks, and none of the "inf", "nan" or hexadecimal forms from_chars would also read. For
// entries and for numbers read from files alike.
std::optional<double> ParseDecimal(std::string_view text);

// The messages that refuse an entry; each names the accepted range.
std::string FrequencyEntryMessage();
std::string ReferenceEntryMessage();
