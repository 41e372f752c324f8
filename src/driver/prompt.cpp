// The input prompt and the test that the typed file opens.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/console.h"
#include "console/screen_script.h"
#include "driver/driver.h"

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
    // O_NONBLOCK: opening a FIFO must not hang the prompt waiting for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular;
}

std::string AskInputPath() {
    for (;;) {
        int promptRow = ShowPromptScreen();
        SetColours(Black, BrightWhite);
        MoveCursor(promptRow, PathColumn);
        std::string path = ReadKeyboardLine();
        if (CanOpenInput(path)) return path;
        Beep();
        ConsoleMessageBox(FileNotFoundText, " ERROR");
    }
}
