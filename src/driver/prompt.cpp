// The input prompt and the test that the typed file opens.
#include <cerrno>

#include "console/console.h"
#include "console/screen_script.h"
#include "driver/driver.h"
#include "system/files.h"
#include "system/quoting.h"

namespace {

// The typed path starts two columns after the question mark.
constexpr int PathColumn = 17;

// The two characters backslash and n break the box's text into two lines.
constexpr const char* FileNotFoundText =
    "            File not found.\\n Please enter a valid file path  ";

// Errors that mean the path names no file that could be read: the box says
// the file is not found. Any other (too many open files, no permission, an
// I/O error) is named, since the file may well be there.
bool NamesNoFile(int error) {
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == ENAMETOOLONG ||
           error == ELOOP || error == NotRegularFile;
}

// The box for a path that does not open.
std::string OpenFailureMessage(const std::string& path, int error) {
    if (NamesNoFile(error)) return FileNotFoundText;
    return " Could not open file '" + path + "':\\n " + ErrorText(error) + "  ";
}

}  // namespace

namespace {

TypedInput OpenPath(const std::string& path) {
    // Wildcards would name many files, or none, so such a path never opens.
    if (path.empty() || path.find_first_of("*?") != std::string::npos) return {path, ENOENT};
    const OpenResult file = OpenForReading(path);
    return {path, file.Error, file.File};
}

}  // namespace

std::string DroppedPath(const std::string& typed) {
    std::string path = typed;
    while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.pop_back();
    if (path.size() >= 2 && (path[0] == '\'' || path[0] == '"') && path.back() == path[0]) {
        const char quote = path[0];
        path = path.substr(1, path.size() - 2);
        // A single quote inside single quotes is written '\'' by the shell's rules.
        for (size_t at = 0; quote == '\'' && (at = path.find("'\\''", at)) != std::string::npos;)
            path.replace(at, 4, "'"), ++at;
    }
    return path;
}

TypedInput OpenTypedPath(const std::string& typed) {
    const TypedInput asTyped = OpenPath(typed);
    if (asTyped.Error == 0) return asTyped;
    const std::string dropped = DroppedPath(typed);
    if (dropped == typed) return asTyped;
    const TypedInput asDropped = OpenPath(dropped);
    return asDropped.Error == 0 ? asDropped : asTyped;
}

TypedInput AskInputPath() {
    for (;;) {
        int promptRow = ShowPromptScreen();
        SetColours(Black, BrightWhite);
        MoveCursor(promptRow, PathColumn);
        TypedInput input = OpenTypedPath(ReadKeyboardLine());
        if (input.Error == 0) return input;
        // The box keeps its fixed text; the line on standard error names the
        // path tried, where a typo in a long pasted path can be seen.
        std::string reason = NamesNoFile(input.Error)
                                 ? "phonoskew: " + QuotedArgument(input.Path) + ": File not found."
                                 : "";
        ShowError(OpenFailureMessage(input.Path, input.Error), reason);
    }
}
