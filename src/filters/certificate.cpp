// The sample window of the fast filter, its certificate, and the exact
// recompute of one output.
#include "filters/certificate.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "numeric/numeric.h"

void FillWindow(std::span<const int32_t> x, int64_t first, int64_t count,
                std::span<double> window) {
    assert(count >= 0 && window.size() >= size_t(WindowSize(count)));
    const int64_t frameCount = int64_t(x.size());
    for (int64_t i = 0; i < WindowSize(count); ++i) {
        const int64_t n = first - WindowLead + i;
        window[size_t(i)] = n >= 0 && n < frameCount ? double(x[size_t(n)]) : 0.0;
    }
}

// Why the window is safe. Let S be the exact sum of the 64 products h[k] x.
// Both the model's y and the fast f are recursive sums of those products
// (Higham, Accuracy and Stability of Numerical Algorithms, 2nd ed., 3.1):
// each term meets at most n roundings of relative size u, so
// |computed - S| <= gamma_n sum |h[k] x|, gamma_n = n u / (1 - n u).
//  - The model rounds a product to 64 bits, then each sum to 64 bits and
//    stores it to 53: at most 65 steps, each within u' = 2^-53 + 2^-63.
//  - The fast loop rounds each multiply-add once, or product and sum apart
//    on vector units without a fused one: at most 65 steps at u = 2^-53.
//  - A store or product that falls below the normal range errs by at most
//    2^-1075 absolutely: 192 of them in all.
// With |x| <= 2^23, |f - y| <= B = (gamma'_65 + gamma_65) 2^23 sum|h| + 2^-1067.
//
// The dither then rounds s = ((r1 + y) + r2) - 1 to an integer, three
// 64-bit roundings away from X = y + (r1 + r2 - 1); for |y| < 2^25 - 2
// they move it less than 2^-38. The vector dither forms hi = RN53(f + d)
// with d = r1 + r2 - 1 exact. If no half-integer t lies within B + 2^-38
// of f + d, then s, f + d and hi all round to the same integer: rounding
// to a double is monotone and keeps every half-integer below 2^25 in
// place. And |RN53(z) - t| <= 2 |z - t| for such t, so a lane whose hi
// is more than Window = 2 (B + 2^-38) from every half-integer is exact; a
// lane within it is recomputed. Above |f| = 2^24 (|y| > 2^24 - 1) the
// sample clips to the rail of its sign whatever y is.
//
// The set qualifies while sum|h|, as summed below at extended precision
// (within 2^-57 of the true sum, relatively, which the margin covers), is at
// most 2^16: partial sums then stay far below overflow, B below 2^-6, and
// the window well inside half an integer. A true sum a hair above 2^16 may
// still qualify; the bound, computed from the same sum with the margin, holds
// for it all the same.
Certificate CertifyCoefficients(const CoefficientSet& h) {
    Extended sum = 0;
    for (double tap : h) {
        if (!std::isfinite(tap)) return {};
        sum += std::fabs(tap);
    }
    if (sum > Extended(0x1p16)) return {};
    const Extended modelStep = Extended(0x1p-53) + Extended(0x1p-63);
    const Extended fastStep = Extended(0x1p-53);
    const Extended modelGamma = 65 * modelStep / (1 - 65 * modelStep);
    const Extended fastGamma = 65 * fastStep / (1 - 65 * fastStep);
    // The sum of |h| above is within 2^-57 of the true one; 2^-40 covers it.
    const Extended margin = 1 + Extended(0x1p-40);
    const Extended bound =
        (modelGamma + fastGamma) * Extended(0x1p23) * sum * margin + Extended(0x1p-1067);
    const Extended window = 2 * (bound + Extended(0x1p-38)) * margin;
    return {true, std::nextafter(static_cast<double>(bound), INFINITY),
            std::nextafter(static_cast<double>(window), INFINITY)};
}

double ExactOutput(std::span<const int32_t> x, const CoefficientSet& h, int64_t m) {
    const int64_t frameCount = int64_t(x.size());
    assert(m >= 0 && m < frameCount + FilterTail);
    double acc = 0.0;
    for (int64_t n = std::max<int64_t>(0, m - FilterTail); n <= std::min(m, frameCount - 1); ++n) {
        acc = static_cast<double>(Extended(acc) +
                                  Extended(h[size_t(m - n)]) * Extended(x[size_t(n)]));
    }
    return acc;
}
