// Triangular dither of fast filter values, many frames at a time on the
// vector unit, giving the model's samples wherever it can prove them.
//
// Per sample the model rounds three times to a 64-bit significand,
// s = ((r1 + y) + r2) - 1, then to an integer. Here the dither
// d = r1 + r2 - 1 = (v1 + v2 - 2^31) 2^-31 is formed exactly in integers
// and added to the fast value f with one rounding to double: hi. Rounding
// to a double is monotone and keeps each half-integer below 2^25 in place,
// so hi rounds as f + d does. Where hi lies within `window` of a
// half-integer, the lane is a suspect: its result is left to the caller,
// which recomputes the output exactly and dithers it with the same two
// draws. The window comes from the fast filter's certificate
// (CertifyCoefficients), which argues the rest; for values that are exact
// already, 2^-37 serves. Lanes with |f| >= 2^24 clip to the rail of their
// sign, as any value there does.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "wave/dither_vector.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "wave/dither.h"
#include "wave/wave.h"

HWY_BEFORE_NAMESPACE();
namespace dither_vector {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using DU = hn::Rebind<uint32_t, D>;
using DI = hn::Rebind<int32_t, D>;
using VU = hn::Vec<DU>;
using VD = hn::Vec<D>;

// The dither d = r1 + r2 - 1 of the lanes whose draw states are `first`
// and `second`.
VD DitherOf(VU first, VU second) {
    const D d;
    const DU du;
    VU sum = hn::Add(hn::ShiftRight<1>(first), hn::ShiftRight<1>(second));
    // v1 + v2 - 2^31 modulo 2^32 is the signed value itself.
    sum = hn::Xor(sum, hn::Set(du, 0x80000000u));
    return hn::Mul(hn::PromoteTo(d, hn::BitCast(DI(), sum)), hn::Set(d, 0x1p-31));
}

// One channel of `valid` lanes at frame `n`: clipped samples into `out`,
// suspects appended to `suspects` as 2 frame + channel.
int64_t DitherLanes(VD f, VD dither, double window, int64_t n, int channel, size_t valid,
                    int32_t* HWY_RESTRICT out, int32_t* HWY_RESTRICT suspects,
                    int64_t& suspectCount) {
    const D d;
    const auto inside = hn::FirstN(d, valid);
    const auto small = hn::Lt(hn::Abs(f), hn::Set(d, 0x1p24));
    const VD hi = hn::Add(f, dither);
    VD q = hn::Round(hi);
    // |hi - q| <= 1/2 exactly; the distance to the nearest half-integer is
    // exact wherever it is below 1/4, which is all that is compared.
    const VD fromTie = hn::Sub(hn::Set(d, 0.5), hn::Abs(hn::Sub(hi, q)));
    const auto near = hn::And(inside, hn::And(small, hn::Le(fromTie, hn::Set(d, window))));

    // Large values clip to the rail of their sign (f itself clamps there),
    // NaN gives 0, as in the model.
    q = hn::IfThenElse(small, q, hn::IfThenElseZero(hn::Eq(f, f), f));
    const VD top = hn::Set(d, SampleMax), bottom = hn::Set(d, SampleMin);
    const auto outside = hn::Or(hn::Gt(q, top), hn::Lt(q, bottom));
    const int64_t clipped = int64_t(hn::CountTrue(d, hn::AndNot(near, hn::And(inside, outside))));
    q = hn::Min(hn::Max(q, bottom), top);
    hn::StoreU(hn::DemoteTo(DI(), q), DI(), out + n);

    if (!hn::AllFalse(d, near)) {
        uint8_t bits[32] = {};
        hn::StoreMaskBits(d, near, bits);
        for (size_t lane = 0; lane < valid; ++lane) {
            if (bits[lane / 8] >> (lane % 8) & 1) {
                suspects[suspectCount++] = int32_t(2 * (n + int64_t(lane)) + channel);
            }
        }
    }
    return clipped;
}

int64_t DitherFrames(const double* HWY_RESTRICT left, const double* HWY_RESTRICT right,
                     int64_t frames, uint32_t state, double window, int32_t* HWY_RESTRICT outLeft,
                     int32_t* HWY_RESTRICT outRight, int32_t* HWY_RESTRICT suspects,
                     int64_t* suspectCount) {
    const D d;
    const DU du;
    const size_t lanes = hn::Lanes(d);
    // Lane i's four draw states (left r1, left r2, right r1, right r2), and
    // the step that moves every lane on by `lanes` frames.
    const RandomSource start{state};
    HWY_ALIGN uint32_t states[4][HWY_MAX_BYTES / sizeof(double)];
    for (size_t i = 0; i < lanes; ++i) {
        for (int draw = 0; draw < 4; ++draw) {
            states[draw][i] = start.Skip(4 * i + draw + 1).State;
        }
    }
    VU s0 = hn::Load(du, states[0]), s1 = hn::Load(du, states[1]);
    VU s2 = hn::Load(du, states[2]), s3 = hn::Load(du, states[3]);
    const uint32_t increment = RandomSource{0}.Skip(4 * lanes).State;
    const VU stepIncrement = hn::Set(du, increment);
    const VU stepMultiplier = hn::Set(du, RandomSource{1}.Skip(4 * lanes).State - increment);

    int64_t clipped = 0;
    *suspectCount = 0;
    for (int64_t n = 0; n < frames; n += int64_t(lanes)) {
        const size_t valid = size_t(std::min<int64_t>(int64_t(lanes), frames - n));
        clipped += DitherLanes(hn::LoadU(d, left + n), DitherOf(s0, s1), window, n, 0, valid,
                               outLeft, suspects, *suspectCount);
        clipped += DitherLanes(hn::LoadU(d, right + n), DitherOf(s2, s3), window, n, 1, valid,
                               outRight, suspects, *suspectCount);
        s0 = hn::Add(hn::Mul(s0, stepMultiplier), stepIncrement);
        s1 = hn::Add(hn::Mul(s1, stepMultiplier), stepIncrement);
        s2 = hn::Add(hn::Mul(s2, stepMultiplier), stepIncrement);
        s3 = hn::Add(hn::Mul(s3, stepMultiplier), stepIncrement);
    }
    return clipped;
}

}  // namespace HWY_NAMESPACE
}  // namespace dither_vector
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace dither_vector {

uint64_t ByteSwapped(uint64_t bits) {
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= (bits >> (8 * i) & 0xFF) << (8 * (7 - i));
    return swapped;
}

HWY_EXPORT(DitherFrames);
}  // namespace dither_vector

FastDither DitherFast(const FilteredBlock& block, RandomSource random, double window,
                      const DitheredBlock& out) {
    const size_t room = size_t(block.Frames + DitherPad);
    assert(block.Frames >= 0 && block.Left.size() >= room && block.Right.size() >= room);
    assert(out.Left.size() >= room && out.Right.size() >= room);
    assert(out.Suspects.size() >= 2 * size_t(block.Frames));
    (void)room;
    FastDither result;
    result.Clipped = HWY_DYNAMIC_DISPATCH(dither_vector::DitherFrames)(
        block.Left.data(), block.Right.data(), block.Frames, random.State, window, out.Left.data(),
        out.Right.data(), out.Suspects.data(), &result.Suspects);
    return result;
}

// A frame's six bytes go out as one 8-byte store whose last two bytes the
// next frame overwrites; the last frame is stored byte by byte, so nothing
// past the frames is touched (another thread may be writing there).
void PackFrames(std::span<const int32_t> left, std::span<const int32_t> right,
                std::span<uint8_t> packed) {
    const int64_t frames = int64_t(packed.size() / BytesPerFrame);
    assert(packed.size() % BytesPerFrame == 0);
    assert(left.size() >= size_t(frames) && right.size() >= size_t(frames));
    for (int64_t n = 0; n + 1 < frames; ++n) {
        uint64_t bits = (uint64_t(uint32_t(left[n])) & 0xFFFFFF) |
                        (uint64_t(uint32_t(right[n])) & 0xFFFFFF) << 24;
        if constexpr (std::endian::native == std::endian::big) {
            bits = dither_vector::ByteSwapped(bits);
        }
        std::memcpy(packed.data() + BytesPerFrame * n, &bits, sizeof bits);
    }
    if (frames > 0) {
        StoreSample24(left[frames - 1], packed.data() + BytesPerFrame * (frames - 1));
        StoreSample24(right[frames - 1], packed.data() + BytesPerFrame * (frames - 1) + 3);
    }
}
#endif  // HWY_ONCE
