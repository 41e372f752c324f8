// Error filters: the four coefficient files and the filter stages. A stage
// loads its 64 coefficients from FO.dat, SO.dat, FOP.dat or SOP.dat in the
// working directory (waiting with a message box while the file is missing)
// and convolves both input channels with them into the filtered channels.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "wave/wave.h"

// Runs stage `stageNumber` (1 FO, 2 SO, 3 FOP, 4 SOP): title line, coefficient
// load, filter, "Done". Leaves the result in arrays.FilteredLeft/Right.
void RunFilterStage(int stageNumber, JobArrays& arrays);

// ---- Lower-level parts: pure steps of the above, also used by the tests -------

// The first 64 fields of a coefficient file's text, cut by the file's field
// rules; fields beyond the data's end are empty.
std::array<std::string, TapCount> ReadCoefficientFields(std::string_view text);

// The 64 coefficients of a coefficient file's text, each field through
// ParseNumber and stored as a double.
std::array<double, TapCount> ParseCoefficientText(std::string_view text);

// Opens `fileName` for reading if it is a regular file (never blocking on a
// FIFO); gives the descriptor, or -1 when it cannot serve as a coefficient file.
int OpenCoefficientFile(const char* fileName);

// Fills `coefficients` from `fileName`. While the file cannot be opened:
// beep, `message` in an " ERROR" box, try again.
void LoadCoefficients(const char* fileName, const char* message,
                      std::array<double, TapCount>& coefficients);

// The full linear convolution of both channels with h[0..63], in scatter
// form, into accumulators of frameCount + 63 values that start at zero. Each
// update is rounded to a 64-bit significand, then stored to double.
void FilterChannels(const int32_t* left, const int32_t* right, int32_t frameCount, const double* h,
                    double* outLeft, double* outRight);
