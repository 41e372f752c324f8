// The dither and pack of the stage outputs: each filtered value plus two
// triangular-dither draws, rounded at extended precision, clipped to 24 bits
// and stored three bytes a sample, left then right; one sample at a time on
// the x87 unit, or many frames at a time on the vector unit.
#pragma once

#include <cstdint>

#include "numeric/numeric.h"

// The 24-bit range every output sample is clipped to.
constexpr int32_t SampleMax = 8388607;
constexpr int32_t SampleMin = -8388608;

// One dithered sum ((r1 + y) + r2) - 1 at extended precision, rounded to
// nearest with ties to even. A sum beyond the 64-bit range (an infinity
// too) gives the extreme of its sign, a NaN gives 0.
int64_t DitherSum(double value, Extended r1, Extended r2);

// DitherSum with two fresh draws, r1 first.
int64_t DitherSample(double value, RandomSource& random);

// `value` clipped to the 24-bit range; `clipped` counts a value that was.
inline int32_t ClipSample24(int64_t value, int64_t& clipped) {
    if (value > SampleMax) {
        ++clipped;
        return SampleMax;
    }
    if (value < SampleMin) {
        ++clipped;
        return SampleMin;
    }
    return int32_t(value);
}

// Stores the low 24 bits of `value`, least significant byte first.
inline void StoreSample24(int64_t value, uint8_t* bytes) {
    auto bits = static_cast<uint64_t>(value);
    bytes[0] = static_cast<uint8_t>(bits);
    bytes[1] = static_cast<uint8_t>(bits >> 8);
    bytes[2] = static_cast<uint8_t>(bits >> 16);
}

// The dither and pack one sample at a time, on the x87 unit: the reference
// for the vector form, and the form every CPU can run.
int64_t DitherAndPackScalar(const double* left, const double* right, int64_t frames,
                            uint8_t* packed, RandomSource& random);

// The dither of fast filter values, many frames at a time on the vector
// unit: frame n draws left, left, right, right from `random` moved on 4 n
// draws. Clipped samples go to `outLeft` and `outRight`, except for the
// suspects: lanes within `window` of a rounding boundary, whose exact
// result the caller must supply (the exact output, DitherSum with the same
// draws, ClipSample24). Suspect entries are 2 frame + channel (0 left, 1
// right), at most 2 frames of them. Returns how many of the other samples
// were clipped. The sample arrays have room for frames + DitherPad values.
constexpr int64_t DitherPad = 64;
int64_t DitherFast(const double* left, const double* right, int64_t frames, RandomSource random,
                   double window, int32_t* outLeft, int32_t* outRight, int32_t* suspects,
                   int64_t* suspectCount);

// Packs `frames` frames of clipped samples, left then right, 3 bytes each.
void PackFrames(const int32_t* left, const int32_t* right, int64_t frames, uint8_t* packed);
