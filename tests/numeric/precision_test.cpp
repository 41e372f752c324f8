#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "numeric/numeric_test_util.h"

namespace {

const Extended Infinity = std::numeric_limits<long double>::infinity();
const Extended NotANumber = std::numeric_limits<long double>::quiet_NaN();

#if defined(__x86_64__)
// The x87 and SSE control words themselves, the same under every system's
// C library (Windows' has no feenableexcept).
void EnableInexactTrap() {
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>(control & ~0x20);
    __asm__ volatile("fldcw %0" : : "m"(control));
    unsigned int sseControl = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(sseControl));
    sseControl &= ~(1u << 12);
    __asm__ volatile("ldmxcsr %0" : : "m"(sseControl));
}

// The exceptions whose traps are enabled in either unit, as x87 bits.
unsigned EnabledTraps() {
    unsigned short control = 0;
    unsigned int sseControl = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    __asm__ volatile("stmxcsr %0" : "=m"(sseControl));
    return (~control & 0x3Fu) | (~sseControl >> 7 & 0x3Fu);
}
#else
void EnableInexactTrap() { feenableexcept(FE_INEXACT); }
unsigned EnabledTraps() { return unsigned(fegetexcept()); }
#endif

TEST(SetNumericEnvironment, RoundsToNearestWithEveryExceptionMasked) {
    // A pending inexact flag with its trap enabled fires on the next x87
    // instruction unless the flags are cleared before anything else.
    std::fesetround(FE_UPWARD);
    std::feraiseexcept(FE_INEXACT);
    EnableInexactTrap();
    SetNumericEnvironment();
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    EXPECT_EQ(EnabledTraps(), 0u);
#if defined(__x86_64__)
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    EXPECT_EQ(control & 0x0300, 0x0300) << "x87 precision control below 64 bits";
#endif
    // Read at run time, so that the division is not folded away.
    Extended one = std::strtol("1", nullptr, 10), three = std::strtol("3", nullptr, 10);
    EXPECT_SAME_EXTENDED(one / three, Extended(0xA.AAAAAAAAAAAAAABp-5L),
                         "division in the set mode");
}

TEST(RoundToInt, TiesToEvenAndDefinedFailures) {
    SetNumericEnvironment();
    struct IntCase {
        Extended value;
        int32_t expected32;
    };
    constexpr int32_t Min32 = std::numeric_limits<int32_t>::min();
    const IntCase cases[] = {
        {2.5L, 2},
        {3.5L, 4},
        {-2.5L, -2},
        {-0.5L, 0},
        {0.5L, 0},
        {1.5L, 2},
        {-1.5L, -2},
        {0.49999999999999999L, 0},
        {100.9L, 101},
        {-100.4L, -100},
        {0, 0},
        {-0.0L, 0},
        {NotANumber, Min32},
        {Infinity, Min32},
        {-Infinity, Min32},
        // 32-bit boundaries
        {2147483647.0L, 2147483647},
        {2147483647.49L, 2147483647},
        {2147483647.5L, Min32},
        {2147483648.0L, Min32},
        {-2147483648.0L, Min32},
        {-2147483648.5L, Min32},
        {-2147483648.51L, Min32},
        {-2147483649.0L, Min32},
        {1e30L, Min32},
        {-1e30L, Min32},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(RoundToInt32(c.value), c.expected32) << HexText(c.value);
    }
}

}  // namespace
