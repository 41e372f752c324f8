// Inputs for end-to-end runs: a small stereo recording and four coefficient
// sets whose values are exact in binary, so their expected values do not
// depend on how the program reads decimal text.
#pragma once

#include "e2e/harness.h"
#include "e2e/reference.h"

struct JobFixture {
    std::vector<int32_t> left;
    std::vector<int32_t> right;
    CoefficientSets sets;
};

// `frames` frames of deterministic noise with a few full-scale samples, and
// sets: FO identity plus small taps, SO random, FOP a 63-frame delay, SOP
// random with gains large enough to clip loud samples.
JobFixture MakeJobFixture(int frames);

// Writes take1.wav and FO.dat, SO.dat, FOP.dat, SOP.dat into `dir`.
void WriteJobFiles(const fs::path& dir, const JobFixture& fixture);

extern const char* const CoefficientFileNames[4];
