// Error filters: the 64-tap FIR filters of the four stages and their data.
// A stage's coefficients come from a text file (FO.dat, SO.dat, FOP.dat or
// SOP.dat in the working directory), cut into fields and parsed here; the
// filter convolves both input channels with them. Nothing here prints or
// waits: the driver shows the dialogue around these steps.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Number of taps of every error filter, and the tail it adds to each output.
constexpr int TapCount = 64;
constexpr int FilterTail = TapCount - 1;

// The coefficients of the current stage, h[0] weighing the current sample
// and h[63] the one 63 frames back; one set serves both channels.
using CoefficientSet = std::array<double, TapCount>;

// ---- Coefficient files ---------------------------------------------------------

struct CoefficientLoad {
    bool Opened = false;  // false: the file could not be opened, nothing read
    int Error = 0;        // why not
    CoefficientSet Values{};
    // A line feed without CR stood between text and more text of one field,
    // so the file's lines were joined into one number (LF line ends).
    bool JoinedLines = false;
};

// Opens the coefficient file `fileName` (a regular file, never blocking on a
// FIFO) and reads its first 64 fields. A short file, an odd field or a read
// error part-way give zeros for the fields it lacks, without complaint.
CoefficientLoad LoadCoefficients(const std::string& fileName);

// The first 64 fields of a coefficient file's text, cut by the file's field
// rules; fields beyond the data's end are empty.
std::array<std::string, TapCount> ReadCoefficientFields(std::string_view text);

// The 64 coefficients of a coefficient file's text, each field through
// ParseNumber and stored as a double.
CoefficientSet ParseCoefficientText(std::string_view text);

// Whether reading the 64 fields of `text` dropped a line feed that had text
// other than blanks both before and after it in the same field: the lines
// of a file with LF line ends, read as one field. A blank line after a
// CR LF, or an LF at the very end of a field, joins nothing.
bool JoinsLinesWithoutCr(std::string_view text);

// ---- The filter ------------------------------------------------------------------

// Outputs [first, first + out size) of the full convolution of both
// channels (of equal length), exactly as the model gives them: each
// accumulator receives h[k] x[n] in ascending n, in the 64-bit-significand
// arithmetic. A block needs only its own small output arrays, so blocks
// can be filtered one after another, or side by side on several cores.
void FilterBlockExact(std::span<const int32_t> left, std::span<const int32_t> right,
                      const CoefficientSet& h, int64_t first, std::span<double> outLeft,
                      std::span<double> outRight);
