// The exact filter in blocks against the model written out plainly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "filters/filters.h"
#include "support/model.h"

namespace {

struct Result {
    std::vector<double> Left;
    std::vector<double> Right;
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The block form over the whole output in blocks of several sizes, each
// block on its own arrays, must give the model's bits.
void ExpectBlocksGiveTheSameBits(const std::vector<int32_t>& left,
                                 const std::vector<int32_t>& right, const CoefficientSet& h,
                                 const Result& expected) {
    const int64_t frames = int64_t(left.size());
    const int64_t outputs = frames + 63;
    for (int64_t block : {int64_t{1}, int64_t{7}, int64_t{64}, int64_t{100}, outputs}) {
        Result blocked{std::vector<double>(size_t(outputs), -1.0),
                       std::vector<double>(size_t(outputs), -1.0)};
        for (int64_t first = 0; first < outputs; first += block) {
            int64_t count = std::min(block, outputs - first);
            std::vector<double> l(size_t(count), 9.0), r(size_t(count), 9.0);  // no zeros given
            FilterBlockExact(left, right, h, first, l, r);
            std::copy(l.begin(), l.end(), blocked.Left.begin() + first);
            std::copy(r.begin(), r.end(), blocked.Right.begin() + first);
        }
        EXPECT_TRUE(SameBits(blocked.Left, expected.Left)) << "blocks of " << block;
        EXPECT_TRUE(SameBits(blocked.Right, expected.Right)) << "blocks of " << block;
    }
}

Result RunFilter(const std::vector<int32_t>& left, const std::vector<int32_t>& right,
                 const CoefficientSet& h) {
    Result result{ModelChannel(left, h), ModelChannel(right, h)};
    ExpectBlocksGiveTheSameBits(left, right, h, result);
    return result;
}

std::array<double, 64> Impulse(int at, double value) {
    std::array<double, 64> h{};
    h[at] = value;
    return h;
}

TEST(FilterBlockExact, EdgeCasesMatchTheModelInBlocksOfEverySize) {
    struct Case {
        const char* Name;
        std::vector<int32_t> Left;
        std::vector<int32_t> Right;
        std::array<double, 64> H;
    };
    std::array<double, 64> ramp{};
    for (int k = 0; k < 64; ++k) ramp[k] = 0.5 + k;
    std::array<double, 64> huge{};
    huge.fill(1e300);
    const std::vector<Case> cases = {
        {"identity", {1, -2, 3, 8388607, -8388608}, {5, 6, 7, 8, 9}, Impulse(0, 1.0)},
        {"63-frame delay", {1, -2, 3, 4}, {-5, 6, -7, 8}, Impulse(63, 1.0)},
        {"one frame", {3}, {-8388608}, ramp},
        {"no frames", {}, {}, ramp},
        {"all coefficients zero", {1, 2, 3}, {4, 5, 6}, std::array<double, 64>{}},
        {"silent left, loud right", {0, 0, 0}, {8388607, -8388608, 1}, huge},
        {"extremes, max times 1", {8388607}, {8388607}, Impulse(0, 1.0)},
        {"extremes, min times -1", {-8388608}, {-8388608}, Impulse(0, -1.0)},
        {"overflow gives infinity", {8388607, 8388607}, {1, 1}, huge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RunFilter(c.Left, c.Right, c.H);
    }
}

// Full-precision coefficients against 24-bit samples: products need 77 bits,
// so the rounding steps and the order of the sum show in the last bits.
TEST(FilterBlockExact, RandomSignalBitForBitWithTheModel) {
    std::mt19937_64 generator(2026);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    std::uniform_real_distribution<double> tap(-1.0, 1.0);
    std::vector<int32_t> left(3000), right(3000);
    for (size_t n = 0; n < left.size(); ++n) {
        left[n] = sample(generator);
        right[n] = sample(generator);
    }
    std::array<double, 64> h;
    for (double& value : h) value = tap(generator);

    std::vector<double> expectedLeft = RunFilter(left, right, h).Left;

    // The data is sharp enough to tell: double-only sums differ somewhere.
    std::vector<double> plain(left.size() + 63, 0.0);
    for (size_t n = 0; n < left.size(); ++n) {
        for (int k = 0; k < 64; ++k) plain[n + k] = plain[n + k] + h[k] * double(left[n]);
    }
    EXPECT_FALSE(SameBits(plain, expectedLeft));
}

}  // namespace
