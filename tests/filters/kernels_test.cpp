// The exact kernels against today's scatter loop and the x87 step: whole
// filters on the fir_test cases and random data, and single steps aimed at
// the spots where a double-based emulation of 64-bit rounding goes wrong.
// PHONOSKEW_EXACT_STEPS sets the number of aimed steps (default 10^8).
#include "filters/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "numeric/numeric.h"

namespace {

using Taps = std::array<double, TapCount>;

// ---- Whole filters -----------------------------------------------------------

enum class Kernel { GatherX87, Emulated, Avx512 };
constexpr Kernel AllKernels[] = {Kernel::GatherX87, Kernel::Emulated, Kernel::Avx512};
const char* Name(Kernel kernel) {
    return kernel == Kernel::GatherX87  ? "x87 gather"
           : kernel == Kernel::Emulated ? "emulated"
                                        : "AVX-512";
}

// Outputs first .. first + count - 1 of one channel through `kernel`.
void RunKernel(Kernel kernel, const std::vector<int32_t>& x, const Taps& h, int64_t first,
               int64_t count, double* out) {
    const auto frames = int64_t(x.size());
    if (kernel == Kernel::GatherX87)
        return FilterGatherX87(x.data(), frames, h.data(), first, count, out);
    std::vector<double> window(count + WindowLead);
    FillWindow(x.data(), frames, first, count, window.data());
    if (kernel == Kernel::Emulated)
        return FilterWindowEmulated(window.data(), count, h.data(), out);
    FilterWindowAvx512(window.data(), count, h.data(), out);
}

std::vector<double> Scatter(const std::vector<int32_t>& x, const Taps& h) {
    std::vector<double> y(x.size() + WindowLead), unused(y.size());
    FilterChannels(x.data(), x.data(), int32_t(x.size()), h.data(), y.data(), unused.data());
    return y;
}

// Every kernel that can run here and takes h, over all outputs in pieces of
// varied sizes (tails of every length), bit for bit with the scatter loop.
void ExpectAllKernelsMatch(const std::vector<int32_t>& x, const Taps& h, const char* name,
                           uint64_t seed = 1) {
    const std::vector<double> expected = Scatter(x, h);
    for (Kernel kernel : AllKernels) {
        if (kernel != Kernel::GatherX87 && !VectorKernelTakes(h.data())) continue;
        if (kernel == Kernel::Avx512 && !CpuHasAvx512()) continue;
        std::mt19937_64 random(seed);
        std::vector<double> got(expected.size());
        for (int64_t first = 0; first < int64_t(got.size());) {
            const int64_t count =
                std::min<int64_t>(int64_t(random() % 150), int64_t(got.size()) - first);
            RunKernel(kernel, x, h, first, count, got.data() + first);
            first += count;
        }
        int64_t wrong = 0;
        for (size_t m = 0; m < got.size(); ++m)
            wrong += std::bit_cast<uint64_t>(got[m]) != std::bit_cast<uint64_t>(expected[m]);
        EXPECT_EQ(wrong, 0) << Name(kernel) << ", " << name;
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
    huge.fill(1e300);
    struct Case {
        const char* Name;
        std::vector<int32_t> X;
        Taps H;
    };
    const Case cases[] = {
        {"identity", {1, -2, 3, 8388607, -8388608}, Impulse(0, 1.0)},
        {"63-frame delay", {1, -2, 3, 4}, Impulse(63, 1.0)},
        {"one frame", {-8388608}, ramp},
        {"no frames", {}, ramp},
        {"all coefficients zero", {1, 2, 3}, Taps{}},
        {"silence", std::vector<int32_t>(200, 0), ramp},
        {"full scale, min times -1", {-8388608, 8388607, -8388608}, Impulse(0, -1.0)},
        {"overflow gives infinity (x87 only)", {8388607, 8388607}, huge},
    };
    for (const Case& c : cases) ExpectAllKernelsMatch(c.X, c.H, c.Name);
}

TEST(ExactKernels, RandomSignalsAndFullMantissaTaps) {
    std::mt19937_64 random(2026);
    for (int trial = 0; trial < 12; ++trial) {
        std::vector<int32_t> x(1 + random() % 3000);
        for (int32_t& sample : x) sample = int32_t(random() % (1u << 24)) - (1 << 23);
        Taps h;
        std::uniform_real_distribution<double> tap(-1.0, 1.0);
        const int scale = trial < 8 ? 0 : trial % 2 ? -890 : 900;  // also near the range edges
        for (double& value : h) value = std::ldexp(tap(random), scale);
        ExpectAllKernelsMatch(x, h, "random", trial);
    }
}

TEST(ExactKernels, VectorKernelTakesOnlySetsInsideItsRange) {
    Taps largest, smallest;
    largest.fill(0x1.fffffp953);  // sum just below 2^960
    smallest.fill(-0x1p-900);
    EXPECT_TRUE(VectorKernelTakes(largest.data()));
    EXPECT_TRUE(VectorKernelTakes(smallest.data()));
    EXPECT_TRUE(VectorKernelTakes(Impulse(5, -0.0).data()));

    struct Refused {
        const char* Name;
        Taps H;
    };
    Taps sumAtLimit;
    sumAtLimit.fill(0x1p954);
    const Refused refused[] = {
        {"infinite tap", Impulse(3, -INFINITY)},
        {"NaN tap", Impulse(63, NAN)},
        {"tap below 2^-900", Impulse(0, 0x1.fffffffffffffp-901)},
        {"subnormal tap", Impulse(9, 0x1p-1074)},
        {"sum reaches 2^960", sumAtLimit},
        {"one tap of 2^960", Impulse(1, 0x1p960)},
    };
    for (const Refused& r : refused) EXPECT_FALSE(VectorKernelTakes(r.H.data())) << r.Name;

    // The accepted edges are exact on full-scale input.
    std::vector<int32_t> loud(300);
    for (size_t n = 0; n < loud.size(); ++n) loud[n] = n % 3 ? 8388607 : -8388608 + int32_t(n);
    ExpectAllKernelsMatch(loud, largest, "largest accepted taps");
    ExpectAllKernelsMatch(loud, smallest, "smallest accepted taps");
}

// ---- Single steps aimed at the hard spots -------------------------------------

double ReferenceStep(double acc, double h, double x) {
    return double(Extended(acc) + Extended(h) * Extended(x));
}

struct Random {
    uint64_t State;
    uint64_t Next() {  // splitmix64: cheap and good enough to aim with
        uint64_t z = (State += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    int64_t Below(int64_t n) {  // multiply-high instead of a slow modulo
        return int64_t((static_cast<unsigned __int128>(Next()) * uint64_t(n)) >> 64);
    }
    int64_t Between(int64_t low, int64_t high) { return low + Below(high - low + 1); }
    double Sign() { return Next() & 1 ? -1.0 : 1.0; }
    // An integer of exactly `bits` bits.
    uint64_t WithBits(int bits) {
        return (uint64_t(1) << (bits - 1)) | (Next() & ((uint64_t(1) << (bits - 1)) - 1));
    }
    // Mostly moderate exponents, sometimes far out, rarely at the range edges.
    int Exponent() {
        const uint64_t pick = Next() % 64;
        return pick < 56   ? int(Between(-40, 40))
               : pick < 62 ? int(Between(-850, 850))
               : pick % 2  ? -890
                           : 880;
    }
};

// Cheap exponent arithmetic, for normal doubles only.
int TopExponent(double v) { return int((std::bit_cast<uint64_t>(v) >> 52) & 0x7FF) - 1023; }
double Pow2(int e) { return std::bit_cast<double>(uint64_t(e + 1023) << 52); }

enum class Aim {
    Random,
    ProductTie,
    PowerOfTwoCarry,
    StickyBelowTie,
    StoreMidpoint,
    Cancellation,
    RangeEdge
};
constexpr Aim AllAims[] = {Aim::Random,         Aim::ProductTie,    Aim::PowerOfTwoCarry,
                           Aim::StickyBelowTie, Aim::StoreMidpoint, Aim::Cancellation,
                           Aim::RangeEdge};
const char* Name(Aim aim) {
    constexpr const char* Names[] = {"random",
                                     "64-bit product tie",
                                     "product rounds up to a power of two",
                                     "sum a hair off a 64-bit tie",
                                     "sum at a 53-bit midpoint",
                                     "cancellation",
                                     "range edge"};
    return Names[int(aim)];
}

struct Lane {
    double Acc, H, X;
};

// acc placed against the product ph: zero, cancelling it, or at a random
// offset of -66 .. 66 binades; kept inside the vector kernels' range.
double AccAgainst(Random& random, double ph) {
    const uint64_t pick = random.Next() % 8;
    if (pick == 0 || ph == 0) return 0.0;
    if (pick == 1) return -ph;
    if (pick == 2) return -ph + double(random.Between(-4, 4)) * Pow2(TopExponent(ph) - 52);
    const int exponent = std::clamp(TopExponent(ph) + int(random.Between(-66, 66)), -900, 982);
    const double mantissa = pick == 3 ? 0x1p52 : double(random.WithBits(53));
    return random.Sign() * mantissa * Pow2(exponent - 52);
}

Lane Make(Random& random, uint64_t m, int64_t x, int hExponent) {
    const double h = random.Sign() * double(m) * Pow2(hExponent);
    return {AccAgainst(random, h * double(x)), h, double(x)};
}

using u128 = unsigned __int128;

Lane Aimed(Aim aim, Random& random) {
    switch (aim) {
        case Aim::Random: {
            const int64_t x =
                int64_t(random.Next() >> (40 + random.Below(24))) * int64_t(random.Sign());
            return Make(random, random.WithBits(53), x, random.Exponent() - 52);
        }
        case Aim::ProductTie: {
            // m x an odd integer of 65 bits: exactly half-way between two
            // 64-bit neighbours.
            const int64_t x = int64_t(random.WithBits(int(random.Between(12, 23))) | 1);
            uint64_t m = uint64_t(0x1p64 / double(x));  // off by a few, fixed below
            while (u128(m) * x >= (u128(1) << 65) || m >= (uint64_t(1) << 53)) --m;
            while (u128(m) * x < (u128(1) << 64)) ++m;
            uint64_t high = uint64_t(0x1p65 / double(x)) + 2;
            while (u128(high) * x >= (u128(1) << 65)) --high;
            high = std::min<uint64_t>(high, (uint64_t(1) << 53) - 1);
            m += uint64_t(random.Below(int64_t(high - m + 1)));
            if (random.Next() % 4) m = (m | 1) <= high ? m | 1 : m - 1;
            return Make(random, m, x * int64_t(random.Sign()), random.Exponent() - 52);
        }
        case Aim::PowerOfTwoCarry: {
            // m x just below 2^L: rounded to 53 bits it becomes 2^L.
            const int bits = int(random.Between(2, 23));
            const int64_t x = int64_t(random.WithBits(bits));
            const int L = 52 + bits;
            uint64_t m = uint64_t(Pow2(L) / double(x));
            while (u128(m) * x >= (u128(1) << L)) --m;
            while (u128(m + 1) * x < (u128(1) << L)) ++m;
            return Make(random, m, x * int64_t(random.Sign()), random.Exponent() - 52);
        }
        case Aim::StickyBelowTie:
        case Aim::StoreMidpoint: {
            // P = T + z with T = 2^K + sigma 2^(K-11) and 0 < |z| <= x, and
            // acc's last bit worth 2^(K+1): S = acc + half an ulp of acc,
            // plus or minus half a 64-bit quantum (sigma = +-1) or not
            // (sigma = 0), plus the tail z, which a plain 53-bit t would lose.
            // One time in four x is a power of two and z = 0: S exactly at
            // the tie.
            const int sigma = aim == Aim::StoreMidpoint ? 0 : random.Next() & 1 ? 1 : -1;
            const bool exact = random.Below(4) == 0;
            const int bits = int(random.Between(2, 11));
            const int64_t x = exact ? int64_t(1) << (bits - 1) : int64_t(random.WithBits(bits) | 1);
            const int K = 51 + bits;
            const uint64_t T = (uint64_t(1) << K) + uint64_t(int64_t(sigma) << (K - 11));
            uint64_t m = T / uint64_t(x);
            if (!exact && (random.Next() & 1 || m * uint64_t(x) == T)) ++m;
            const int e = random.Exponent() - 52;
            const uint64_t accMantissa =
                random.Next() % 8 ? random.WithBits(53) : uint64_t(1) << 52;
            const double acc = random.Sign() * double(accMantissa) * Pow2(K + 1 + e);
            return {acc, random.Sign() * double(m) * Pow2(e), random.Sign() * double(x)};
        }
        case Aim::Cancellation: {
            // Large taps: acc close to -h x, so the sum keeps only low bits.
            const int64_t x =
                int64_t(random.WithBits(int(random.Between(1, 23)))) * int64_t(random.Sign());
            const int top = random.Next() & 1 ? 930 + int(random.Below(29)) : random.Exponent();
            const double h = random.Sign() * double(random.WithBits(53)) * Pow2(top - 52);
            const double ph = h * double(x);
            const double acc = -ph + double(random.Between(-2, 2)) *
                                         Pow2(TopExponent(ph) - 52 - int(random.Below(2)));
            return {acc, h, double(x)};
        }
        case Aim::RangeEdge: {
            const int64_t x = int64_t(random.WithBits(24)) - (int64_t(1) << 23);
            return Make(random, random.WithBits(53), x == 0 ? 1 : x,
                        (random.Next() & 1 ? -900 : 958) - 52);
        }
    }
    return {};
}

enum class StepKernel { Emulated, Avx512 };

struct AimResult {
    int64_t Steps[std::size(AllAims)] = {};
    int64_t Wrong[std::size(AllAims)] = {};
    Lane FirstWrong[std::size(AllAims)] = {};
};

// `steps` aimed steps, the aims in turn, 8 lanes of one aim per kernel call.
void RunAimedSteps(StepKernel kernel, int64_t steps, uint64_t seed, AimResult& result) {
    constexpr int Batch = 1024;
    Random random{seed};
    std::vector<Lane> lanes(Batch);
    std::vector<double> acc(Batch), h(Batch), x(Batch), expected(Batch);
    for (int64_t done = 0; done < steps; done += Batch) {
        const int aim = int((done / Batch) % std::size(AllAims));
        for (int i = 0; i < Batch; ++i) {
            lanes[i] = Aimed(AllAims[aim], random);
            acc[i] = lanes[i].Acc, h[i] = lanes[i].H, x[i] = lanes[i].X;
            expected[i] = ReferenceStep(acc[i], h[i], x[i]);
        }
        for (int i = 0; i < Batch; i += StepLanes) {
            if (kernel == StepKernel::Emulated) StepEmulated(&acc[i], &h[i], &x[i]);
            if (kernel == StepKernel::Avx512) StepAvx512(&acc[i], &h[i], &x[i]);
        }
        result.Steps[aim] += Batch;
        for (int i = 0; i < Batch; ++i) {
            if (std::bit_cast<uint64_t>(acc[i]) == std::bit_cast<uint64_t>(expected[i])) continue;
            if (result.Wrong[aim]++ == 0) result.FirstWrong[aim] = lanes[i];
        }
    }
}

int64_t AimedStepCount() {
    const char* text = std::getenv("PHONOSKEW_EXACT_STEPS");
    return text ? std::max<int64_t>(std::atoll(text), 1) : 100'000'000;
}

// The aimed steps on both cores, then one line per aim.
void ExpectAimedStepsExact(StepKernel kernel) {
    const int64_t steps = AimedStepCount();
    AimResult results[2];
    std::thread other(RunAimedSteps, kernel, steps / 2, 7, std::ref(results[1]));
    RunAimedSteps(kernel, steps - steps / 2, 8, results[0]);
    other.join();
    for (size_t aim = 0; aim < std::size(AllAims); ++aim) {
        const int64_t wrong = results[0].Wrong[aim] + results[1].Wrong[aim];
        const Lane& lane = results[results[0].Wrong[aim] ? 0 : 1].FirstWrong[aim];
        std::printf("  %-38s %12lld steps %10lld wrong\n", Name(AllAims[aim]),
                    (long long)(results[0].Steps[aim] + results[1].Steps[aim]), (long long)wrong);
        EXPECT_EQ(wrong, 0) << Name(AllAims[aim]) << std::hexfloat << ", first: acc " << lane.Acc
                            << " h " << lane.H << " x " << lane.X << " gives "
                            << ReferenceStep(lane.Acc, lane.H, lane.X);
    }
}

TEST(ExactKernels, AimedStepsEmulated) { ExpectAimedStepsExact(StepKernel::Emulated); }

TEST(ExactKernels, AimedStepsAvx512) {
    if (!CpuHasAvx512())
        GTEST_SKIP() << "this CPU has no AVX-512 F/DQ/VL: the AVX-512 step is not run";
    ExpectAimedStepsExact(StepKernel::Avx512);
}

// ---- Speed (printed, never asserted) ------------------------------------------

TEST(ExactKernels, PrintsNanosecondsPerMultiplyAdd) {
    constexpr int64_t Frames = 1 << 17;
    std::mt19937_64 random(5);
    std::vector<int32_t> x(Frames);
    for (int32_t& sample : x) sample = int32_t(random() % (1u << 24)) - (1 << 23);
    Taps h;
    for (double& value : h) value = std::ldexp(double(random() >> 11), -53) - 0.5;
    std::vector<double> out(Frames + WindowLead), window(Frames + 2 * WindowLead);
    FillWindow(x.data(), Frames, 0, Frames + WindowLead, window.data());
    for (int kernel = 0; kernel < 4; ++kernel) {
        if (kernel == 3 && !CpuHasAvx512()) continue;
        double best = 1e30;
        for (int repeat = 0; repeat < 5; ++repeat) {
            const auto start = std::chrono::steady_clock::now();
            if (kernel == 0) out = Scatter(x, h);
            if (kernel == 1)
                FilterGatherX87(x.data(), Frames, h.data(), 0, Frames + WindowLead, out.data());
            if (kernel == 2)
                FilterWindowEmulated(window.data(), Frames + WindowLead, h.data(), out.data());
            if (kernel == 3)
                FilterWindowAvx512(window.data(), Frames + WindowLead, h.data(), out.data());
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        constexpr const char* Names[] = {"x87 scatter (today's loop)", "x87 gather, 8 interleaved",
                                         "round-to-odd, emulated", "round-to-odd, AVX-512"};
        const double channels = kernel == 0 ? 2 : 1;  // the scatter loop does both
        std::printf("  %-28s %7.3f ns per multiply-add\n", Names[kernel],
                    best * 1e9 / (channels * Frames * TapCount));
    }
}

}  // namespace
