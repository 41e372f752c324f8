// phonoskew-prepare: makes from a recording in any common form the file
// phonoskew accepts, stereo 24-bit PCM at 96 kHz with the plain 44-byte
// header, with headroom for the four error filters.
#include <cstdio>
#include <string>
#include <vector>

#include "numeric/numeric.h"
#include "prepare/prepare.h"
#include "system/files.h"
#include "system/quoting.h"
#include "system/signals.h"
#include "system/terminal_device.h"
#include "wave/wave.h"

#ifndef PHONOSKEW_VERSION
#error "PHONOSKEW_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

std::string GainLine(const PrepareRequest& request, const PrepareResult& result) {
    char gain[32];
    std::snprintf(gain, sizeof gain, "%.2f dB", result.GainDb);
    if (request.HasGain) return std::string("Gain: ") + gain + ", as given";
    const std::string sets = DescribeHeadroomSets(request.Sets);
    if (result.GainDb == 0.0) return "Gain: 0 dB, no headroom needed for " + sets;
    const char* rule = request.SamplePeak ? "sample-peak" : "true-peak";
    return std::string("Gain: ") + gain + ", the " + rule + " headroom for " + sets;
}

// What the reading found beyond the recording's form: a fold-down, a file
// cut short.
std::string ReadNotes(const PrepareResult& result) {
    std::string notes;
    if (!result.Downmix.empty()) notes += "Downmix: " + result.Downmix + "\n";
    if (result.MissingFrames > 0)
        notes += "Cut short: " + std::to_string(result.MissingFrames) +
                 " frames missing (its header promises " + std::to_string(result.DeclaredFrames) +
                 "); the frames it holds were converted\n";
    return notes;
}

std::string WroteLine(const PrepareRequest& request, const PrepareResult& result) {
    char length[64];
    std::snprintf(length, sizeof length, "24-bit, 96000 Hz, 2 channels, %.2f s",
                  double(result.Frames) / 96000.0);
    std::string line = "Wrote: '" + request.Output + "', " + length;
    if (result.Copied) return line + ", the samples as they were";
    if (result.Resampled) line += ", resampled from " + std::to_string(result.SourceRate) + " Hz";
    line += ", with triangular dither";
    if (result.Clipped > 0) line += ", " + std::to_string(result.Clipped) + " samples clipped";
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    // Paths in UTF-8, as the file layer takes them.
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const std::vector<const char*> words = ArgumentWords(arguments);
    const PrepareCommand command = ParsePrepareCommand(int(words.size()), words.data());
    switch (command.Action) {
        case PrepareAction::Help:
            std::fputs(PrepareHelpText(FindExampleFolder()).c_str(), stdout);
            return 0;
        case PrepareAction::Version:
            std::fputs("phonoskew-prepare " PHONOSKEW_VERSION "\n", stdout);
            return 0;
        case PrepareAction::Refuse:
            std::fputs(command.Problem.c_str(), stderr);
            return 2;
        case PrepareAction::Convert:
            break;
    }
    SetNumericEnvironment();

    PrepareRequest request;
    request.Input = command.Input;
    request.Output = command.Output.empty() ? PreparedCopyPath(command.Input) : command.Output;
    request.HasGain = command.HasGain;
    request.GainDb = command.GainDb;
    request.SamplePeak = command.SamplePeak;
    request.Downmix = command.Downmix;
    if (!request.HasGain) {
        const HeadroomSetLoad load = LoadHeadroomSets(FindExampleFolder());
        if (!load.Failure.empty()) {
            std::fprintf(stderr, "phonoskew-prepare: %s\n", PrintableText(load.Failure).c_str());
            return 1;
        }
        request.Sets = load.Sets;
    }
    request.ShowProgress = StandardErrorIsTerminal();
    // Ctrl+C ends the progress line before the program ends; the scratch
    // and output files under way are left behind by no signal.
    EndOpenLineOnEndingSignals();

    const PrepareResult result = PrepareRecording(request);
    if (!result.Failure.empty()) {
        std::fprintf(stderr, "phonoskew-prepare: %s\n", PrintableText(result.Failure).c_str());
        return 1;
    }
    std::printf("Read: %s, %s\n%s%s\n%s\n", QuotedArgument(request.Input).c_str(),
                result.Source.c_str(), ReadNotes(result).c_str(),
                PrintableText(GainLine(request, result)).c_str(),
                PrintableText(WroteLine(request, result)).c_str());
    return 0;
}
