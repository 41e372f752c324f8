// Triangular dither and 24-bit packing, one sample at a time.
#include "wave/dither.h"

#include <cmath>

#include "wave/wave.h"

int64_t DitherSum(double value, Extended r1, Extended r2) {
    Extended sum = r1 + Extended(value);
    sum = sum + r2;
    sum = sum - 1;
    if (IsNaN(sum)) return 0;
    // The range test keeps the conversion defined.
    Extended rounded = Rint(sum);
    if (rounded >= Extended(0x1p63)) return INT64_MAX;
    if (rounded < Extended(-0x1p63)) return INT64_MIN;
    return static_cast<int64_t>(rounded);
}

int64_t DitherSample(double value, RandomSource& random) {
    Extended r1 = random.Next();
    Extended r2 = random.Next();
    return DitherSum(value, r1, r2);
}

int64_t DitherAndPackScalar(std::span<const double> left, std::span<const double> right,
                            std::span<uint8_t> packed, RandomSource& random) {
    int64_t clipped = 0;
    for (size_t n = 0; n < left.size(); ++n) {
        uint8_t* frame = &packed[BytesPerFrame * n];
        StoreSample24(ClipSample24(DitherSample(left[n], random), clipped), frame);
        StoreSample24(ClipSample24(DitherSample(right[n], random), clipped), frame + 3);
    }
    return clipped;
}
