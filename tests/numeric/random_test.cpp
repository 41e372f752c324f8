#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "numeric/numeric_test_util.h"

namespace {

// The first values of a run, worked by hand from the recurrence.
TEST(RandomSource, FirstFourValuesAndStates) {
    RandomSource random;
    const struct {
        uint32_t state;
        uint32_t v;
        double value;
    } steps[] = {
        {0xF7F77BFCu, 2080095742u, 0.9686200609430671},
        {0x33A35BEDu, 433171958u, 0.2017114115878940},
        {0x84FEFFA2u, 1115652049u, 0.5195159693248570},
        {0x21DA862Bu, 283984661u, 0.1322406628169119},
    };
    for (const auto& step : steps) {
        Extended r = random.Next();
        EXPECT_EQ(random.State, step.state);
        EXPECT_SAME_EXTENDED(r, static_cast<Extended>(step.v) / 2147483648.0L, "v");
        EXPECT_NEAR(static_cast<double>(r), step.value, 1e-16);
    }
}

// The lowest state bit plays no part: states 0 and 1 give 0, the top two
// states give the largest value 1 - 2^-31.
TEST(RandomSource, RangeEnds) {
    const struct {
        uint32_t next;
        Extended expected;
    } ends[] = {{0u, 0}, {1u, 0}, {0xFFFFFFFEu, 1 - 0x1p-31L}, {0xFFFFFFFFu, 1 - 0x1p-31L}};
    for (const auto& end : ends) {
        // One draw back: 2^32 - 1 draws on, as the period is 2^32.
        RandomSource random = RandomSource{end.next}.Skip((uint64_t{1} << 32) - 1);
        EXPECT_SAME_EXTENDED(random.Next(), end.expected, "state " + std::to_string(end.next));
        EXPECT_EQ(random.State, end.next);
    }
}

// Skip(n) lands where n draws would, from the seed and from an odd state;
// the period is 2^32, so 2^32 + 5 draws land where 5 do.
TEST(RandomSource, SkipEqualsDrawingOneByOne) {
    for (uint32_t start : {RandomSeed, 0x12345679u}) {
        RandomSource stepped{start};
        uint64_t drawn = 0;
        for (uint64_t n : {0ull, 1ull, 2ull, 63ull, 64ull, 1000000ull}) {
            for (; drawn < n; ++drawn) stepped.Next();
            EXPECT_EQ(RandomSource{start}.Skip(n).State, stepped.State) << n;
        }
        RandomSource source{start};
        EXPECT_EQ(source.Skip((uint64_t{1} << 32) + 5).State, source.Skip(5).State);
        EXPECT_EQ(source.Skip(uint64_t{1} << 32).State, start);
    }
}

}  // namespace
