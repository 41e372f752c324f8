// Preparing a recording for Phonoskew (phonoskew-prepare): reads a recording
// in any common form (WAVE of every layout, RF64, FLAC, AIFF; any rate; mono
// or stereo) with libsndfile, resamples it to 96 kHz with libsoxr and writes
// the one form Phonoskew accepts, stereo 24-bit PCM at 96 kHz with the plain
// 44-byte header, through the program's own WAVE writer, with triangular
// dither. By default the level is lowered just enough that none of the four
// error filters' outputs would clip; a file already in that form that needs
// no gain keeps its samples exactly. The steps give back their results and
// failures as values for the main to print; only the conversion's progress
// line goes to standard error from here.
#pragma once

#include <array>
#include <cstdint>
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
    std::string Problem;  // one line, ending in a newline, naming what is wrong and --help
};

// Options anywhere, as getopt_long permutes them; the first of --help,
// --version or a bad option decides. "--gain DB" or "--gain=DB", DB from
// -100 to 20; "--" ends the options; then one or two paths.
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

// The largest magnitudes of a stereo signal (in 24-bit steps) and of its
// four filtered forms, the whole convolution with each set, tail included,
// computed in float64 on the vector unit as the program's fast filter does.
struct PeakMeter {
    std::array<CoefficientSet, 4> Taps{};
    double SignalPeak = 0.0;
    std::array<double, 4> FilteredPeaks{};
    std::array<std::vector<double>, 2> History;  // each channel's last 63 samples
};

PeakMeter StartPeakMeter(const HeadroomSets& sets);
// Takes the next `frames` interleaved frames, left first.
void MeasurePeaks(PeakMeter& meter, const double* interleaved, int64_t frames);
// After the last frames: the filters' 63-frame tails.
void FinishPeaks(PeakMeter& meter);

// The gain in dB, never above 0 and rounded down to a hundredth, at which
// every measured peak stays below full scale with room for Phonoskew's
// dither and, when `dithered`, for this tool's own dither and rounding as
// each filter passes them on.
double HeadroomGainDb(const PeakMeter& meter, bool dithered);

// ---- The conversion --------------------------------------------------------------------

struct PrepareRequest {
    std::string Input;
    std::string Output;
    bool HasGain = false;  // GainDb as given; else the headroom of `Sets`
    double GainDb = 0.0;
    HeadroomSets Sets;
    bool ShowProgress = false;  // a percentage on standard error for long files
};

struct PrepareResult {
    std::string Failure;  // "" or "PATH: reason", PATH the input's or the output's
    std::string Source;   // what the input is: "FLAC ..., Signed 16 bit PCM, 44100 Hz, 2 channels"
    int SourceRate = 0;
    double GainDb = 0.0;     // applied
    bool Copied = false;     // the samples kept exactly: no resampling, gain or dither
    bool Resampled = false;  // from SourceRate
    int64_t Frames = 0;      // written, at 96 kHz
    int64_t Clipped = 0;     // samples clipped to the 24-bit range (only with a gain above 0 dB)
};

// Reads the input, finds or applies the gain and writes the output whole
// (replacing it, never leaving half a file).
PrepareResult PrepareRecording(const PrepareRequest& request);
