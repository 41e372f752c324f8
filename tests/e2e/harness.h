// Running the built phonoskew program as a user meets it: through pipes, or
// in a pseudo-terminal whose screen is read back with the test emulator.
// Also the fixtures a run needs: WAVE inputs and coefficient files in a
// scratch folder.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/vt_screen.h"

namespace fs = std::filesystem;

// The program under test (set by the build through PHONOSKEW_BIN).
std::string PhonoskewBinary();

// A scratch folder removed at the end of the test.
struct ScratchDir {
    fs::path path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};

void WriteFileBytes(const fs::path& file, const std::string& bytes);
std::string ReadFileBytes(const fs::path& file);

// The 44-byte header of a stereo 24-bit 96 kHz file of `frames` frames.
std::string CanonicalWaveHeader(uint64_t frames);

// A canonical 44-byte-header stereo 24-bit 96 kHz file holding the frames.
std::string MakeWave(const std::vector<int32_t>& left, const std::vector<int32_t>& right);

// A coefficient file: one number a line, CR LF line ends.
std::string CoefficientText(const std::vector<std::string>& fields);

struct PipedRun {
    int exitStatus = -1;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

// Runs phonoskew in `dir` with `input` as its standard input (then closed).
PipedRun RunPiped(const fs::path& dir, const std::string& input, int timeoutSeconds = 60);

// phonoskew running in a pseudo-terminal of rows x columns.
struct PtyRun {
    pid_t pid = -1;
    int master = -1;
    std::string slaveName;
    int slave = -1;  // held open by the test to read the terminal's modes
    termios initialModes{};
    VtScreen screen;
    std::string raw;  // everything the program wrote
    int exitStatus = -1;
};

PtyRun StartInPty(const fs::path& dir, int rows = 55, int columns = 80);
void SendKeys(PtyRun& run, const std::string& keys);
// Reads output until `done(screen)` holds or the time runs out; returns done.
bool WaitForScreen(PtyRun& run, const std::function<bool(const VtScreen&)>& done,
                   int timeoutMs = 20000);
bool WaitForRowText(PtyRun& run, int row, const std::string& text, int timeoutMs = 20000);
// Waits for the program to end, reading its last output; false on time-out.
bool WaitForExit(PtyRun& run, int timeoutMs = 20000);
void StopPty(PtyRun& run);
