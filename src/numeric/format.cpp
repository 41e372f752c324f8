// FormatNumber and RoundToDecimals: placeholders until the print rules are written.
#include <cmath>
#include <cstdio>

#include "numeric/numeric.h"

std::string FormatNumber(Extended value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, " %.*Lg ", digits, value);
    return text;
}

Extended RoundToDecimals(Extended value, int decimals) {
    Extended scale = std::pow(10.0L, decimals);
    return std::nearbyint(value * scale) / scale;
}
