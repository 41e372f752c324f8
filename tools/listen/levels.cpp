// Levels of the two sides and the gains that match them: integrated
// loudness, sample and true peaks with libebur128, RMS over both channels.
#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "listen/listen.h"

namespace {

constexpr double FullScale = 8388608.0;  // 2^23: a 24-bit sample's full scale

double PowerToDb(double power) { return power > 0.0 ? 10.0 * std::log10(power) : -HUGE_VAL; }

struct MeterDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

}  // namespace

std::vector<float> DecodeSide(const std::vector<uint8_t>& packed) {
    std::vector<float> side(packed.size() / 3);
    for (size_t i = 0; i < side.size(); ++i) side[i] = float(DecodeSample24(&packed[3 * i]));
    return side;
}

SideLevels MeasureLevels(const std::vector<float>& side, double rate, bool truePeak) {
    const int modes =
        EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | (truePeak ? EBUR128_MODE_TRUE_PEAK : 0);
    std::unique_ptr<ebur128_state, MeterDeleter> meter(ebur128_init(2, unsigned(rate), modes));
    SideLevels levels;
    if (!meter) return levels;
    // A block at a time, scaled to full scale 1 as libebur128 takes floats.
    constexpr size_t BlockFrames = 4096;
    std::vector<float> block(2 * BlockFrames);
    const double scale = 1.0 / FullScale;
    double squares = 0.0;
    const size_t frames = side.size() / 2;
    for (size_t first = 0; first < frames; first += BlockFrames) {
        const size_t count = std::min(BlockFrames, frames - first);
        for (size_t i = 0; i < 2 * count; ++i) {
            const double value = double(side[2 * first + i]) * scale;
            squares += value * value;
            block[i] = float(value);
        }
        ebur128_add_frames_float(meter.get(), block.data(), count);
    }
    double loudness = -HUGE_VAL;
    ebur128_loudness_global(meter.get(), &loudness);
    levels.LoudnessLufs = loudness;
    levels.RmsDb = side.empty() ? -HUGE_VAL : PowerToDb(squares / double(side.size()));
    double samplePeak = 0.0, highestTruePeak = 0.0;
    for (unsigned channel = 0; channel < 2; ++channel) {
        double peak = 0.0;
        ebur128_sample_peak(meter.get(), channel, &peak);
        samplePeak = std::max(samplePeak, peak);
        if (!truePeak) continue;
        ebur128_true_peak(meter.get(), channel, &peak);
        highestTruePeak = std::max(highestTruePeak, peak);
    }
    levels.SamplePeakDb = 20.0 * std::log10(samplePeak);
    levels.TruePeakDb = 20.0 * std::log10(highestTruePeak);
    return levels;
}

MatchedGains MatchGains(const SideLevels& a, const SideLevels& b, LevelMatch match) {
    MatchedGains gains;
    const bool byRms = match == LevelMatch::Rms;
    const double levelA = byRms ? a.RmsDb : a.LoudnessLufs;
    const double levelB = byRms ? b.RmsDb : b.LoudnessLufs;
    // Silence (or a recording too short to gate) has no level to match.
    if (!std::isfinite(levelA) || !std::isfinite(levelB)) return gains;
    gains.DifferenceDb = levelB - levelA;
    if (match == LevelMatch::None) return gains;
    if (gains.DifferenceDb > 0.0) {
        gains.BDb = -gains.DifferenceDb;
    } else {
        gains.ADb = gains.DifferenceDb;
    }
    return gains;
}

std::string DescribeMatch(const MatchedGains& gains, LevelMatch match) {
    const char* measure = match == LevelMatch::Rms ? "RMS" : "integrated loudness";
    char text[160];
    const double size = std::fabs(gains.DifferenceDb);
    if (size < 0.0005) {
        std::snprintf(text, sizeof text, "A and B have the same %s; no gain", measure);
        return text;
    }
    const char* way = gains.DifferenceDb < 0.0 ? "quieter" : "louder";
    if (match == LevelMatch::None) {
        std::snprintf(text, sizeof text,
                      "B is %.3f dB %s (integrated loudness); not matched (--match none)", size,
                      way);
    } else {
        std::snprintf(text, sizeof text, "B is %.3f dB %s (%s); matched: %s lowered %.3f dB", size,
                      way, measure, gains.DifferenceDb < 0.0 ? "A" : "B", size);
    }
    return text;
}
