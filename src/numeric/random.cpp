// Jumping the dither's random source ahead.
#include "numeric/numeric.h"

namespace {

// The step x -> Multiplier x + Increment (mod 2^32) as an affine map.
struct AffineMap {
    uint32_t Multiplier;
    uint32_t Increment;
};

// `second` after `first`: x -> b (a x + c) + d.
AffineMap Compose(AffineMap first, AffineMap second) {
    return {second.Multiplier * first.Multiplier,
            second.Multiplier * first.Increment + second.Increment};
}

}  // namespace

// Binary powering of the one-step map: the maps are all powers of the same
// one, so they commute and the order of composition does not matter.
RandomSource RandomSource::Skip(uint64_t draws) const {
    AffineMap total{1u, 0u};
    AffineMap power{RandomMultiplier, RandomIncrement};
    for (; draws != 0; draws >>= 1) {
        if (draws & 1u) total = Compose(total, power);
        power = Compose(power, power);
    }
    return RandomSource{total.Multiplier * State + total.Increment};
}
