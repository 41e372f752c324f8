// The fast filter: float64 lanes over consecutive outputs, one multiply-add
// per tap, written once for every vector unit and chosen at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/fast_filter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cassert>

#include "filters/certificate.h"

HWY_BEFORE_NAMESPACE();
namespace fast_filter {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Chains vectors of outputs at a time, a0 up to a7: independent chains of
// multiply-adds keep the vector unit busy while each waits for the last.
// window[j + i] weighs h[63 - i] in output j. Tap i = q lanes + r of
// vector u reads the window at (u + q) lanes + r, so for each r the chains
// share one sliding run of loads (l0 up to l7) as q steps on: one load per
// Chains multiply-adds instead of one each.
template <int Chains>
void FilterChains(const double* HWY_RESTRICT window, int64_t count, const double* HWY_RESTRICT h,
                  double* HWY_RESTRICT out) {
    static_assert(Chains == 4 || Chains == 8);
    const hn::ScalableTag<double> d;
    const int64_t lanes = int64_t(hn::Lanes(d));
    // q runs over whole vectors of taps: every unit's lane count (1 to 32
    // doubles, a power of two) divides the 64 taps.
    assert(lanes > 0 && TapCount % lanes == 0);
    const int64_t steps = TapCount / lanes;
    for (int64_t j = 0; j < count; j += Chains * lanes) {
        auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
        auto a4 = hn::Zero(d), a5 = hn::Zero(d), a6 = hn::Zero(d), a7 = hn::Zero(d);
        for (int64_t r = 0; r < lanes; ++r) {
            const double* w = window + j + r;
            auto l0 = hn::LoadU(d, w), l1 = hn::LoadU(d, w + lanes);
            auto l2 = hn::LoadU(d, w + 2 * lanes), l3 = hn::LoadU(d, w + 3 * lanes);
            auto l4 = l0, l5 = l0, l6 = l0, l7 = l0;
            if constexpr (Chains == 8) {
                l4 = hn::LoadU(d, w + 4 * lanes), l5 = hn::LoadU(d, w + 5 * lanes);
                l6 = hn::LoadU(d, w + 6 * lanes), l7 = hn::LoadU(d, w + 7 * lanes);
            }
            for (int64_t q = 0; q < steps; ++q) {
                const auto tap = hn::Set(d, h[TapCount - 1 - (q * lanes + r)]);
                a0 = hn::MulAdd(tap, l0, a0);
                a1 = hn::MulAdd(tap, l1, a1);
                a2 = hn::MulAdd(tap, l2, a2);
                a3 = hn::MulAdd(tap, l3, a3);
                l0 = l1, l1 = l2, l2 = l3;
                if constexpr (Chains == 8) {
                    a4 = hn::MulAdd(tap, l4, a4);
                    a5 = hn::MulAdd(tap, l5, a5);
                    a6 = hn::MulAdd(tap, l6, a6);
                    a7 = hn::MulAdd(tap, l7, a7);
                    l3 = l4, l4 = l5, l5 = l6, l6 = l7;
                    l7 = hn::LoadU(d, w + (q + 8) * lanes);
                } else {
                    l3 = hn::LoadU(d, w + (q + 4) * lanes);
                }
            }
        }
        double* o = out + j;
        hn::StoreU(a0, d, o);
        hn::StoreU(a1, d, o + lanes);
        hn::StoreU(a2, d, o + 2 * lanes);
        hn::StoreU(a3, d, o + 3 * lanes);
        if constexpr (Chains == 8) {
            hn::StoreU(a4, d, o + 4 * lanes);
            hn::StoreU(a5, d, o + 5 * lanes);
            hn::StoreU(a6, d, o + 6 * lanes);
            hn::StoreU(a7, d, o + 7 * lanes);
        }
    }
}

// Eight chains need 17 vector registers: the x86 units better than AVX2
// (the AVX-512 ones, whatever Highway names them) and Arm have 32, the other
// x86 units 16, where four chains run faster. A lower target bit is a
// better unit.
void FilterWindow(const double* HWY_RESTRICT window, int64_t count, const double* HWY_RESTRICT h,
                  double* HWY_RESTRICT out) {
#if HWY_ARCH_X86 && HWY_TARGET >= HWY_AVX2
    FilterChains<4>(window, count, h, out);
#else
    FilterChains<8>(window, count, h, out);
#endif
}

const char* UnitName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace fast_filter
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace fast_filter {
HWY_EXPORT(FilterWindow);
HWY_EXPORT(UnitName);
}  // namespace fast_filter

void FilterWindowFast(std::span<const double> window, int64_t count, const CoefficientSet& h,
                      std::span<double> out) {
    assert(count >= 0 && window.size() >= size_t(WindowSize(count)));
    assert(out.size() >= size_t(OutputRoom(count)));
    HWY_DYNAMIC_DISPATCH(fast_filter::FilterWindow)(window.data(), count, h.data(), out.data());
}

const char* VectorUnitName() { return HWY_DYNAMIC_DISPATCH(fast_filter::UnitName)(); }

// Highway picks the best unit the CPU has among those not disabled. Its
// target bits rank the units, a lower bit a better one, so every unit better
// than AVX2 (or SSE4) is the bits below it, however many there are. Only
// x86 units lie there.
void LimitVectorWidth(VectorWidth width) {
    int64_t disabled = 0;
    if (width == VectorWidth::Upto256) disabled = HWY_AVX2 - 1;
    if (width == VectorWidth::Upto128) disabled = HWY_SSE4 - 1;
    hwy::DisableTargets(disabled);
}
#endif  // HWY_ONCE
