// The dither and pack of the stage outputs: each filtered value plus two
// triangular-dither draws, rounded at extended precision, clipped to 24 bits
// and stored three bytes a sample, left then right; one sample at a time on
// the x87 unit, or many frames at a time on the vector unit.
#pragma once

#include <cstdint>
#include <span>

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
// for the vector form, and the form every CPU can run. `right` is as long as
// `left`, `packed` has room for their frames; returns the samples clipped.
int64_t DitherAndPackScalar(std::span<const double> left, std::span<const double> right,
                            std::span<uint8_t> packed, RandomSource& random);

// A block of fast filter values: `Frames` of each channel, in arrays that
// have room for DitherPad values more, which the vector loads may read.
constexpr int64_t DitherPad = 64;
struct FilteredBlock {
    std::span<const double> Left, Right;
    int64_t Frames = 0;
};

// Where a block's dither goes: the clipped samples (room for DitherPad more,
// which the vector stores may write) and the suspects (room for two a frame).
struct DitheredBlock {
    std::span<int32_t> Left, Right, Suspects;
};

// The dither of fast filter values, many frames at a time on the vector
// unit: frame n draws left, left, right, right from `random` moved on 4 n
// draws. Clipped samples go to `out`, except for the suspects: lanes within
// `window` of a rounding boundary, whose exact result the caller must
// supply (the exact output, DitherSum with the same draws, ClipSample24).
// Suspect entries are 2 frame + channel (0 left, 1 right).
struct FastDither {
    int64_t Clipped = 0;   // of the samples that are not suspects
    int64_t Suspects = 0;  // entries written to out.Suspects
};
FastDither DitherFast(const FilteredBlock& block, RandomSource random, double window,
                      const DitheredBlock& out);

// What a block's dither did.
struct BlockDither {
    int64_t Clipped = 0;
    int64_t Recomputed = 0;        // suspects given their exact value
    bool TooManySuspects = false;  // more than asked: none was recomputed
};

// One block of fast filter values dithered into clipped samples, every
// suspect given the exact result: `exactOutput(frame, channel)` is the
// model's output for the block's frame (channel 0 left, 1 right), dithered
// with the two draws the frame's channel takes from `random`. With more
// than `mostSuspects` suspects, none is recomputed and the samples are not
// all there: the block is better computed whole by the exact loop.
template <typename ExactOutput>
BlockDither DitherBlock(const FilteredBlock& block, RandomSource random, double window,
                        const DitheredBlock& out, ExactOutput exactOutput,
                        int64_t mostSuspects = INT64_MAX) {
    FastDither fast = DitherFast(block, random, window, out);
    if (fast.Suspects > mostSuspects) return {0, 0, true};
    BlockDither result{fast.Clipped, fast.Suspects};
    for (int32_t suspect : out.Suspects.first(size_t(fast.Suspects))) {
        const int64_t frame = suspect / 2;
        const int channel = suspect % 2;
        RandomSource draws = random.Skip(4 * uint64_t(frame) + 2 * uint64_t(channel));
        Extended r1 = draws.Next();
        Extended r2 = draws.Next();
        int64_t sample = DitherSum(exactOutput(frame, channel), r1, r2);
        (channel == 0 ? out.Left : out.Right)[size_t(frame)] = ClipSample24(sample, result.Clipped);
    }
    return result;
}

// Packs the frames of clipped samples, left then right, 3 bytes each, into
// `packed`, which holds exactly as many frames.
void PackFrames(std::span<const int32_t> left, std::span<const int32_t> right,
                std::span<uint8_t> packed);
