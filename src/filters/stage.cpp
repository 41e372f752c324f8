// One error stage: its title line, its coefficients, the filter, "Done".
#include "console/screen_script.h"
#include "filters/filters.h"

namespace {

struct StageDescription {
    const char* Title;
    const char* FileName;
    const char* MissingMessage;
};

// Stages 1 to 4 in run order: FO, SO, FOP, SOP.
constexpr StageDescription Stages[4] = {
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

}  // namespace

void RunFilterStage(int stageNumber, JobArrays& arrays) {
    if (stageNumber < 1 || stageNumber > 4) return;
    const StageDescription& stage = Stages[stageNumber - 1];
    ShowStepTitle(stage.Title);
    LoadCoefficients(stage.FileName, stage.MissingMessage, arrays.Coefficients);
    auto frameCount = int32_t(arrays.LeftSamples.size());
    FilterChannels(arrays.LeftSamples.data(), arrays.RightSamples.data(), frameCount,
                   arrays.Coefficients.data(), arrays.FilteredLeft.data(),
                   arrays.FilteredRight.data());
    ShowDone(1);
}
