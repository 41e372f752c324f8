// The FIR filter loop shared by all four stages, and its accumulators.
#include <algorithm>
#include <cassert>
#include <new>
#include <stdexcept>

#include "filters/filters.h"
#include "numeric/numeric.h"

bool CreateFilteredChannels(int64_t outputFrames, FilteredChannels& filtered) {
    try {
        filtered.Left.assign(size_t(outputFrames), 0.0);
        filtered.Right.assign(size_t(outputFrames), 0.0);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    filtered = FilteredChannels{};
    return false;
}

void ClearFilteredChannels(FilteredChannels& filtered) {
    std::fill(filtered.Left.begin(), filtered.Left.end(), 0.0);
    std::fill(filtered.Right.begin(), filtered.Right.end(), 0.0);
}

// Scatter form: input frame n adds h[k] x[n] to accumulator n + k, frames in
// ascending order, so each accumulator receives its terms oldest sample
// first. Product and sum are formed at extended precision; the store to
// double rounds each running sum to 53 bits, which fixes the last bits of
// the result.
void FilterChannels(std::span<const int32_t> left, std::span<const int32_t> right,
                    const CoefficientSet& h, std::span<double> outLeft,
                    std::span<double> outRight) {
    assert(right.size() == left.size());
    assert(outLeft.size() == left.size() + FilterTail);
    assert(outRight.size() == left.size() + FilterTail);
    const size_t frameCount = left.size();
    for (size_t n = 0; n < frameCount; ++n) {
        Extended xl = left[n];
        Extended xr = right[n];
        double* yl = outLeft.data() + n;
        double* yr = outRight.data() + n;
        for (int k = 0; k < TapCount; ++k) {
            yl[k] = static_cast<double>(Extended(yl[k]) + Extended(h[k]) * xl);
            yr[k] = static_cast<double>(Extended(yr[k]) + Extended(h[k]) * xr);
        }
    }
}
