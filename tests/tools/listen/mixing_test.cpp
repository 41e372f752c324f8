// The playback logic over arrays: what plays, where, and the crossfade of a
// switch, a pause and a loop turn. Each side is a ramp whose value names its
// frame (A: n, B: 1e6 + n), so a rendered frame tells where it came from.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "listen/listen.h"

namespace {

struct Ramps {
    std::vector<float> a, b;
    explicit Ramps(int64_t frames) {
        for (int64_t n = 0; n < frames; ++n) {
            a.insert(a.end(), {float(n), -float(n)});
            b.insert(b.end(), {float(1000000 + n), -float(1000000 + n)});
        }
    }
};

std::vector<float> Render(Player& player, int64_t frames) {
    std::vector<float> out(2 * size_t(frames));
    RenderFrames(player, out.data(), frames);
    return out;
}

TEST(Crossfade, LengthIsEightMillisecondsAtEveryRate) {
    EXPECT_EQ(FadeFrames(96000), 768);
    EXPECT_EQ(FadeFrames(48000), 384);
    EXPECT_EQ(FadeFrames(44100), 353);
}

TEST(Crossfade, SwitchKeepsThePositionThroughAnEqualPowerFade) {
    const int64_t frames = 20000;
    const int fade = 768;
    Ramps ramps(frames);
    Player player = StartPlayer(ramps.a.data(), ramps.b.data(), frames, fade);
    SwitchTo(player, Side::A);
    std::vector<float> heard = Render(player, 1000 + fade);  // A from 0; its fade-in first
    SwitchTo(player, Side::B);
    const std::vector<float> after = Render(player, fade + 100);
    heard.insert(heard.end(), after.begin(), after.end());
    // Fade-in from silence: sin of pi/2 (k + 0.5) / 768 times A.
    for (int k = 0; k < fade; k += 97) {
        const double in = std::sin(std::numbers::pi / 2 * (k + 0.5) / fade);
        EXPECT_NEAR(heard[2 * k], in * k, 1e-3 * k + 1e-4) << k;
    }
    for (int64_t n = fade; n < 1000 + fade; ++n) ASSERT_EQ(heard[2 * n], float(n)) << n;
    // The switch at frame p = 1768: B comes in, A goes out, both at p + k.
    const int64_t p = 1000 + fade;
    double worst = 0.0;
    for (int k = 0; k < fade; ++k) {
        const double angle = std::numbers::pi / 2 * (k + 0.5) / fade;
        const double expected = std::sin(angle) * (1000000.0 + p + k) + std::cos(angle) * (p + k);
        worst = std::max(worst, std::fabs(heard[2 * (p + k)] - expected) / expected);
        EXPECT_EQ(heard[2 * (p + k) + 1], -heard[2 * (p + k)]);
    }
    EXPECT_LT(worst, 1e-6);
    // After exactly 768 frames, B alone, where A would have been.
    for (int64_t n = p + fade; n < p + fade + 100; ++n)
        ASSERT_EQ(heard[2 * n], float(1000000 + n)) << n;
}

TEST(Crossfade, WeightsKeepThePowerOfOneSide) {
    for (int length : {1, 2, 353, 768}) {
        for (int k = 0; k < length; ++k) {
            float in = 0, out = 0;
            FadeWeights(k, length, in, out);
            ASSERT_NEAR(double(in) * in + double(out) * out, 1.0, 1e-6);
            ASSERT_GT(in, 0.0f);
            ASSERT_GT(out, 0.0f);
        }
    }
}

// Every switch fades, even to the side that plays: a switch from A to an X
// that is A must sound like one to an X that is B.
TEST(Crossfade, SwitchToTheSameSideFadesToo) {
    Ramps ramps(4000);
    Player player = StartPlayer(ramps.a.data(), ramps.b.data(), 4000, 768);
    SwitchTo(player, Side::A);
    Render(player, 1000);
    SwitchTo(player, Side::A);
    EXPECT_EQ(player.FadeDone, 0);
    const std::vector<float> heard = Render(player, 768);
    // Two copies of A at one place: sin + cos of the mid-fade weight.
    EXPECT_NEAR(heard[2 * 384],
                (1000 + 384) * std::sqrt(2.0) * std::cos(std::numbers::pi / 4 / 768 * 0.5), 1.0);
}

TEST(Loop, TurnsFromItsEndToItsStartAndStaysInside) {
    const int64_t frames = 30000, from = 9600, to = 19200;
    const int fade = 768;
    Ramps ramps(frames);
    Player player = StartPlayer(ramps.a.data(), ramps.b.data(), frames, fade);
    SetLoop(player, from, to);
    EXPECT_EQ(player.Position, from);
    SwitchTo(player, Side::A);
    const std::vector<float> heard = Render(player, 3 * (to - from));
    int turns = 0;
    for (int64_t n = fade; n + 1 < 3 * (to - from); ++n) {
        const float value = heard[2 * n], next = heard[2 * n + 2];
        if (value == float(to - 1) && next != float(to)) ++turns;
        // Outside a fade, only the loop's own frames (and what follows its
        // end while it fades out) are heard.
        if (value == std::floor(value) && next == value + 1) {
            ASSERT_TRUE(value >= from && value < to + fade) << n;
        }
    }
    EXPECT_EQ(turns, 2);
    // The frame after a turn's fade is the loop's start plus the fade.
    EXPECT_EQ(heard[2 * ((to - from) + fade)], float(from + fade));
}

TEST(Pause, FadesOutThenGoesOnWhereItStopped) {
    Ramps ramps(8000);
    Player player = StartPlayer(ramps.a.data(), ramps.b.data(), 8000, 768);
    SwitchTo(player, Side::B);
    Render(player, 2000);
    SwitchTo(player, Side::Silent);
    const std::vector<float> paused = Render(player, 2000);
    EXPECT_GT(paused[0], 1000000.0f);
    for (int n = 768; n < 2000; ++n) ASSERT_EQ(paused[2 * n], 0.0f);
    SwitchTo(player, Side::A);
    const std::vector<float> again = Render(player, 800);
    EXPECT_EQ(again[2 * 768], float(2000 + 768));
}

TEST(DeviceSample, TwentyFourBitStepsFillTheTopOfThirtyTwo) {
    const std::pair<float, int32_t> cases[] = {{0.0f, 0},
                                               {1.0f, 256},
                                               {-1.0f, -256},
                                               {8388607.0f, 2147483392},
                                               {-8388608.0f, INT32_MIN},
                                               {9e6f, INT32_MAX},
                                               {-9e6f, INT32_MIN},
                                               {0.5f, 128},
                                               {-0.25f, -64}};
    for (const auto& [value, expected] : cases) EXPECT_EQ(DeviceSample(value), expected) << value;
}

}  // namespace
