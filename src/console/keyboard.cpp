// Reading the keyboard: the program's own line editing for the input prompt,
// and the final wait for any key.
#include <string>

#include "console/screen.h"
#include "console/terminal.h"

namespace {

constexpr size_t LongestLine = 10000;
constexpr unsigned char CtrlD = 4;
constexpr std::string_view InputEnded = "phonoskew: standard input ended while waiting for a path";

// ---- Line editing actions ---------------------------------------------------------

void AddCharacter(std::string& line, unsigned char character) {
    if (line.size() >= LongestLine) return;
    line += static_cast<char>(character);
    PrintText(std::string_view(line).substr(line.size() - 1));
}

// Removes the last character typed: the cursor steps back one cell (from
// column 1 to the last column of the row above), blanks it and stays there.
void EraseCharacter(std::string& line) {
    if (line.empty()) return;
    line.pop_back();
    ScreenModel& screen = Screen();
    if (screen.cursorColumn > 1) {
        --screen.cursorColumn;
    } else if (screen.cursorRow > 1) {
        --screen.cursorRow;
        screen.cursorColumn = ScreenColumns;
    }
    screen.cells[screen.cursorRow - 1][screen.cursorColumn - 1] = {
        ' ', static_cast<unsigned char>(CurrentAttribute())};
    ShowScreen();
}

}  // namespace

// ---- Console operations ------------------------------------------------------------

std::string ReadKeyboardLine() {
    ScreenModel& screen = Screen();
    bool wasHidden = !screen.cursorVisible;
    screen.cursorVisible = true;
    ShowScreen();
    std::string line;
    for (;;) {
        Key key;
        if (!NextKey(key)) QuitProgram(InputEnded, 2);
        switch (key.kind) {
            case KeyKind::Enter:
                EndLine();
                if (wasHidden) HideCursor();
                return line;
            case KeyKind::Backspace:
                EraseCharacter(line);
                break;
            case KeyKind::Character:
                AddCharacter(line, key.code);
                break;
            case KeyKind::Control:
                // Ctrl+D on an empty line is a terminal's end of input.
                if (key.code == CtrlD && line.empty()) QuitProgram(InputEnded, 2);
                break;
            case KeyKind::Escape:
            case KeyKind::NoCharacter:
                break;  // no character to type
        }
    }
}

// Any key ends the wait, also one typed while the job ran; the end of input
// counts as a key, so a scripted run never hangs here.
void WaitForKey() {
    ShowScreen();
    Key key;
    NextKey(key);
}
