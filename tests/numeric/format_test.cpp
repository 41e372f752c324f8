#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "numeric/numeric_test_util.h"

namespace {

struct FormatCase {
    Extended value;
    int digits;
    std::string expected;
};

const FormatCase FormatCases[] = {
    {0, 7, " 0 "},
    {-0.0L, 15, " 0 "},
    {2, 7, " 2 "},
    {96000, 15, " 96000 "},
    {24, 7, " 24 "},
    {432000, 15, " 432000 "},
    {4.5L, 15, " 4.5 "},
    {12.5L, 7, " 12.5 "},
    {0.5L, 7, " .5 "},
    {-0.05L, 15, "-.05 "},
    {-3.25L, 7, "-3.25 "},
    {0.1L, 15, " .1 "},
    {100, 7, " 100 "},
    {-1, 7, "-1 "},
    // digit N+1 alone decides: above 5 up, 5 up only after an odd digit
    {12345678, 7, " 1.234568E+7 "},
    {1234567.5L, 7, " 1234568 "},
    {1234568.5L, 7, " 1234568 "},
    {1234566.51L, 7, " 1234566 "},
    {1234566.6L, 7, " 1234567 "},
    {1234567.49L, 7, " 1234567 "},
    {12345675, 7, " 1.234568E+7 "},
    {12345665, 7, " 1.234566E+7 "},
    {-1234567.5L, 7, "-1234568 "},
    {99999995, 7, " 1E+8 "},
    {9999999.5L, 7, " 1E+7 "},
    {9999998.5L, 7, " 9999998 "},
    {9999999, 7, " 9999999 "},
    {9999999999999995.0L, 15, " 1E+16 "},
    {999999999999999.0L, 15, " 999999999999999 "},
    // the 18-digit step comes first and can make digit N+1 a 5
    {12345675.0L - 0x1p-40L, 7, " 1.234568E+7 "},
    {1.000000000000015L - 0x1p-62L, 15, " 1.00000000000002 "},
    // fixed and scientific forms, both exponent signs, up to four exponent digits
    {0.0001234L, 7, " .0001234 "},
    {0.00001234L, 7, " 1.234E-5 "},
    {1e15L, 15, " 1E+15 "},
    {1e-15L, 15, " .000000000000001 "},
    {1e-16L, 15, " 1E-16 "},
    {-1.5e-20L, 7, "-1.5E-20 "},
    {1e1000L, 15, " 1E+1000 "},
    {1e-4000L, 7, " 1E-4000 "},
    {0x1p127L, 15, " 1.70141183460469E+38 "},
    {1e7L, 7, " 1E+7 "},
    {1234567, 7, " 1234567 "},
    {0.1234567L, 7, " .1234567 "},
    {0.01234567L, 7, " 1.234567E-2 "},
};

TEST(FormatNumber, WorkedExamples) {
    for (const FormatCase& c : FormatCases)
        EXPECT_EQ(FormatNumber(c.value, c.digits), c.expected)
            << HexText(c.value) << " N=" << c.digits;
}

TEST(FormatNumber, DurationsRoundedToHundredths) {
    struct DurationCase {
        Extended seconds;
        std::string expected;
    };
    const DurationCase cases[] = {{12.860072L, " 12.86 "},
                                  {45, " 45 "},
                                  {0.05L, " .05 "},
                                  {0.0049L, " 0 "},
                                  {4800.0L / 96000.0L, " .05 "},
                                  {4.5L, " 4.5 "},
                                  {123456.789L, " 123456.79 "}};
    for (const DurationCase& c : cases)
        EXPECT_EQ(FormatNumber(RoundToDecimals(c.seconds, 2), 15), c.expected)
            << HexText(c.seconds);
}

// ---- Cross-check against an exact digit-string reference -------------------

std::string ToDecimal(unsigned __int128 value) {
    std::string text;
    do {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return text;
}

// Rounds a digit string to `keep` digits by the rule given; returns true on
// a carry out of the first digit (the string becomes "1" and zeros).
bool RoundDigitString(std::string& digits, size_t keep, bool tailDecides) {
    if (digits.size() <= keep) return false;
    char next = digits[keep];
    bool restNonZero = digits.find_first_not_of('0', keep + 1) != std::string::npos;
    bool odd = (digits[keep - 1] - '0') % 2 == 1;
    bool up = next > '5' || (next == '5' && ((tailDecides && restNonZero) || odd));
    digits.resize(keep);
    if (!up) return false;
    for (size_t i = keep; i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    return true;
}

// m x 2^power printed from its exact decimal expansion.
std::string ReferenceFormat(uint64_t m, int power, bool negative, int n) {
    unsigned __int128 exact = m;
    int places = 0;
    if (power >= 0) {
        exact <<= power;
    } else {
        for (int i = 0; i < -power; ++i) exact *= 5;
        places = -power;
    }
    std::string digits = ToDecimal(exact);
    int exponent = static_cast<int>(digits.size()) - 1 - places;
    if (RoundDigitString(digits, 18, true)) ++exponent;                       // exact ties to even
    if (RoundDigitString(digits, static_cast<size_t>(n), false)) ++exponent;  // digit n+1 only
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int k = static_cast<int>(digits.size());

    std::string body;
    if (exponent + 1 > n || k - (exponent + 1) > n) {
        body = digits.substr(0, 1) + (k > 1 ? "." + digits.substr(1) : "") +
               (exponent >= 0 ? "E+" : "E-") + std::to_string(std::abs(exponent));
    } else if (exponent + 1 >= k) {
        body = digits + std::string(static_cast<size_t>(exponent + 1 - k), '0');
    } else if (exponent + 1 > 0) {
        body = digits.substr(0, static_cast<size_t>(exponent + 1)) + "." +
               digits.substr(static_cast<size_t>(exponent + 1));
    } else {
        body = "." + std::string(static_cast<size_t>(-(exponent + 1)), '0') + digits;
    }
    return (negative ? "-" : " ") + body + " ";
}

// Values m x 2^p are exact in extended and have a finite decimal expansion
// that fits 128 bits, so the reference sees every digit, including exact
// ties at the 18th digit and fives at digit N+1.
TEST(FormatNumber, RandomDyadicValuesMatchDigitStringReference) {
    std::mt19937_64 random(8122026);
    for (int trial = 0; trial < 200000; ++trial) {
        int bits = std::uniform_int_distribution<int>(1, 40)(random);
        uint64_t m = (random() >> (64 - bits)) | 1u;
        int power = std::uniform_int_distribution<int>(-24, 40)(random);
        bool negative = (random() & 1u) != 0;
        int n = (random() & 1u) != 0 ? 7 : 15;
        Extended value = ScaleBinary(static_cast<Extended>(m), power);
        if (negative) value = -value;
        ASSERT_EQ(FormatNumber(value, n), ReferenceFormat(m, power, negative, n))
            << m << " x 2^" << power << " N=" << n;
    }
}

// ---- RoundToDecimals -------------------------------------------------------

TEST(RoundToDecimals, TiesToEvenOnExactHalves) {
    struct RoundCase {
        Extended value;
        int decimals;
        Extended expected;
    };
    // Every value is exact in binary, so x * 10^n lands exactly on a half.
    const RoundCase cases[] = {
        {2.5L, 0, 2},
        {3.5L, 0, 4},
        {-2.5L, 0, -2},
        {-0.5L, 0, 0},
        {0.5L, 0, 0},
        {1.5L, 0, 2},
        {0.25L, 1, 2.0L / 10},
        {0.75L, 1, 8.0L / 10},
        {-0.25L, 1, -2.0L / 10},
        {0.125L, 2, 12.0L / 100},
        {0.375L, 2, 38.0L / 100},
        {-0.125L, 2, -12.0L / 100},
        {12.860072L, 2, 1286.0L / 100},
        {45, 2, 45},
        {0.0049L, 2, 0},
        {0.0625L, 3, 62.0L / 1000},
        {0.1875L, 3, 188.0L / 1000},
        // decimals capped at 18: 1.6e-18 x 10^18 rounds to 2
        {1.6e-18L, 30, 2.0L / 1e18L},
        {1.6e-18L, 18, 2.0L / 1e18L},
    };
    for (const RoundCase& c : cases)
        EXPECT_SAME_EXTENDED(RoundToDecimals(c.value, c.decimals), c.expected,
                             HexText(c.value) + " n=" + std::to_string(c.decimals));
}

}  // namespace
