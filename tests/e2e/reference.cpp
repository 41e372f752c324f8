// Reference model of a run's output files.
#include "e2e/reference.h"

#include <algorithm>
#include <cmath>

#include "e2e/fixtures.h"

namespace {

// y[m] = sum of h[k] x[m - k], oldest sample first (k descending), each
// product and sum rounded to a 64-bit significand, each sum stored as double.
std::vector<double> Convolve(const std::vector<int32_t>& x, const std::vector<double>& h) {
    long frames = static_cast<long>(x.size());
    std::vector<double> y(x.size() + 63, 0.0);
    for (long m = 0; m < frames + 63; ++m) {
        double sum = 0.0;
        for (long k = std::min(63L, m); k >= std::max(0L, m - frames + 1); --k) {
            long double product =
                static_cast<long double>(h[k]) * static_cast<long double>(x[m - k]);
            sum = static_cast<double>(static_cast<long double>(sum) + product);
        }
        y[m] = sum;
    }
    return y;
}

uint32_t state = 0xFFFFFFFFu;

long double Draw() {
    state = state * 134775813u + 1u;
    return std::ldexp(static_cast<long double>(state >> 1), -31);
}

int64_t clippedSamples = 0;

int64_t Dither(double y) {
    long double r1 = Draw();
    long double s = r1 + y;
    long double r2 = Draw();
    s = (s + r2) - 1.0L;
    if (std::isnan(s)) return 0;
    // Round to nearest, ties to even, then clip to the 24-bit rails.
    long double q = std::nearbyint(s);
    if (q > 8388607 || q < -8388608) ++clippedSamples;
    return static_cast<int64_t>(std::clamp(q, -8388608.0L, 8388607.0L));
}

void Put(std::string& bytes, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::array<std::string, 4> ReferenceOutputs(const std::vector<int32_t>& left,
                                            const std::vector<int32_t>& right,
                                            const CoefficientSets& sets,
                                            std::array<int64_t, 4>* clipped) {
    state = 0xFFFFFFFFu;
    std::array<std::string, 4> files;
    uint64_t frames = left.size() + 63;
    for (int stage = 0; stage < 4; ++stage) {
        std::vector<double> yl = Convolve(left, sets[stage]);
        std::vector<double> yr = Convolve(right, sets[stage]);
        clippedSamples = 0;
        std::string& f = files[stage];
        f = CanonicalWaveHeader(frames);
        for (uint64_t n = 0; n < frames; ++n) {
            Put(f, static_cast<uint64_t>(Dither(yl[n])), 3);
            Put(f, static_cast<uint64_t>(Dither(yr[n])), 3);
        }
        if (clipped) (*clipped)[stage] = clippedSamples;
    }
    return files;
}
