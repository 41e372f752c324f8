// The stage engine against the plain loops: scatter filter over the whole
// input, then the one-sample-at-a-time dither in frame order. Thread counts
// 1 to 4, with and without the vector dither and the vector filter (its
// portable build on a CPU without AVX-512), at lengths around the block and
// part edges, must give the same bytes, clip count and end state.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Expected {
    std::vector<uint8_t> Packed;
    int64_t Clipped = 0;
};

Expected PlainStage(const std::vector<int32_t>& left, const std::vector<int32_t>& right,
                    const CoefficientSet& h, RandomSource random) {
    std::vector<double> filteredLeft(left.size() + FilterTail, 0.0);
    std::vector<double> filteredRight(left.size() + FilterTail, 0.0);
    FilterChannels(left, right, h, filteredLeft, filteredRight);
    Expected expected;
    expected.Packed.resize(6 * filteredLeft.size());
    expected.Clipped =
        DitherAndPackScalar(filteredLeft.data(), filteredRight.data(), int64_t(filteredLeft.size()),
                            expected.Packed.data(), random);
    return expected;
}

TEST(FilterDitherAndPack, SameBytesForEveryThreadCountAndDither) {
    std::mt19937_64 generator(77);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    std::uniform_real_distribution<double> tap(-1.0, 1.0);
    CoefficientSet loud;  // gains large enough to clip often
    for (double& h : loud) h = 4 * tap(generator);
    CoefficientSet quiet;
    for (double& h : quiet) h = tap(generator) / 16;
    CoefficientSet infinite = quiet;  // outside the vector kernel's range
    infinite[40] = INFINITY;
    const RandomSource start = RandomSource{}.Skip(12345);

    // Around one block (2048 output frames), a few blocks, and tiny inputs.
    for (int64_t frames : {0, 1, 2, 5, 1985, 1986, 2048, 4033, 4097, 6200}) {
        std::vector<int32_t> left(frames), right(frames);
        for (int64_t n = 0; n < frames; ++n) {
            left[n] = sample(generator);
            right[n] = sample(generator) / 64;
        }
        for (const CoefficientSet* h : {&loud, &quiet, &infinite}) {
            Expected expected = PlainStage(left, right, *h, start);
            // Threads 1 to 4, each with and without the vector dither, on
            // both forms of the filter.
            for (int form = 0; form < 16; ++form) {
                EngineChoice choice;
                choice.Threads = 1 + form % 4;
                choice.VectorDither = (form / 4) % 2 == 1;
                choice.VectorFilter = form >= 8;
                if (choice.VectorDither && !CpuHasAvx2()) continue;
                std::vector<uint8_t> packed(expected.Packed.size(), 0xEE);
                RandomSource random = start;
                int64_t clipped =
                    FilterDitherAndPack(left, right, *h, packed.data(), random, choice);
                SCOPED_TRACE(testing::Message()
                             << frames << " frames, " << choice.Threads << " threads, dither "
                             << choice.VectorDither << ", filter " << EngineFilterName(choice));
                EXPECT_EQ(packed, expected.Packed);
                EXPECT_EQ(clipped, expected.Clipped);
                EXPECT_EQ(random.State, start.Skip(4 * uint64_t(frames + FilterTail)).State);
            }
        }
    }
}

}  // namespace
