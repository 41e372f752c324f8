// The FIR filter loop shared by all four stages.
#include "filters/filters.h"
#include "numeric/numeric.h"

// Scatter form: input frame n adds h[k] x[n] to accumulator n + k, frames in
// ascending order, so each accumulator receives its terms oldest sample
// first. Product and sum are formed at extended precision; the store to
// double rounds each running sum to 53 bits, which fixes the last bits of
// the result.
void FilterChannels(const int32_t* left, const int32_t* right, int32_t frameCount, const double* h,
                    double* outLeft, double* outRight) {
    for (int32_t n = 0; n < frameCount; ++n) {
        Extended xl = left[n];
        Extended xr = right[n];
        double* yl = outLeft + n;
        double* yr = outRight + n;
        for (int k = 0; k < TapCount; ++k) {
            yl[k] = static_cast<double>(Extended(yl[k]) + Extended(h[k]) * xl);
            yr[k] = static_cast<double>(Extended(yr[k]) + Extended(h[k]) * xr);
        }
    }
}
