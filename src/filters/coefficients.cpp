// Coefficient files: cutting the text into fields, loading one stage's 64
// coefficients, and the survey of what may make them differ from what the
// file's author meant.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"

namespace {

constexpr int EndOfData = 0x1A;  // Ctrl-Z: the data ends here

// ---- The file's text ------------------------------------------------------------

// The bytes the fields are cut from: the file's own, or, for UTF-16 with a
// byte-order mark (what PowerShell's ">" and Notepad's "Unicode" write),
// the UTF-8 bytes of the text it holds, so that such a file reads as the
// same text saved as UTF-8 would. The mark itself is no part of the text.
struct TextSource {
    ByteReader& Bytes;
    TextEncoding Encoding = TextEncoding::Bytes;
    char Pending[8] = {};  // bytes decoded (or looked at) but not yet taken
    int PendingCount = 0;
    int PendingAt = 0;
};

void PutPending(TextSource& source, uint32_t code) {
    char* out = source.Pending + source.PendingCount;
    int length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    static constexpr uint8_t Lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i, code >>= 6) out[i] = char(0x80 | (code & 0x3F));
    out[0] = char(length == 1 ? code : (Lead[length] | code));
    source.PendingCount += length;
}

// The next 16-bit unit in the file's byte order, or -1 at the end (an odd
// last byte counts as the end).
int32_t NextUnit(TextSource& source) {
    int first = PeekByte(source.Bytes);
    SkipByte(source.Bytes);
    int second = PeekByte(source.Bytes);
    SkipByte(source.Bytes);
    if (first < 0 || second < 0) return -1;
    return source.Encoding == TextEncoding::Utf16LittleEndian ? first | second << 8
                                                              : first << 8 | second;
}

// One character of UTF-16 into the pending bytes; a surrogate without its
// partner becomes U+FFFD, as any text editor shows it.
void DecodeCharacter(TextSource& source) {
    int32_t unit = NextUnit(source);
    if (unit < 0) return;
    if (unit >= 0xDC00 && unit < 0xE000) return PutPending(source, 0xFFFD);
    if (unit < 0xD800 || unit >= 0xDC00) return PutPending(source, uint32_t(unit));
    int32_t low = NextUnit(source);
    if (low >= 0xDC00 && low < 0xE000)
        return PutPending(source,
                          0x10000 + ((uint32_t(unit) - 0xD800) << 10) + (uint32_t(low) - 0xDC00));
    PutPending(source, 0xFFFD);
    if (low >= 0) PutPending(source, low >= 0xD800 && low < 0xE000 ? 0xFFFD : uint32_t(low));
}

// Looks at the first two bytes for a UTF-16 byte-order mark; a first byte
// that begins none is kept for the fields.
void StartText(TextSource& source) {
    int first = PeekByte(source.Bytes);
    if (first != 0xFF && first != 0xFE) return;
    SkipByte(source.Bytes);
    int second = PeekByte(source.Bytes);
    if (first + second == 0xFF + 0xFE) {
        SkipByte(source.Bytes);
        source.Encoding =
            first == 0xFF ? TextEncoding::Utf16LittleEndian : TextEncoding::Utf16BigEndian;
        return;
    }
    source.Pending[source.PendingCount++] = char(first);
}

int PeekByte(TextSource& source) {
    if (source.PendingAt == source.PendingCount) {
        source.PendingAt = source.PendingCount = 0;
        if (source.Encoding == TextEncoding::Bytes) return PeekByte(source.Bytes);
        DecodeCharacter(source);
        if (source.PendingCount == 0) return -1;
    }
    return static_cast<unsigned char>(source.Pending[source.PendingAt]);
}

void SkipByte(TextSource& source) {
    if (PeekByte(source) < 0) return;
    if (source.PendingAt < source.PendingCount)
        ++source.PendingAt;
    else
        SkipByte(source.Bytes);
}

// ---- Field rules ----------------------------------------------------------------

// How a field's text looks, as far as a decimal comma needs it: an integer
// (a sign and digits) or anything else.
enum class FieldShape { Empty, Sign, Integer, Other };
// What ended a field: a comma, a line end (CR), the end of the data, or the
// next field's text after a quoted one.
enum class FieldEnd { Comma, Line, Data, Other };

// Where the bytes of one field go: its number scan, and its text when a
// test asks for it. A line feed dropped between text and more text joins
// two lines into one number: a file written with LF line ends.
struct FieldBytes {
    NumberScan Scan;
    std::string* Text = nullptr;
    bool HasText = false;      // a byte other than a blank has been kept
    bool DroppedLine = false;  // a line feed was dropped after that text
    bool JoinedLines = false;  // and more text followed it
    bool BlankBefore = false;  // blanks were skipped before it
    std::string Start;         // its first three bytes
    // Two numbers apart by blanks or a TAB ("1<TAB>0.0585", two columns):
    // ParseNumber takes what the field rules leave of them as one number.
    bool InNumber = false;        // a digit has been kept since the last gap
    bool GapAfterNumber = false;  // then blanks or a dropped TAB
    bool TwoNumbers = false;      // then a digit, sign or point again
    FieldShape Shape = FieldShape::Empty;
    FieldEnd End = FieldEnd::Data;
};

void NoteShape(FieldBytes& field, char c) {
    bool digit = c >= '0' && c <= '9';
    if (field.Shape == FieldShape::Empty && (c == '+' || c == '-'))
        field.Shape = FieldShape::Sign;
    else if (digit && field.Shape != FieldShape::Other)
        field.Shape = FieldShape::Integer;
    else
        field.Shape = FieldShape::Other;
}

void NoteNumberGap(FieldBytes& field, char c) {
    bool digit = c >= '0' && c <= '9';
    if (c == ' ' || c == '\t') {
        field.GapAfterNumber = field.GapAfterNumber || field.InNumber;
    } else if (digit || c == '.' || c == '+' || c == '-') {
        field.TwoNumbers = field.TwoNumbers || (field.GapAfterNumber && field.InNumber);
        field.InNumber = field.InNumber || digit;
    } else {
        field.InNumber = field.GapAfterNumber = false;
    }
}

void TakeFieldByte(FieldBytes& field, char c) {
    TakeNumberByte(field.Scan, c);
    NoteNumberGap(field, c);
    if (field.Text) *field.Text += c;
    if (field.Start.size() < 3) field.Start += c;
    NoteShape(field, c);
    if (c != ' ') {
        field.JoinedLines = field.JoinedLines || field.DroppedLine;
        field.HasText = true;
    }
}

// After a closing quote: blanks, TABs and LFs go; then a comma, or a CR with
// one LF after it, ends the field. Anything else is left for the next field.
void SkipAfterQuote(TextSource& reader, FieldBytes& field) {
    int c = PeekByte(reader);
    while (c == ' ' || c == '\t' || c == '\n') {
        SkipByte(reader);
        c = PeekByte(reader);
    }
    field.End = FieldEnd::Other;
    if (c == ',') {
        SkipByte(reader);
        field.End = FieldEnd::Comma;
    } else if (c == '\r') {
        SkipByte(reader);
        if (PeekByte(reader) == '\n') SkipByte(reader);
        field.End = FieldEnd::Line;
    }
}

// Everything up to the next quote or the end of the file belongs to it.
void ReadQuotedField(TextSource& reader, FieldBytes& field) {
    SkipByte(reader);  // the opening quote
    for (int c = PeekByte(reader); c >= 0 && c != '"'; c = PeekByte(reader)) {
        TakeFieldByte(field, char(c));
        SkipByte(reader);
    }
    SkipByte(reader);  // the closing quote, if any
    field.Shape = FieldShape::Other;
    SkipAfterQuote(reader, field);
}

// Up to a comma, CR, Ctrl-Z or the end; LF and TAB are dropped on the way.
// A Ctrl-Z stays in place so that every later field is empty.
void ReadPlainField(TextSource& reader, FieldBytes& field) {
    for (int c = PeekByte(reader); c >= 0 && c != EndOfData; c = PeekByte(reader)) {
        SkipByte(reader);
        if (c == ',') {
            field.End = FieldEnd::Comma;
            return;
        }
        if (c == '\r') {
            if (PeekByte(reader) == '\n') SkipByte(reader);
            field.End = FieldEnd::Line;
            return;
        }
        if (c == '\n') {
            // Lines joined by a dropped LF have a note of their own.
            field.DroppedLine = field.HasText;
            field.InNumber = field.GapAfterNumber = false;
        } else if (c == '\t') {
            NoteNumberGap(field, char(c));
        } else {
            TakeFieldByte(field, char(c));
        }
    }
}

void ReadField(TextSource& reader, FieldBytes& field) {
    while (PeekByte(reader) == ' ') {
        SkipByte(reader);
        field.BlankBefore = true;
    }
    int c = PeekByte(reader);
    if (c < 0 || c == EndOfData) return;
    if (c == '"') {
        ReadQuotedField(reader, field);
    } else {
        ReadPlainField(reader, field);
    }
}

bool AtEndOfData(TextSource& reader) {
    int c = PeekByte(reader);
    return c < 0 || c == EndOfData;
}

// ---- The survey ---------------------------------------------------------------------

// The survey's view of one field, `index` counted from 0 (beyond the taps
// too), with the one before it. `emptyTaps`: empty taps not yet followed by
// text, which are only a short file's end unless more text comes.
struct SurveyState {
    CoefficientSurvey Survey;
    std::vector<int> EmptyTaps;
    FieldBytes Previous;
    bool PreviousStartsLine = false;
};

// "0,0123" on a line of its own: an integer ended by a comma at the start
// of a line, then digits right after it up to the line's end.
bool EndsAtDecimalComma(const SurveyState& state, const FieldBytes& field) {
    const FieldBytes& previous = state.Previous;
    char first = field.Start.empty() ? ' ' : field.Start[0];
    return state.PreviousStartsLine && previous.Shape == FieldShape::Integer &&
           previous.End == FieldEnd::Comma && !field.BlankBefore && first >= '0' && first <= '9' &&
           (field.End == FieldEnd::Line || field.End == FieldEnd::Data);
}

void SurveyField(SurveyState& state, const FieldBytes& field, int64_t index) {
    CoefficientSurvey& survey = state.Survey;
    bool number = field.Scan.AnyDigit;
    bool text = field.HasText && !number;
    if (index == 0) survey.ByteOrderMark = field.Start == "\xEF\xBB\xBF";
    if (index > 0 && index <= TapCount && EndsAtDecimalComma(state, field))
        survey.DecimalCommas.push_back(int(index - 1));
    survey.Numbers += number ? 1 : 0;
    survey.NumbersAfterTaps = survey.NumbersAfterTaps || (number && index >= TapCount);
    if (number) survey.LastNumberField = index;
    if (number && field.TwoNumbers && index < TapCount) {
        if (survey.TwoNumbers.empty())
            survey.FirstTwoNumbersValue = static_cast<double>(NumberValue(field.Scan));
        survey.TwoNumbers.push_back(int(index));
    }
    if (number && index == TapCount) {
        survey.DroppedNumber = true;
        survey.DroppedValue = static_cast<double>(NumberValue(field.Scan));
    }
    if (number || text) {
        survey.FilledFields = index + 1;
        survey.NotNumbers.insert(survey.NotNumbers.end(), state.EmptyTaps.begin(),
                                 state.EmptyTaps.end());
        state.EmptyTaps.clear();
    }
    // The mark's own field is told by the mark's note.
    if (index < TapCount && text && !(index == 0 && survey.ByteOrderMark))
        survey.NotNumbers.push_back(int(index));
    if (index < TapCount && !number && !text) state.EmptyTaps.push_back(int(index));
    state.PreviousStartsLine = index == 0 || state.Previous.End == FieldEnd::Line;
    state.Previous = field;
}

// The first 64 fields as numbers; the fields after them are only looked
// over for the survey, up to the end of the data.
CoefficientSet ReadCoefficients(ByteReader& bytes, CoefficientSurvey& survey) {
    CoefficientSet values{};
    SurveyState state;
    TextSource reader{bytes};
    StartText(reader);
    state.Survey.Encoding = reader.Encoding;
    for (int64_t index = 0; index < TapCount || !AtEndOfData(reader); ++index) {
        FieldBytes field;
        ReadField(reader, field);
        if (index < TapCount) {
            values[index] = static_cast<double>(NumberValue(field.Scan));
            state.Survey.JoinedLines = state.Survey.JoinedLines || field.JoinedLines;
        }
        SurveyField(state, field, index);
    }
    std::sort(state.Survey.NotNumbers.begin(), state.Survey.NotNumbers.end());
    for (double value : values) {
        state.Survey.TapSum += value;
        state.Survey.MagnitudeSum += std::fabs(value);
    }
    survey = state.Survey;
    return values;
}

// "field 5", "fields 5 and 9", "fields 5, 9 and 12", "fields 5, 9 and 30
// more", counted from 1.
std::string FieldList(const std::vector<int>& taps) {
    auto number = [](int tap) { return std::to_string(tap + 1); };
    if (taps.size() == 1) return "field " + number(taps[0]);
    std::string text = "fields " + number(taps[0]);
    if (taps.size() > 3)
        return text + ", " + number(taps[1]) + " and " + std::to_string(taps.size() - 2) + " more";
    for (size_t i = 1; i + 1 < taps.size(); ++i) text += ", " + number(taps[i]);
    return text + " and " + number(taps.back());
}

std::string Count(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::array<std::string, TapCount> ReadCoefficientFields(std::string_view text) {
    std::array<std::string, TapCount> fields;
    ByteReader bytes = ReadFromText(text);
    TextSource reader{bytes};
    StartText(reader);
    for (std::string& fieldText : fields) {
        FieldBytes field;
        field.Text = &fieldText;
        ReadField(reader, field);
    }
    return fields;
}

CoefficientSet ParseCoefficientText(std::string_view text) {
    ByteReader reader = ReadFromText(text);
    CoefficientSurvey survey;
    return ReadCoefficients(reader, survey);
}

CoefficientSurvey SurveyCoefficientText(std::string_view text) {
    ByteReader reader = ReadFromText(text);
    CoefficientSurvey survey;
    ReadCoefficients(reader, survey);
    return survey;
}

namespace {

// A value as a note shows it: up to 7 significant digits.
std::string ShortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

std::string Decibels(double gain) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", 20.0 * std::log10(gain));
    return text;
}

// The error filters leave the level at DC alone: the example sets sum to 1.
// Far from that, or able to lift some frequency by more than 12 dB, the
// taps are likely scaled (percentages, a designer's own gain).
constexpr double DcToleranceDb = 6.0;
constexpr double LargestGainLimitDb = 12.0;

bool DcFarFromOne(const CoefficientSurvey& survey) {
    return survey.Numbers > 0 &&
           std::fabs(20.0 * std::log10(std::fabs(survey.TapSum))) > DcToleranceDb;
}

bool GainAboveLimit(const CoefficientSurvey& survey) {
    return 20.0 * std::log10(survey.MagnitudeSum) > LargestGainLimitDb;
}

// Text or an empty line among the numbers of a file longer than 64 fields
// (a header, a blank line) moves every later number one tap on, and the
// number meant as the last tap falls out as field 65. In a file of 64
// fields, text only stands in a tap's place.
bool LinesShiftTaps(const CoefficientSurvey& survey) {
    return !survey.NotNumbers.empty() && survey.FilledFields > TapCount &&
           survey.NotNumbers.front() < survey.LastNumberField;
}

std::string NotNumbersNote(const CoefficientSurvey& survey) {
    const std::vector<int>& words = survey.NotNumbers;
    std::string note = FieldList(words) + (words.size() == 1 ? " is not a number: read as 0"
                                                             : " are not numbers: read as 0");
    if (!LinesShiftTaps(survey)) return note;
    note += words.size() == 1 ? ", which moves every later tap by one"
                              : ", which moves later taps by up to " + std::to_string(words.size());
    if (survey.DroppedNumber)
        note += ", and " + ShortNumber(survey.DroppedValue) + " is dropped as field 65";
    return note;
}

std::string TwoNumbersNote(const CoefficientSurvey& survey) {
    const std::vector<int>& taps = survey.TwoNumbers;
    if (taps.size() == 1)
        return FieldList(taps) + " holds two numbers: read as " +
               ShortNumber(survey.FirstTwoNumbersValue);
    return FieldList(taps) + " hold two numbers each: field " + std::to_string(taps[0] + 1) +
           " read as " + ShortNumber(survey.FirstTwoNumbersValue);
}

void AddScaleNotes(const CoefficientSurvey& survey, std::vector<std::string>& notes) {
    // Lines joined into one number give no figure of the file's taps.
    if (survey.JoinedLines) return;
    bool dc = DcFarFromOne(survey);
    if (dc)
        notes.push_back(survey.TapSum == 0.0 ? std::string("taps sum to 0: nothing passes at DC")
                                             : "taps sum to " + ShortNumber(survey.TapSum) + ": " +
                                                   Decibels(std::fabs(survey.TapSum)) + " at DC");
    // The same figure twice says nothing more.
    if (GainAboveLimit(survey) &&
        !(dc &&
          std::fabs(survey.MagnitudeSum - std::fabs(survey.TapSum)) < 1e-3 * survey.MagnitudeSum))
        notes.push_back("largest gain " + Decibels(survey.MagnitudeSum));
}

}  // namespace

std::vector<std::string> CoefficientNotes(const CoefficientSurvey& survey) {
    std::vector<std::string> notes;
    if (survey.Encoding != TextEncoding::Bytes)
        notes.push_back(survey.Encoding == TextEncoding::Utf16LittleEndian
                            ? "UTF-16 LE text: read as the text it holds"
                            : "UTF-16 BE text: read as the text it holds");
    if (survey.ByteOrderMark) notes.push_back("UTF-8 byte-order mark: field 1 reads as 0");
    if (survey.JoinedLines)
        notes.push_back("line feeds without CR joined its lines into one field");
    if (!survey.TwoNumbers.empty()) notes.push_back(TwoNumbersNote(survey));
    if (!survey.NotNumbers.empty()) notes.push_back(NotNumbersNote(survey));
    const std::vector<int>& commas = survey.DecimalCommas;
    if (!commas.empty())
        notes.push_back((commas.size() == 1 ? "a decimal comma ends " : "decimal commas end ") +
                        FieldList(commas));
    if (survey.NumbersAfterTaps) {
        // A shift's note already names the number dropped.
        if (!(LinesShiftTaps(survey) && survey.Numbers <= TapCount))
            notes.push_back("holds " + Count(survey.Numbers, "number", "numbers") +
                            ": only the first 64 fields are taps");
    } else if (!survey.JoinedLines && survey.FilledFields < TapCount) {
        // Joined lines leave the file one field long; that note says why.
        notes.push_back(survey.Numbers == 0
                            ? std::string("holds no number: every tap is 0")
                            : "holds only " + Count(survey.Numbers, "number", "numbers") +
                                  ": the other taps are 0");
    }
    AddScaleNotes(survey, notes);
    return notes;
}

std::string CoefficientVerdict(const CoefficientSurvey& survey) {
    if (!survey.TwoNumbers.empty())
        return "look at " + FieldList(survey.TwoNumbers) +
               ": two numbers in one field (two columns?); keep the taps alone, one a line";
    if (survey.JoinedLines) return "look at its line ends: save it with CR LF line ends";
    if (LinesShiftTaps(survey))
        return "look at " + FieldList(survey.NotNumbers) +
               ": remove lines that hold no number, so that each tap stands at its place";
    if (survey.ByteOrderMark) return "look at field 1: save the file without a byte-order mark";
    if (!survey.DecimalCommas.empty())
        return "look at " + FieldList(survey.DecimalCommas) + ": write decimal points, not commas";
    if (!survey.NotNumbers.empty())
        return "look at " + FieldList(survey.NotNumbers) + ": no number there";
    if (survey.NumbersAfterTaps || survey.FilledFields < TapCount)
        return "look at its length: it holds " + Count(survey.Numbers, "number", "numbers") +
               ", where a filter has 64 taps";
    if (DcFarFromOne(survey) || GainAboveLimit(survey))
        return "look at the taps' scale: they sum to " + ShortNumber(survey.TapSum) +
               " where the error filters sum to 1";
    return "as expected";
}

// ---- Files --------------------------------------------------------------------------

CoefficientLoad LoadCoefficients(const std::string& fileName) {
    CoefficientLoad load;
    OpenResult file = OpenForReading(fileName);
    if (file.File == NoFile) {
        load.Error = file.Error;
        return load;
    }
    load.Opened = true;
    // In pieces, whatever the file's size; a read error part-way ends the
    // data there, so the fields still to come are empty.
    ByteReader reader = ReadFromFile(file.File);
    load.Values = ReadCoefficients(reader, load.Survey);
    CloseFile(file.File);
    return load;
}
