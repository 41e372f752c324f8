// The floating-point environment and the defined integer conversions.
#include <cfenv>
#include <cmath>

#include "numeric/numeric.h"

// ---- Environment -----------------------------------------------------------

void SetNumericEnvironment() {
    SetExtendedRange();
    // Flags first: a pending flag with its trap enabled would fire on the
    // next floating-point instruction, before the masks were in place.
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
#if defined(__x86_64__) || defined(__i386__)
    // x87 control word: every exception masked (bits 0-5), so overflow gives
    // infinity and never traps, and precision control at a 64-bit
    // significand (bits 8-9). Linux starts a thread that way; other systems
    // may not (a Windows thread may start at 53 bits), so it is set here in
    // every thread that computes.
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>(control | 0x033F);
    __asm__ volatile("fldcw %0" : : "m"(control));
#else
    fedisableexcept(FE_ALL_EXCEPT);  // masked: overflow gives infinity, never a trap
#endif
#if defined(__SSE__)
    // Double stores and SSE arithmetic must keep subnormals: clear
    // flush-to-zero (bit 15) and denormals-are-zero (bit 6); every exception
    // masked (bits 7-12).
    unsigned int sseControl = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(sseControl));
    sseControl &= ~((1u << 15) | (1u << 6));
    sseControl |= 0x1F80u;
    __asm__ volatile("ldmxcsr %0" : : "m"(sseControl));
#endif
}

// ---- Conversions -----------------------------------------------------------

namespace {

// Rounds to an integral value in the current mode (to nearest, ties to even)
// and gives the type's minimum unless the result lies in [low, high), so the
// final cast is always exact and defined.
template <typename Int>
Int RoundToRange(Extended value, Extended low, Extended high) {
    Extended rounded = Rint(value);
    if (!(rounded >= low && rounded < high)) return std::numeric_limits<Int>::min();
    return static_cast<Int>(rounded);
}

}  // namespace

int32_t RoundToInt32(Extended value) {
    return RoundToRange<int32_t>(value, Extended(-0x1p31), Extended(0x1p31));
}
