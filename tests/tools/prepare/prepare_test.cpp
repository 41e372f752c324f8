// phonoskew-prepare: recordings of every common form become files Phonoskew
// accepts, at their level and length; an accepted file keeps its samples;
// the headroom is just enough for the four error filters; and the command
// line, statuses and output names. The recordings are made here by
// libsndfile, and by the flac and SoX programs as users' files are.
#include "prepare/prepare.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <numbers>

#include "design/design.h"
#include "engine/engine.h"
#include "support/harness.h"
#include "support/scratch.h"
#include "wave/wave.h"

namespace {

// ---- Harness ----------------------------------------------------------------------------

std::string ShellWord(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A quarter second of a 997 Hz sine, `level` on the left and half of it on
// every other channel (one channel of `level` for mono), so that a swap
// shows.
void WriteRecording(const std::string& path, int format, int rate, int channels, double level) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<double> samples;
    for (int n = 0; n < rate / 4; ++n) {
        const double value = level * std::sin(2.0 * std::numbers::pi * 997.0 * n / rate);
        samples.push_back(value);
        for (int channel = 1; channel < channels; ++channel) samples.push_back(value / 2.0);
    }
    sf_writef_double(file, samples.data(), rate / 4);
    sf_close(file);
}

// The samples of a file Phonoskew accepts, interleaved; none when refused.
std::vector<int32_t> AcceptedSamples(const std::string& path) {
    const HeaderCheck header = CheckInputHeader(path);
    EXPECT_EQ(header.Refusal, "") << path;
    if (!header.Refusal.empty()) return {};
    const std::string bytes = ReadFileBytes(path);
    const auto* samples = reinterpret_cast<const uint8_t*>(bytes.data() + HeaderSize);
    std::vector<int32_t> interleaved(2 * size_t(header.Info.FrameCount));
    for (size_t n = 0; n < interleaved.size(); ++n)
        interleaved[n] = DecodeSample24(samples + 3 * n);
    return interleaved;
}

HeadroomSets ExampleSets() {
    HeadroomSets sets;
    const char* names[] = {"FO.dat", "SO.dat", "FOP.dat", "SOP.dat"};
    for (int n = 0; n < 4; ++n) {
        sets[n].Name = names[n];
        sets[n].Taps =
            LoadCoefficients(PHONOSKEW_SOURCE_DIR "/examples/coefficients/" + sets[n].Name).Values;
    }
    return sets;
}

// A file of the command-line table, by its name.
void MakePresentFile(const std::string& path) {
    const std::string name = fs::path(path).filename();
    const int pcm16 = SF_FORMAT_PCM_16;
    if (name == "notes.txt") {
        WriteFileBytes(path, "not a recording\n");
    } else if (name == "FO.dat") {
        fs::copy_file(PHONOSKEW_SOURCE_DIR "/examples/coefficients/FO.dat", path);
    } else if (name == "six.wav") {
        WriteRecording(path, SF_FORMAT_WAV | pcm16, 8000, 6, 0.1);
    } else if (name == "slow.wav") {
        WriteRecording(path, SF_FORMAT_WAV | pcm16, 1, 2, 0.1);
    } else if (name == "cut.wav") {
        // 11025 frames of 4 bytes, the last 1000 cut off.
        WriteRecording(path, SF_FORMAT_WAV | pcm16, 44100, 2, 0.1);
        fs::resize_file(path, fs::file_size(path) - 4000);
    } else if (name == "stream.flac") {
        // As an encoder writing to a pipe leaves it: no length stated.
        WriteRecording(path + ".wav", SF_FORMAT_WAV | pcm16, 44100, 2, 0.1);
        const std::string command = "sox " + ShellWord(path + ".wav") +
                                    " -t raw - | flac -s --force-raw-format --endian=little "
                                    "--sign=signed --channels=2 --bps=16 --sample-rate=44100 "
                                    "-o - - 2>/dev/null >" +
                                    ShellWord(path);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        fs::remove(path + ".wav");
    } else if (name.ends_with(".flac")) {
        WriteRecording(path, SF_FORMAT_FLAC | pcm16, 44100, 2, 0.1);
    } else if (name.ends_with(".aiff")) {
        WriteRecording(path, SF_FORMAT_AIFF | pcm16, 44100, 2, 0.1);
    } else {
        WriteRecording(path, SF_FORMAT_WAV | pcm16, 44100, 2, 0.1);
    }
}

PrepareResult Prepare(const std::string& in, const std::string& out, bool hasGain = false,
                      double gainDb = 0.0, bool samplePeak = false, bool downmix = false) {
    PrepareRequest request{in, out, hasGain, gainDb, ExampleSets(), samplePeak, downmix};
    return PrepareRecording(request);
}

// Phonoskew's four outputs of an accepted file, run through its own stage
// engine, each as packed 24-bit frames; and their clipped samples.
std::vector<std::vector<uint8_t>> PhonoskewOutputs(const std::string& path, int64_t& clipped) {
    const std::string bytes = ReadFileBytes(path);
    const std::span input(reinterpret_cast<const uint8_t*>(bytes.data()) + HeaderSize,
                          bytes.size() - HeaderSize);
    std::vector<std::vector<uint8_t>> outputs;
    RandomSource random;
    clipped = 0;
    for (const HeadroomSet& set : ExampleSets()) {
        outputs.emplace_back(input.size() + BytesPerFrame * FilterTail);
        clipped +=
            FilterDitherAndPack(input, set.Taps, {NoFile, 0, outputs.back()}, random, {}).Clipped;
    }
    return outputs;
}

// The largest magnitude of packed 24-bit stereo frames oversampled four
// times by libsoxr, a resampler of its own, in parts of full scale.
double OversampledPeak(std::span<const uint8_t> packed) {
    std::vector<double> in(packed.size() / 3);
    for (size_t n = 0; n < in.size(); ++n) in[n] = DecodeSample24(&packed[3 * n]) / 8388608.0;
    std::vector<double> out(4 * in.size() + 64);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    size_t made = 0;
    EXPECT_EQ(soxr_oneshot(96000, 4 * 96000, 2, in.data(), in.size() / 2, nullptr, out.data(),
                           out.size() / 2, &made, &io, &quality, nullptr),
              nullptr);
    double peak = 0.0;
    for (size_t n = 0; n < 2 * made; ++n) peak = std::max(peak, std::fabs(out[n]));
    return peak;
}

}  // namespace

// ---- Forms of recordings -------------------------------------------------------------------

TEST(PrepareRecording, EveryCommonFormGivesAnAcceptedFileAtItsLevel) {
    struct Case {
        const char* Name;
        int Format, Rate, Channels;
        double Level;
        const char* Command;  // makes the recording from the one written, or nullptr
    };
    const Case cases[] = {
        {"cd.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0.5, nullptr},
        {"take.flac", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 2, 0.5,
         "flac -s -f -o {out} {in}"},
        {"sox.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0.5, "sox {in} -b 24 {out}"},
        {"hot.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 1.5, nullptr},
        {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 88200, 1, 0.5, nullptr},
        {"take.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 2, 0.5, nullptr},
        {"take.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_32, 96000, 2, 0.5, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ScratchDir dir;
        const std::string in = dir.File(c.Name), out = dir.File("out.wav");
        if (c.Command) {
            WriteRecording(dir.File("made.wav"), c.Format, c.Rate, c.Channels, c.Level);
            std::string command = c.Command;
            command.replace(command.find("{in}"), 4, ShellWord(dir.File("made.wav")));
            command.replace(command.find("{out}"), 5, ShellWord(in));
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        } else {
            WriteRecording(in, c.Format, c.Rate, c.Channels, c.Level);
        }
        const PrepareResult result = Prepare(in, out);
        ASSERT_EQ(result.Failure, "");
        EXPECT_EQ(result.Clipped, 0);
        EXPECT_FALSE(result.Copied);
        const std::vector<int32_t> samples = AcceptedSamples(out);
        ASSERT_EQ(samples.size(), 2u * 24000u);  // a quarter second at 96 kHz
        // The peaks of the middle half, clear of the resampler's edges.
        const double expected = c.Level * 8388608.0 * std::pow(10.0, result.GainDb / 20.0);
        for (int side = 0; side < 2; ++side) {
            int32_t peak = 0;
            for (size_t n = 12000 + side; n < 36000; n += 2) peak = std::max(peak, samples[n]);
            const double level = side == 1 && c.Channels == 2 ? expected / 2.0 : expected;
            EXPECT_NEAR(peak, level, level * 0.005) << "side " << side;
        }
        const bool lowered = result.GainDb < 0.0;
        EXPECT_EQ(lowered, c.Level > 1.0) << result.GainDb;  // only what would clip
    }
}

// A file in the accepted form that needs no gain is copied: the canonical
// one byte for byte, an extensible one with bext and LIST chunks sample for
// sample.
TEST(PrepareRecording, AcceptedFormThatNeedsNoGainKeepsItsSamples) {
    ScratchDir dir;
    const std::vector<int32_t> demo = MakeDemoSignal(1.0);  // peaks at -6 dBFS
    ASSERT_EQ(WriteDemoFile(dir.File("demo.wav"), demo), "");
    PrepareResult result = Prepare(dir.File("demo.wav"), dir.File("copy.wav"));
    ASSERT_EQ(result.Failure, "");
    EXPECT_TRUE(result.Copied);
    EXPECT_EQ(ReadFileBytes(dir.File("copy.wav")), ReadFileBytes(dir.File("demo.wav")));

    SF_INFO info{0, 96000, 2, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 0, 0};
    SNDFILE* file = sf_open(dir.File("bwf.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    SF_BROADCAST_INFO bext{};
    ASSERT_EQ(sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
    ASSERT_EQ(sf_set_string(file, SF_STR_TITLE, "take 1"), 0);
    std::vector<int> shifted;
    for (int32_t sample : demo) shifted.push_back(sample * 256);  // the library's alignment
    sf_writef_int(file, shifted.data(), sf_count_t(demo.size() / 2));
    sf_close(file);
    EXPECT_EQ(CheckInputHeader(dir.File("bwf.wav")).Refusal, "This is not a WAVE_FORMAT file ");
    result = Prepare(dir.File("bwf.wav"), dir.File("bwf 24-96.wav"));
    ASSERT_EQ(result.Failure, "");
    EXPECT_TRUE(result.Copied);
    EXPECT_EQ(AcceptedSamples(dir.File("bwf 24-96.wav")), demo);
}

// ---- Headroom -------------------------------------------------------------------------------

// Phonoskew's own stage engine runs each error filter over the prepared
// file of a master whose peaks touch full scale (at 48 kHz, in floating
// point): with the gain found no output clips; 1 dB louder, one does.
TEST(PrepareHeadroom, LeavesNoOutputClippingAndNoMore) {
    ScratchDir dir;
    std::vector<int32_t> demo = MakeDemoSignal(2.0);
    const double peak = double(*std::max_element(
        demo.begin(), demo.end(), [](int32_t a, int32_t b) { return std::abs(a) < std::abs(b); }));
    std::vector<float> master;
    for (int32_t sample : demo) master.push_back(float(sample / std::fabs(peak)));
    SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(dir.File("master.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, master.data(), sf_count_t(master.size() / 2));
    sf_close(file);

    const PrepareResult found =
        Prepare(dir.File("master.wav"), dir.File("found.wav"), false, 0.0, true);
    ASSERT_EQ(found.Failure, "");
    EXPECT_LT(found.GainDb, 0.0);
    const PrepareResult louder =
        Prepare(dir.File("master.wav"), dir.File("louder.wav"), true, found.GainDb + 1.0);
    ASSERT_EQ(louder.Failure, "");

    for (const char* name : {"found.wav", "louder.wav"}) {
        ASSERT_EQ(CheckInputHeader(dir.File(name)).Refusal, "");
        int64_t clipped = 0;
        PhonoskewOutputs(dir.File(name), clipped);
        EXPECT_EQ(clipped == 0, name == std::string("found.wav")) << name << ": " << clipped;
    }
}

// A limited master: tones at 1, 15 and 19 kHz driven 3 dB into a hard
// limit at full scale, at 44.1 kHz, so that its peaks between samples go
// beyond 0 dBFS. On sample peaks some file peaks above full scale oversampled; on
// true peaks (the default) neither the file nor any of Phonoskew's outputs
// does, as libsoxr oversamples them, and the gain differs by little.
TEST(PrepareHeadroom, TruePeaksStayAtFullScaleOversampled) {
    ScratchDir dir;
    std::vector<float> master;
    for (int n = 0; n < 2 * 44100; ++n) {
        const double t = 2.0 * std::numbers::pi * n / 44100.0;
        const double mix = 0.7 * std::sin(1000 * t) + 0.4 * std::sin(15000 * t + 1.0) +
                           0.3 * std::sin(19000 * t + 2.0);
        for (int side = 0; side < 2; ++side)
            master.push_back(std::clamp(float(mix * (side ? 0.9 : 1.0)), -1.0f, 1.0f));
    }
    SF_INFO info{0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(dir.File("limited.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, master.data(), sf_count_t(master.size() / 2));
    sf_close(file);

    double worst[2] = {0.0, 0.0};
    double gains[2] = {0.0, 0.0};
    for (int truePeak = 0; truePeak < 2; ++truePeak) {
        const std::string out = dir.File(truePeak ? "true.wav" : "sample.wav");
        const PrepareResult result = Prepare(dir.File("limited.wav"), out, false, 0.0, !truePeak);
        ASSERT_EQ(result.Failure, "");
        gains[truePeak] = result.GainDb;
        const std::string bytes = ReadFileBytes(out);
        worst[truePeak] =
            OversampledPeak(std::span(reinterpret_cast<const uint8_t*>(bytes.data()) + HeaderSize,
                                      bytes.size() - HeaderSize));
        int64_t clipped = 0;
        for (const std::vector<uint8_t>& output : PhonoskewOutputs(out, clipped))
            worst[truePeak] = std::max(worst[truePeak], OversampledPeak(output));
        EXPECT_EQ(clipped, 0);
    }
    EXPECT_GT(worst[0], 1.0) << "on sample peaks";
    EXPECT_LE(worst[1], 1.0) << "on true peaks, " << 20 * std::log10(worst[1]) << " dBFS";
    EXPECT_LT(gains[1], gains[0]);
    EXPECT_GT(gains[1], gains[0] - 1.5);
}

// The gain found, given back with --gain, makes the same bytes: the signal
// kept in the scratch file between the two passes is the one the single
// pass writes.
TEST(PrepareHeadroom, GainFoundMakesTheSameFileAsGiven) {
    ScratchDir dir;
    WriteRecording(dir.File("hot.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 1.7);
    const PrepareResult found = Prepare(dir.File("hot.wav"), dir.File("found.wav"));
    ASSERT_EQ(found.Failure, "");
    EXPECT_LT(found.GainDb, -4.0);
    ASSERT_EQ(Prepare(dir.File("hot.wav"), dir.File("given.wav"), true, found.GainDb).Failure, "");
    EXPECT_EQ(ReadFileBytes(dir.File("found.wav")), ReadFileBytes(dir.File("given.wav")));
}

// The interpolator between samples: a tone at a quarter of the rate whose
// samples fall at 45 degrees peaks 3 dB above them (found 0.5 % short, as
// the interpolator's response falls there, which the headroom allows for);
// a constant shows no peak beyond itself; a slow tone's peak is its
// amplitude.
TEST(PrepareHeadroom, PeaksBetweenSamples) {
    const InterpolatorPhases phases = MakeInterpolatorPhases();
    struct Case {
        const char* Name;
        double (*Signal)(int n);
        double Peak;
    };
    const Case cases[] = {
        {"quarter rate", [](int n) { return std::sin(std::numbers::pi * (n / 2.0 + 0.25)); },
         0.995},
        {"constant", [](int) { return 0.5; }, 0.5},
        {"1 kHz", [](int n) { return std::sin(2.0 * std::numbers::pi * 1000.0 * n / 96000.0); },
         1.0},
    };
    for (const Case& c : cases) {
        std::vector<double> values;
        for (int n = 0; n < 4000; ++n) values.push_back(c.Signal(n));
        const double peak = LargestBetweenSamples(values.data(), 4000 - 11, phases);
        EXPECT_NEAR(peak, c.Peak, 0.002) << c.Name;
    }
    EXPECT_GT(InterpolatorMagnitude(phases), 1.0);
}

// ---- Channels -----------------------------------------------------------------------------

// A 5.1 recording, each channel a tone of its own, folded with --downmix:
// each tone comes out on its side at its BS.775 weight, the LFE nowhere.
TEST(PrepareDownmix, FivePointOneFoldsToStereoWithItsWeights) {
    ScratchDir dir;
    const double frequencies[6] = {500, 700, 1100, 1300, 1700, 1900};  // L R C LFE BL BR
    constexpr int Rate = 48000, Frames = Rate / 2;
    std::vector<float> samples;
    for (int n = 0; n < Frames; ++n) {
        for (double f : frequencies)
            samples.push_back(float(0.2 * std::sin(2.0 * std::numbers::pi * f * n / Rate)));
    }
    SF_INFO info{0, Rate, 6, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(dir.File("surround.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, samples.data(), Frames);
    sf_close(file);

    EXPECT_NE(Prepare(dir.File("surround.wav"), dir.File("refused.wav")).Failure.find("--downmix"),
              std::string::npos);
    const PrepareResult result =
        Prepare(dir.File("surround.wav"), dir.File("stereo.wav"), true, 0.0, false, true);
    ASSERT_EQ(result.Failure, "");
    EXPECT_EQ(result.Downmix.substr(0, 32), "6 channels, L R C LFE BL BR, to ");
    const std::vector<int32_t> out = AcceptedSamples(dir.File("stereo.wav"));
    ASSERT_EQ(out.size(), 2u * 48000u);
    const double k = std::sqrt(0.5);
    const double expected[2][6] = {{1, 0, k, 0, k, 0}, {0, 1, k, 0, 0, k}};
    for (int side = 0; side < 2; ++side) {
        for (int c = 0; c < 6; ++c) {
            // The tone's amplitude over the middle half second's whole cycles.
            double re = 0.0, im = 0.0;
            for (int n = 12000; n < 36000; ++n) {
                const double phase = 2.0 * std::numbers::pi * frequencies[c] * n / 96000.0;
                re += out[size_t(2 * n + side)] * std::cos(phase);
                im += out[size_t(2 * n + side)] * std::sin(phase);
            }
            const double amplitude = 2.0 * std::hypot(re, im) / 24000.0 / (0.2 * 8388608.0);
            EXPECT_NEAR(amplitude, expected[side][c], 0.002) << "side " << side << " tone " << c;
        }
    }
}

// Layouts: the usual orders when the file says nothing, the places it states,
// and what has no place in stereo.
TEST(PrepareDownmix, PlansByPlaceOrUsualOrder) {
    const int l = SF_CHANNEL_MAP_LEFT, r = SF_CHANNEL_MAP_RIGHT, lfe = SF_CHANNEL_MAP_LFE;
    struct Case {
        std::vector<int> Positions;
        std::string Labels;  // "" when refused
    };
    const Case cases[] = {
        {{0, 0, 0}, "L R C"},
        {{0, 0, 0, 0}, "L R BL BR"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "L R C LFE BL BR SL SR"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {{lfe, r, l, SF_CHANNEL_MAP_REAR_CENTER}, "LFE R L BC"},
        {{l, r, SF_CHANNEL_MAP_TOP_CENTER}, ""},
        {{l, r, SF_CHANNEL_MAP_AMBISONIC_B_W}, ""},
    };
    for (const Case& c : cases) {
        const DownmixPlan plan = PlanDownmix(c.Positions);
        SCOPED_TRACE(c.Labels);
        EXPECT_EQ(plan.Problem.empty(), !c.Labels.empty()) << plan.Problem;
        if (c.Labels.empty()) continue;
        EXPECT_NE(plan.Description.find(", " + c.Labels + ", "), std::string::npos)
            << plan.Description;
    }
}

// ---- Stopped ------------------------------------------------------------------------------

namespace {

// A minute of loud noise at 44.1 kHz, `minutes` times over.
void WriteNoise(const std::string& path, int minutes) {
    SF_INFO info{0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> noise(2 * 44100);
    for (size_t n = 0; n < noise.size(); ++n) noise[n] = short((n * 7919 % 20011) - 10005);
    for (int second = 0; second < 60 * minutes; ++second)
        sf_writef_short(file, noise.data(), 44100);
    sf_close(file);
}

}  // namespace

// Ctrl+C part-way through a minute's recording: the program ends by the
// signal, and neither its scratch file nor a part of its output is left.
TEST(PrepareStopped, InterruptLeavesNothingBehind) {
    ScratchDir dir;
    WriteNoise(dir.File("long.wav"), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(126);
        execl(PHONOSKEW_PREPARE_BIN, PHONOSKEW_PREPARE_BIN, "long.wav", "out.wav", nullptr);
        _exit(127);
    }
    usleep(300000);
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) GTEST_SKIP() << "finished before the signal";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"long.wav"});
}

namespace {

std::string terminalFolder;

void PrepareLongInTerminal() {
    if (chdir(terminalFolder.c_str()) != 0) _exit(126);
    execl(PHONOSKEW_PREPARE_BIN, PHONOSKEW_PREPARE_BIN, "long.wav", "out.wav", nullptr);
    _exit(127);
}

}  // namespace

// In a terminal the progress line names its pass, and Ctrl+C typed there
// ends that line before the program ends, so that the shell's prompt starts
// on a line of its own.
TEST(PrepareStopped, CtrlCEndsTheProgressLine) {
    ScratchDir dir;
    WriteNoise(dir.File("long.wav"), 4);
    terminalFolder = dir.path.string();
    Child child = StartInPseudoTerminal(FunctionBody(PrepareLongInTerminal), 24, 100);
    ChildGuard guard{child};
    ASSERT_TRUE(
        WaitForOutput(child, "\rphonoskew-prepare: pass 1 of 2, reading and measuring: ", 60000))
        << child.out;
    ASSERT_TRUE(SendKeys(child, "\x03"));
    ASSERT_TRUE(WaitForExit(child, 60000));
    EXPECT_EQ(child.endSignal, SIGINT);
    EXPECT_TRUE(child.out.ends_with("\n")) << child.out;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"long.wav"});
}

// ---- Command line and names ------------------------------------------------------------------

TEST(PrepareCommandLine, StatusMessagesAndOutputNames) {
    struct Case {
        std::vector<std::string> Arguments;
        std::vector<std::string> Present;  // files made first
        int Status;
        std::string Writes;  // the one new file, or ""
        std::string Says;    // the start of standard error, else a part of standard output
    };
    const Case cases[] = {
        {{"cd.wav"}, {"cd.wav"}, 0, "cd 24-96.wav", "Read: 'cd.wav', WAV"},
        {{"cd.flac"}, {"cd.wav", "cd.flac"}, 0, "cd.flac 24-96.wav", ""},
        {{"sub/Take.WAV"}, {"sub/Take.WAV", "sub/take.aiff"}, 0, "sub/Take.WAV 24-96.wav", ""},
        {{"take.aiff", "out.wav"}, {"take.aiff"}, 0, "out.wav", ""},
        {{"--gain=-3", "cd.wav"}, {"cd.wav"}, 0, "cd 24-96.wav", "Gain: -3.00 dB, as given"},
        {{"--", "-cd.wav", "--gain"}, {"-cd.wav"}, 0, "--gain", ""},
        {{"cd.wav"}, {"cd.wav", "FO.dat"}, 0, "cd 24-96.wav", "needed for FO.dat, /"},
        {{"--help"}, {}, 0, "", "Usage: phonoskew-prepare [--gain DB | --sample-peak] [--downmix]"},
        {{"--sample-peak", "cd.wav"}, {"cd.wav"}, 0, "cd 24-96.wav", "Gain: 0 dB, no headroom"},
        {{"six.wav", "--downmix"}, {"six.wav"}, 0, "six 24-96.wav", "Downmix: 6 channels, L R C"},
        {{"cut.wav"}, {"cut.wav"}, 0, "cut 24-96.wav", "Cut short: 1000 frames missing"},
        {{"stream.flac"}, {"stream.flac"}, 0, "stream 24-96.wav", ", 0.25 s, resampled"},
        {{"--version", "cd.wav"}, {}, 0, "", "phonoskew-prepare " PHONOSKEW_VERSION "\n"},
        {{}, {}, 2, "", "phonoskew-prepare: no input file given (try 'phonoskew-prepare"},
        {{"a.wav", "b.wav", "c.wav"}, {}, 2, "", "phonoskew-prepare: extra operand 'c.wav'"},
        {{"--gain", "loud", "cd.wav"}, {"cd.wav"}, 2, "", "phonoskew-prepare: --gain wants"},
        {{"--gain=nan", "cd.wav"}, {"cd.wav"}, 2, "", "phonoskew-prepare: --gain wants"},
        {{"--gain=21", "cd.wav"}, {"cd.wav"}, 2, "", "phonoskew-prepare: --gain wants"},
        {{"cd.wav", "--gain"}, {"cd.wav"}, 2, "", "phonoskew-prepare: option '--gain' needs"},
        {{"-x", "cd.wav"}, {"cd.wav"}, 2, "", "phonoskew-prepare: invalid option -- 'x'"},
        {{"none.wav"}, {}, 1, "", "phonoskew-prepare: none.wav: No such file or directory\n"},
        {{"notes.txt"}, {"notes.txt"}, 1, "", "phonoskew-prepare: notes.txt: cannot read it: "},
        {{"six.wav"},
         {"six.wav"},
         1,
         "",
         "phonoskew-prepare: six.wav: it has 6 channels; --downmix"},
        {{"slow.wav"},
         {"slow.wav"},
         1,
         "",
         "phonoskew-prepare: slow.wav: its sample rate, 1 Hz, is"},
        {{"sub"}, {"sub/Take.WAV"}, 1, "", "phonoskew-prepare: sub: not a regular file\n"},
        {{"cd.wav", "./cd.wav"}, {"cd.wav"}, 1, "", "phonoskew-prepare: ./cd.wav: this is the"},
        {{"cd.wav", "no/out.wav"}, {"cd.wav"}, 1, "", "phonoskew-prepare: no/out.wav: cannot"},
    };
    for (const Case& c : cases) {
        ScratchDir dir, output;
        std::string command =
            "cd " + ShellWord(dir.path) + " && " + ShellWord(PHONOSKEW_PREPARE_BIN);
        for (const std::string& argument : c.Arguments) command += " " + ShellWord(argument);
        SCOPED_TRACE(command);
        for (const std::string& name : c.Present) {
            const std::string path = dir.File(name);
            fs::create_directories(fs::path(path).parent_path());
            MakePresentFile(path);
        }
        const int status = std::system(
            (command + " >" + ShellWord(output.File("out")) + " 2>" + ShellWord(output.File("err")))
                .c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.Status);
        const std::string out = ReadFileBytes(output.File("out")),
                          err = ReadFileBytes(output.File("err"));
        if (c.Status == 0) {
            EXPECT_EQ(err, "");
            EXPECT_NE(out.find(c.Says), std::string::npos) << out;
        } else {
            EXPECT_EQ(out, "");
            EXPECT_TRUE(err.starts_with(c.Says)) << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        }
        size_t made = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path))
            made += entry.is_regular_file();
        EXPECT_EQ(made, c.Present.size() + !c.Writes.empty());
        if (!c.Writes.empty()) {
            EXPECT_EQ(CheckInputHeader(dir.File(c.Writes)).Refusal, "");
        }
    }
}
