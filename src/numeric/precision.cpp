// The floating-point environment and the defined integer conversions.
#include <cfenv>
#include <cmath>

#include "numeric/numeric.h"

uint32_t RandomState = RandomSeed;

// ---- Environment -----------------------------------------------------------

void SetNumericEnvironment() {
    std::fesetround(FE_TONEAREST);
    fedisableexcept(FE_ALL_EXCEPT);  // masked: overflow gives infinity, never a trap
    std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__x86_64__) || defined(__i386__)
    // x87 precision control to 64-bit significand (bits 8-9 set). Linux
    // starts that way; setting it keeps the model true whatever ran before.
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>(control | 0x0300);
    __asm__ volatile("fldcw %0" : : "m"(control));
#endif
}

// ---- Conversions -----------------------------------------------------------

namespace {

// Rounds to an integral value in the current mode (to nearest, ties to even)
// and gives the type's minimum unless the result lies in [low, high), so the
// final cast is always exact and defined.
template <typename Int>
Int RoundToRange(Extended value, Extended low, Extended high) {
    Extended rounded = std::nearbyint(value);
    if (!(rounded >= low && rounded < high)) return std::numeric_limits<Int>::min();
    return static_cast<Int>(rounded);
}

}  // namespace

int64_t RoundToInt64(Extended value) { return RoundToRange<int64_t>(value, -0x1p63L, 0x1p63L); }

int32_t RoundToInt32(Extended value) { return RoundToRange<int32_t>(value, -0x1p31L, 0x1p31L); }
