// libFuzzer target for the two entry parsers: any text the user can type into the frequency or
// reference dialog. A value that is accepted but lies outside its range, or that the parser
// would not accept again in its own spelling, aborts the run.
#include "base/entry_validation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s: \"%.*s\"\n", what, int(text.size()), text.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto freq = ParseFrequencyEntry(text)) {
        if (*freq < kFreqEntryMin || *freq > kFreqEntryMax) {
            Fail("frequency accepted outside 0..20000", text);
        }
        if (ParseFrequencyEntry(std::to_string(*freq)) != freq) {
            Fail("accepted frequency not accepted again as digits", text);
        }
    }
    if (const auto ref = ParseReferenceEntry(text)) {
        if (!std::isfinite(*ref) || *ref < kRefEntryMin || *ref > kRefEntryMax) {
            Fail("reference accepted outside 0.001..10000", text);
        }
        // "%.17g" spells the double exactly; the dialog shows values in that form too.
        char spelled[40];
        std::snprintf(spelled, sizeof spelled, "%.17g", *ref);
        if (ParseReferenceEntry(spelled) != ref) {
            Fail("accepted reference not accepted again in its own spelling", text);
        }
    }
    return 0;
}
