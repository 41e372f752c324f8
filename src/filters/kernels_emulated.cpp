// The round-to-odd vector step on portable doubles: each AVX-512 instruction
// the step uses, emulated exactly with round-to-nearest arithmetic (TwoSum,
// fused multiply-add errors and steps to the neighbouring double), never by
// changing the rounding mode. Exact for finite, normal results, which is all
// the step produces inside the range VectorKernelTakes allows.
#include <xmmintrin.h>

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "filters/kernel_step.h"
#include "filters/kernels.h"

namespace {

[[gnu::always_inline]] inline uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }
[[gnu::always_inline]] inline double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }

constexpr uint64_t SignBit = uint64_t(1) << 63;

// The exact error of s = RN(a + b): a + b = s + TwoSumError(a, b, s).
[[gnu::always_inline]] inline double TwoSumError(double a, double b, double s) {
    const double bPart = s - a;
    return (a - (s - bPart)) + (b - bPart);
}

// The lanes are branch-free, so that they vectorize: a directed rounding is
// the nearest value stepped to its neighbour (bits -1 toward zero, +1 away)
// when the exact error points the other way. A nonzero error implies a
// nonzero result.

// s stepped one toward zero where error is nonzero and of the other sign.
[[gnu::always_inline]] inline double StepTowardZero(double s, double error) {
    const uint64_t opposite = (Bits(error) ^ Bits(s)) >> 63;
    return FromBits(Bits(s) - (uint64_t(error != 0) & opposite));
}

// s stepped one toward -inf (down) or +inf (up) where the error says the
// exact value lies there.
[[gnu::always_inline]] inline double StepDown(double s, double error) {
    const uint64_t away = Bits(s) >> 63;  // for negative s, down is away from zero
    return FromBits(Bits(s) + (uint64_t(-int64_t(error < 0)) & (2 * away - 1)));
}
[[gnu::always_inline]] inline double StepUp(double s, double error) {
    const uint64_t away = 1 - (Bits(s) >> 63);
    return FromBits(Bits(s) + (uint64_t(-int64_t(error > 0)) & (2 * away - 1)));
}

[[gnu::always_inline]] inline double AddDown(double a, double b) {
    const double s = a + b;
    // An exact zero sum is -0 when rounding down, unless both addends are +0.
    const uint64_t zeroSign = uint64_t(-int64_t(s == 0)) & (Bits(a) | Bits(b)) & SignBit;
    return FromBits(Bits(StepDown(s, TwoSumError(a, b, s))) | zeroSign);
}

[[gnu::always_inline]] inline double AddUp(double a, double b) {
    const double s = a + b;
    return StepUp(s, TwoSumError(a, b, s));
}

[[gnu::always_inline]] inline double AddToZero(double a, double b) {
    const double s = a + b;
    return StepTowardZero(s, TwoSumError(a, b, s));
}

[[gnu::always_inline]] inline double MulToZero(double a, double b) {
    const double p = a * b;
    return StepTowardZero(p, std::fma(a, b, -p));
}

struct EmulatedOps {
    static constexpr int Lanes = 8;
    struct V {
        double Lane[Lanes];
    };

    [[gnu::always_inline]] static V Broadcast(double v) {
        V r;
        for (double& lane : r.Lane) lane = v;
        return r;
    }
    [[gnu::always_inline]] static V Load(const double* p) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = p[i];
        return r;
    }
    [[gnu::always_inline]] static void Store(double* p, const V& v) {
        for (int i = 0; i < Lanes; ++i) p[i] = v.Lane[i];
    }

    template <typename Function>
    [[gnu::always_inline]] static V Map(const V& a, const V& b, Function function) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = function(a.Lane[i], b.Lane[i]);
        return r;
    }
    template <typename Function>
    [[gnu::always_inline]] static V Map(const V& a, const V& b, const V& c, Function function) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = function(a.Lane[i], b.Lane[i], c.Lane[i]);
        return r;
    }

    [[gnu::always_inline]] static V Mul(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p * q; });
    }
    [[gnu::always_inline]] static V Add(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p + q; });
    }
    [[gnu::always_inline]] static V Sub(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p - q; });
    }
    [[gnu::always_inline]] static V MulSub(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(p, q, -r); });
    }
    [[gnu::always_inline]] static V MulAdd(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(p, q, r); });
    }
    [[gnu::always_inline]] static V NegMulAdd(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(-p, q, r); });
    }
    [[gnu::always_inline]] static V MulToZero(const V& a, const V& b) {
        return Map(a, b, ::MulToZero);
    }
    [[gnu::always_inline]] static V AddToZero(const V& a, const V& b) {
        return Map(a, b, ::AddToZero);
    }
    [[gnu::always_inline]] static V AddDown(const V& a, const V& b) { return Map(a, b, ::AddDown); }
    [[gnu::always_inline]] static V AddUpUnlessOdd(const V& base, const V& a, const V& b) {
        return Map(base, a, b, [](double p, double q, double r) {
            const uint64_t odd = uint64_t(-int64_t(Bits(p) & 1));
            return FromBits((Bits(p) & odd) | (Bits(AddUp(q, r)) & ~odd));
        });
    }
    [[gnu::always_inline]] static V Exponent(const V& v) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = FromBits(Bits(v.Lane[i]) & 0x7FF0000000000000u);
        return r;
    }
};

static_assert(EmulatedOps::Lanes == StepLanes);

// Built twice: for x86-64-v3 (AVX2 and FMA: the lanes vectorize and fma is
// one instruction), chosen where the CPU has them, and for the baseline.
// Both are the same exact emulation.
#define PHONOSKEW_V3_TARGET __attribute__((target("arch=x86-64-v3")))

PHONOSKEW_V3_TARGET void FilterWindowV3(const double* window, int64_t count, const double* h,
                                        double* out) {
    kernel_step::FilterWindow<EmulatedOps>(window, count, h, out);
}

void FilterWindowBaseline(const double* window, int64_t count, const double* h, double* out) {
    kernel_step::FilterWindow<EmulatedOps>(window, count, h, out);
}

template <typename Ops>
[[gnu::always_inline]] inline void StepWith(double* acc, const double* h, const double* x) {
    Ops::Store(acc, kernel_step::Step<Ops>(Ops::Load(acc), Ops::Load(h), Ops::Load(x),
                                           Ops::Broadcast(kernel_step::QuantumConstant)));
}

PHONOSKEW_V3_TARGET void StepV3(double* acc, const double* h, const double* x) {
    StepWith<EmulatedOps>(acc, h, x);
}

void StepBaseline(double* acc, const double* h, const double* x) {
    StepWith<EmulatedOps>(acc, h, x);
}

bool CpuHasV3() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}

}  // namespace

void FilterWindowEmulated(const double* window, int64_t count, const double* h, double* out) {
    assert(count >= 0 && (_mm_getcsr() & kernel_step::MxcsrNonNearestBits) == 0);
    if (CpuHasV3()) {
        FilterWindowV3(window, count, h, out);
    } else {
        FilterWindowBaseline(window, count, h, out);
    }
}

void StepEmulated(double* acc, const double* h, const double* x) {
    if (CpuHasV3()) {
        StepV3(acc, h, x);
    } else {
        StepBaseline(acc, h, x);
    }
}
