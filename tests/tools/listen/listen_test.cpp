// phonoskew-listen as a user runs it: the reference is Phonoskew's own
// output through the identity set, byte for byte; outputs that do not
// belong to the recording are refused before any sound; the exported pairs
// match in level by an independent measure; and what a session plays,
// recorded by ALSA's file device through the test's own ALSA configuration, is the
// right side at the right place, switched through the stated crossfade.
#include "listen/listen.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

#include "design/design.h"
#include "support/harness.h"
#include "support/scratch.h"

namespace {

// ---- Harness ----------------------------------------------------------------------------

constexpr int Fade = 768;             // 8 ms at 96 kHz
constexpr int32_t BOffset = 1 << 21;  // B's ramp stands this far above A's

// A folder with a recording, its outputs, and an ALSA configuration whose
// default sound device writes what is played to played.raw. It stands in for
// the machine's whole configuration, so that no sound server's plugin is
// loaded: what is played, and what is listed, is the same on every machine.
struct ListenFolder {
    ScratchDir dir;
    std::string Played() const { return dir.File("played.raw"); }
    ListenFolder() {
        WriteFileBytes(dir.path / "alsa.conf",
                       "pcm.null { type null }\npcm.!default {\n  type file\n  slave.pcm \"null\"\n"
                       "  file \"" +
                           Played() + "\"\n  format \"raw\"\n}\n");
    }
    Program Listen(std::vector<std::string> arguments) const {
        Program program = PhonoskewIn(dir.path, std::move(arguments));
        program.environment = {"PHONOSKEW_BIN=" PHONOSKEW_LISTEN_BIN,
                               "ALSA_CONFIG_PATH=" + dir.File("alsa.conf")};
        return program;
    }
};

void WriteWave(const std::string& path, const std::vector<int32_t>& interleaved) {
    ASSERT_EQ(WriteDemoFile(path, interleaved), "");
}

// A ramp, so that a played sample names its frame: left 8n, right -8n.
std::vector<int32_t> Ramp(int64_t frames, int32_t offset) {
    std::vector<int32_t> samples;
    for (int64_t n = 0; n < frames; ++n)
        samples.insert(samples.end(), {int32_t(8 * n) + offset, -int32_t(8 * n) - offset});
    return samples;
}

// The samples of a 24-bit WAVE file, interleaved.
std::vector<double> WaveSamples(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<double> samples;
    for (size_t at = HeaderSize; at + 3 <= bytes.size(); at += 3)
        samples.push_back(DecodeSample24(reinterpret_cast<const uint8_t*>(&bytes[at])));
    return samples;
}

double RmsDb(const std::vector<double>& samples) {
    double sum = 0.0;
    for (double s : samples) sum += s * s;
    return 10.0 * std::log10(sum / double(samples.size()));
}

// ---- The reference -------------------------------------------------------------------

TEST(ListenReference, IsPhonoskewsOutputThroughTheIdentitySetByteForByte) {
    ListenFolder folder;
    WriteWave(folder.dir.File("rec.wav"), MakeDemoSignal(0.25));
    for (const char* set : {"FO.dat", "SO.dat", "FOP.dat", "SOP.dat"})
        fs::copy_file(PHONOSKEW_SOURCE_DIR "/examples/coefficients/reference/" + std::string(set),
                      folder.dir.path / set);
    // Phonoskew's own run with the identity set: its four outputs are the
    // references, each with its own stretch of the dither.
    const Child run = RunPiped(PhonoskewIn(folder.dir.path), "rec.wav\r");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    Child listen = RunPiped(folder.Listen({"--write-reference", "rec.wav"}), "");
    ASSERT_EQ(listen.exitStatus, 0) << listen.err;
    for (int n = 1; n <= 4; ++n) {
        const std::string name = " RIAA reference " + std::to_string(n) + ".wav";
        EXPECT_NE(listen.out.find("Wrote: 'rec" + name + "'"), std::string::npos) << listen.out;
        const std::string reference = ReadFileBytes(folder.dir.File("rec" + name));
        EXPECT_EQ(reference.size(), 44 + 6 * (24000 + 63));
        EXPECT_TRUE(reference ==
                    ReadFileBytes(folder.dir.File("rec RIAA error " + std::to_string(n) + ".wav")))
            << n;
    }
    // Never over a file there.
    listen = RunPiped(folder.Listen({"--write-reference", "rec.wav", "2"}), "");
    EXPECT_EQ(listen.exitStatus, 1);
    EXPECT_NE(listen.err.find("'rec RIAA reference 2.wav' exists: left as it is"),
              std::string::npos)
        << listen.err;
}

// ---- Refusals -------------------------------------------------------------------------

TEST(ListenRefusal, OutputsThatDoNotBelongToTheRecordingPlayNothing) {
    const int64_t frames = 9600;
    const struct {
        const char* setup;  // what output 2 is, or that the recording is gone
        std::vector<std::string> outputs;
        const char* message;
    } table[] = {
        {"no recording", {}, "'rec.wav': No such file or directory"},
        {"none",
         {},
         "no output of 'rec.wav' beside it ('rec RIAA error 1.wav' and the like): "
         "run phonoskew on it first"},
        {"none",
         {"2"},
         "'rec RIAA error 2.wav': No such file or directory (output 2 of "
         "'rec.wav'; run phonoskew on it first)"},
        {"short",
         {},
         "'rec RIAA error 2.wav' is not output 2 of 'rec.wav': it holds 9662 "
         "frames, where an output of the recording has 9663 (its 9600 and the "
         "filter's 63). Run phonoskew on the recording again."},
        {"16-bit",
         {"2"},
         "'rec RIAA error 2.wav' is not output 2 of 'rec.wav': it is not a "
         "file of phonoskew's format: "},
        {"cut",
         {"2"},
         "'rec RIAA error 2.wav' is not output 2 of 'rec.wav': it ends after "
         "57000 of its 58022 bytes"},
    };
    for (const auto& row : table) {
        ListenFolder folder;
        WriteWave(folder.dir.File("rec.wav"), Ramp(frames, 0));
        const std::string output = folder.dir.File("rec RIAA error 2.wav");
        const std::string setup = row.setup;
        if (setup == "no recording") fs::remove(folder.dir.File("rec.wav"));
        if (setup == "short") WriteWave(output, Ramp(frames + 62, 0));
        if (setup == "cut") {
            WriteWave(output, Ramp(frames + 63, 0));
            fs::resize_file(output, 57000);
        }
        if (setup == "16-bit") {
            WriteWave(output, Ramp(frames + 63, 0));
            std::string bytes = ReadFileBytes(output);
            bytes[34] = 16;  // bits per sample
            WriteFileBytes(output, bytes);
        }
        std::vector<std::string> arguments = {"--seed", "1", "rec.wav"};
        arguments.insert(arguments.end(), row.outputs.begin(), row.outputs.end());
        const Child run = RunPiped(folder.Listen(arguments), "abx12");
        EXPECT_EQ(run.exitStatus, 1) << setup;
        EXPECT_EQ(run.err.find("phonoskew-listen: " + std::string(row.message)), 0u)
            << setup << ": " << run.err;
        EXPECT_FALSE(fs::exists(folder.Played())) << setup;
    }
}

// ---- Level matching -------------------------------------------------------------------

TEST(ListenExport, PairsMatchInLevelByAnIndependentMeasure) {
    ListenFolder folder;
    const std::vector<int32_t> recording = MakeDemoSignal(1.0);
    WriteWave(folder.dir.File("rec.wav"), recording);
    // Output 1 stands 0.915 dB below the recording: since it is the
    // recording scaled, loudness and RMS differ alike.
    std::vector<int32_t> quieter;
    for (int32_t s : recording) quieter.push_back(int32_t(std::lround(s * 0.9)));
    quieter.resize(quieter.size() + 2 * 63, 0);
    WriteWave(folder.dir.File("rec RIAA error 1.wav"), quieter);
    for (const char* match : {"rms", "loudness"}) {
        // A folder that is not there yet is made, with its parents.
        const std::string out = folder.dir.File(std::string("pairs/") + match);
        const Child run =
            RunPiped(folder.Listen({"--export", out, "--match", match, "rec.wav"}), "");
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_NE(run.out.find("B is 0.91"), std::string::npos) << run.out;
        const std::string a = out + "/rec RIAA reference 1.wav", b = out + "/rec RIAA error 1.wav";
        const double residual = RmsDb(WaveSamples(a)) - RmsDb(WaveSamples(b));
        EXPECT_LT(std::fabs(residual), 0.01) << match << ": " << residual;
        // The quieter side takes no gain: its bytes are the output's own.
        EXPECT_TRUE(ReadFileBytes(b) == ReadFileBytes(folder.dir.File("rec RIAA error 1.wav")));
        // A second export leaves both files as they are.
        const std::string before = ReadFileBytes(a);
        const Child again = RunPiped(folder.Listen({"--export", out, "rec.wav"}), "");
        EXPECT_EQ(again.exitStatus, 1);
        EXPECT_NE(again.err.find("exists: nothing exported"), std::string::npos) << again.err;
        EXPECT_TRUE(ReadFileBytes(a) == before);
    }
    // The report: every measure 20 log 0.9 down, the difference 20 dB
    // below, the plot beside the recording and never written over.
    for (const char* plot : {"Plot: 'rec RIAA report 1.svg'\n",
                             "Plot: 'rec RIAA report 1.svg' exists: left as it is\n"}) {
        const Child run = RunPiped(folder.Listen({"--report", "rec.wav"}), "");
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_NE(run.out.find(plot), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\nRMS               -0.915\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\n8 kHz             -0.915\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\nNull depth       -20.0"), std::string::npos) << run.out;
    }
    EXPECT_NE(ReadFileBytes(folder.dir.File("rec RIAA report 1.svg")).find("</svg>"),
              std::string::npos);
}

// Integrated loudness by ITU-R BS.1770-4, written here apart from the
// program's libebur128: the K-weighting (a high shelf and a high-pass, from
// their analogue prototypes by the bilinear transform at 96 kHz), 400 ms
// blocks every 100 ms, the absolute gate at -70 LUFS and the relative gate
// 10 LU below the mean of the blocks it leaves.
double IntegratedLoudness(const std::vector<double>& interleaved) {
    struct Section {
        double b0, b1, b2, a1, a2;
    };
    const double pi = std::numbers::pi, rate = 96000.0;
    double k = std::tan(pi * 1681.974450955533 / rate), q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    const Section shelf{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                        (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0,
                        (1.0 - k / q + k * k) / a0};
    k = std::tan(pi * 38.13547087602444 / rate), q = 0.5003270373238773;
    a0 = 1.0 + k / q + k * k;
    const Section highPass{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    const size_t frames = interleaved.size() / 2;
    std::vector<double> squares(frames, 0.0);  // both channels' weighted squares, summed
    for (int channel = 0; channel < 2; ++channel) {
        double s[2][4] = {};  // x1, x2, y1, y2 of each section
        for (size_t n = 0; n < frames; ++n) {
            double x = interleaved[2 * n + size_t(channel)] / 8388608.0;
            int i = 0;
            for (const Section& f : {shelf, highPass}) {
                const double y =
                    f.b0 * x + f.b1 * s[i][0] + f.b2 * s[i][1] - f.a1 * s[i][2] - f.a2 * s[i][3];
                s[i][1] = s[i][0], s[i][0] = x, s[i][3] = s[i][2], s[i][2] = y;
                x = y, ++i;
            }
            squares[n] += x * x;
        }
    }
    std::vector<double> blocks;
    const size_t block = 38400, step = 9600;
    for (size_t start = 0; start + block <= frames; start += step) {
        double sum = 0.0;
        for (size_t n = start; n < start + block; ++n) sum += squares[n];
        blocks.push_back(sum / double(block));
    }
    auto loudness = [](double power) { return -0.691 + 10.0 * std::log10(power); };
    auto gatedMean = [&](double gate) {
        double sum = 0.0;
        int count = 0;
        for (double power : blocks)
            if (loudness(power) > gate) sum += power, ++count;
        return sum / count;
    };
    return loudness(gatedMean(loudness(gatedMean(-70.0)) - 10.0));
}

// Loudness matching by an independent measure, on white noise through the
// example second-order error (a bell of +1.6 dB at 15 kHz), which the
// K-weighting hears louder than its RMS says.
TEST(ListenExport, LoudnessMatchHoldsByAnIndependentMeasure) {
    ListenFolder folder;
    std::vector<int32_t> noise;
    uint64_t state = 7;
    for (int n = 0; n < 2 * 3 * 96000; ++n) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        noise.push_back(int32_t(int64_t(state >> 44) - (1 << 19)));  // about -21 dBFS
    }
    WriteWave(folder.dir.File("rec.wav"), noise);
    for (const ErrorStage& stage : ErrorStages)
        fs::copy_file(
            PHONOSKEW_SOURCE_DIR "/examples/coefficients/" + std::string(stage.CoefficientFile),
            folder.dir.path / stage.CoefficientFile);
    ASSERT_EQ(RunPiped(PhonoskewIn(folder.dir.path), "rec.wav\r").exitStatus, 0);
    const std::string out = folder.dir.File("pairs");
    fs::create_directory(out);
    const Child run = RunPiped(folder.Listen({"--export", out, "rec.wav", "2"}), "");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const double before = IntegratedLoudness(WaveSamples(folder.dir.File("rec RIAA error 2.wav"))) -
                          IntegratedLoudness(WaveSamples(folder.dir.File("rec.wav")));
    EXPECT_GT(before, 0.1);  // B louder by this much unmatched
    const double a = IntegratedLoudness(WaveSamples(out + "/rec RIAA reference 2.wav"));
    const double b = IntegratedLoudness(WaveSamples(out + "/rec RIAA error 2.wav"));
    EXPECT_LT(std::fabs(a - b), 0.01) << a << " " << b;
    EXPECT_NE(run.out.find("matched: B lowered"), std::string::npos) << run.out;
}

// ---- What a session plays --------------------------------------------------------------

// A stretch of played frames from one side at successive positions.
struct PlayedRun {
    Side side;
    int64_t first, last;  // positions
    int64_t at, length;   // where in the played stream
};

// Splits what was played into runs of A (the reference of a ramp: 8n and
// -8n, give or take the dither's step) and B (8n + BOffset, exactly);
// frames that are neither (fades) or runs too short to be sure are left out.
std::vector<PlayedRun> PlayedRuns(const std::vector<int32_t>& played) {
    std::vector<PlayedRun> runs;
    for (size_t i = 0; i + 1 < played.size(); i += 2) {
        const int32_t left = played[i] / 256, right = played[i + 1] / 256;
        Side side = left >= BOffset ? Side::B : Side::A;
        const int32_t base = side == Side::B ? BOffset : 0;
        const int64_t n = std::lround((left - base) / 8.0);
        const bool exact = side == Side::B
                               ? left == 8 * n + base && right == -left
                               : std::abs(left - 8 * n) <= 1 && std::abs(right + 8 * n) <= 1;
        if (!exact || played[i] % 256 != 0 || (left == 0 && right == 0)) continue;
        const int64_t at = int64_t(i / 2);
        if (!runs.empty() && runs.back().side == side && runs.back().last + 1 == n &&
            runs.back().at + runs.back().length == at) {
            runs.back().last = n;
            ++runs.back().length;
        } else {
            runs.push_back({side, n, n, at, 1});
        }
    }
    std::erase_if(runs, [](const PlayedRun& run) { return run.length < 200; });
    return runs;
}

std::vector<int32_t> ReadPlayed(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<int32_t> played(bytes.size() / 4);
    std::memcpy(played.data(), bytes.data(), played.size() * 4);
    return played;
}

// X of each trial for a seed: the top bit of the random source's state.
std::vector<Side> ExpectedXs(uint32_t seed, int trials) {
    std::vector<Side> xs;
    for (int t = 0; t < trials; ++t) {
        seed = seed * 134775813u + 1u;
        xs.push_back(seed >= 0x80000000u ? Side::B : Side::A);
    }
    return xs;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A ramp recording two seconds long, and an output 1 the ramp raised by
// BOffset: every played frame tells its side and position.
void WriteRampPair(const ListenFolder& folder) {
    WriteWave(folder.dir.File("rec.wav"), Ramp(192000, 0));
    WriteWave(folder.dir.File("rec RIAA error 1.wav"), Ramp(192063, BOffset));
}

TEST(ListenSession, PlaysEachSideAtTheSamePlaceThroughTheCrossfade) {
    ListenFolder folder;
    WriteRampPair(folder);
    const uint32_t seed = 5;
    Child child =
        StartInPseudoTerminal(folder.Listen({"--match", "none", "--seed", std::to_string(seed),
                                             "--trials", "2", "rec.wav"}),
                              40, 100);
    ChildGuard guard{child};
    ASSERT_TRUE(WaitForOutput(child, "Trial 1 of 2 (output 1)")) << child.out;
    for (const char* keys : {"a", "b", "x", "1"}) {
        SendKeys(child, keys);
        Pause(300);
    }
    ASSERT_TRUE(WaitForOutput(child, "Trial 2 of 2")) << child.out;
    SendKeys(child, "x");
    Pause(300);
    SendKeys(child, "2");
    ASSERT_TRUE(WaitForExit(child)) << child.out;
    EXPECT_EQ(child.exitStatus, 0);

    const std::vector<Side> xs = ExpectedXs(seed, 2);
    const std::vector<int32_t> played = ReadPlayed(folder.Played());
    const std::vector<PlayedRun> runs = PlayedRuns(played);
    ASSERT_EQ(runs.size(), 4u);
    const Side sides[] = {Side::A, Side::B, xs[0], xs[1]};
    for (size_t r = 0; r < runs.size(); ++r) {
        EXPECT_EQ(runs[r].side, sides[r]) << r;
        // Each run takes up where the last left off, the fade's frames between.
        const int64_t expectedFirst = r == 0 ? Fade : runs[r - 1].last + 1 + Fade;
        EXPECT_EQ(runs[r].first, expectedFirst) << r;
    }
    // The first two switches are straight crossfades of 768 frames: sin in,
    // cos out, at the positions they pass.
    for (size_t r = 1; r < 3; ++r) {
        EXPECT_EQ(runs[r].at - (runs[r - 1].at + runs[r - 1].length), Fade) << r;
        const int64_t p = runs[r - 1].last + 1, at = runs[r - 1].at + runs[r - 1].length;
        for (int k = 0; k < Fade; ++k) {
            const double angle = std::numbers::pi / 2 * (k + 0.5) / Fade;
            const double from = 8.0 * (p + k) + (runs[r - 1].side == Side::B ? BOffset : 0);
            const double to = 8.0 * (p + k) + (runs[r].side == Side::B ? BOffset : 0);
            const double expected = 256.0 * (std::cos(angle) * from + std::sin(angle) * to);
            ASSERT_NEAR(played[2 * (at + k)], expected, 2 * 256.0) << r << " " << k;
        }
    }
    const std::string x1 = xs[0] == Side::A ? "A" : "B", x2 = xs[1] == Side::A ? "A" : "B";
    EXPECT_NE(child.out.find("X was:       " + x1 + " " + x2), std::string::npos) << child.out;
    const int right = (xs[0] == Side::A) + (xs[1] == Side::B);
    EXPECT_NE(child.out.find(VerdictSentence(right, 2)), std::string::npos) << child.out;
}

TEST(ListenSession, LoopHoldsCtrlZSuspendsAndCtrlCEndsWithTheScoreLoggedAndTheTerminalBack) {
    ListenFolder folder;
    WriteRampPair(folder);
    Child child =
        StartInPseudoTerminal(folder.Listen({"--match", "none", "--seed", "9", "--trials", "3",
                                             "--from", "0.5", "--to", "0.6", "rec.wav", "1"}),
                              40, 100);
    ChildGuard guard{child};
    ASSERT_TRUE(WaitForOutput(child, "Trial 1 of 3")) << child.out;
    SendKeys(child, "b");
    Pause(250);
    // Ctrl-Z stops it with the terminal put back; fg takes it up again.
    SendKeys(child, "\x1a");
    ASSERT_TRUE(WaitForStop(child)) << child.out;
    termios stopped{};
    ASSERT_EQ(tcgetattr(child.slave, &stopped), 0);
    EXPECT_EQ(stopped.c_lflag, child.initialModes.c_lflag);
    kill(child.pid, SIGCONT);
    Pause(250);
    SendKeys(child, "2");
    ASSERT_TRUE(WaitForOutput(child, "Trial 2 of 3")) << child.out;
    SendKeys(child, "\x03");
    ASSERT_TRUE(WaitForExit(child)) << child.out;
    EXPECT_EQ(child.exitStatus, 0);
    termios modes{};
    ASSERT_EQ(tcgetattr(child.slave, &modes), 0);
    EXPECT_EQ(modes.c_lflag, child.initialModes.c_lflag);

    const Side x = ExpectedXs(9, 1)[0];
    EXPECT_NE(child.out.find("Output 1: ended after 1 of 3 trials."), std::string::npos)
        << child.out;
    EXPECT_NE(child.out.find(VerdictSentence(x == Side::B, 1)), std::string::npos) << child.out;
    // The loop: B from 0.5 s to 0.6 s, over and over.
    const std::vector<PlayedRun> runs = PlayedRuns(ReadPlayed(folder.Played()));
    ASSERT_GE(runs.size(), 3u);
    for (const PlayedRun& run : runs) {
        EXPECT_EQ(run.side, Side::B);
        EXPECT_GE(run.first, 48000);
        EXPECT_LE(run.last, 57600 + Fade);
    }
    EXPECT_EQ(runs[1].first, 48000 + Fade);
    // One line for the one trial answered.
    const std::string log = ReadFileBytes(folder.dir.File("rec RIAA listening.log"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find(std::string(" output 1 gains A +0.000 dB B +0.000 dB trial 1 X ") +
                       (x == Side::A ? "A answer B wrong" : "B answer B right") +
                       " plays A 0 B 1 X 0 time "),
              std::string::npos)
        << log;
}

// At another rate both sides go through the resampler: A's ramp, 8 a frame
// at 96 kHz, comes out of the device 16 a frame at 48 kHz, at its level,
// its channels still opposite.
TEST(ListenSession, AnotherRatePlaysTheResampledSides) {
    ListenFolder folder;
    WriteRampPair(folder);
    Child child = StartInPseudoTerminal(folder.Listen({"--match", "none", "--seed", "1", "--trials",
                                                       "1", "--rate", "48000", "rec.wav"}),
                                        40, 100);
    ChildGuard guard{child};
    ASSERT_TRUE(WaitForOutput(child, "As asked, both sides are resampled to 48000 Hz alike"))
        << child.out;
    ASSERT_TRUE(WaitForOutput(child, "Trial 1 of 1")) << child.out;
    SendKeys(child, "a");
    Pause(500);
    SendKeys(child, "q");
    ASSERT_TRUE(WaitForExit(child)) << child.out;

    const std::vector<int32_t> played = ReadPlayed(folder.Played());
    size_t first = 0;  // the first frame of sound
    while (first < played.size() && played[first] == 0) first += 2;
    const size_t from = first + 2 * 1000, frames = 8000;  // past the fade in
    ASSERT_LT(from + 2 * frames, played.size()) << played.size() / 2 << " frames played";
    for (size_t k = 0; k < frames; ++k) {
        const double left = played[from + 2 * k] / 256.0, right = played[from + 2 * k + 1] / 256.0;
        const double expected = played[from] / 256.0 + 16.0 * double(k);
        ASSERT_NEAR(left, expected, 3.0) << k;
        ASSERT_NEAR(right, -left, 3.0) << k;
    }
}

TEST(ListenDevices, ListsTheDefaultDeviceWithoutTheLibrariesChatter) {
    ListenFolder folder;
    const Child run = RunPiped(folder.Listen({"--list-devices"}), "");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("  0  default  (default)\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

}  // namespace
