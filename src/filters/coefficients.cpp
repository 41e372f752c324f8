// Coefficient files: cutting the text into fields, and loading one stage's
// 64 coefficients.
#include <cstdint>
#include <string>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"

// ---- Field rules ------------------------------------------------------------------

namespace {

constexpr int EndOfData = 0x1A;  // Ctrl-Z: the data ends here

// Where the bytes of one field go: its number scan, and its text when a
// test asks for it. A line feed dropped between text and more text joins
// two lines into one number: a file written with LF line ends.
struct FieldBytes {
    NumberScan Scan;
    std::string* Text = nullptr;
    bool HasText = false;      // a byte other than a blank has been kept
    bool DroppedLine = false;  // a line feed was dropped after that text
    bool JoinedLines = false;  // and more text followed it
};

void TakeFieldByte(FieldBytes& field, char c) {
    TakeNumberByte(field.Scan, c);
    if (field.Text) *field.Text += c;
    if (c != ' ') {
        field.JoinedLines = field.JoinedLines || field.DroppedLine;
        field.HasText = true;
    }
}

// After a closing quote: blanks, TABs and LFs go; then a comma, or a CR with
// one LF after it, ends the field. Anything else is left for the next field.
void SkipAfterQuote(ByteReader& reader) {
    int c = PeekByte(reader);
    while (c == ' ' || c == '\t' || c == '\n') {
        SkipByte(reader);
        c = PeekByte(reader);
    }
    if (c == ',') {
        SkipByte(reader);
    } else if (c == '\r') {
        SkipByte(reader);
        if (PeekByte(reader) == '\n') SkipByte(reader);
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
    SkipAfterQuote(reader);
}

// Up to a comma, CR, Ctrl-Z or the end; LF and TAB are dropped on the way.
// A Ctrl-Z stays in place so that every later field is empty.
void ReadPlainField(ByteReader& reader, FieldBytes& field) {
    for (int c = PeekByte(reader); c >= 0 && c != EndOfData; c = PeekByte(reader)) {
        SkipByte(reader);
        if (c == ',') return;
        if (c == '\r') {
            if (PeekByte(reader) == '\n') SkipByte(reader);
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
    while (PeekByte(reader) == ' ') SkipByte(reader);
    int c = PeekByte(reader);
    if (c < 0 || c == EndOfData) return;
    if (c == '"') {
        ReadQuotedField(reader, field);
    } else {
        ReadPlainField(reader, field);
    }
}

// The first 64 fields as numbers; nothing after them is read. Says whether
// any of them joined lines at a line feed without CR.
CoefficientSet ReadCoefficients(ByteReader& reader, bool& joinedLines) {
    CoefficientSet values{};
    joinedLines = false;
    for (double& value : values) {
        FieldBytes field;
        ReadField(reader, field);
        value = static_cast<double>(NumberValue(field.Scan));
        joinedLines = joinedLines || field.JoinedLines;
    }
    return values;
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
    bool joinedLines = false;
    return ReadCoefficients(reader, joinedLines);
}

bool JoinsLinesWithoutCr(std::string_view text) {
    ByteReader reader = ReadFromText(text);
    bool joinedLines = false;
    ReadCoefficients(reader, joinedLines);
    return joinedLines;
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
    load.Values = ReadCoefficients(reader, load.JoinedLines);
    CloseFile(file.File);
    return load;
}
