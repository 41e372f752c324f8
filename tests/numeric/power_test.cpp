#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "numeric/numeric_test_util.h"

// The C library's decimal reader rounds correctly, so "1e<k>" is the
// reference for every power the parser can ask for, including the overflow
// to infinity above 10^4932.
TEST(PowerOfTen, EveryExponentIsCorrectlyRounded) {
    for (int exponent = 0; exponent <= MaxPowerOfTen; ++exponent) {
        std::string text = "1e" + std::to_string(exponent);
        Extended expected = std::strtold(text.c_str(), nullptr);
        EXPECT_SAME_EXTENDED(PowerOfTen(exponent), expected, text);
    }
}

TEST(PowerOfTen, ExactUpToTenToThe27) {
    unsigned __int128 exact = 1;
    for (int exponent = 0; exponent <= 27; ++exponent, exact *= 10) {
        Extended value = PowerOfTen(exponent);
        EXPECT_TRUE(static_cast<unsigned __int128>(static_cast<long double>(value)) == exact)
            << exponent;
    }
}
