// Reading the keyboard: the program's own line editing for the input prompt,
// and the final wait for any key.
#include <string>
#include <vector>

#include "console/screen.h"
#include "console/terminal.h"

namespace {

constexpr size_t LongestLine = 10000;  // characters
constexpr unsigned char CtrlD = 4;
constexpr std::string_view InputEnded = "phonoskew: standard input ended while waiting for a path";

// ---- Line editing actions ---------------------------------------------------------

struct TypedCharacter {
    size_t length;  // bytes
    int cells;      // cells it took on the screen
};

// The line as typed: its bytes and characters, and the first bytes of a
// UTF-8 character still being typed.
struct TypedLine {
    std::string bytes;
    std::vector<TypedCharacter> characters;
    std::string partial;
};

// A combining mark that joins the character before it on the screen
// belongs to it: Backspace then takes both away.
void AddCharacter(TypedLine& line, std::string_view character) {
    if (line.characters.size() >= LongestLine) return;
    line.bytes += character;
    int cells = PrintCharacter(character);
    if (cells == 0 && !line.characters.empty()) {
        line.characters.back().length += character.size();
        return;
    }
    line.characters.push_back({character.size(), cells});
}

// Takes the typed bytes as characters. A UTF-8 character still missing bytes
// waits for them, unless `whole`: another key ends it, as bytes that make no
// character.
void TakeCharacters(TypedLine& line, bool whole) {
    while (!line.partial.empty() && (whole || !StartsIncompleteCharacter(line.partial))) {
        size_t length = FirstCharacter(line.partial).length;
        AddCharacter(line, std::string_view(line.partial).substr(0, length));
        line.partial.erase(0, length);
    }
}

// Removes the last character typed: the cursor steps back over each of its
// cells (from column 1 to the last column of the row above), blanking them,
// and stays on the first.
void EraseCharacter(TypedLine& line) {
    if (line.characters.empty()) return;
    TypedCharacter last = line.characters.back();
    line.characters.pop_back();
    line.bytes.erase(line.bytes.size() - last.length);
    ScreenModel& screen = Screen();
    for (int cell = 0; cell < last.cells; ++cell) {
        if (screen.cursorColumn > 1) {
            --screen.cursorColumn;
        } else if (screen.cursorRow > 1) {
            --screen.cursorRow;
            screen.cursorColumn = ScreenColumns;
        }
        screen.cells[screen.cursorRow - 1][screen.cursorColumn - 1] = {
            ' ', static_cast<unsigned char>(CurrentAttribute())};
    }
    ShowScreen();
}

}  // namespace

// ---- Console operations ------------------------------------------------------------

std::string ReadKeyboardLine() {
    ScreenModel& screen = Screen();
    bool wasHidden = !screen.cursorVisible;
    screen.cursorVisible = true;
    ShowScreen();
    TypedLine line;
    for (;;) {
        Key key;
        if (!NextKey(key)) QuitProgram(InputEnded, 2);
        if (key.kind == KeyKind::Character) {
            line.partial += static_cast<char>(key.code);
            TakeCharacters(line, false);
            continue;
        }
        TakeCharacters(line, true);
        switch (key.kind) {
            case KeyKind::Enter:
                EndLine();
                if (wasHidden) HideCursor();
                return line.bytes;
            case KeyKind::Backspace:
                EraseCharacter(line);
                break;
            case KeyKind::Control:
                // Ctrl+D on an empty line is a terminal's end of input.
                if (key.code == CtrlD && line.bytes.empty()) QuitProgram(InputEnded, 2);
                break;
            case KeyKind::Character:
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
