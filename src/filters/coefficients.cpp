// Coefficient files: cutting the text into fields, loading one stage's 64
// coefficients, and the survey of what may make them differ from what the
// file's author meant.
#include <algorithm>
#include <cstdint>
#include <string>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"

// ---- Field rules ------------------------------------------------------------------

namespace {

constexpr int EndOfData = 0x1A;  // Ctrl-Z: the data ends here

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

void TakeFieldByte(FieldBytes& field, char c) {
    TakeNumberByte(field.Scan, c);
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
void SkipAfterQuote(ByteReader& reader, FieldBytes& field) {
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
void ReadQuotedField(ByteReader& reader, FieldBytes& field) {
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
void ReadPlainField(ByteReader& reader, FieldBytes& field) {
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
            field.DroppedLine = field.HasText;
        } else if (c != '\t') {
            TakeFieldByte(field, char(c));
        }
    }
}

void ReadField(ByteReader& reader, FieldBytes& field) {
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

bool AtEndOfData(ByteReader& reader) {
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
CoefficientSet ReadCoefficients(ByteReader& reader, CoefficientSurvey& survey) {
    CoefficientSet values{};
    SurveyState state;
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
    ByteReader reader = ReadFromText(text);
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

std::vector<std::string> CoefficientNotes(const CoefficientSurvey& survey) {
    std::vector<std::string> notes;
    if (survey.ByteOrderMark) notes.push_back("UTF-8 byte-order mark: field 1 reads as 0");
    if (survey.JoinedLines)
        notes.push_back("line feeds without CR joined its lines into one field");
    const std::vector<int>& words = survey.NotNumbers;
    if (!words.empty())
        notes.push_back(FieldList(words) + (words.size() == 1 ? " is not a number: read as 0"
                                                              : " are not numbers: read as 0"));
    const std::vector<int>& commas = survey.DecimalCommas;
    if (!commas.empty())
        notes.push_back((commas.size() == 1 ? "a decimal comma ends " : "decimal commas end ") +
                        FieldList(commas));
    if (survey.NumbersAfterTaps) {
        notes.push_back("holds " + Count(survey.Numbers, "number", "numbers") +
                        ": only the first 64 fields are taps");
    } else if (!survey.JoinedLines && survey.FilledFields < TapCount) {
        // Joined lines leave the file one field long; that note says why.
        notes.push_back(survey.Numbers == 0
                            ? std::string("holds no number: every tap is 0")
                            : "holds only " + Count(survey.Numbers, "number", "numbers") +
                                  ": the other taps are 0");
    }
    return notes;
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
