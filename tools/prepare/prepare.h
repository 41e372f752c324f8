// Preparing a recording for Phonoskew (phonoskew-prepare): reads a recording
// in any common form (WAVE of every layout, RF64, FLAC, AIFF; any rate; mono
// or stereo, or more channels folded to stereo on request) with libsndfile,
// resamples it to 96 kHz with libsoxr and writes the one form Phonoskew
// accepts, stereo 24-bit PCM at 96 kHz with the plain 44-byte header, with
// the program's own dither. By default the level is lowered just enough that
// neither the file nor any of the four error filters' outputs would clip or
// peak above full scale between its samples; a file already in that form
// that needs no gain keeps its samples exactly. The recording is read and
// resampled once, block by block, in bounded memory: the resampled signal
// waits in a scratch file beside the output while the gain is found. The
// steps give back their results and failures as values for the main to
// print; only the conversion's progress line goes to standard error from
// here.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filters/filters.h"

// ---- Command line -----------------------------------------------------------------

enum class PrepareAction {
    Convert,  // IN to OUT
    Help,     // PrepareHelpText on standard output, status 0
    Version,  // status 0
    Refuse,   // Problem on standard error, status 2
};

struct PrepareCommand {
    PrepareAction Action = PrepareAction::Convert;
    std::string Input;
    std::string Output;    // "" for the default name beside the input
    bool HasGain = false;  // --gain given: no headroom search
    double GainDb = 0.0;
    bool SamplePeak = false;  // --sample-peak: headroom on samples alone
    bool Downmix = false;     // --downmix: more than two channels folded to stereo
    std::string Problem;      // one line, ending in a newline, naming what is wrong and --help
};

// Options anywhere, as getopt_long permutes them; the first of --help,
// --version or a bad option decides. "--gain DB" or "--gain=DB", DB from
// -100 to 20; --sample-peak; --downmix; "--" ends the options; then one or
// two paths.
PrepareCommand ParsePrepareCommand(int argc, const char* const* argv);

// The help text; `exampleFolder` is where the example sets were found ("" for
// nowhere), named where the headroom is explained.
std::string PrepareHelpText(const std::string& exampleFolder);

// ---- Coefficient sets of the headroom --------------------------------------------

struct HeadroomSet {
    std::string Folder;  // "" for the current folder
    std::string Name;    // FO.dat, SO.dat, FOP.dat, SOP.dat
    CoefficientSet Taps{};
};
using HeadroomSets = std::array<HeadroomSet, 4>;

// The folder of the installed example sets: share/phonoskew/examples/
// coefficients beside the program's bin folder, else where the build meant
// to install them, else the source tree's (a program run from its build
// folder). "" when none holds FO.dat.
std::string FindExampleFolder();

struct HeadroomSetLoad {
    HeadroomSets Sets;
    std::string Failure;  // "" or "NAME: why it could not be had"
};

// Each set as Phonoskew would read it from the current folder, or the
// example set of that name when the current folder lacks it.
HeadroomSetLoad LoadHeadroomSets(const std::string& exampleFolder);

// "FO.dat, SO.dat, FOP.dat and SOP.dat in the current folder", or each set's
// path when they come from different folders.
std::string DescribeHeadroomSets(const HeadroomSets& sets);

// ---- Peaks and the gain ---------------------------------------------------------------

// The four-times oversampling interpolator of the true peak: three phases
// (a quarter, a half and three quarters of a sample on) of 12 taps each.
constexpr int InterpolatorTaps = 12;
// Samples each window reaches before (5) and after (6) the point it gives.
constexpr int InterpolatorBefore = 5;
using InterpolatorPhases = std::array<double, 3 * InterpolatorTaps>;
InterpolatorPhases MakeInterpolatorPhases();
// The largest sum of one phase's tap magnitudes: how far it can carry a
// value between samples beyond the largest sample it reads.
double InterpolatorMagnitude(const InterpolatorPhases& taps);
// The largest magnitude between samples of windows 0 to count - 1, window i
// being values[i] to values[i + 11]: values holds 11 samples more than count.
double LargestBetweenSamples(const double* values, int64_t count, const InterpolatorPhases& taps);

// The largest magnitudes of a stereo signal (in 24-bit steps) and of its
// four filtered forms, the whole convolution with each set, tail included,
// computed in float64 on the vector unit as the program's fast filter does;
// and, unless only sample peaks are wanted, the same between samples (the
// true peak, four times oversampled), counting the samples themselves.
struct PeakMeter {
    std::array<CoefficientSet, 4> Taps{};
    std::array<double, 4> Magnitudes{};  // each set's sum of tap magnitudes
    // The channel measured (0 left, 1 right), or -1 for both: a meter for
    // each channel can measure one block on two threads at once.
    int Channel = -1;
    bool TruePeak = true;
    InterpolatorPhases Phases{};
    double Carry = 1.0;  // InterpolatorMagnitude(Phases)
    double SignalPeak = 0.0;
    std::array<double, 4> FilteredPeaks{};
    double SignalTruePeak = 0.0;
    std::array<double, 4> FilteredTruePeaks{};
    std::array<std::vector<double>, 2> History;  // each channel's last 63 samples
    // Each filtered form's last 11 outputs, channel by channel.
    std::array<std::array<std::vector<double>, 2>, 4> FilteredHistory;
};

PeakMeter StartPeakMeter(const HeadroomSets& sets, bool truePeak);
// Takes the next frames, interleaved, left first.
void MeasurePeaks(PeakMeter& meter, std::span<const double> interleaved);
// After the last frames: the filters' 63-frame tails and the silence the
// interpolator reads beyond them.
void FinishPeaks(PeakMeter& meter);
// The peaks of both, as one meter of both channels would have found them.
void CombinePeaks(PeakMeter& meter, const PeakMeter& other);

// The gain in dB, never above 0 and rounded down to a hundredth, at which
// every measured sample peak stays below full scale with room for
// Phonoskew's dither and, when `dithered`, for this tool's own dither and
// rounding as each filter passes them on; and every true peak measured at
// or below full scale with the same room carried between samples.
double HeadroomGainDb(const PeakMeter& meter, bool dithered);

// ---- Folding channels to stereo ---------------------------------------------------------

// Each input channel's weight in the left and in the right output.
using StereoWeights = std::array<std::vector<double>, 2>;

struct DownmixPlan {
    StereoWeights Weights;
    std::string Description;  // "6 channels, L R C LFE BL BR, to stereo with ..."
    std::string Problem;      // "" or why the channels cannot be folded
};

// The ITU-R BS.775 fold-down to stereo of channels at the positions
// `positions` (libsndfile's SF_CHANNEL_MAP_ values): a front channel to its
// side, the centre and each surround at -3 dB (a back centre at -6 dB on
// both sides), the LFE left out. Positions the file does not state (all
// SF_CHANNEL_MAP_INVALID) are the usual order of WAVE and FLAC for 3 to 8
// channels: L R C LFE, then the surrounds.
DownmixPlan PlanDownmix(const std::vector<int>& positions);

// ---- The conversion --------------------------------------------------------------------

struct PrepareRequest {
    std::string Input;
    std::string Output;
    bool HasGain = false;  // GainDb as given; else the headroom of `Sets`
    double GainDb = 0.0;
    HeadroomSets Sets;
    bool SamplePeak = false;    // the headroom on sample peaks alone
    bool Downmix = false;       // more than two channels folded to stereo
    bool ShowProgress = false;  // each pass's progress on standard error for long files
};

struct PrepareResult {
    std::string Failure;  // "" or "PATH: reason", PATH the input's or the output's
    std::string Source;   // what the input is: "FLAC ..., Signed 16 bit PCM, 44100 Hz, 2 channels"
    int SourceRate = 0;
    double GainDb = 0.0;        // applied
    bool Copied = false;        // the samples kept exactly: no resampling, gain or dither
    bool Resampled = false;     // from SourceRate
    int64_t Frames = 0;         // written, at 96 kHz
    int64_t Clipped = 0;        // samples clipped to the 24-bit range (only with a gain above 0 dB)
    std::string Downmix;        // "" or how the channels were folded to stereo
    int64_t MissingFrames = 0;  // frames the header promises that the file lacks (cut short)
    int64_t DeclaredFrames = 0;
};

// Reads the input, finds or applies the gain and writes the output whole
// (replacing it, never leaving half a file, nor the scratch file).
PrepareResult PrepareRecording(const PrepareRequest& request);
