// Reference model of a run's output files.
#include "e2e/reference.h"

#include <algorithm>
#include <cmath>

#include "e2e/fixtures.h"
#include "support/model.h"

namespace {

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
        ModelTaps h{};
        std::copy_n(sets[stage].begin(), std::min<size_t>(64, sets[stage].size()), h.begin());
        std::vector<double> yl = ModelChannel(left, h);
        std::vector<double> yr = ModelChannel(right, h);
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
