// The demo recording: a few plucked notes with decaying envelopes over quiet
// pink noise, stereo, 24-bit, 96 kHz, in a canonical 44-byte-header WAVE
// file. Deterministic: its own random source, fixed notes, fixed scaling.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "design/design.h"
#include "numeric/numeric.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

// One plucked note: when it starts, its pitch, level and place in the stereo
// image (0 left, 1 right).
struct Note {
    double Start;
    double Hz;
    double Level;
    double Pan;
};

// An A minor arpeggio rising and falling, then a held chord; repeated every
// four seconds, every other bar a fourth higher (D minor).
constexpr Note NotePattern[] = {
    {0.00, 110.00, 1.0, 0.35}, {0.40, 164.81, 0.7, 0.45}, {0.80, 220.00, 0.7, 0.55},
    {1.20, 261.63, 0.6, 0.65}, {1.60, 329.63, 0.6, 0.70}, {2.00, 440.00, 0.5, 0.60},
    {2.40, 329.63, 0.5, 0.50}, {2.80, 261.63, 0.5, 0.40}, {3.20, 220.00, 0.6, 0.30},
};
constexpr double PatternSeconds = 4.0;
constexpr double NoteSeconds = 3.5;  // a note is silent enough after this
constexpr double AttackSeconds = 0.003;
constexpr int Harmonics = 10;
constexpr double PeakLevel = 0.5;     // -6 dBFS
constexpr double NoiseLevel = 0.004;  // about -48 dB below the notes' peak
constexpr double FadeSeconds = 0.05;  // gentle end, no click
constexpr double FullScale = 8388607.0;

// Adds one note into the interleaved buffer. Higher harmonics start weaker
// and die away faster, as on a plucked string.
void AddNote(const Note& note, double* mix, long frames) {
    const long first = std::lround(note.Start * DemoSampleRate);
    const long last = std::min(frames, first + std::lround(NoteSeconds * DemoSampleRate));
    const double left = std::cos(note.Pan * std::numbers::pi / 2.0);
    const double right = std::sin(note.Pan * std::numbers::pi / 2.0);
    for (int k = 1; k <= Harmonics; ++k) {
        const double hz = note.Hz * k * (1.0 + 0.0004 * k * k);  // slight stiffness
        if (hz > 20000.0) break;
        const double amplitude = note.Level / std::pow(k, 1.3);
        const double decay = 1.2 + 0.9 * k;
        const double w = 2.0 * std::numbers::pi * hz / DemoSampleRate;
        for (long n = first; n < last; ++n) {
            const double t = static_cast<double>(n - first) / DemoSampleRate;
            const double attack = std::min(1.0, t / AttackSeconds);
            const double value = amplitude * attack * std::exp(-decay * t) *
                                 std::sin(w * static_cast<double>(n - first));
            mix[2 * n] += left * value;
            mix[2 * n + 1] += right * value;
        }
    }
}

// White noise in -1..1 from the demo's random source.
double NextWhite(uint64_t& state) {
    return static_cast<double>(NextDemoRandom(state) >> 11) * 0x1p-52 - 1.0;
}

// Pink noise by Paul Kellet's economy filter: three one-pole stages whose
// sum falls at about 3 dB per octave over the audio band.
struct PinkState {
    double B0 = 0.0, B1 = 0.0, B2 = 0.0;
};

double NextPink(PinkState& pink, uint64_t& random) {
    const double white = NextWhite(random);
    pink.B0 = 0.99765 * pink.B0 + white * 0.0990460;
    pink.B1 = 0.96300 * pink.B1 + white * 0.2965164;
    pink.B2 = 0.57000 * pink.B2 + white * 1.0526913;
    return (pink.B0 + pink.B1 + pink.B2 + white * 0.1848) * 0.25;
}

}  // namespace

// ---- Random source --------------------------------------------------------------

uint64_t NextDemoRandom(uint64_t& state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
}

// ---- Signal -------------------------------------------------------------------------

std::vector<int32_t> MakeDemoSignal(double seconds) {
    const long frames = std::max(0L, std::lround(seconds * DemoSampleRate));
    std::vector<double> mix(2 * static_cast<size_t>(frames), 0.0);

    for (int bar = 0; bar * PatternSeconds < seconds; ++bar) {
        const double transpose = (bar % 2 == 1) ? 4.0 / 3.0 : 1.0;  // every other bar in D minor
        for (const Note& pattern : NotePattern) {
            Note note = pattern;
            note.Start += bar * PatternSeconds;
            note.Hz *= transpose;
            if (note.Start < seconds) AddNote(note, mix.data(), frames);
        }
        // The bar ends on a minor chord on its root.
        const double root = 110.0 * transpose;
        const double chordStart = bar * PatternSeconds + 3.6;
        for (double ratio : {1.0, 1.5, 2.0, 2.3784}) {
            if (chordStart < seconds)
                AddNote({chordStart, root * ratio, 0.45, 0.25 + 0.15 * ratio}, mix.data(), frames);
        }
    }

    double peak = 0.0;
    for (double v : mix) peak = std::max(peak, std::fabs(v));
    const double gain = peak > 0.0 ? (PeakLevel - NoiseLevel * 2.0) / peak : 0.0;

    uint64_t random = 0x9E3779B97F4A7C15ULL;
    PinkState pinkLeft, pinkRight;
    std::vector<int32_t> samples(mix.size());
    for (long n = 0; n < frames; ++n) {
        const double remaining = static_cast<double>(frames - n) / DemoSampleRate;
        const double fade = std::min(1.0, remaining / FadeSeconds);
        const double l = (mix[2 * n] * gain + NoiseLevel * NextPink(pinkLeft, random)) * fade;
        const double r = (mix[2 * n + 1] * gain + NoiseLevel * NextPink(pinkRight, random)) * fade;
        samples[2 * n] = RoundToInt32(l * FullScale);
        samples[2 * n + 1] = RoundToInt32(r * FullScale);
    }
    return samples;
}

// ---- WAVE file --------------------------------------------------------------------

std::vector<uint8_t> PackDemoSamples(const std::vector<int32_t>& interleaved) {
    const size_t frames = interleaved.size() / 2;  // whole frames only
    std::vector<uint8_t> packed(BytesPerFrame * frames);
    for (size_t i = 0; i < 2 * frames; ++i) StoreSample24(interleaved[i], &packed[3 * i]);
    return packed;
}

std::string WriteDemoFile(const std::string& path, const std::vector<int32_t>& interleaved) {
    const std::vector<uint8_t> samples = PackDemoSamples(interleaved);
    const auto header = MakeOutputHeader(ConsistentWaveInfo(), uint32_t(samples.size()));
    return WriteWaveFile(path, header, samples);
}
