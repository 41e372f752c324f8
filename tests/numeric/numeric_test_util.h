// Helpers shared by the numeric tests.
#pragma once

#include <cstdio>
#include <string>

#include "numeric/numeric.h"

// Exact hexadecimal text of an extended value, for readable failures.
inline std::string HexText(Extended value) {
    char text[64];
    std::snprintf(text, sizeof text, "%La", static_cast<long double>(value));
    return text;
}

// Equal to the last bit (either zero matches either zero).
#define EXPECT_SAME_EXTENDED(actual, expected, context)                                    \
    EXPECT_TRUE((actual) == (expected))                                                    \
        << (context) << ": got " << HexText(actual) << " (" << static_cast<double>(actual) \
        << "), expected " << HexText(expected)
