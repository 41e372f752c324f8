// Coefficient files: cutting the text into fields, and loading one stage's
// 64 coefficients.
#include <cstdint>

#include "files/files.h"
#include "filters/filters.h"
#include "numeric/numeric.h"

// ---- Field rules ------------------------------------------------------------------

namespace {

constexpr char EndOfData = 0x1A;  // Ctrl-Z: the data ends here

// After a closing quote: blanks, TABs and LFs go; then a comma, or a CR with
// one LF after it, ends the field. Anything else is left for the next field.
void SkipAfterQuote(std::string_view text, size_t& pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;
    if (pos < text.size() && text[pos] == ',') {
        ++pos;
    } else if (pos < text.size() && text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    }
}

std::string ReadQuotedField(std::string_view text, size_t& pos) {
    size_t start = pos + 1;
    size_t close = text.find('"', start);
    if (close == std::string_view::npos) close = text.size();
    std::string field(text.substr(start, close - start));
    pos = close < text.size() ? close + 1 : close;
    SkipAfterQuote(text, pos);
    return field;
}

// Up to a comma, CR, Ctrl-Z or the end; LF and TAB are dropped on the way.
// A Ctrl-Z stays in place so that every later field is empty.
std::string ReadPlainField(std::string_view text, size_t& pos) {
    std::string field;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == EndOfData) break;
        ++pos;
        if (c == ',') break;
        if (c == '\r') {
            if (pos < text.size() && text[pos] == '\n') ++pos;
            break;
        }
        if (c != '\n' && c != '\t') field += c;
    }
    return field;
}

std::string ReadField(std::string_view text, size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size() || text[pos] == EndOfData) return "";
    if (text[pos] == '"') return ReadQuotedField(text, pos);
    return ReadPlainField(text, pos);
}

}  // namespace

std::array<std::string, TapCount> ReadCoefficientFields(std::string_view text) {
    std::array<std::string, TapCount> fields;
    size_t pos = 0;
    for (auto& field : fields) field = ReadField(text, pos);
    return fields;
}

CoefficientSet ParseCoefficientText(std::string_view text) {
    std::array<std::string, TapCount> fields = ReadCoefficientFields(text);
    CoefficientSet values{};
    for (int i = 0; i < TapCount; ++i) values[i] = static_cast<double>(ParseNumber(fields[i]));
    return values;
}

// ---- Files --------------------------------------------------------------------------

CoefficientLoad LoadCoefficients(const std::string& fileName) {
    CoefficientLoad load;
    OpenResult file = OpenForReading(fileName);
    if (file.Fd < 0) {
        load.Error = file.Error;
        return load;
    }
    load.Opened = true;
    // A read error part-way keeps the text before it: the fields still to
    // come are then empty, as at the end of the data.
    TextResult text = ReadText(file.Fd, SIZE_MAX);
    CloseFile(file.Fd);
    load.Values = ParseCoefficientText(text.Text);
    return load;
}
