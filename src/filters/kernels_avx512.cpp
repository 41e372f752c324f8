// The round-to-odd vector step as AVX-512 instructions: 8 outputs per vector,
// the directed roundings as embedded rounding modes. Everything defined in
// this file is compiled for AVX-512 F, DQ and VL (the pragma below), so it may
// run only after CpuHasAvx512(); the rest of the program keeps the baseline
// target. The file therefore uses no library templates: an instance made here
// could be picked by the linker for code that runs on any CPU.
#include <immintrin.h>

#include <cassert>
#include <cstdint>

#include "filters/kernels.h"

// GCC takes the target for the rest of the file; clang needs it pushed onto
// each function and popped at the end.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512vl"))), \
                             apply_to = function)
#else
#pragma GCC target("avx512f,avx512dq,avx512vl")
#endif

#include "filters/kernel_step.h"

namespace {

// Embedded rounding modes, as constants: the instructions take them as
// immediates, also in unoptimised builds.
constexpr int ToZero = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
constexpr int Down = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
constexpr int Up = _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC;

// The masked forms with every lane selected: the same instructions, without
// the unmasked forms' undefined source operand that GCC 12 warns about.
constexpr __mmask8 All = 0xFF;

struct Avx512Ops {
    static constexpr int Lanes = 8;
    using V = __m512d;

    static V Broadcast(double v) { return _mm512_set1_pd(v); }
    static V Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }

    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V MulSub(V a, V b, V c) { return _mm512_fmsub_pd(a, b, c); }
    static V MulAdd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V NegMulAdd(V a, V b, V c) { return _mm512_fnmadd_pd(a, b, c); }
    static V MulToZero(V a, V b) { return _mm512_maskz_mul_round_pd(All, a, b, ToZero); }
    static V AddToZero(V a, V b) { return _mm512_maskz_add_round_pd(All, a, b, ToZero); }
    static V AddDown(V a, V b) { return _mm512_maskz_add_round_pd(All, a, b, Down); }
    // One mask test and one masked add: lanes whose base is even get a + b
    // rounded up.
    static V AddUpUnlessOdd(V base, V a, V b) {
        const __mmask8 even =
            _mm512_testn_epi64_mask(_mm512_castpd_si512(base), _mm512_set1_epi64(1));
        return _mm512_mask_add_round_pd(base, even, a, b, Up);
    }
    static V Exponent(V v) {
        return _mm512_and_pd(v, _mm512_castsi512_pd(_mm512_set1_epi64(0x7FF0000000000000)));
    }
};

static_assert(Avx512Ops::Lanes == StepLanes);

}  // namespace

void FilterWindowAvx512(const double* window, int64_t count, const double* h, double* out) {
    assert(count >= 0 && (_mm_getcsr() & kernel_step::MxcsrNonNearestBits) == 0);
    kernel_step::FilterWindow<Avx512Ops>(window, count, h, out);
}

void StepAvx512(double* acc, const double* h, const double* x) {
    using Ops = Avx512Ops;
    Ops::Store(acc, kernel_step::Step<Ops>(Ops::Load(acc), Ops::Load(h), Ops::Load(x),
                                           Ops::Broadcast(kernel_step::QuantumConstant)));
}

#if defined(__clang__)
#pragma clang attribute pop
#endif
