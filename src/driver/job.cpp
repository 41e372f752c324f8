// The job's steps with their dialogue: progress lines, beeps, error boxes
// and the two retry loops.
#include "console/screen_script.h"
#include "driver/driver.h"

// The two characters backslash and n break a box's text into lines.
const ErrorStage ErrorStages[4] = {
    {"   Applying first-order filter...", "FO.dat",
     "                  File 'FO.dat' not found.\\n Please ensure that it is in the parent "
     "directory  "},
    {"   Applying second-order filter...", "SO.dat",
     "                  File 'SO.dat' not found.\\n Please ensure that it is in the parent "
     "directory  "},
    {"   Applying first-order phase shift...", "FOP.dat",
     "                  File 'FOP.dat' not found.\\n Please ensure that it is in the parent "
     "directory  "},
    {"   Applying second-order phase shift...", "SOP.dat",
     "                  File 'SOP.dat' not found.\\n Please ensure that it is in the parent "
     "directory  "},
};

BoxKey ShowError(std::string_view message) {
    Beep();
    return ConsoleMessageBox(message, " ERROR");
}

// ---- Loading ------------------------------------------------------------------------

namespace {

bool GiveUpLoading(std::string_view message, SampleArrays& samples, FilteredChannels& filtered) {
    samples = SampleArrays{};
    filtered = FilteredChannels{};
    ShowError(message);
    return false;
}

}  // namespace

bool LoadInput(const std::string& inputPath, int32_t frameCount, SampleArrays& samples,
               FilteredChannels& filtered) {
    ShowStepTitle("   Reading file data...");
    int64_t outputFrames = int64_t{frameCount} + FilterTail;
    if (!CreateSampleArrays(frameCount, samples) ||
        !CreateFilteredChannels(outputFrames, filtered)) {
        return GiveUpLoading(TooLargeMessage, samples, filtered);
    }
    std::string failure = ReadInputSamples(inputPath, samples);
    if (!failure.empty()) return GiveUpLoading(failure, samples, filtered);
    ShowDone(1);

    ShowStepTitle("   Extracting channels...");
    if (!ExtractChannels(outputFrames, samples)) {
        return GiveUpLoading(TooLargeMessage, samples, filtered);
    }
    ShowDone(1);
    return true;
}

// " (N samples clipped)" after "Done" when the dither clipped any.
std::string ClippedNote(int64_t clipped) {
    if (clipped == 0) return "";
    return " (" + std::to_string(clipped) + (clipped == 1 ? " sample" : " samples") + " clipped)";
}

// ---- Stages ---------------------------------------------------------------------------

void RunFilterStage(const ErrorStage& stage, const SampleArrays& samples,
                    CoefficientSet& coefficients, FilteredChannels& filtered) {
    ShowStepTitle(stage.Title);
    // Only the outcome of each open counts; the run waits here, with no
    // limit, until the file can be opened.
    CoefficientLoad load = LoadCoefficients(stage.CoefficientFile);
    while (!load.Opened) {
        ShowError(stage.MissingMessage);
        load = LoadCoefficients(stage.CoefficientFile);
    }
    coefficients = load.Values;
    FilterChannels(samples.Left, samples.Right, coefficients, filtered.Left, filtered.Right);
    ShowDone(1);
}

bool WriteStageOutput(int stageNumber, const std::string& outputName, FilteredChannels& filtered,
                      SampleArrays& samples, const WaveInfo& info, uint32_t outputDataSize,
                      RandomSource& random) {
    ShowWritingFile(outputName);
    int64_t clipped = DitherAndPack(filtered.Left.data(), filtered.Right.data(),
                                    int64_t(filtered.Left.size()), samples.Packed.data(), random);
    // The next stage accumulates from zero; after the last one nothing does.
    if (stageNumber < 4) ClearFilteredChannels(filtered);

    std::array<uint8_t, HeaderSize> header = MakeOutputHeader(info, outputDataSize);
    for (;;) {
        std::string reason = WriteWaveFile(outputName, header.data(), header.size(),
                                           samples.Packed.data(), samples.Packed.size());
        if (reason.empty()) break;
        std::string message = " Could not write file '" + outputName + "':\\n " + reason +
                              ".\\n Enter tries again, Esc skips this file  ";
        if (ShowError(message) == BoxKey::Escape) return false;
    }
    ShowDone(stageNumber < 4 ? 1 : 3, ClippedNote(clipped));
    return true;
}
