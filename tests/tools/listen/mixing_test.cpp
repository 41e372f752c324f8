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

namespace {

std::vector<float> Sine(double hz, double amplitude, int64_t frames, double rate) {
    std::vector<float> side;
    for (int64_t n = 0; n < frames; ++n) {
        const float value = float(amplitude * std::sin(2 * std::numbers::pi * hz * n / rate));
        side.insert(side.end(), {value, value});
    }
    return side;
}

double RmsDb(const std::vector<float>& side, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += double(side[i]) * side[i];
    return 10.0 * std::log10(sum / double(to - from));
}

// A device that cannot take 96 kHz gets both sides resampled alike: the same
// length in seconds, the level with the gain and nothing else.
TEST(PlayedSide, ResampledForAnotherRateKeepsLengthAndLevel) {
    const std::vector<float> side = Sine(997.0, 1e6, 96000, 96000.0);
    for (double rate : {48000.0, 44100.0, 96000.0}) {
        const std::vector<float> played = PlayedSide(side, -1.5, rate);
        EXPECT_NEAR(double(played.size() / 2), rate, 1.0) << rate;
        // Away from the ends, where the resampler's filter starts and stops.
        const double change =
            RmsDb(played, size_t(rate / 5), size_t(rate * 9 / 5)) - RmsDb(side, 19200, 172800);
        EXPECT_NEAR(change, -1.5, 0.01) << rate;
    }
}

// A side that is another scaled by 0.9 changes by 20 log 0.9 in every
// measure and every band, and its difference lies 20 dB below.
TEST(ReportOutput, AScaledSideChangesAlikeInEveryMeasure) {
    std::vector<float> reference;
    uint64_t state = 1;
    for (int n = 0; n < 2 * 96000; ++n) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        reference.push_back(float(int64_t(state >> 44) - (1 << 19)));  // white noise
    }
    std::vector<float> scaled;
    for (float s : reference) scaled.push_back(s * 0.9f);
    const OutputReport report = ReportOutput(1, reference, scaled);
    const double expected = 20.0 * std::log10(0.9);
    EXPECT_NEAR(report.Error.LoudnessLufs - report.Reference.LoudnessLufs, expected, 1e-4);
    EXPECT_NEAR(report.Error.RmsDb - report.Reference.RmsDb, expected, 1e-4);
    EXPECT_NEAR(report.Error.SamplePeakDb - report.Reference.SamplePeakDb, expected, 1e-4);
    EXPECT_NEAR(report.Error.TruePeakDb - report.Reference.TruePeakDb, expected, 1e-3);
    for (double change : report.BandChangeDb) EXPECT_NEAR(change, expected, 1e-4);
    EXPECT_NEAR(report.NullDb, -20.0, 1e-3);
    const std::string svg = ReportSvg(report, nullptr, "rec RIAA error 1.wav");
    EXPECT_GT(std::count(svg.begin(), svg.end(), '\n'), 10);
    EXPECT_NE(svg.find("octave-band change on the recording"), std::string::npos);
    EXPECT_NE(svg.find(">-0.915</text>"), std::string::npos);
}

}  // namespace
