// Triangular dither and 24-bit packing four frames at a time with AVX2,
// giving the bytes of the one-sample-at-a-time form.
//
// Per sample the x87 form rounds three times to a 64-bit significand,
// s = ((r1 + y) + r2) - 1, then to an integer. Here the dither
// r1 + r2 - 1 = (v1 + v2 - 2^31) 2^-31 is formed exactly in integers and
// added to y with one rounding to double: hi. For |y| < 2^24 the three
// extended roundings move s less than 2^-38 from the exact sum X, and hi
// lies on the same side of every half-integer as X (each half-integer is a
// double there, so rounding to the nearest double cannot pass it). So s, X
// and hi round to the same integer unless X is within 2^-38 of a
// half-integer, which puts hi within that too: a lane whose hi is within
// 2^-31 of a half-integer is done again on the x87 unit. Lanes with
// |y| >= 2^24 always clip to the rail of their sign, and NaN gives 0, as in
// the x87 form.
#include <immintrin.h>

#include <cstring>

#include "wave/wave.h"

#define AVX2_TARGET __attribute__((target("avx2")))

namespace {

constexpr int GroupFrames = 4;
constexpr int GroupDraws = 4 * GroupFrames;

// The map s -> Multiplier s + Increment that advances the state `draws` draws.
struct DrawStep {
    uint32_t Multiplier;
    uint32_t Increment;
};

DrawStep StepOf(uint64_t draws) {
    uint32_t increment = RandomSource{0}.Skip(draws).State;
    return {RandomSource{1}.Skip(draws).State - increment, increment};
}

// The dither r1 + r2 - 1 of four frames, left and right, from the states of
// their 16 draws (in the order left, left, right, right per frame).
AVX2_TARGET void DitherValues(__m256i first, __m256i second, __m256d& left, __m256d& right) {
    __m256i v1 = _mm256_srli_epi32(first, 1);
    __m256i v2 = _mm256_srli_epi32(second, 1);
    // Pair sums: frames 0, 2 and 1, 3 of the group, left and right.
    __m256i sums = _mm256_hadd_epi32(v1, v2);
    // v1 + v2 - 2^31 modulo 2^32 is the signed value itself.
    sums = _mm256_xor_si256(sums, _mm256_set1_epi32(int(0x80000000u)));
    sums = _mm256_permutevar8x32_epi32(sums, _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7));
    const __m256d scale = _mm256_set1_pd(0x1p-31);
    left = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(sums)), scale);
    right = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(sums, 1)), scale);
}

// Four dithered, clipped samples. `suspect` gets the lanes that lie near a
// tie; their result here is not used, nor counted as clipped.
AVX2_TARGET __m128i DitherFour(__m256d y, __m256d dither, int64_t& clipped, int& suspect) {
    const __m256d signBit = _mm256_set1_pd(-0.0);
    __m256d ordered = _mm256_cmp_pd(y, y, _CMP_ORD_Q);
    __m256d small = _mm256_cmp_pd(_mm256_andnot_pd(signBit, y), _mm256_set1_pd(0x1p24), _CMP_LT_OQ);

    // The sum rounded once; |hi - q| is exact and at most 1/2.
    __m256d hi = _mm256_add_pd(y, dither);
    __m256d q = _mm256_round_pd(hi, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256d half = _mm256_set1_pd(0.5);
    __m256d fromTie = _mm256_sub_pd(half, _mm256_andnot_pd(signBit, _mm256_sub_pd(hi, q)));
    __m256d near =
        _mm256_and_pd(small, _mm256_cmp_pd(fromTie, _mm256_set1_pd(0x1p-31), _CMP_LE_OQ));

    // Large values clip to the rail of their sign (y itself clamps there),
    // NaN gives 0.
    q = _mm256_blendv_pd(y, q, small);
    q = _mm256_and_pd(q, ordered);
    const __m256d top = _mm256_set1_pd(SampleMax);
    const __m256d bottom = _mm256_set1_pd(SampleMin);
    __m256d outside =
        _mm256_or_pd(_mm256_cmp_pd(q, top, _CMP_GT_OQ), _mm256_cmp_pd(q, bottom, _CMP_LT_OQ));
    clipped += __builtin_popcount(unsigned(_mm256_movemask_pd(_mm256_andnot_pd(near, outside))));
    q = _mm256_min_pd(_mm256_max_pd(q, bottom), top);
    suspect = _mm256_movemask_pd(near);
    return _mm256_cvtpd_epi32(q);
}

// Redoes the suspect lanes of one channel on the x87 unit. `states` are the
// group's 16 draw states; `offset` is 0 for left, 2 for right.
void RedoSuspectLanes(int suspect, const double* y, const uint32_t* states, int offset,
                      __m128i& samples, int64_t& clipped) {
    int32_t values[GroupFrames];
    std::memcpy(values, &samples, sizeof values);
    for (int lane = 0; lane < GroupFrames; ++lane) {
        if ((suspect & (1 << lane)) == 0) continue;
        Extended r1 = Extended(states[4 * lane + offset] >> 1) * 0x1p-31L;
        Extended r2 = Extended(states[4 * lane + offset + 1] >> 1) * 0x1p-31L;
        values[lane] = ClipSample24(DitherSum(y[lane], r1, r2), clipped);
    }
    std::memcpy(&samples, values, sizeof values);
}

// Interleaves four left and four right samples and stores their low 24
// bits: 24 bytes.
AVX2_TARGET void PackFour(__m128i left, __m128i right, uint8_t* packed) {
    const __m128i lowThreeBytes =
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    __m128i first = _mm_shuffle_epi8(_mm_unpacklo_epi32(left, right), lowThreeBytes);
    __m128i second = _mm_shuffle_epi8(_mm_unpackhi_epi32(left, right), lowThreeBytes);
    uint8_t bytes[32];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 16), second);
    std::memcpy(packed, bytes, 12);
    std::memcpy(packed + 12, bytes + 16, 12);
}

}  // namespace

bool CpuHasAvx2() {
    // The compiler's check also asks whether the system saves the vector
    // registers.
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

AVX2_TARGET int64_t DitherAndPackAvx2(const double* left, const double* right, int64_t frames,
                                      uint8_t* packed, RandomSource& random) {
    int64_t groups = frames / GroupFrames;
    int64_t clipped = 0;
    if (groups > 0) {
        uint32_t states[GroupDraws];
        RandomSource next = random;
        for (uint32_t& state : states) {
            next.Next();
            state = next.State;
        }
        __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(states));
        __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(states + 8));
        const DrawStep step = StepOf(GroupDraws);
        const __m256i multiplier = _mm256_set1_epi32(int(step.Multiplier));
        const __m256i increment = _mm256_set1_epi32(int(step.Increment));

        for (int64_t group = 0; group < groups; ++group) {
            int64_t n = group * GroupFrames;
            __m256d ditherLeft, ditherRight;
            DitherValues(first, second, ditherLeft, ditherRight);
            int suspectLeft = 0, suspectRight = 0;
            __m128i samplesLeft =
                DitherFour(_mm256_loadu_pd(left + n), ditherLeft, clipped, suspectLeft);
            __m128i samplesRight =
                DitherFour(_mm256_loadu_pd(right + n), ditherRight, clipped, suspectRight);
            if ((suspectLeft | suspectRight) != 0) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(states), first);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(states + 8), second);
                RedoSuspectLanes(suspectLeft, left + n, states, 0, samplesLeft, clipped);
                RedoSuspectLanes(suspectRight, right + n, states, 2, samplesRight, clipped);
            }
            PackFour(samplesLeft, samplesRight, packed + 6 * n);
            first = _mm256_add_epi32(_mm256_mullo_epi32(first, multiplier), increment);
            second = _mm256_add_epi32(_mm256_mullo_epi32(second, multiplier), increment);
        }
        random = random.Skip(uint64_t(GroupDraws) * uint64_t(groups));
    }
    int64_t done = groups * GroupFrames;
    return clipped +
           DitherAndPackScalar(left + done, right + done, frames - done, packed + 6 * done, random);
}
