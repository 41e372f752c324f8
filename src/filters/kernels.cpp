// The sample window of the vector kernels, and the choice of kernel.
#include "filters/kernels.h"

#include <cpuid.h>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "numeric/numeric.h"

namespace {

bool DetectAvx512() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE)) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const unsigned needed = bit_AVX512F | bit_AVX512DQ | bit_AVX512VL;
    if ((ebx & needed) != needed) return false;
    // XCR0: the OS saves SSE, AVX, opmask, upper ZMM0-15 and ZMM16-31 state.
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 0xE6) == 0xE6;
}

}  // namespace

void FillWindow(const int32_t* x, int64_t frameCount, int64_t first, int64_t count,
                double* window) {
    assert(frameCount >= 0 && count >= 0);
    for (int64_t i = 0; i < count + WindowLead; ++i) {
        const int64_t n = first - WindowLead + i;
        window[i] = n >= 0 && n < frameCount ? double(x[n]) : 0.0;
    }
}

bool CpuHasAvx512() {
    static const bool has = DetectAvx512();
    return has;
}

bool VectorKernelTakes(const double* h) {
    // The sum in Extended: its rounding never matters, as the kernels' real
    // limit lies far above (with this bound and 31-bit samples every
    // intermediate stays below 2^993).
    Extended sum = 0;
    for (int k = 0; k < TapCount; ++k) {
        const double magnitude = std::fabs(h[k]);
        if (!std::isfinite(magnitude)) return false;
        if (magnitude != 0 && magnitude < 0x1p-900) return false;
        sum += magnitude;
    }
    return sum < 0x1p960L;
}
