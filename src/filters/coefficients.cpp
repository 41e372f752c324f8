// Coefficient files: cutting the text into fields, and loading one stage's
// 64 coefficients, waiting with a message box while the file is missing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console/console.h"
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

std::array<double, TapCount> ParseCoefficientText(std::string_view text) {
    std::array<std::string, TapCount> fields = ReadCoefficientFields(text);
    std::array<double, TapCount> values{};
    for (int i = 0; i < TapCount; ++i) values[i] = static_cast<double>(ParseNumber(fields[i]));
    return values;
}

// ---- Files --------------------------------------------------------------------------

int OpenCoefficientFile(const char* fileName) {
    int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

namespace {

// The whole text of the file. A read error part-way keeps what came before
// it: the fields still to come are then empty, as at the end of the data.
std::string ReadAllText(int fd) {
    std::string text;
    char block[65536];
    for (;;) {
        ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(block, size_t(got));
    }
    return text;
}

}  // namespace

void LoadCoefficients(const char* fileName, const char* message,
                      std::array<double, TapCount>& coefficients) {
    int fd = OpenCoefficientFile(fileName);
    while (fd < 0) {
        Beep();
        ConsoleMessageBox(message, " ERROR");
        fd = OpenCoefficientFile(fileName);
    }
    std::string text = ReadAllText(fd);
    close(fd);
    coefficients = ParseCoefficientText(text);
}
