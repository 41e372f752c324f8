// The round-to-odd vector step on portable doubles: each AVX-512 instruction
// the step uses, emulated exactly with round-to-nearest arithmetic (TwoSum,
// fused multiply-add errors and steps to the neighbouring double), never by
// changing the rounding mode. Exact for finite, normal results, which is all
// the step produces inside the range VectorKernelTakes allows.
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "filters/kernel_step.h"
#include "filters/kernels.h"

namespace {

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }
double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }

// The neighbour of a nonzero finite v with the next smaller (larger) magnitude.
double TowardZero(double v) { return FromBits(Bits(v) - 1); }
double AwayFromZero(double v) { return FromBits(Bits(v) + 1); }

// The exact error of s = RN(a + b): a + b = s + TwoSumError(a, b, s).
double TwoSumError(double a, double b, double s) {
    const double bPart = s - a;
    return (a - (s - bPart)) + (b - bPart);
}

double AddDown(double a, double b) {
    const double s = a + b;
    const double error = TwoSumError(a, b, s);
    if (error < 0) return s > 0 ? TowardZero(s) : AwayFromZero(s);
    // An exact zero sum is -0 when rounding down, unless both addends are +0.
    if (s == 0) return std::signbit(a) || std::signbit(b) ? -0.0 : 0.0;
    return s;
}

double AddUp(double a, double b) {
    const double s = a + b;
    const double error = TwoSumError(a, b, s);
    if (error > 0) return s > 0 ? AwayFromZero(s) : TowardZero(s);
    return s;
}

double AddToZero(double a, double b) {
    const double s = a + b;
    const double error = TwoSumError(a, b, s);
    return error != 0 && (error < 0) != (s < 0) ? TowardZero(s) : s;
}

double MulToZero(double a, double b) {
    const double p = a * b;
    const double error = std::fma(a, b, -p);
    return error != 0 && (error < 0) != (p < 0) ? TowardZero(p) : p;
}

struct EmulatedOps {
    static constexpr int Lanes = 8;
    struct V {
        double Lane[Lanes];
    };

    static V Broadcast(double v) {
        V r;
        for (double& lane : r.Lane) lane = v;
        return r;
    }
    static V Load(const double* p) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = p[i];
        return r;
    }
    static void Store(double* p, const V& v) {
        for (int i = 0; i < Lanes; ++i) p[i] = v.Lane[i];
    }

    template <typename Function>
    static V Map(const V& a, const V& b, Function function) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = function(a.Lane[i], b.Lane[i]);
        return r;
    }
    template <typename Function>
    static V Map(const V& a, const V& b, const V& c, Function function) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = function(a.Lane[i], b.Lane[i], c.Lane[i]);
        return r;
    }

    static V Mul(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p * q; });
    }
    static V Add(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p + q; });
    }
    static V Sub(const V& a, const V& b) {
        return Map(a, b, [](double p, double q) { return p - q; });
    }
    static V MulSub(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(p, q, -r); });
    }
    static V MulAdd(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(p, q, r); });
    }
    static V NegMulAdd(const V& a, const V& b, const V& c) {
        return Map(a, b, c, [](double p, double q, double r) { return std::fma(-p, q, r); });
    }
    static V MulToZero(const V& a, const V& b) { return Map(a, b, ::MulToZero); }
    static V AddToZero(const V& a, const V& b) { return Map(a, b, ::AddToZero); }
    static V AddDown(const V& a, const V& b) { return Map(a, b, ::AddDown); }
    static V AddUpUnlessOdd(const V& base, const V& a, const V& b) {
        return Map(base, a, b, [](double p, double q, double r) {
            return (Bits(p) & 1) != 0 ? p : AddUp(q, r);
        });
    }
    static V Exponent(const V& v) {
        V r;
        for (int i = 0; i < Lanes; ++i) r.Lane[i] = FromBits(Bits(v.Lane[i]) & 0x7FF0000000000000u);
        return r;
    }
};

}  // namespace

void FilterWindowEmulated(const double* window, int64_t count, const double* h, double* out) {
    assert(count >= 0);
    kernel_step::FilterWindow<EmulatedOps>(window, count, h, out);
}

void StepEmulated(double* acc, const double* h, const double* x) {
    using Ops = EmulatedOps;
    Ops::Store(acc, kernel_step::Step<Ops>(Ops::Load(acc), Ops::Load(h), Ops::Load(x),
                                           Ops::Broadcast(kernel_step::QuantumConstant)));
}
