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
#include <vector>

// Number of taps of every error filter, and the tail it adds to each output.
constexpr int TapCount = 64;
constexpr int FilterTail = TapCount - 1;

// The coefficients of the current stage, h[0] weighing the current sample
// and h[63] the one 63 frames back; one set serves both channels.
using CoefficientSet = std::array<double, TapCount>;

// ---- Coefficient files ---------------------------------------------------------

// What reading a coefficient file found that may make its taps differ from
// what its author meant. The taps stay as read, whatever is found, so that
// outputs compare byte for byte with earlier runs; this only says why.
// How the file's bytes are read: as they are, or as UTF-16 text (told by
// its byte-order mark) turned into the same bytes the text saved as UTF-8
// would have.
enum class TextEncoding { Bytes, Utf16LittleEndian, Utf16BigEndian };

struct CoefficientSurvey {
    TextEncoding Encoding = TextEncoding::Bytes;
    // A line feed without CR stood between text and more text of one field,
    // so the file's lines were joined into one number (LF line ends).
    bool JoinedLines = false;
    bool ByteOrderMark = false;     // the file starts with a UTF-8 byte-order mark
    int64_t Numbers = 0;            // fields that begin with a number, to the end of the data
    int64_t FilledFields = 0;       // fields up to the last one that holds more than blanks
    bool NumbersAfterTaps = false;  // a field after the 64th holds a number
    // Taps (0-based) read as 0 from a field that is no number: text, or an
    // empty field with more text after it (a blank line between numbers).
    std::vector<int> NotNumbers;
    // Taps (0-based) whose field a decimal comma ended: a line of an integer,
    // one comma and digits ("0,0123"), read as two fields.
    std::vector<int> DecimalCommas;
    // Taps (0-based) whose field holds two numbers apart by blanks or a TAB
    // (two columns): read as what ParseNumber makes of the whole field.
    std::vector<int> TwoNumbers;
    double FirstTwoNumbersValue = 0.0;  // the first such tap as read
    int64_t LastNumberField = -1;       // the last field (0-based) that holds a number
    bool DroppedNumber = false;         // field 65 holds a number, which is no tap
    double DroppedValue = 0.0;          // and this is it
    double TapSum = 0.0;                // the taps' sum: the filter's gain at DC
    double MagnitudeSum = 0.0;          // the sum of their magnitudes: the largest gain
};

struct CoefficientLoad {
    bool Opened = false;  // false: the file could not be opened, nothing read
    int Error = 0;        // why not
    CoefficientSet Values{};
    CoefficientSurvey Survey;
};

// Opens the coefficient file `fileName` (a regular file, never blocking on a
// FIFO) and reads its first 64 fields; the rest of the data is only looked
// over for the survey. A short file, an odd field or a read error part-way
// give zeros for the fields it lacks.
CoefficientLoad LoadCoefficients(const std::string& fileName);

// The first 64 fields of a coefficient file's text, cut by the file's field
// rules; fields beyond the data's end are empty.
std::array<std::string, TapCount> ReadCoefficientFields(std::string_view text);

// The 64 coefficients of a coefficient file's text, each field through
// ParseNumber and stored as a double.
CoefficientSet ParseCoefficientText(std::string_view text);

// What LoadCoefficients finds in a file of this text. JoinedLines: reading
// the 64 fields dropped a line feed that had text other than blanks both
// before and after it in the same field; a blank line after a CR LF, or an
// LF at the very end of a field, joins nothing.
CoefficientSurvey SurveyCoefficientText(std::string_view text);

// The survey in a few short phrases for the user, most telling first, such
// as "field 5 reads as 0: not a number"; none for a file that holds its 64
// taps as one number a CR LF line.
std::vector<std::string> CoefficientNotes(const CoefficientSurvey& survey);

// One line on what to look at in the file, the most telling first, or "as
// expected" when its taps are surely the numbers written in it.
std::string CoefficientVerdict(const CoefficientSurvey& survey);

// ---- The filter ------------------------------------------------------------------

// Outputs [first, first + out size) of the full convolution of both
// channels (of equal length), exactly as the model gives them: each
// accumulator receives h[k] x[n] in ascending n, in the 64-bit-significand
// arithmetic. A block needs only its own small output arrays, so blocks
// can be filtered one after another, or side by side on several cores.
void FilterBlockExact(std::span<const int32_t> left, std::span<const int32_t> right,
                      const CoefficientSet& h, int64_t first, std::span<double> outLeft,
                      std::span<double> outRight);
