// The headroom: which coefficient sets it is computed for, the peaks of the
// signal through each, and the gain that keeps them all below full scale.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>

#include "filters/certificate.h"
#include "filters/stages.h"
#include "prepare/prepare.h"
#include "system/files.h"
#include "wave/dither.h"

namespace fs = std::filesystem;

// ---- Coefficient sets -----------------------------------------------------------------

namespace {

bool HoldsExampleSets(const std::string& folder) {
    std::error_code error;
    return fs::is_regular_file(FileSystemPath(folder) / ErrorStages[0].CoefficientFile, error);
}

// The set `name` in `folder` ("" for the current one), read as Phonoskew reads
// it; "" or why it could not be.
std::string LoadSet(const std::string& folder, const std::string& name, HeadroomSet& set) {
    const std::string path = folder.empty() ? name : folder + "/" + name;
    std::error_code error;
    if (!fs::is_regular_file(FileSystemPath(path), error)) return path + ": not a regular file";
    const CoefficientLoad load = LoadCoefficients(path);
    if (!load.Opened) return path + ": " + std::strerror(load.Error);
    set.Folder = folder;
    set.Name = name;
    set.Taps = load.Values;
    return "";
}

}  // namespace

// Beside the program first, so that an install moved by --prefix or DESTDIR
// finds its own sets; the source tree last, for a program run where it was
// built.
std::string FindExampleFolder() {
    const std::string program = ProgramFile();
    if (!program.empty()) {
        const fs::path beside =
            FileSystemPath(program).parent_path() / FileSystemPath(PHONOSKEW_EXAMPLES_FROM_BIN);
        const std::string folder = PathText(beside.lexically_normal());
        if (HoldsExampleSets(folder)) return folder;
    }
    for (const char* folder : {PHONOSKEW_EXAMPLES_INSTALLED, PHONOSKEW_EXAMPLES_SOURCE}) {
        if (HoldsExampleSets(folder)) return folder;
    }
    return "";
}

HeadroomSetLoad LoadHeadroomSets(const std::string& exampleFolder) {
    HeadroomSetLoad load;
    for (int n = 0; n < StageCount; ++n) {
        const std::string name = ErrorStages[n].CoefficientFile;
        std::error_code error;
        const bool here = fs::exists(name, error);
        if (!here && exampleFolder.empty()) {
            load.Failure = name + ": not in the current folder, and no example sets were found";
            return load;
        }
        const std::string problem = LoadSet(here ? "" : exampleFolder, name, load.Sets[n]);
        if (!problem.empty()) {
            load.Failure = problem;
            return load;
        }
    }
    return load;
}

std::string DescribeHeadroomSets(const HeadroomSets& sets) {
    const bool oneFolder = std::all_of(sets.begin(), sets.end(), [&](const HeadroomSet& set) {
        return set.Folder == sets[0].Folder;
    });
    std::string text;
    for (int n = 0; n < 4; ++n) {
        text += n == 0 ? "" : n == 3 ? " and " : ", ";
        text += oneFolder || sets[n].Folder.empty() ? sets[n].Name
                                                    : sets[n].Folder + "/" + sets[n].Name;
    }
    if (oneFolder)
        text += sets[0].Folder.empty() ? " in the current folder" : " in " + sets[0].Folder;
    return text;
}

// ---- Peaks ----------------------------------------------------------------------------

namespace {

double TapMagnitudes(const CoefficientSet& taps) {
    double sum = 0.0;
    for (double tap : taps) sum += std::fabs(tap);
    return sum;
}

}  // namespace

PeakMeter StartPeakMeter(const HeadroomSets& sets, bool truePeak) {
    PeakMeter meter;
    for (int n = 0; n < 4; ++n) {
        meter.Taps[n] = sets[n].Taps;
        meter.Magnitudes[n] = TapMagnitudes(sets[n].Taps);
    }
    meter.TruePeak = truePeak;
    meter.Phases = MakeInterpolatorPhases();
    meter.Carry = InterpolatorMagnitude(meter.Phases);
    for (std::vector<double>& history : meter.History) history.assign(FilterTail, 0.0);
    for (auto& set : meter.FilteredHistory) {
        for (std::vector<double>& history : set) history.assign(InterpolatorTaps - 1, 0.0);
    }
    return meter;
}

namespace {

double LargestMagnitude(const double* values, int64_t count) {
    double peak = 0.0;
    for (int64_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(values[i]));
    return peak;
}

constexpr int Kept = InterpolatorTaps - 1;  // samples a window reaches before its point's

// Raises `truePeak` to the largest magnitude between the samples of
// `values` (11 before the `frames` new ones). A window (values[i] to
// values[i + 11]) whose samples all stay within the peak found so far
// divided by what the interpolator can carry cannot raise it, and is not
// interpolated: only the runs of windows that reach a larger sample are,
// which in most recordings are few.
void RaisePeakBetween(const PeakMeter& meter, const double* values, int64_t frames,
                      double& truePeak) {
    const double threshold = truePeak / meter.Carry;
    int64_t runStart = 0, runEnd = 0;  // windows [runStart, runEnd) still to interpolate
    double found = truePeak;
    for (int64_t k = 0; k < Kept + frames; ++k) {
        if (!(std::fabs(values[k]) > threshold)) continue;
        const int64_t first = std::max<int64_t>(0, k - Kept), last = std::min(frames, k + 1);
        if (first > runEnd) {
            if (runEnd > runStart)
                found = std::max(found, LargestBetweenSamples(values + runStart, runEnd - runStart,
                                                              meter.Phases));
            runStart = first;
        }
        runEnd = last;
    }
    if (runEnd > runStart)
        found = std::max(found,
                         LargestBetweenSamples(values + runStart, runEnd - runStart, meter.Phases));
    truePeak = found;
}

// One filtered form of one channel's block, its outputs written after the
// last 11 of the block before (`filtered`), as the interpolator reads them.
// A filter raises no output beyond the largest sample it reads times its
// taps' magnitudes: when that stays within the peaks found so far (carried
// between samples as far as the interpolator can carry it), the block
// cannot raise them, and only its last 11 outputs are filtered, for the
// next block.
void MeasureFilteredForm(PeakMeter& meter, const std::vector<double>& window, int64_t frames,
                         int set, int channel, double windowPeak, std::vector<double>& filtered) {
    std::vector<double>& history = meter.FilteredHistory[set][channel];
    std::copy(history.begin(), history.end(), filtered.begin());
    // The interpolator's first windows read the block before's last outputs too.
    const double reach =
        std::max(windowPeak * meter.Magnitudes[set], LargestMagnitude(history.data(), Kept));
    const bool raises = reach > meter.FilteredPeaks[set] ||
                        (meter.TruePeak && reach * meter.Carry > meter.FilteredTruePeaks[set]);
    const std::span out = std::span(filtered).subspan(Kept);
    if (!raises && frames >= Kept) {
        FilterWindowFast(std::span(window).subspan(size_t(frames - Kept)), Kept, meter.Taps[set],
                         out);
        std::copy(out.begin(), out.begin() + Kept, history.begin());
        return;
    }
    FilterWindowFast(window, frames, meter.Taps[set], out);
    meter.FilteredPeaks[set] =
        std::max(meter.FilteredPeaks[set], LargestMagnitude(out.data(), frames));
    if (meter.TruePeak)
        RaisePeakBetween(meter, filtered.data(), frames, meter.FilteredTruePeaks[set]);
    std::copy(filtered.begin() + frames, filtered.begin() + frames + Kept, history.begin());
}

}  // namespace

// Each channel's window holds its last 63 samples before the new ones, as
// the fast filter reads them, and the zeros it may read beyond; the
// interpolator reads the signal's last 11 of them too.
void MeasurePeaks(PeakMeter& meter, std::span<const double> interleaved) {
    const int64_t frames = int64_t(interleaved.size() / 2);
    std::vector<double> window(size_t(FilterTail + frames + VectorPad), 0.0);
    std::vector<double> filtered(size_t(InterpolatorTaps - 1 + frames + VectorPad));
    for (int channel = 0; channel < 2; ++channel) {
        if (meter.Channel >= 0 && channel != meter.Channel) continue;
        std::vector<double>& history = meter.History[channel];
        std::copy(history.begin(), history.end(), window.begin());
        for (int64_t n = 0; n < frames; ++n)
            window[size_t(FilterTail + n)] = interleaved[size_t(2 * n + channel)];
        meter.SignalPeak =
            std::max(meter.SignalPeak, LargestMagnitude(window.data() + FilterTail, frames));
        if (meter.TruePeak) {
            RaisePeakBetween(meter, window.data() + FilterTail - (InterpolatorTaps - 1), frames,
                             meter.SignalTruePeak);
        }
        const double windowPeak = LargestMagnitude(window.data(), FilterTail + frames);
        for (int set = 0; set < 4; ++set)
            MeasureFilteredForm(meter, window, frames, set, channel, windowPeak, filtered);
        std::copy(window.begin() + frames, window.begin() + frames + FilterTail, history.begin());
    }
}

void FinishPeaks(PeakMeter& meter) {
    constexpr int Frames = FilterTail + InterpolatorTaps;
    const std::vector<double> silence(2 * Frames, 0.0);
    MeasurePeaks(meter, silence);
}

void CombinePeaks(PeakMeter& meter, const PeakMeter& other) {
    meter.SignalPeak = std::max(meter.SignalPeak, other.SignalPeak);
    meter.SignalTruePeak = std::max(meter.SignalTruePeak, other.SignalTruePeak);
    for (int set = 0; set < 4; ++set) {
        meter.FilteredPeaks[set] = std::max(meter.FilteredPeaks[set], other.FilteredPeaks[set]);
        meter.FilteredTruePeaks[set] =
            std::max(meter.FilteredTruePeaks[set], other.FilteredTruePeaks[set]);
    }
}

// ---- Gain -------------------------------------------------------------------------------

namespace {

// Phonoskew's dither moves a filtered value by less than 1 step before it
// rounds, so a value up to SampleMax - 1 can never round beyond the range.
constexpr double FilteredLimit = SampleMax - 1.0;
// This tool's dither and rounding move each sample it writes by less than
// 1.5 steps; a filter passes that on weighted by its taps' magnitudes.
constexpr double OwnDitherSteps = 1.5;
// Full scale between samples: 0 dBFS, 2^23 steps.
constexpr double FullScale = 8388608.0;
// The interpolator's response falls short of a tone's true amplitude by up
// to 0.5 % at a quarter of the rate (24 kHz), less below: each true peak
// found counts as that much more.
constexpr double InterpolatorShortfall = 1.005;

// The gain that keeps `peak` within `room`, or 1 for no peak.
double GainWithin(double room, double peak) { return peak > 0.0 ? room / peak : 1.0; }

}  // namespace

// Between samples, the rounding and dither that move each written value
// (the file's own, and Phonoskew's besides for a filtered form) are carried
// by the interpolator, at most by its taps' magnitudes.
double HeadroomGainDb(const PeakMeter& meter, bool dithered) {
    const double ownDither = dithered ? OwnDitherSteps : 0.0;
    const double carried = meter.Carry;
    double gain = GainWithin(SampleMax - ownDither, meter.SignalPeak);
    if (meter.TruePeak)
        gain = std::min(gain, GainWithin(FullScale - ownDither * carried,
                                         meter.SignalTruePeak * InterpolatorShortfall));
    for (int set = 0; set < 4; ++set) {
        const double moved = ownDither * meter.Magnitudes[set];
        gain = std::min(gain, GainWithin(FilteredLimit - moved, meter.FilteredPeaks[set]));
        if (!meter.TruePeak) continue;
        gain = std::min(gain, GainWithin(FullScale - (1.0 + moved) * carried,
                                         meter.FilteredTruePeaks[set] * InterpolatorShortfall));
    }
    if (gain >= 1.0) return 0.0;
    // Down to a hundredth of a dB, so that the gain said is one --gain takes
    // and no louder than the one found.
    return std::floor(20.0 * std::log10(gain) * 100.0) / 100.0;
}
