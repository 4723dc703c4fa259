#include "number_text.h"

#include <cstdio>

std::string FixedText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string printed = text;
    if (printed[0] == '-' && printed.find_first_not_of("-0.") == std::string::npos) {
        printed.erase(0, 1);
    }
    return printed;
}
