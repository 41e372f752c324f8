// The input prompt and the test that the typed file opens.
#include "console/console.h"
#include "console/screen_script.h"
#include "driver/driver.h"
#include "system/files.h"

namespace {

// The typed path starts two columns after the question mark.
constexpr int PathColumn = 17;

// The two characters backslash and n break the box's text into two lines.
constexpr const char* FileNotFoundText =
    "            File not found.\\n Please enter a valid file path  ";

}  // namespace

bool CanOpenInput(const std::string& path) {
    // Wildcards would name many files, or none, so such a path never opens.
    if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
    OpenResult file = OpenForReading(path);
    CloseFile(file.File);
    return file.File != NoFile;
}

std::string AskInputPath() {
    for (;;) {
        int promptRow = ShowPromptScreen();
        SetColours(Black, BrightWhite);
        MoveCursor(promptRow, PathColumn);
        std::string path = ReadKeyboardLine();
        if (CanOpenInput(path)) return path;
        ShowError(FileNotFoundText);
    }
}
