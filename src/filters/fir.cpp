// The FIR filter loops: the plain scatter loop and the same in blocks.
#include <algorithm>
#include <cassert>

#include "filters/filters.h"
#include "numeric/numeric.h"

namespace {

// Input frames n in [from, to) add to outputs n + k for k in [kFirst, kLast];
// `out` is indexed from output `first`.
void ScatterFrames(const int32_t* left, const int32_t* right, const CoefficientSet& h,
                   int64_t first, int64_t from, int64_t to, int64_t lastOutput, double* outLeft,
                   double* outRight) {
    for (int64_t n = from; n < to; ++n) {
        int kFirst = int(std::max<int64_t>(0, first - n));
        int kLast = int(std::min<int64_t>(FilterTail, lastOutput - n));
        Extended xl = left[n];
        Extended xr = right[n];
        // Output n + kFirst, the first in the block, and on from there.
        double* yl = outLeft + (n + kFirst - first);
        double* yr = outRight + (n + kFirst - first);
        for (int k = kFirst; k <= kLast; ++k) {
            yl[k - kFirst] = static_cast<double>(Extended(yl[k - kFirst]) + Extended(h[k]) * xl);
            yr[k - kFirst] = static_cast<double>(Extended(yr[k - kFirst]) + Extended(h[k]) * xr);
        }
    }
}

}  // namespace

// The frames whose 64 outputs all lie in the block take the loop with fixed
// bounds, which the compiler unrolls; only the 63 frames at each edge of
// the block need their tap range cut.
void FilterBlockExact(std::span<const int32_t> leftSamples, std::span<const int32_t> rightSamples,
                      const CoefficientSet& h, int64_t first, std::span<double> outLeftValues,
                      std::span<double> outRightValues) {
    const int64_t frameCount = int64_t(leftSamples.size());
    const int64_t count = int64_t(outLeftValues.size());
    assert(rightSamples.size() == leftSamples.size() &&
           outRightValues.size() == outLeftValues.size());
    assert(first >= 0 && first + count <= frameCount + FilterTail);
    const int32_t* left = leftSamples.data();
    const int32_t* right = rightSamples.data();
    double* outLeft = outLeftValues.data();
    double* outRight = outRightValues.data();
    std::fill(outLeft, outLeft + count, 0.0);
    std::fill(outRight, outRight + count, 0.0);
    int64_t lastOutput = first + count - 1;
    int64_t from = std::max<int64_t>(0, first - FilterTail);
    int64_t to = std::min(frameCount, first + count);
    int64_t fullFrom = std::min(std::max(from, first), to);
    int64_t fullTo = std::max(fullFrom, std::min(to, lastOutput - FilterTail + 1));
    ScatterFrames(left, right, h, first, from, fullFrom, lastOutput, outLeft, outRight);
    for (int64_t n = fullFrom; n < fullTo; ++n) {
        Extended xl = left[n];
        Extended xr = right[n];
        double* yl = outLeft + (n - first);
        double* yr = outRight + (n - first);
        for (int k = 0; k < TapCount; ++k) {
            yl[k] = static_cast<double>(Extended(yl[k]) + Extended(h[k]) * xl);
            yr[k] = static_cast<double>(Extended(yr[k]) + Extended(h[k]) * xr);
        }
    }
    ScatterFrames(left, right, h, first, fullTo, to, lastOutput, outLeft, outRight);
}
