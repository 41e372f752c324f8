#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "numeric/numeric_test_util.h"

namespace {

struct ParseCase {
    std::string text;
    Extended expected;
};

// Expected values are literals, which the compiler rounds correctly; every
// decimal case here needs one rounding only, so the literal is exact.
const ParseCase DecimalCases[] = {
    {"0.5", 0.5L},
    {" -1.25E-3", -1.25e-3L},
    {"+.5", 0.5L},
    {"5.", 5},
    {"1.5D2", 150},
    {"1.5d2", 150},
    {"2.5e+2", 250},
    {"12e-1", 1.2L},
    {"0.1", 0.1L},
    {"-0.3", -0.3L},
    {"3.14159265358979323", 3.14159265358979323L},
    // where the digit run and the exponent end
    {"1.2.3", 1.2L},
    {"1..2", 1},
    {"12abc", 12},
    {"1 000", 1},
    {"1e", 1},
    {"1e+", 1},
    {"2e-x", 2},
    {"7E 3", 7},
    {"1,5", 1},
    {"1.5\r", 1.5L},
    {"1e2.5", 100},
    // signs and leading characters
    {"- 5", 0},
    {"--5", 0},
    {"+-5", 0},
    {"", 0},
    {"     ", 0},
    {"\r5", 0},
    {"\t\n 7", 7},
    {"\v7", 0},
    {"+", 0},
    {"-", 0},
    {".", 0},
    {"-.", 0},
    {"abc", 0},
    {"e5", 0},
    {"&", 0},
    {"-&H10", 0},
    // zeros: leading ones are not significant, an all-zero run ignores its exponent
    {"0", 0},
    {"-0.000", 0},
    {"000e5000", 0},
    {"0e-5000", 0},
    {"0007", 7},
    {"00.0012", 0.0012L},
    {"0.000000000000000000001234", 1.234e-21L},
    {"0.0000123456789012345678999", 1.23456789012345678e-5L},
    // 18 significant digits kept, the rest dropped without rounding
    {"123456789012345678", 123456789012345678.0L},
    {"1234567890123456789", 1234567890123456780.0L},
    {"9999999999999999999", 9999999999999999990.0L},
    {"12345678901234567890123e-5", 123456789012345678.0L},
    {"000000000000000000001234567890123456789", 1234567890123456780.0L},
    {"1.99999999999999999999", 1.99999999999999999L},
    // range rule on P + X, the exponent cap and 2^127
    {"1e5000", 0x1p127L},
    {"-1e5000", -0x1p127L},
    {"1e-5000", 0},
    {"1e400", 1e400L},
    {"-1e-400", -1e-400L},
    {"1e99999999999999999999", 0x1p127L},
    {"1e-99999999999999999999", 0},
    {"1e4931", 1e4931L},
    {"10e4931", 0x1p127L},
    {"1e4932", 0x1p127L},
    {"1e-4932", 1.0L / 1e4932L},
    {"0.0001e-4929", 0},  // 10^4933 is infinite at working precision
    {"1D5000", 0x1p127L},
};

const ParseCase RadixCases[] = {
    {"&H1F", 31},
    {"&h1f", 31},
    {"&B101", 5},
    {"&b101", 5},
    {"&17", 15},
    {"&O17", 15},
    {"&Q17", 15},
    {"&o17", 15},
    {"&q17", 15},
    {"  &H10", 16},
    {"&H", 0},
    {"&B", 0},
    {"&9", 0},
    {"&HG", 0},
    {"&B102", 2},
    {"&o8", 0},
    {"&777", 511},
    {"&Hff&h", 255},
    // 16-bit values sign-extend unless "&", a leading 0, or bit 15 clear
    {"&HFFFF", -1},
    {"&H0FFFF", 65535},
    {"&HFFFF&", 65535},
    {"&HFFFF%", -1},
    {"&H8000", -32768},
    {"&H7FFF", 32767},
    {"&H8000&", 32768},
    {"&HFFFF &", -1},
    {"&177777", -1},
    {"&0177777", 65535},
    {"&B1000000000000000", -32768},
    // 32-bit values sign-extend from bit 31
    {"&HFFFFFFFF", -1},
    {"&HFFFFFFFF&&", 4294967295.0L},
    {"&HFFFFFFFF&", -1},
    {"&H0FFFFFFFF", 4294967295.0L},
    {"&H80000000", -2147483648.0L},
    {"&H7FFFFFFF", 2147483647},
    {"&H10000", 65536},
    {"&H18000", 98304},
    {"&H8000&&", 32768},
    {"&37777777777", -1},
    // the unsigned suffixes keep the value but refuse bit 63
    {"&HFFFF?", 65535},
    {"&HFFFF??", 65535},
    {"&HFFFF???", 65535},
    {"&HFFFFFFFF?", 4294967295.0L},
    {"&H7FFFFFFFFFFFFFFF?", 9223372036854775807.0L},
    {"&H8000000000000000??", 0},
    // 64 bits: read as signed, more than 64 bits gives 0
    {"&H100000000", 4294967296.0L},
    {"&HFFFFFFFFFFFFFFFF", -1},
    {"&HFFFFFFFFFFFFFFFF?", 0},
    {"&H8000000000000000", -9223372036854775808.0L},
    {"&H10000000000000000", 0},
    {"&H00000000000000000000000000001", 1},
    {"&1777777777777777777777", -1},
    {"&2000000000000000000000", 0},
    {"&B" + std::string(64, '1'), -1},
    {"&B1" + std::string(64, '0'), 0},
};

TEST(ParseNumber, DecimalForm) {
    for (const ParseCase& c : DecimalCases)
        EXPECT_SAME_EXTENDED(ParseNumber(c.text), c.expected, "'" + c.text + "'");
}

TEST(ParseNumber, RadixForm) {
    for (const ParseCase& c : RadixCases)
        EXPECT_SAME_EXTENDED(ParseNumber(c.text), c.expected, "'" + c.text + "'");
}

TEST(ParseNumber, ReadsOnlyTheGivenBytes) {
    const char buffer[] = "12345";
    EXPECT_SAME_EXTENDED(ParseNumber(std::string_view(buffer, 3)), 123.0L,
                         "prefix of a longer buffer");
    EXPECT_SAME_EXTENDED(ParseNumber(std::string_view("1e2", 2)), 1.0L,
                         "exponent letter at the end");
    EXPECT_SAME_EXTENDED(ParseNumber(std::string_view("&HFF", 3)), 15.0L, "radix digits cut short");
}

// ---- Random cross-check ----------------------------------------------------

// A decimal field built from known parts, and the value it must give.
struct GeneratedField {
    std::string text;
    uint64_t mantissa;  // first 18 significant digits
    int scale;          // q: value = mantissa x 10^scale
};

GeneratedField GenerateField(std::mt19937_64& random) {
    auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    int length = pick(1, 100) <= 85 ? pick(1, 18) : pick(19, 24);
    std::string digits(1, static_cast<char>('1' + pick(0, 8)));
    for (int i = 1; i < length; ++i) digits += static_cast<char>('0' + pick(0, 9));

    GeneratedField field{};
    int kept = length < 18 ? length : 18;
    for (int i = 0; i < kept; ++i)
        field.mantissa = field.mantissa * 10 + static_cast<uint64_t>(digits[i] - '0');

    // The point: none, inside or after the digits, or before them with zeros.
    int point = length;
    int where = pick(0, 3);
    if (where == 0) {
        field.text = digits;
    } else if (where == 1) {
        point = pick(0, length);
        field.text = digits.substr(0, static_cast<size_t>(point)) + "." +
                     digits.substr(static_cast<size_t>(point));
    } else {
        int zeros = pick(0, 4);
        point = -zeros;
        field.text =
            (where == 2 ? "0." : ".") + std::string(static_cast<size_t>(zeros), '0') + digits;
    }
    if (pick(0, 3) == 0)
        field.text = std::string(static_cast<size_t>(pick(1, 3)), '0') + field.text;

    int exponent = 0;
    if (pick(0, 2) != 0) {
        exponent = pick(0, 9) == 0 ? pick(-4900, 4900) : pick(-25, 25);
        field.text += "EeDd"[pick(0, 3)];
        if (exponent >= 0 && pick(0, 1) == 0) field.text += '+';
        field.text += std::to_string(exponent);
    }
    if (pick(0, 1) == 0) field.text = "-" + field.text;
    field.scale = exponent + point - kept;
    return field;
}

// The parser must give M x 10^q with one rounding. For |q| <= 27 both M and
// 10^|q| are exact integers, so one extended multiply or divide is the
// reference, and since one rounding of the exact value is the correctly
// rounded value, the C library's reader of "M e q" must agree too. Beyond
// 10^27 the power itself is the correctly rounded "1e|q|".
TEST(ParseNumber, RandomFieldsMatchOneRoundingOfTheKeptDigits) {
    std::mt19937_64 random(20261208);
    int checkedExact = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        GeneratedField field = GenerateField(random);
        bool negative = field.text[0] == '-';
        Extended value = ParseNumber(field.text);
        Extended mantissa = static_cast<Extended>(field.mantissa);
        int magnitude = field.scale < 0 ? -field.scale : field.scale;

        Extended expected;
        if (magnitude <= 27) {
            unsigned __int128 power = 1;
            for (int i = 0; i < magnitude; ++i) power *= 10;
            // 10^27 fits in 64 bits of significand: exact as a long double.
            Extended exactPower = static_cast<long double>(power);
            expected = field.scale >= 0 ? mantissa * exactPower : mantissa / exactPower;
            std::string reference =
                std::to_string(field.mantissa) + "e" + std::to_string(field.scale);
            EXPECT_SAME_EXTENDED(expected, std::strtold(reference.c_str(), nullptr), reference);
            ++checkedExact;
        } else {
            Extended power = std::strtold(("1e" + std::to_string(magnitude)).c_str(), nullptr);
            expected = field.scale >= 0 ? mantissa * power : mantissa / power;
        }
        EXPECT_SAME_EXTENDED(value, negative ? -expected : expected, "'" + field.text + "'");
        if (HasFailure()) break;
    }
    EXPECT_GT(checkedExact, 130000);
}

}  // namespace
