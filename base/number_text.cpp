#include "base/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FixedText(double value, int decimals) {
    // printf keeps the sign bit of a NaN ("-nan"); a NaN has no sign worth showing.
    if (std::isnan(value)) {
        return "nan";
    }
    // Sized by printf itself: a large value has hundreds of digits before the point.
    const int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    std::string printed(size_t(std::max(length, 0)), '\0');
    std::snprintf(printed.data(), printed.size() + 1, "%.*f", decimals, value);
    if (printed[0] == '-' && printed.find_first_not_of("-0.") == std::string::npos) {
        printed.erase(0, 1);
    }
    return printed;
}
