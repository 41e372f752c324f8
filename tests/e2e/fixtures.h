// Inputs for end-to-end runs, in a scratch folder: a small stereo recording
// and four coefficient sets whose values are exact in binary, so their
// expected values do not depend on how the program reads decimal text; and
// the checks of the screen the runs share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/reference.h"
#include "filters/stages.h"
#include "support/harness.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

// A scratch folder removed at the end of the test.

// The 44-byte header of a stereo 24-bit 96 kHz file of `frames` frames.
std::string CanonicalWaveHeader(uint64_t frames);

// A canonical 44-byte-header stereo 24-bit 96 kHz file holding the frames.
std::string MakeWave(const std::vector<int32_t>& left, const std::vector<int32_t>& right);

// A coefficient file: one number a line, CR LF line ends.
std::string CoefficientText(const std::vector<std::string>& fields);

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

// The name of output `stage` (1 to 4) of take1.wav.
std::string OutputName(int stage);

// The run's notes on standard error of the samples clipped in each output
// of take1.wav, each line ended by `lineEnd` ("\r\n" through a terminal).
std::string ClippingNotes(const JobFixture& fixture, const std::string& lineEnd = "\n");

// The four output files in `dir` match the reference model byte for byte;
// a mismatch names the first byte that differs.
void ExpectOutputsMatchReference(const fs::path& dir, const JobFixture& fixture);

// ---- Screen checks ----------------------------------------------------------------

// Palette numbers: the text is black or dark grey on bright white.
constexpr int Black = 0, Grey = 8, White = 15;

// Every cell of the row's text (columns first..last) has these colours.
void ExpectColours(const VtScreen& s, int row, int first, int last, int foreground);
bool ScreenHas(const VtScreen& s, const std::string& text);
bool WaitForText(Child& run, const std::string& text, int timeoutMs = 20000);
// The banner, the prompt and the cleared rows below in their colours, the
// cursor shown after the prompt.
void ExpectPromptScreen(const VtScreen& s);
// The screen of a finished job on take1.wav of `fixture`: every row in its
// text and colours, each writer's "Done" with the samples clipped.
void ExpectFinishedJobScreen(const VtScreen& s, const JobFixture& fixture);
