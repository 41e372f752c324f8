// Blind listening (phonoskew-listen): an ABX test of each of Phonoskew's
// error outputs of a recording against a reference that differs from it by
// the error filter alone. The reference for output N is the recording
// through a one-tap identity filter with output N's own dither draws,
// computed by the program's stage engine, so it is byte for byte output N of
// a Phonoskew run with the identity set. This folder owns: the command line;
// finding and checking the outputs by Phonoskew's own names; the reference;
// level matching (integrated loudness with libebur128, or RMS); the pure
// playback logic (position, loop, pause and the equal-power crossfade of a
// switch, over plain arrays); the trials' draws, the binomial verdict and the
// listening log; the exported pairs; the report of what each error did to the
// recording; and the thin layer over PortAudio and libsoxr that plays. The
// steps give back values and failures for the main to print; only the
// session writes to the terminal.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

// ---- Command line -----------------------------------------------------------------

enum class ListenAction {
    Session,      // the ABX test through the sound device
    Work,         // --write-reference, --export or --report: no session
    ListDevices,  // --list-devices
    Help,         // ListenHelpText on standard output, status 0
    Version,      // status 0
    Refuse,       // Problem on standard error, status 2
};

enum class LevelMatch { Loudness, Rms, None };

struct ListenCommand {
    ListenAction Action = ListenAction::Session;
    std::string Recording;
    std::vector<int> Outputs;  // 1 to 4, in the order given; empty for all that exist
    LevelMatch Match = LevelMatch::Loudness;
    int Trials = 16;
    bool HasSeed = false;
    uint32_t Seed = 0;
    double FromSeconds = 0.0;  // the loop range; ToSeconds 0 for the end
    double ToSeconds = 0.0;
    std::string Device;  // "" for the default; a name or a number
    double Rate = 0.0;   // the rate to play at; 0: 96 kHz, or the device's own
    bool WriteReference = false;
    std::string ExportFolder;  // "" for none
    bool Report = false;
    std::string Problem;  // one line, ending in a newline, naming what is wrong and --help
};

// Options anywhere, as getopt_long permutes them; "--" ends them.
ListenCommand ParseListenCommand(int argc, const char* const* argv);
std::string ListenHelpText();

// ---- The recording and its outputs ---------------------------------------------------

// Output n's file names beside the recording (n from 1 to 4).
std::string ErrorOutputName(const std::string& recording, int n);
std::string ReferenceOutputName(const std::string& recording, int n);
// "NAME RIAA listening.log" beside the recording.
std::string ListeningLogName(const std::string& recording);
// The same names in another folder, for --export.
std::string NameInFolder(const std::string& folder, const std::string& path);

// A recording Phonoskew accepted, held packed as read: 6 bytes a frame,
// the frames the file lacks as silence, as Phonoskew reads them.
struct Recording {
    std::string Path;
    WaveInfo Info;
    std::vector<uint8_t> Packed;
};

// Reads and checks the recording; "" or why it cannot be used.
std::string LoadRecording(const std::string& path, Recording& recording);

// One output found beside the recording, with its samples as packed bytes.
struct ErrorOutput {
    int Number = 0;  // 1 to 4
    std::string Path;
    std::vector<uint8_t> Packed;  // 6 bytes a frame, frames + 63 frames
};

// The outputs asked for (all that exist when `numbers` is empty), each
// checked to be an output of this recording: Phonoskew's format and
// frames + 63 frames. "" or a message naming the file and what is wrong.
std::string FindErrorOutputs(const Recording& recording, const std::vector<int>& numbers,
                             std::vector<ErrorOutput>& outputs);

// What an output file's header and length say against the recording's
// frame count: "" when it belongs to it, else what is wrong.
std::string CheckOutputFile(const std::string& path, int32_t recordingFrames);

// Output n's reference: the recording through the identity set with output
// n's dither draws, frames + 63 frames packed as Phonoskew packs them.
std::vector<uint8_t> ComputeReference(const Recording& recording, int n);

// The first dither draw of output n for a recording of `frames` frames.
RandomSource DitherSourceOfOutput(int32_t frames, int n);

// ---- Levels ------------------------------------------------------------------------

// A side's samples in 24-bit steps, interleaved, left first.
std::vector<float> DecodeSide(const std::vector<uint8_t>& packed);

struct SideLevels {
    double LoudnessLufs = 0.0;  // integrated loudness (ITU-R BS.1770)
    double RmsDb = 0.0;         // both channels, dB below a full-scale square wave
    double SamplePeakDb = 0.0;  // dBFS
    double TruePeakDb = 0.0;    // dBTP (4x oversampled, as libebur128 measures)
};

// The levels of a stereo side at `rate`; the true peak (the slowest
// measure by far) only when asked for.
SideLevels MeasureLevels(const std::vector<float>& side, double rate, bool truePeak = false);

// The gains of A and B in dB, the louder side lowered to the other.
struct MatchedGains {
    double ADb = 0.0;
    double BDb = 0.0;
    double DifferenceDb = 0.0;  // B's level less A's, before matching
};
MatchedGains MatchGains(const SideLevels& a, const SideLevels& b, LevelMatch match);

// "B is 0.085 dB quieter; matched by lowering A 0.085 dB", and the like.
std::string DescribeMatch(const MatchedGains& gains, LevelMatch match);

inline double DbToFactor(double db) { return std::pow(10.0, db / 20.0); }

// ---- Playback logic ------------------------------------------------------------------
// Pure functions over arrays: the sound device only takes what they give.

// What plays: A, B, or silence (paused).
enum class Side { A, B, Silent };

// The crossfade of every switch, pause and loop turn: 8 ms.
constexpr double FadeSeconds = 0.008;
int FadeFrames(double rate);

// Equal-power weights of frame k of a fade of `length` frames: the side
// fading in gets sin, the side fading out cos, of pi/2 x (k + 0.5)/length.
void FadeWeights(int k, int length, float& in, float& out);

struct Player {
    const float* SideA = nullptr;  // interleaved stereo, gains applied
    const float* SideB = nullptr;
    int64_t Frames = 0;
    int64_t LoopFrom = 0;  // the loop range [LoopFrom, LoopTo)
    int64_t LoopTo = 0;
    int FadeLength = 1;
    Side Playing = Side::Silent;
    int64_t Position = 0;  // the next frame of what plays
    // A fade under way: what fades out and from where, and how far it is.
    Side Fading = Side::Silent;
    int64_t FadingPosition = 0;
    int FadeDone = 0;  // frames of the fade made; FadeLength when none is under way
};

// A player at frame 0, silent, its loop the whole length (or [from, to)).
Player StartPlayer(const float* a, const float* b, int64_t frames, int fadeLength);
void SetLoop(Player& player, int64_t from, int64_t to);
// Starts a crossfade to `side` at the same position; a switch to the side
// that plays fades too, so that no switch sounds unlike another.
void SwitchTo(Player& player, Side side);
// The next `frames` frames, interleaved stereo, into `out`.
void RenderFrames(Player& player, float* out, int64_t frames);
// A rendered sample (24-bit steps) as the 32-bit integer the device takes.
int32_t DeviceSample(float value);

// ---- Trials and the verdict --------------------------------------------------------------

// X of each trial, drawn from the source seeded with `seed`.
std::vector<Side> DrawTrials(uint32_t seed, int trials);

// The chance of `right` or more right answers in `trials` by guessing.
double BinomialPValue(int right, int trials);
// "12 of 16 right: p = 0.038, unlikely to be chance"
std::string VerdictSentence(int right, int trials);

struct TrialRecord {
    int Output = 0;
    MatchedGains Gains;
    int Trial = 0;
    Side X = Side::A;
    Side Answer = Side::A;
    std::array<int, 3> Plays{};  // switches to A, B and X
    double Seconds = 0.0;        // from the trial's start to the answer
};
// One line of the listening log (no newline).
std::string LogLine(const std::string& when, const TrialRecord& record);

// ---- Files for other tools ---------------------------------------------------------

// A side with a gain applied, as 24-bit packed samples: the bytes unchanged
// for 0 dB, else gained and dithered with the program's triangular dither
// from `random`.
std::vector<uint8_t> ApplyGain(const std::vector<uint8_t>& packed, double gainDb,
                               RandomSource& random);

// Writes a 24-bit 96 kHz WAVE file of `packed` unless `path` exists.
// "" or why not.
std::string WriteNewWave(const std::string& path, const WaveInfo& info,
                         const std::vector<uint8_t>& packed);

// ---- Report --------------------------------------------------------------------------

constexpr int OctaveBands = 11;  // 31.5 Hz to 32 kHz
double OctaveBandHz(int band);
// Each octave band's mean power of a stereo side at 96 kHz.
std::array<double, OctaveBands> BandPowers(const std::vector<float>& side);
// Power of (b - a) below the power of a, in dB (negative).
double NullDepthDb(const std::vector<float>& a, const std::vector<float>& b);

struct OutputReport {
    int Output = 0;
    SideLevels Reference, Error;
    std::array<double, OctaveBands> BandChangeDb{};
    double NullDb = 0.0;
};
OutputReport ReportOutput(int n, const std::vector<float>& reference,
                          const std::vector<float>& error);
std::string ReportTable(const std::vector<OutputReport>& reports);
// The band changes as points over the plot of the error filter's taps.
std::string ReportSvg(const OutputReport& report, const CoefficientSet* taps,
                      const std::string& title);

// ---- The sound device ----------------------------------------------------------------
// PortAudio (ALSA on Linux; WASAPI or WinMM on Windows), with the libraries'
// start-up chatter on standard error held away from the screen.

struct SoundDevice {
    void* Stream = nullptr;  // PortAudio's stream
    int Index = -1;
    std::string Name;
    double Rate = 0.0;         // what it plays at
    int64_t Written = 0;       // frames handed to it since the clock's start
    int64_t ClockStartMs = 0;  // when Written was 0
    int64_t AheadFrames = 0;   // how far writing may run ahead of the clock
};

// One line a device that can play stereo: "  N  NAME  (default)"; "" and a
// failure when the sound system cannot start.
std::string ListSoundDevices(std::string& listing);
// Opens `choice` ("" for the default device; a number as listed, or a
// name) for stereo 32-bit output at `rate`; with `rate` 0 at 96 kHz, or at
// its own rate when it cannot take 96 kHz. "" or why not.
std::string OpenSoundDevice(const std::string& choice, double rate, SoundDevice& device);
// Writes interleaved frames; the device (or, for a device that takes
// frames faster than it plays them, this) holds the writer back to the
// rate at which they play.
std::string WriteToDevice(SoundDevice& device, const int32_t* frames, int64_t count);
// How long until the device wants more frames, in milliseconds (0: now).
int MillisecondsUntilWanted(const SoundDevice& device);
// Stops and starts the stream, for a suspend.
void StopDevice(SoundDevice& device);
void RestartDevice(SoundDevice& device);
void CloseSoundDevice(SoundDevice& device);

// A stereo side resampled from `from` to `to` Hz with libsoxr at its high
// quality; both sides go through it alike.
std::vector<float> ResampleSide(const std::vector<float>& side, double from, double to);

// ---- The session ---------------------------------------------------------------------

// One output's test: its sides at the device's rate and what is known of it.
struct SessionOutput {
    int Output = 0;
    std::vector<float> A, B;  // interleaved stereo at the device's rate, gains applied
    MatchedGains Gains;
    std::vector<Side> Xs;  // each trial's X, hidden until the end
};

struct SessionRequest {
    double FromSeconds = 0.0, ToSeconds = 0.0;  // the loop range; ToSeconds 0 for the end
    std::string LogPath;
    bool KeysFromTerminal = false;  // Ctrl-Z suspends only then
};

struct SessionOutcome {
    std::vector<TrialRecord> Records;
    bool EndedEarly = false;  // q, Ctrl-C or the end of the keys
    std::string Failure;      // the device failed
};

// Runs the trials of one output with the keys of standard input, writing
// its lines to standard output and each answer to the log.
SessionOutcome RunSession(SoundDevice& device, const SessionOutput& output,
                          const SessionRequest& request);
// The end of one output's test: X of each trial, the answers, the verdict.
std::string SessionSummary(const SessionOutput& output, const SessionOutcome& outcome);

// Output n's report against its reference, with its plot written as
// 'NAME RIAA report N.svg' beside the recording (never over a file there);
// `note` gets the plot's line for the user.
OutputReport WriteReport(const Recording& recording, const std::vector<float>& reference,
                         const std::vector<float>& error, int n, std::string& note);
// A side as it plays: the gain applied and, for a device of another rate,
// resampled to it.
std::vector<float> PlayedSide(std::vector<float> side, double gainDb, double rate);
