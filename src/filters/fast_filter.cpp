// The fast filter: float64 lanes over consecutive outputs, one multiply-add
// per tap, written once for every vector unit and chosen at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/fast_filter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "filters/kernels.h"

HWY_BEFORE_NAMESPACE();
namespace fast_filter {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Eight vectors of outputs at a time: eight independent chains of
// multiply-adds keep the vector unit busy while each waits for the last.
// window[j + i] weighs h[63 - i] in output j.
void FilterWindow(const double* HWY_RESTRICT window, int64_t count, const double* HWY_RESTRICT h,
                  double* HWY_RESTRICT out) {
    const hn::ScalableTag<double> d;
    const int64_t lanes = int64_t(hn::Lanes(d));
    for (int64_t j = 0; j < count; j += 8 * lanes) {
        auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
        auto a4 = hn::Zero(d), a5 = hn::Zero(d), a6 = hn::Zero(d), a7 = hn::Zero(d);
        const double* w = window + j;
        for (int i = 0; i < TapCount; ++i, ++w) {
            const auto tap = hn::Set(d, h[TapCount - 1 - i]);
            a0 = hn::MulAdd(tap, hn::LoadU(d, w), a0);
            a1 = hn::MulAdd(tap, hn::LoadU(d, w + lanes), a1);
            a2 = hn::MulAdd(tap, hn::LoadU(d, w + 2 * lanes), a2);
            a3 = hn::MulAdd(tap, hn::LoadU(d, w + 3 * lanes), a3);
            a4 = hn::MulAdd(tap, hn::LoadU(d, w + 4 * lanes), a4);
            a5 = hn::MulAdd(tap, hn::LoadU(d, w + 5 * lanes), a5);
            a6 = hn::MulAdd(tap, hn::LoadU(d, w + 6 * lanes), a6);
            a7 = hn::MulAdd(tap, hn::LoadU(d, w + 7 * lanes), a7);
        }
        double* o = out + j;
        hn::StoreU(a0, d, o);
        hn::StoreU(a1, d, o + lanes);
        hn::StoreU(a2, d, o + 2 * lanes);
        hn::StoreU(a3, d, o + 3 * lanes);
        hn::StoreU(a4, d, o + 4 * lanes);
        hn::StoreU(a5, d, o + 5 * lanes);
        hn::StoreU(a6, d, o + 6 * lanes);
        hn::StoreU(a7, d, o + 7 * lanes);
    }
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

void FilterWindowFast(const double* window, int64_t count, const double* h, double* out) {
    HWY_DYNAMIC_DISPATCH(fast_filter::FilterWindow)(window, count, h, out);
}

const char* VectorUnitName() { return HWY_DYNAMIC_DISPATCH(fast_filter::UnitName)(); }

// Highway picks the best unit the CPU has among those not disabled.
void LimitVectorWidth(VectorWidth width) {
    int64_t disabled = 0;
    if (width != VectorWidth::Widest) disabled |= HWY_AVX3 | HWY_AVX3_DL;
    if (width == VectorWidth::Upto128) disabled |= HWY_AVX2;
    hwy::DisableTargets(disabled);
}
#endif  // HWY_ONCE
