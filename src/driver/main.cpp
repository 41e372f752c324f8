// Phonoskew's main routine: one run, as straight-line steps.
//
// Prompt and header check repeat until a file is accepted and its samples
// are loaded; then the four error stages each filter the same input and
// write one output file; then the elapsed time and the final key.
#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/screen_script.h"
#include "driver/driver.h"
#include "filters/filters.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

int main() {
    SetNumericEnvironment();
    SetUpConsoleWindow();

    std::string inputPath;
    WaveInfo info;
    OutputNames outputNames;
    JobArrays arrays;
    double startTime = 0.0;
    for (;;) {
        inputPath = AskInputPath();
        if (!CheckInputHeader(inputPath, info, outputNames)) continue;
        ShowFileData(info.Channels, info.SampleRate, info.BitsPerSample, info.FrameCount,
                     info.Duration);
        startTime = static_cast<double>(ClockSeconds());
        if (LoadSamples(inputPath, info.FrameCount, arrays)) break;
    }

    // BlockAlign is copied from the input as stored; the size wraps as the
    // 32-bit header field it goes into.
    int64_t outputFrameCount = int64_t{info.FrameCount} + FilterTail;
    auto outputDataSize = static_cast<uint32_t>(int64_t{info.BlockAlign} * outputFrameCount);

    bool allWritten = true;
    for (int stage = 1; stage <= 4; ++stage) {
        RunFilterStage(stage, arrays);
        if (!WriteStageOutput(stage, outputNames[stage - 1], arrays, info, outputDataSize)) {
            allWritten = false;
        }
    }

    ShowJobTime(startTime);
    ShowQuitPrompt();
    WaitForKey();
    return allWritten ? 0 : 1;
}
