// The four error stages, described once for phonoskew and its tools: each
// stage's short name, coefficient file, title line and output suffix, and
// the draws of the dither's random source that a stage takes.
#pragma once

#include <cstdint>

#include "filters/filters.h"

struct ErrorStage {
    const char* Name;             // "FO"
    const char* CoefficientFile;  // read from the working folder
    const char* Title;            // the stage's progress line
    const char* OutputSuffix;     // after the input path less its last 4 characters
    const char* Kind;             // what the filter models, for help texts
};

constexpr int StageCount = 4;

// In run order: FO, SO, FOP, SOP. Output name n belongs to stage n.
inline constexpr ErrorStage ErrorStages[StageCount] = {
    {"FO", "FO.dat", "   Applying first-order filter...", " RIAA error 1.wav", "first-order error"},
    {"SO", "SO.dat", "   Applying second-order filter...", " RIAA error 2.wav",
     "second-order error"},
    {"FOP", "FOP.dat", "   Applying first-order phase shift...", " RIAA error 3.wav",
     "first-order phase shift"},
    {"SOP", "SOP.dat", "   Applying second-order phase shift...", " RIAA error 4.wav",
     "second-order phase shift"},
};

// The dither draws for `outputFrames` frames: two samples a frame, two
// draws a sample. A stage takes them for its whole output (input frames and
// the filter's tail), so the next stage starts where it ends.
constexpr uint64_t DitherDraws(int64_t outputFrames) { return 4 * uint64_t(outputFrames); }
constexpr uint64_t StageDraws(int64_t inputFrames) { return DitherDraws(inputFrames + FilterTail); }
