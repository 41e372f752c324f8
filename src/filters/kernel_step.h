// The round-to-odd filter step and its loop, written once over a small set of
// IEEE double primitives (`Ops`) so that the same code runs as AVX-512
// instructions (kernels_avx512.cpp) and as exact portable emulations of those
// instructions (kernels_emulated.cpp). Each of the two files includes this
// header with its own compiler target, and instantiates it only with its own
// Ops type, declared in an unnamed namespace there: no copy is shared.
//
// Everything here is forced inline into the caller, so that it is compiled
// for the caller's target (AVX-512, or each clone of the emulation).
//
// Ops provides: a vector type V of Ops::Lanes doubles; Broadcast, Load, Store;
// Mul, Add, Sub rounded to nearest; MulSub(a, b, c) = RN(a b - c), MulAdd(a,
// b, c) = RN(a b + c), NegMulAdd(a, b, c) = RN(c - a b), each rounded once;
// MulToZero and AddToZero rounded toward zero; AddDown rounded toward -inf;
// AddUpUnlessOdd(base, a, b) = base where the last significand bit of base is
// 1, else a + b rounded toward +inf; Exponent(v) = 2^floor(log2 |v|) for a
// normal v, +0 for a zero (the exponent bits of v).
//
// The algorithm, per lane: x is an integer, so P = h x is exact in 53 + 31
// bits. The reference rounds P to 64 bits (RN64), adds acc, rounds the sum S
// to 64 bits, then stores it to double (RN53). Within the range that
// VectorKernelTakes allows, every value below is a normal double.
//  1. P = ph + pl exactly: ph = RN53(P), pl by a fused multiply-subtract.
//  2. E_P = binade of P, taken from P rounded toward zero: RN53(P) may step up
//     into the next power of two, whose 64-bit grid is twice as coarse.
//  3. RN64(P) = ph + ql, ql = pl rounded to a multiple of 2^(E_P - 63) with
//     ties to even: ph is an even multiple of that quantum, so the parity of
//     the sum is the parity of ql.
//  4. TwoSum: acc + ph = s + e exactly, so S = s + t with t = e + ql. When t
//     does not fit a double, t is tiny next to S (below 2^(E_S - 50)), so its
//     round-to-odd value keeps the bits that decide the 64-bit rounding of S
//     (the last bit doubles as sticky bit), and s + RO(t) lies in the same
//     binade as S.
//  5. E_S from s + RO(t) rounded toward zero; yr = RO(t) rounded to a multiple
//     of 2^(E_S - 63), ties to even. s is an even multiple of that quantum, so
//     s + yr = RN64(S) exactly, and the one double add that forms it is the
//     store's RN53.
#pragma once

#include <cstdint>

#include "filters/filters.h"

namespace kernel_step {

// MXCSR bits that must be clear for the plain operations to round as
// assumed: rounding control (13-14, to nearest), flush-to-zero (15) and
// denormals-are-zero (6).
constexpr unsigned MxcsrNonNearestBits = 0xE040;

// 1.5 * 2^-11: times 2^E it is a constant whose last significand bit has the
// value 2^(E - 63), the 64-bit quantum of binade E.
constexpr double QuantumConstant = 0x1.8p-11;

// v rounded to a multiple of 2^(E - 63), ties to even, where binade = 2^E (or
// 0 when v = 0). Adding C = 1.5 * 2^(E - 11) rounds v there when |v| <
// 2^(E - 12), because the sum stays in C's binade, C's quantum is 2^(E - 63)
// and C is an even multiple of it; subtracting C back is exact. In the one
// case where |v| is larger (S nearly cancelled, t = ql), v has at most 11
// bits, the sum is exact and so is the result.
template <typename Ops>
[[gnu::always_inline]] inline typename Ops::V RoundToQuantum(typename Ops::V v,
                                                             typename Ops::V binade,
                                                             typename Ops::V quantum) {
    return Ops::NegMulAdd(binade, quantum, Ops::MulAdd(binade, quantum, v));
}

// acc + h x as the reference forms it: RN53(RN64(acc + RN64(h x))).
template <typename Ops>
[[gnu::always_inline]] inline typename Ops::V Step(typename Ops::V acc, typename Ops::V h,
                                                   typename Ops::V x, typename Ops::V quantum) {
    using V = typename Ops::V;
    const V ph = Ops::Mul(h, x);
    const V pl = Ops::MulSub(h, x, ph);
    const V binadeP = Ops::Exponent(Ops::MulToZero(h, x));
    const V ql = RoundToQuantum<Ops>(pl, binadeP, quantum);

    const V s = Ops::Add(acc, ph);
    const V phPart = Ops::Sub(s, acc);
    const V e = Ops::Add(Ops::Sub(acc, Ops::Sub(s, phPart)), Ops::Sub(ph, phPart));

    // Round to odd: of the two neighbours of e + ql, the one with last bit 1.
    const V down = Ops::AddDown(e, ql);
    const V t = Ops::AddUpUnlessOdd(down, e, ql);

    const V binadeS = Ops::Exponent(Ops::AddToZero(s, t));
    return Ops::Add(s, RoundToQuantum<Ops>(t, binadeS, quantum));
}

// Outputs out[0 .. Vectors * Lanes) from window w (see FillWindow): lanes are
// consecutive outputs, taps oldest sample first, Vectors independent sums in
// flight to hide the step's latency.
template <typename Ops, int Vectors>
[[gnu::always_inline]] inline void FilterBlock(const double* w, const double* h, double* out) {
    using V = typename Ops::V;
    const V quantum = Ops::Broadcast(QuantumConstant);
    V acc[Vectors];
    for (int v = 0; v < Vectors; ++v) acc[v] = Ops::Broadcast(0.0);
    for (int k = TapCount - 1; k >= 0; --k) {
        const V hk = Ops::Broadcast(h[k]);
        const double* x = w + (TapCount - 1 - k);
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) {
            acc[v] = Step<Ops>(acc[v], hk, Ops::Load(x + v * Ops::Lanes), quantum);
        }
    }
    for (int v = 0; v < Vectors; ++v) Ops::Store(out + v * Ops::Lanes, acc[v]);
}

// The whole window: blocks of 8 vectors, then single vectors, then the last
// partial vector from a zero-padded copy, so nothing past the window is read.
template <typename Ops>
[[gnu::always_inline]] inline void FilterWindow(const double* window, int64_t count,
                                                const double* h, double* out) {
    constexpr int64_t Lanes = Ops::Lanes;
    constexpr int Vectors = 8;
    int64_t j = 0;
    for (; j + Vectors * Lanes <= count; j += Vectors * Lanes) {
        FilterBlock<Ops, Vectors>(window + j, h, out + j);
    }
    for (; j + Lanes <= count; j += Lanes) FilterBlock<Ops, 1>(window + j, h, out + j);
    if (j == count) return;
    double padded[Lanes + TapCount - 1] = {};
    double last[Lanes];
    const int64_t rest = count - j;
    for (int64_t i = 0; i < rest + TapCount - 1; ++i) padded[i] = window[j + i];
    FilterBlock<Ops, 1>(padded, h, last);
    for (int64_t i = 0; i < rest; ++i) out[j + i] = last[i];
}

}  // namespace kernel_step
