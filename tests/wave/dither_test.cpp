// The dither and pack: hand-worked sums, the draw order, clipping, and the
// vector form against the one-sample-at-a-time form.
#include "wave/dither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "numeric/numeric.h"
#include "support/vector_targets.h"
#include "wave/wave.h"

namespace {

// Two draws of 0.5 (states 0x80000000, 0x80000001), or of 0.75 (0xC0000000,
// 0xC0000001): the multiplier is 1 modulo 4, so these states follow each
// other. The source starts one draw before: 2^32 - 1 draws on, as the
// period is 2^32.
RandomSource PrimeDraws(uint32_t firstState) {
    return RandomSource{firstState}.Skip((uint64_t{1} << 32) - 1);
}

TEST(Dither, HandWorkedSums) {
    struct Case {
        uint32_t FirstState;  // 0x80000000: draws .5/.5; 0xC0000000: .75/.75
        double Value;
        int64_t Expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int64_t lowest = std::numeric_limits<int64_t>::min();
    const int64_t highest = std::numeric_limits<int64_t>::max();
    const Case cases[] = {
        {0x80000000u, 100.4, 100},  // ((0.5 + 100.4) + 0.5) - 1 = 100.4
        {0xC0000000u, 100.4, 101},  // 100.9
        {0x80000000u, 2.5, 2},      // ties to even
        {0x80000000u, 3.5, 4},
        {0x80000000u, -0.5, 0},
        {0x80000000u, -2.5, -2},
        {0x80000000u, 8388608.0, 8388608},
        // NaN stores 0; beyond the 64-bit range, the extreme of the sign.
        {0x80000000u, nan, 0},
        {0x80000000u, INFINITY, highest},
        {0x80000000u, -INFINITY, lowest},
        {0x80000000u, 1e19, highest},
        {0x80000000u, -1e19, lowest},
        {0xC0000000u, 0.0, 0},  // 0.5 goes to the even 0
        {0xC0000000u, 1.0, 2},  // 1.5 goes to 2
    };
    for (const Case& c : cases) {
        RandomSource random = PrimeDraws(c.FirstState);
        EXPECT_EQ(DitherSample(c.Value, random), c.Expected) << c.Value;
    }
}

TEST(Dither, LowTwentyFourBitsLittleEndian) {
    struct Case {
        int64_t Value;
        uint8_t Bytes[3];
    };
    const Case cases[] = {
        {0, {0x00, 0x00, 0x00}},        {-1, {0xFF, 0xFF, 0xFF}},
        {8388607, {0xFF, 0xFF, 0x7F}},  {-8388609, {0xFF, 0xFF, 0x7F}},
        {8388608, {0x00, 0x00, 0x80}},  {std::numeric_limits<int64_t>::min(), {0x00, 0x00, 0x00}},
        {0x123456, {0x56, 0x34, 0x12}}, {0x7E123456, {0x56, 0x34, 0x12}},
    };
    for (const Case& c : cases) {
        uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        StoreSample24(c.Value, bytes);
        EXPECT_EQ(bytes[0], c.Bytes[0]) << c.Value;
        EXPECT_EQ(bytes[1], c.Bytes[1]) << c.Value;
        EXPECT_EQ(bytes[2], c.Bytes[2]) << c.Value;
        EXPECT_EQ(bytes[3], 0xEE) << c.Value;
    }
}

// The first four draws from the seed are 0.96862006, 0.20171141, 0.51951597
// and 0.13224066. Left 0.3 gives 0.470 -> 0 only if the left sample takes
// draws 1 and 2 (draws 1 and 3 would give 0.788 -> 1); right 0.9 gives
// 0.552 -> 1 only with draws 3 and 4 (2 and 4 would give 0.234 -> 0).
TEST(Dither, DrawOrderLeftLeftRightRight) {
    RandomSource random;
    const double left[] = {0.3};
    const double right[] = {0.9};
    uint8_t packed[6];
    DitherAndPackScalar(left, right, packed, random);
    const uint8_t expected[] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(packed, packed + 6),
              std::vector<uint8_t>(expected, expected + 6));
}

TEST(Dither, ClipsToTheTwentyFourBitRailsAndCounts) {
    const struct {
        int64_t Value;
        int32_t Stored;
        int Clipped;
    } cases[] = {
        {8388607, 8388607, 0},
        {8388608, 8388607, 1},
        {-8388608, -8388608, 0},
        {-8388609, -8388608, 1},
        {INT64_MAX, 8388607, 1},
        {INT64_MIN, -8388608, 1},
        {0, 0, 0},
        {-1, -1, 0},
    };
    for (const auto& c : cases) {
        int64_t clipped = 0;
        EXPECT_EQ(ClipSample24(c.Value, clipped), c.Stored) << c.Value;
        EXPECT_EQ(clipped, c.Clipped) << c.Value;
    }
}

// The vector dither given exact values, as the engine uses it: with no
// filter error its window is 2^-37, and each suspect takes its exact value.
int64_t DitherAndPackVector(const double* left, const double* right, int64_t frames,
                            uint8_t* packed, RandomSource& random) {
    std::vector<double> l(left, left + frames), r(right, right + frames);
    l.resize(size_t(frames + DitherPad));
    r.resize(size_t(frames + DitherPad));
    std::vector<int32_t> outLeft(l.size()), outRight(r.size()), suspects(2 * size_t(frames));
    auto exactOutput = [&](int64_t frame, int channel) { return (channel == 0 ? l : r)[frame]; };
    BlockDither dither =
        DitherBlock({l, r, frames}, random, 0x1p-37, {outLeft, outRight, suspects}, exactOutput);
    PackFrames(outLeft, outRight, std::span(packed, size_t(BytesPerFrame * frames)));
    random = random.Skip(4 * uint64_t(frames));
    return dither.Clipped;
}

// Packs with the vector form from `start` and compares bytes, clip count
// and the source's end state with the one-sample-at-a-time form, whose
// sums, draw order and clipping the tests above work by hand.
void ExpectSameAsScalarOnOneUnit(const std::vector<double>& left, const std::vector<double>& right,
                                 uint32_t start) {
    RandomSource random{start};
    std::vector<uint8_t> packed(6 * left.size());
    int64_t clipped =
        DitherAndPackVector(left.data(), right.data(), int64_t(left.size()), packed.data(), random);
    RandomSource scalarRandom{start};
    std::vector<uint8_t> expected(6 * left.size());
    int64_t expectedClipped = DitherAndPackScalar(left, right, expected, scalarRandom);
    size_t differ = 0;
    while (differ < packed.size() && packed[differ] == expected[differ]) ++differ;
    EXPECT_EQ(differ, packed.size()) << "first difference in frame " << differ / 6 << " value "
                                     << (differ / 3 % 2 ? right : left)[differ / 6];
    EXPECT_EQ(clipped, expectedClipped);
    EXPECT_EQ(random.State, scalarRandom.State);
    EXPECT_EQ(random.State, RandomSource{start}.Skip(4 * left.size()).State);
}

void ExpectSameAsScalar(const std::vector<double>& left, const std::vector<double>& right,
                        uint32_t start) {
    ForEachVectorTarget([&] { ExpectSameAsScalarOnOneUnit(left, right, start); });
}

TEST(Dither, VectorFormMatchesOneSampleAtATimeAndAdvancesFourDraws) {
    std::mt19937_64 generator(12345);
    std::uniform_real_distribution<double> spread(-9e6, 9e6);
    std::vector<double> left(5003), right(5003);  // not a multiple of four
    for (size_t n = 0; n < left.size(); ++n) {
        left[n] = spread(generator);
        // Near half-integers, where the draw order and precision both show.
        right[n] = std::floor(spread(generator)) + 0.5;
    }
    ExpectSameAsScalar(left, right, 0x12345678u);
}

// Values aimed at the spots where the vector form would round differently
// from three extended-precision sums: sums exactly on a half-integer, one or a
// few units of the last place beside it, on both sides of zero, at the
// rails, beyond them, infinite and NaN; each at every lane position of the
// vector form, for the left and the right channel.
TEST(Dither, AimedTiesAtEveryLanePositionMatchOneSampleAtATime) {
    const uint32_t start = 0x9E3779B9u;
    const int frames = 4096;
    // The dither each sample will get, known in advance from the source.
    RandomSource draws{start};
    std::vector<double> ditherOf(2 * frames);
    for (double& d : ditherOf) {
        Extended r1 = draws.Next();
        Extended r2 = draws.Next();
        d = static_cast<double>((r1 + r2) - 1);  // exact: a multiple of 2^-31 below 2
    }
    std::mt19937_64 generator(99);
    const double specials[] = {8388607.5, -8388608.5, 8388608.0,
                               0x1p24,    -0x1p24,    1e300,
                               INFINITY,  -INFINITY,  std::numeric_limits<double>::quiet_NaN()};
    std::vector<double> left(frames), right(frames);
    for (int n = 0; n < frames; ++n) {
        for (int channel = 0; channel < 2; ++channel) {
            double dither = ditherOf[2 * n + channel];
            // A half-integer near zero or a few thousand, or near the rails.
            int scale = int(generator() % 3);
            double base = scale == 0   ? double(int(generator() % 64) - 32)
                          : scale == 1 ? double(int(generator() % 8192) - 4096)
                                       : (generator() % 2 ? 8388600.0 : -8388600.0);
            double value = base + 0.5 - dither;    // the sum lands on the tie
            int nudge = int(generator() % 7) - 3;  // then up to three ulps off it
            for (; nudge > 0; --nudge) value = std::nextafter(value, INFINITY);
            for (; nudge < 0; ++nudge) value = std::nextafter(value, -INFINITY);
            if (generator() % 16 == 0) value = specials[generator() % std::size(specials)];
            (channel == 0 ? left : right)[size_t(n)] = value;
        }
    }
    ExpectSameAsScalar(left, right, start);
}

// The dither of stage 2 started at its own position with Skip writes the
// same bytes as the source running on from stage 1: what lets a stage, or a
// part of one, start its draws anywhere.
TEST(Dither, StageStartedWithSkipMatchesRunningOn) {
    const int64_t frames = 777;
    std::vector<double> left(frames), right(frames);
    for (int64_t n = 0; n < frames; ++n) {
        left[size_t(n)] = 0.5 * double(n) - 100.25;
        right[size_t(n)] = double(n % 7) + 0.5;
    }
    std::vector<uint8_t> first(6 * frames), runningOn(6 * frames), skipped(6 * frames);
    RandomSource run;
    DitherAndPackScalar(left, right, first, run);
    DitherAndPackScalar(left, right, runningOn, run);
    RandomSource stage2 = RandomSource{}.Skip(4 * uint64_t(frames));
    DitherAndPackScalar(left, right, skipped, stage2);
    EXPECT_EQ(skipped, runningOn);
    EXPECT_NE(skipped, first);
    EXPECT_EQ(stage2.State, run.State);

    // A stage split in two parts, the second started by Skip, is the same too.
    RandomSource firstPart = RandomSource{}.Skip(4 * uint64_t(frames));
    RandomSource secondPart = firstPart.Skip(4 * 300);
    std::vector<uint8_t> split(6 * frames);
    const std::span<const double> l(left), r(right);
    DitherAndPackScalar(l.first(300), r.first(300), split, firstPart);
    DitherAndPackScalar(l.subspan(300), r.subspan(300), std::span(split).subspan(6 * 300),
                        secondPart);
    EXPECT_EQ(split, runningOn);
}

}  // namespace
