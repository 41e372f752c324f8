// The exact kernels against the scatter loop and the x87 step: whole
// filters on the fir_test cases and random data, and single steps aimed at
// the spots where a double-based emulation of 64-bit rounding goes wrong
// (realistic data alone does not reach them). PHONOSKEW_EXACT_STEPS sets the
// number of aimed steps (default 10^8).
#include "filters/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "numeric/numeric.h"

namespace {

using Taps = std::array<double, TapCount>;
using u128 = unsigned __int128;

enum Kernel { BlockX87, Emulated, Avx512 };
constexpr const char* KernelNames[] = {"x87 block", "emulated", "AVX-512"};

bool Runs(Kernel kernel, const Taps& h) {
    return kernel == BlockX87 ||
           (VectorKernelTakes(h.data()) && (kernel == Emulated || CpuHasAvx512()));
}

bool SameBits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// ---- Whole filters -----------------------------------------------------------

// Outputs first .. first + count - 1 of one channel.
void RunKernel(Kernel kernel, const std::vector<int32_t>& x, const Taps& h, int64_t first,
               int64_t count, double* out) {
    if (kernel == BlockX87) {
        std::vector<double> right(count);
        return FilterBlockX87(x.data(), x.data(), int64_t(x.size()), h, first, count, out,
                              right.data());
    }
    std::vector<double> window(count + WindowLead);
    FillWindow(x.data(), int64_t(x.size()), first, count, window.data());
    if (kernel == Emulated) return FilterWindowEmulated(window.data(), count, h.data(), out);
    FilterWindowAvx512(window.data(), count, h.data(), out);
}

// The plain scatter loop on one channel: the reference.
std::vector<double> Scatter(const std::vector<int32_t>& x, const Taps& h) {
    std::vector<double> y(x.size() + WindowLead, 0.0), right(y.size(), 0.0);
    FilterChannels(x, x, h, y, right);
    return y;
}

// Every kernel that runs here and takes h, over all outputs in pieces of
// random sizes (so every tail length occurs), bit for bit with the scatter loop.
void ExpectKernelsMatch(const std::vector<int32_t>& x, const Taps& h, const char* name) {
    const std::vector<double> expected = Scatter(x, h);
    for (Kernel kernel : {BlockX87, Emulated, Avx512}) {
        if (!Runs(kernel, h)) continue;
        std::mt19937_64 random(x.size());
        std::vector<double> got(expected.size());
        for (int64_t first = 0, count = 0; first < int64_t(got.size()); first += count) {
            count = std::min<int64_t>(int64_t(random() % 150), int64_t(got.size()) - first);
            RunKernel(kernel, x, h, first, count, got.data() + first);
        }
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), SameBits))
            << KernelNames[kernel] << ", " << name;
    }
}

Taps Impulse(int at, double value) {
    Taps h{};
    h[at] = value;
    return h;
}

TEST(ExactKernels, FilterCasesMatchTheScatterLoop) {
    Taps ramp{}, huge{};
    for (int k = 0; k < TapCount; ++k) ramp[k] = 0.5 + k;
    huge.fill(1e300);  // refused by the vector kernels: x87 only
    ExpectKernelsMatch({1, -2, 3, 8388607, -8388608}, Impulse(0, 1.0), "identity");
    ExpectKernelsMatch({1, -2, 3, 4}, Impulse(63, 1.0), "63-frame delay");
    ExpectKernelsMatch({-8388608}, ramp, "one frame");
    ExpectKernelsMatch({}, ramp, "no frames");
    ExpectKernelsMatch({1, 2, 3}, Taps{}, "all coefficients zero");
    ExpectKernelsMatch(std::vector<int32_t>(200, 0), ramp, "silence");
    ExpectKernelsMatch({-8388608, 8388607, -8388608}, Impulse(0, -1.0), "full scale");
    ExpectKernelsMatch({8388607, 8388607}, huge, "overflow to infinity");
}

TEST(ExactKernels, RandomSignalsAndFullMantissaTaps) {
    std::mt19937_64 random(2026);
    std::uniform_real_distribution<double> tap(-1.0, 1.0);
    for (int trial = 0; trial < 12; ++trial) {
        std::vector<int32_t> x(1 + random() % 3000);
        for (int32_t& sample : x) sample = int32_t(random() % (1u << 24)) - (1 << 23);
        Taps h;
        for (double& value : h)
            value = std::ldexp(tap(random), trial < 8 ? 0 : trial % 2 ? -890 : 900);
        ExpectKernelsMatch(x, h, "random");
    }
}

TEST(ExactKernels, VectorKernelsTakeOnlySetsInsideTheirRange) {
    Taps largest, smallest, sumAtLimit;
    largest.fill(0x1.fffffp953);  // sum just below 2^960
    smallest.fill(-0x1p-900);
    sumAtLimit.fill(0x1p954);
    EXPECT_TRUE(VectorKernelTakes(Impulse(5, -0.0).data()));
    const std::pair<const char*, Taps> refused[] = {
        {"infinite tap", Impulse(3, -INFINITY)},
        {"NaN tap", Impulse(63, NAN)},
        {"tap below 2^-900", Impulse(0, 0x1.fffffffffffffp-901)},
        {"subnormal tap", Impulse(9, 0x1p-1074)},
        {"sum reaches 2^960", sumAtLimit},
        {"one tap of 2^960", Impulse(1, 0x1p960)},
    };
    for (const auto& [name, h] : refused) EXPECT_FALSE(VectorKernelTakes(h.data())) << name;

    // The accepted edges, on full-scale input.
    ASSERT_TRUE(VectorKernelTakes(largest.data()) && VectorKernelTakes(smallest.data()));
    std::vector<int32_t> loud(300);
    for (size_t n = 0; n < loud.size(); ++n) loud[n] = n % 3 ? 8388607 : -8388608 + int32_t(n);
    ExpectKernelsMatch(loud, largest, "largest accepted taps");
    ExpectKernelsMatch(loud, smallest, "smallest accepted taps");
}

// ---- Single steps aimed at the hard spots -------------------------------------

double ReferenceStep(double acc, double h, double x) {
    return double(Extended(acc) + Extended(h) * Extended(x));
}

// Cheap exponent arithmetic, for normal doubles only.
int TopExponent(double v) { return int((std::bit_cast<uint64_t>(v) >> 52) & 0x7FF) - 1023; }
double Pow2(int e) { return std::bit_cast<double>(uint64_t(e + 1023) << 52); }

struct Random {  // splitmix64: cheap, and good enough to aim with
    uint64_t State;
    uint64_t Next() {
        uint64_t z = (State += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    int64_t Below(uint64_t n) { return int64_t((u128(Next()) * n) >> 64); }
    int Between(int low, int high) { return low + int(Below(uint64_t(high - low + 1))); }
    double Sign() { return Next() & 1 ? -1.0 : 1.0; }
    uint64_t WithBits(int bits) { return (uint64_t(1) << (bits - 1)) | (Next() >> (64 - bits)); }
    // Mostly moderate, sometimes far out, rarely at the range edges.
    int Exponent() {
        const int pick = int(Next() % 64);
        return pick < 56   ? Between(-40, 40)
               : pick < 62 ? Between(-850, 850)
               : pick % 2  ? -890
                           : 880;
    }
};

// The largest m with m x < 2^bits.
uint64_t LargestBelow(int64_t x, int bits) {
    uint64_t m = uint64_t(Pow2(bits) / double(x)) + 2;
    while (u128(m) * uint64_t(x) >= u128(1) << bits) --m;
    return m;
}

struct Lane {
    double Acc, H, X;
};

// acc against the product ph: zero, cancelling it, or at an offset of up to
// 66 binades either way, inside the vector kernels' range.
double AccAgainst(Random& random, double ph) {
    const uint64_t pick = random.Next() % 8;
    if (pick == 0 || ph == 0) return 0.0;
    if (pick == 1) return -ph;
    if (pick == 2) return -ph + random.Between(-4, 4) * Pow2(TopExponent(ph) - 52);
    const int top = std::clamp(TopExponent(ph) + random.Between(-66, 66), -900, 982);
    return random.Sign() * double(pick == 3 ? uint64_t(1) << 52 : random.WithBits(53)) *
           Pow2(top - 52);
}

Lane Make(Random& random, uint64_t m, int64_t x, int hExponent) {
    const double h = random.Sign() * double(m) * Pow2(hExponent);
    const double signedX = random.Sign() * double(x);
    return {AccAgainst(random, h * signedX), h, signedX};
}

enum Aim {
    RandomStep,
    ProductTie,
    PowerOfTwoCarry,
    StickyNearTie,
    StoreMidpoint,
    Cancellation,
    RangeEdge,
    Aims
};
constexpr const char* AimNames[] = {"random",
                                    "64-bit product tie",
                                    "product rounds up to 2^k",
                                    "sum near a 64-bit tie",
                                    "sum at a 53-bit midpoint",
                                    "cancellation",
                                    "range edge"};

Lane Aimed(Aim aim, Random& random) {
    const int e = random.Exponent() - 52;  // h = +-m 2^e
    switch (aim) {
        case RandomStep:
            return Make(random, random.WithBits(53),
                        int64_t(random.Next() >> random.Between(40, 63)), e);
        case ProductTie: {  // m x odd, of 65 bits: half-way between two 64-bit neighbours
            const auto x = int64_t(random.WithBits(random.Between(12, 23)) | 1);
            const uint64_t low = LargestBelow(x, 64) + 1;
            const uint64_t high = std::min(LargestBelow(x, 65), (uint64_t(1) << 53) - 1);
            uint64_t m = low + uint64_t(random.Below(high - low + 1));
            if (random.Next() % 4) m = (m | 1) <= high ? m | 1 : m - 1;
            return Make(random, m, x, e);
        }
        case PowerOfTwoCarry: {  // m x just below 2^L: rounded to 53 bits, it is 2^L
            const int bits = random.Between(2, 23);
            const auto x = int64_t(random.WithBits(bits));
            return Make(random, LargestBelow(x, 52 + bits), x, e);
        }
        case StickyNearTie:
        case StoreMidpoint: {
            // P = T + z, T = 2^K + sigma 2^(K-11), 0 < |z| <= x, and acc's last
            // bit worth 2^(K+1): S = acc + half its ulp, +-half a 64-bit
            // quantum (sigma = +-1) or not (sigma = 0), + the tail z, which a
            // plain 53-bit t would lose. One time in four x = 2^j and z = 0.
            const int sigma = aim == StoreMidpoint ? 0 : random.Next() & 1 ? 1 : -1;
            const bool exact = random.Below(4) == 0;
            const int bits = random.Between(2, 11), K = 51 + bits;
            const auto x = exact ? uint64_t(1) << (bits - 1) : random.WithBits(bits) | 1;
            const uint64_t T = (uint64_t(1) << K) + uint64_t(int64_t(sigma) << (K - 11));
            uint64_t m = T / x;
            if (!exact && (random.Next() & 1 || m * x == T)) ++m;
            const uint64_t accMantissa =
                random.Next() % 8 ? random.WithBits(53) : uint64_t(1) << 52;
            return {random.Sign() * double(accMantissa) * Pow2(K + 1 + e),
                    random.Sign() * double(m) * Pow2(e), random.Sign() * double(x)};
        }
        case Cancellation: {  // acc close to -h x, often with huge taps
            const double x = random.Sign() * double(random.WithBits(random.Between(1, 23)));
            const int top = random.Next() & 1 ? random.Between(930, 958) : e + 52;
            const double h = random.Sign() * double(random.WithBits(53)) * Pow2(top - 52);
            const double ph = h * x;
            return {-ph + random.Between(-2, 2) * Pow2(TopExponent(ph) - 52 - int(random.Below(2))),
                    h, x};
        }
        case RangeEdge:  // |h| just above 2^-900 or just below 2^959
            return Make(random, random.WithBits(53), int64_t(random.WithBits(23)),
                        random.Next() & 1 ? -952 : 906);
        case Aims:
            break;
    }
    return {};
}

struct AimCounts {
    int64_t Steps[Aims] = {}, Wrong[Aims] = {};
    Lane FirstWrong[Aims] = {};
};

// `steps` aimed steps, the aims in turn, in batches of one aim.
void RunAimedSteps(Kernel kernel, int64_t steps, uint64_t seed, AimCounts& counts) {
    constexpr int Batch = 1024;
    Random random{seed};
    std::vector<Lane> lanes(Batch);
    std::vector<double> acc(Batch), h(Batch), x(Batch), expected(Batch);
    for (int64_t done = 0; done < steps; done += Batch) {
        const auto aim = Aim((done / Batch) % Aims);
        for (int i = 0; i < Batch; ++i) {
            lanes[i] = Aimed(aim, random);
            acc[i] = lanes[i].Acc, h[i] = lanes[i].H, x[i] = lanes[i].X;
            expected[i] = ReferenceStep(acc[i], h[i], x[i]);
        }
        for (int i = 0; i < Batch; i += StepLanes) {
            (kernel == Avx512 ? StepAvx512 : StepEmulated)(&acc[i], &h[i], &x[i]);
        }
        counts.Steps[aim] += Batch;
        for (int i = 0; i < Batch; ++i) {
            if (!SameBits(acc[i], expected[i]) && counts.Wrong[aim]++ == 0)
                counts.FirstWrong[aim] = lanes[i];
        }
    }
}

// The aimed steps on two threads, then one line per aim.
void ExpectAimedStepsExact(Kernel kernel) {
    const char* text = std::getenv("PHONOSKEW_EXACT_STEPS");
    const int64_t steps = text ? std::max<int64_t>(std::atoll(text), 1) : 100'000'000;
    AimCounts counts[2];
    std::thread other(RunAimedSteps, kernel, steps / 2, 7, std::ref(counts[1]));
    RunAimedSteps(kernel, steps - steps / 2, 8, counts[0]);
    other.join();
    for (int aim = 0; aim < Aims; ++aim) {
        const int64_t wrong = counts[0].Wrong[aim] + counts[1].Wrong[aim];
        const Lane& lane = counts[counts[0].Wrong[aim] ? 0 : 1].FirstWrong[aim];
        std::printf("  %-26s %12lld steps %10lld wrong\n", AimNames[aim],
                    (long long)(counts[0].Steps[aim] + counts[1].Steps[aim]), (long long)wrong);
        EXPECT_EQ(wrong, 0) << AimNames[aim] << std::hexfloat << ", first: acc " << lane.Acc
                            << " h " << lane.H << " x " << lane.X << " gives "
                            << ReferenceStep(lane.Acc, lane.H, lane.X);
    }
}

TEST(ExactKernels, AimedStepsEmulated) { ExpectAimedStepsExact(Emulated); }

TEST(ExactKernels, AimedStepsAvx512) {
    if (!CpuHasAvx512())
        GTEST_SKIP() << "this CPU has no AVX-512 F/DQ/VL: the AVX-512 step is not run";
    ExpectAimedStepsExact(Avx512);
}

}  // namespace
