// The software form of Extended against the x87 unit itself: on x86-64 the
// portable build (PHONOSKEW_PORTABLE_EXTENDED) has both, and every result
// must match to the last bit. Elsewhere there is nothing to compare with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "numeric/numeric_test_util.h"

#if PHONOSKEW_SOFT_EXTENDED && defined(__x86_64__)

namespace {

// A 64-bit significand (the leading bit set) times 2^exponent.
long double Value(std::mt19937_64& random, int exponentFrom, int exponentTo) {
    uint64_t significand = random() | (uint64_t{1} << 63);
    int exponent = std::uniform_int_distribution<int>(exponentFrom, exponentTo)(random);
    long double value = std::ldexp(static_cast<long double>(significand), exponent - 63);
    return random() & 1 ? -value : value;
}

bool SameBits(long double a, long double b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

void ExpectAllOperations(long double a, long double b) {
    const Extended x = a, y = b;
    EXPECT_TRUE(SameBits(static_cast<long double>(x + y), a + b))
        << HexText(x) << " + " << HexText(y);
    EXPECT_TRUE(SameBits(static_cast<long double>(x - y), a - b))
        << HexText(x) << " - " << HexText(y);
    EXPECT_TRUE(SameBits(static_cast<long double>(x * y), a * b))
        << HexText(x) << " * " << HexText(y);
    EXPECT_TRUE(SameBits(static_cast<long double>(x / y), a / b))
        << HexText(x) << " / " << HexText(y);
    EXPECT_TRUE(SameBits(static_cast<long double>(Rint(x)), std::rint(a))) << HexText(x);
    EXPECT_TRUE(SameBits(static_cast<double>(x), static_cast<double>(a))) << HexText(x);
}

// Full mantissas at every scale: ties and sticky bits at 64 bits, products
// of 128 bits, and operands far apart.
TEST(SoftExtended, RandomOperandsGiveTheX87Bits) {
    SetNumericEnvironment();
    std::mt19937_64 random(64);
    for (int trial = 0; trial < 100000; ++trial) {
        ExpectAllOperations(Value(random, -70, 70), Value(random, -70, 70));
        // Doubles, as the filter's taps and stored sums are.
        ExpectAllOperations(double(Value(random, -30, 30)), double(Value(random, -30, 30)));
    }
}

// The edges: ties that carry to a power of two, the exponent range's ends,
// subnormals, overflow, and conversions to double at 53-bit midpoints.
TEST(SoftExtended, EdgesGiveTheX87Bits) {
    SetNumericEnvironment();
    const long double max = std::numeric_limits<long double>::max();
    const long double minNormal = std::numeric_limits<long double>::min();
    const long double minSubnormal = std::numeric_limits<long double>::denorm_min();
    const long double cases[][2] = {
        {0x1p64L - 1, 0.5L},                   // a tie carried to 2^64
        {0x1p64L - 1, 0.5L + 0x1p-60L},        // just above the tie
        {0x1p63L + 1, 0.5L},                   // a tie kept at the odd neighbour
        {1, 0x1p-64L},                         // a tie at 1
        {1, 0x1p-64L + 0x1p-120L},             // a sticky bit past it
        {max, max},                            // overflow
        {minNormal, 0.5L},                     // into the subnormals
        {minSubnormal, 0.5L},                  // a subnormal tie to zero
        {minSubnormal * 3, 0.5L},              // a subnormal tie to even
        {minNormal * 0x1p-40L, 0x1.8p0L},      // a subnormal product
        {0x1.0000000000001p0L + 0x1p-53L, 1},  // a 53-bit midpoint for the double
        {0x1.0000000000001p0L + 0x1p-53L + 0x1p-63L, 1},
        {0x1p-1074L * 1.5L, 1},  // a double subnormal midpoint
        {-0.0L, 0.0L},
        {INFINITY, -INFINITY},
        {NAN, 1},
    };
    for (const auto& c : cases) ExpectAllOperations(c[0], c[1]);
}

// The frame count's division, over the header's whole range.
TEST(SoftExtended, FrameCountDivisionsGiveTheX87Bits) {
    std::mt19937_64 random(6);
    for (int trial = 0; trial < 100000; ++trial) {
        long double bits = static_cast<long double>(int32_t(random())) * 8;
        long double frameBits = static_cast<long double>(int16_t(random())) * int16_t(random());
        ExpectAllOperations(bits, frameBits);
    }
}

}  // namespace

#endif
