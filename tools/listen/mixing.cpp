// What plays, frame by frame: the side chosen, its position, the loop and
// the equal-power crossfade of every switch, pause and loop turn. Pure
// functions over the two sides' arrays; the sound device only takes what
// RenderFrames gives.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "listen/listen.h"

int FadeFrames(double rate) { return std::max(1, int(std::lround(rate * FadeSeconds))); }

void FadeWeights(int k, int length, float& in, float& out) {
    const double angle = std::numbers::pi / 2.0 * (double(k) + 0.5) / double(length);
    in = float(std::sin(angle));
    out = float(std::cos(angle));
}

Player StartPlayer(const float* a, const float* b, int64_t frames, int fadeLength) {
    Player player;
    player.SideA = a;
    player.SideB = b;
    player.Frames = frames;
    player.LoopTo = frames;
    player.FadeLength = std::max(fadeLength, 1);
    player.FadeDone = player.FadeLength;
    return player;
}

namespace {

bool FadeUnderWay(const Player& player) { return player.FadeDone < player.FadeLength; }

// Starts a fade out of what plays at its position, while `side` comes in
// at `position`. A fade already under way is cut short: what it faded out
// is dropped, so only two sides ever sound at once.
void StartFade(Player& player, Side side, int64_t position) {
    player.Fading = player.Playing;
    player.FadingPosition = player.Position;
    player.Playing = side;
    player.Position = position;
    player.FadeDone = 0;
}

// One channel's sample of a side; silence outside the recording.
float SampleAt(const Player& player, Side side, int64_t position, int channel) {
    if (side == Side::Silent || position < 0 || position >= player.Frames) return 0.0f;
    const float* samples = side == Side::A ? player.SideA : player.SideB;
    return samples[2 * position + channel];
}

}  // namespace

void SetLoop(Player& player, int64_t from, int64_t to) {
    from = std::clamp<int64_t>(from, 0, player.Frames);
    to = std::clamp<int64_t>(to, 0, player.Frames);
    if (to <= from) {
        from = 0;
        to = player.Frames;
    }
    player.LoopFrom = from;
    player.LoopTo = to;
    // A position outside the new range goes to its start, through a fade.
    if (player.Position < from || player.Position >= to) {
        if (player.Playing == Side::Silent) {
            player.Position = from;
        } else {
            StartFade(player, player.Playing, from);
        }
    }
}

void SwitchTo(Player& player, Side side) { StartFade(player, side, player.Position); }

void RenderFrames(Player& player, float* out, int64_t frames) {
    for (int64_t n = 0; n < frames; ++n) {
        // The loop turns through a fade from what follows its end to its start.
        if (player.Playing != Side::Silent && player.Position >= player.LoopTo)
            StartFade(player, player.Playing, player.LoopFrom);
        float in = 1.0f, fadeOut = 0.0f;
        const bool fading = FadeUnderWay(player);
        if (fading) FadeWeights(player.FadeDone, player.FadeLength, in, fadeOut);
        for (int channel = 0; channel < 2; ++channel) {
            float value = in * SampleAt(player, player.Playing, player.Position, channel);
            if (fading)
                value += fadeOut * SampleAt(player, player.Fading, player.FadingPosition, channel);
            out[2 * n + channel] = value;
        }
        if (player.Playing != Side::Silent) ++player.Position;
        if (fading) {
            ++player.FadingPosition;
            ++player.FadeDone;
        }
    }
}

int32_t DeviceSample(float value) {
    // 24-bit steps to the top 24 bits of 32; a gained sample beyond full
    // scale is held at it.
    const double scaled = std::nearbyint(double(value) * 256.0);
    return int32_t(std::clamp(scaled, -2147483648.0, 2147483647.0));
}
