// Numeric services: the one place where Phonoskew's arithmetic model is
// stated. Every filter and dither sum is formed in the x87 extended format
// (`Extended`, 64-bit significand), rounded to nearest with ties to even,
// with every floating-point exception masked. This folder also owns the only
// conversions between text and numbers (`ParseNumber`, `FormatNumber`,
// `RoundToDecimals`) and the only random source (`RandomSource`).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

// Working precision of every sum: long double where it has a 64-bit
// significand (x86-64), else the same arithmetic in software.
#include "numeric/extended.h"

// ---- Floating-point environment --------------------------------------------

// Round to nearest (ties to even), all exceptions masked, x87 precision
// control at 64 bits. Called once at program start.
void SetNumericEnvironment();

// ---- Conversions to integers ------------------------------------------------
// Round to nearest, ties to even. NaN, an infinity or a result outside the
// target range gives the most negative value of the type: a defined result
// where a plain cast would be undefined behaviour.
int32_t RoundToInt32(Extended value);

// ---- Powers of ten ----------------------------------------------------------

// The largest exponent a number conversion ever needs: 4932 digits of range
// plus 18 kept digits.
constexpr int MaxPowerOfTen = 4950;

// 10^exponent rounded to nearest (ties to even) to Extended, exact up to
// 10^27; infinity above 10^4932. exponent must lie in 0..MaxPowerOfTen.
Extended PowerOfTen(int exponent);

// ---- Text to number ---------------------------------------------------------

// The value of a coefficient field: decimal or '&' radix form, never fails
// (text without a number gives 0). The caller stores it into a double.
Extended ParseNumber(std::string_view text);

// The same, taking the field's text a byte at a time, so that a field of
// any length is read in fixed memory: TakeNumberByte for each byte, then
// NumberValue. Bytes after the number's end change nothing.
struct NumberScan {
    enum Step {
        Leading,         // blanks, TABs and LFs before the number
        DigitRun,        // sign, digits and point
        ExponentSign,    // just after E, e, D or d
        ExponentDigits,  //
        RadixBase,       // just after '&'
        RadixDigits,     //
        RadixSuffix,     // a type suffix (%, &, &&, ?, ??, ???) being read
        Finished,        // the number has ended
    };
    enum class TypeSuffix { None, Integer, Long, Quad, Byte, Word, Dword };
    Step State = Leading;
    bool Radix = false;
    bool AnyDigit = false;
    // The decimal form: M, the digits seen, where the point stands.
    bool Negative = false;
    bool SeenPoint = false;
    uint64_t Mantissa = 0;
    int64_t Significant = 0;      // every significant digit seen
    int64_t BeforePoint = 0;      // significant digits before the point
    int64_t ZerosAfterPoint = 0;  // zeros between the point and the first significant digit
    bool ExponentNegative = false;
    int Exponent = 0;
    // The radix form.
    int Base = 8;
    uint64_t Bits = 0;
    bool LeadingZero = false;
    bool TooLong = false;
    TypeSuffix Suffix = TypeSuffix::None;
};
void TakeNumberByte(NumberScan& scan, char c);
Extended NumberValue(const NumberScan& scan);

// ---- Number to text ---------------------------------------------------------

// The printed form of a number with `digits` (7 or 15) significant digits:
// sign position, digits in fixed or scientific form, one trailing blank.
std::string FormatNumber(Extended value, int digits);

// round(value x 10^decimals) / 10^decimals, ties to even, decimals capped at
// 18 (and below 0 taken as 0).
Extended RoundToDecimals(Extended value, int decimals);

// ---- Dither random source ---------------------------------------------------

constexpr uint32_t RandomSeed = 0xFFFFFFFFu;
constexpr uint32_t RandomMultiplier = 134775813u;  // 0x08088405
constexpr uint32_t RandomIncrement = 1u;

// The dither's linear congruential source, a plain value: the run holds one,
// started at the fixed seed and never reseeded, and hands it on from stage
// to stage. `Skip` reaches any later position at once, so a stage, or a part
// of one, can start its draws where the run would have them.
struct RandomSource {
    uint32_t State = RandomSeed;

    // The next value r, 0 <= r <= 1 - 2^-31, a multiple of 2^-31; the
    // state's lowest bit plays no part.
    Extended Next() {
        State = State * RandomMultiplier + RandomIncrement;
        return Extended(State >> 1) * Extended(0x1p-31);
    }

    // The source as it will be `draws` draws later, in O(log draws) steps.
    RandomSource Skip(uint64_t draws) const;
};
