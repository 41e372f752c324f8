// The peaks between samples: the signal oversampled four times by a
// polyphase interpolator, as loudness meters find a true peak (a 48-tap
// windowed-sinc prototype, 12 taps a phase). Phase 0 is the samples
// themselves, so only the three points between each two samples are
// computed here, in float64 lanes, written once for every vector unit and
// chosen at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "prepare/true_peak.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <numbers>

#include "prepare/prepare.h"

HWY_BEFORE_NAMESPACE();
namespace true_peak {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The largest magnitude of the three phases over windows 0 to count - 1:
// window i is values[i] to values[i + 11], and phase p's point lies
// between values[i + 5] and values[i + 6].
double LargestBetween(const double* HWY_RESTRICT values, int64_t count,
                      const double* HWY_RESTRICT taps) {
    const hn::ScalableTag<double> d;
    const int64_t lanes = int64_t(hn::Lanes(d));
    auto peak = hn::Zero(d);
    int64_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d);
        for (int t = 0; t < InterpolatorTaps; ++t) {
            const auto x = hn::LoadU(d, values + i + t);
            a0 = hn::MulAdd(hn::Set(d, taps[t]), x, a0);
            a1 = hn::MulAdd(hn::Set(d, taps[InterpolatorTaps + t]), x, a1);
            a2 = hn::MulAdd(hn::Set(d, taps[2 * InterpolatorTaps + t]), x, a2);
        }
        peak = hn::Max(peak, hn::Max(hn::Abs(a0), hn::Max(hn::Abs(a1), hn::Abs(a2))));
    }
    double largest = hn::GetLane(hn::MaxOfLanes(d, peak));
    for (; i < count; ++i) {
        for (int p = 0; p < 3; ++p) {
            double sum = 0.0;
            for (int t = 0; t < InterpolatorTaps; ++t)
                sum += taps[p * InterpolatorTaps + t] * values[i + t];
            largest = std::max(largest, std::fabs(sum));
        }
    }
    return largest;
}

}  // namespace HWY_NAMESPACE
}  // namespace true_peak
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace true_peak {
HWY_EXPORT(LargestBetween);
}  // namespace true_peak

// Phase p (1 to 3) at p/4 of a sample past values[i + 5]: tap t weighs
// values[i + t], m = 4 (5 - t) + p quarter samples from the point. The
// prototype is the sinc of the original rate under a Hann window 48
// quarter samples wide; each phase is scaled to sum to 1, so that a
// constant signal shows no peak between its samples.
InterpolatorPhases MakeInterpolatorPhases() {
    InterpolatorPhases taps{};
    for (int p = 1; p <= 3; ++p) {
        double sum = 0.0;
        for (int t = 0; t < InterpolatorTaps; ++t) {
            const double m = 4.0 * (5 - t) + p;
            const double x = std::numbers::pi * m / 4.0;
            const double window = 0.5 * (1.0 + std::cos(std::numbers::pi * m / 24.0));
            const double tap = std::sin(x) / x * window;
            taps[size_t((p - 1) * InterpolatorTaps + t)] = tap;
            sum += tap;
        }
        for (int t = 0; t < InterpolatorTaps; ++t)
            taps[size_t((p - 1) * InterpolatorTaps + t)] /= sum;
    }
    return taps;
}

double InterpolatorMagnitude(const InterpolatorPhases& taps) {
    double largest = 0.0;
    for (int p = 0; p < 3; ++p) {
        double sum = 0.0;
        for (int t = 0; t < InterpolatorTaps; ++t)
            sum += std::fabs(taps[size_t(p * InterpolatorTaps + t)]);
        largest = std::max(largest, sum);
    }
    return largest;
}

double LargestBetweenSamples(const double* values, int64_t count, const InterpolatorPhases& taps) {
    if (count <= 0) return 0.0;
    return HWY_DYNAMIC_DISPATCH(true_peak::LargestBetween)(values, count, taps.data());
}
#endif  // HWY_ONCE
