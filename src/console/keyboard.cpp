// Reading the keyboard: the program's own line editing for the input prompt,
// and the final wait for any key.
#include <string>
#include <vector>

#include "console/key_wait.h"
#include "console/screen.h"
#include "console/terminal.h"
#include "console/transcript.h"

namespace {

constexpr size_t LongestLine = 10000;  // characters
constexpr unsigned char CtrlD = 4;
constexpr unsigned char CtrlZ = 26;
constexpr std::string_view InputEnded = "phonoskew: standard input ended while waiting for a path";

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

// ---- Echo on a plain screen -------------------------------------------------------
//
// With keys from a terminal and the screen going out as plain text (a dumb
// terminal), the prompt row would go out only once Enter finishes it, and
// nothing would show the typing. So the row up to the cursor goes out
// before the first key, each character as it is typed, a Backspace as
// "\b \b" for each cell, and Enter as the line end; the rows typed on then
// count as written. No escape sequence is ever sent.

void StartEcho() {
    LogFinishedRows(false);
    ShowScreen();
    ScreenModel& screen = Screen();
    std::string row = RowText(screen.cursorRow);
    int blanks = screen.cursorColumn - 1 - TextWidth(row);
    if (blanks > 0) row.append(static_cast<size_t>(blanks), ' ');
    WritePlainText(row);
    PauseTranscript();
}

// `lastRow`: the last row the echo wrote on.
void EndEcho(int lastRow) {
    WritePlainText("\n");
    ResumeTranscriptBelow(lastRow);
}

// The echoed line is ended first, so the reason stands on a line of its own.
[[noreturn]] void QuitAtEndOfInput(bool echo) {
    if (echo) EndEcho(Screen().cursorRow);
    QuitProgram(InputEnded, 2);
}

// ---- Line editing actions ---------------------------------------------------------

// A combining mark that joins the character before it on the screen
// belongs to it: Backspace then takes both away.
void AddCharacter(TypedLine& line, std::string_view character, bool echo) {
    if (line.characters.size() >= LongestLine) return;
    line.bytes += character;
    if (echo) WritePlainText(character);
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
void TakeCharacters(TypedLine& line, bool whole, bool echo) {
    while (!line.partial.empty() && (whole || !StartsIncompleteCharacter(line.partial))) {
        size_t length = FirstCharacter(line.partial).length;
        AddCharacter(line, std::string_view(line.partial).substr(0, length), echo);
        line.partial.erase(0, length);
    }
}

// Removes the last character typed: the cursor steps back over each of its
// cells (from column 1 to the last column of the row above), blanking them,
// and stays on the first.
void EraseCharacter(TypedLine& line, bool echo) {
    if (line.characters.empty()) return;
    TypedCharacter last = line.characters.back();
    if (echo) {
        auto cells = static_cast<size_t>(last.cells);
        WritePlainText(std::string(cells, '\b') + std::string(cells, ' ') +
                       std::string(cells, '\b'));
    }
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
    bool echo = EchoingKeys();
    if (echo) StartEcho();
    TypedLine line;
    for (;;) {
        Key key;
        if (!NextKey(key)) QuitAtEndOfInput(echo);
        if (key.kind == KeyKind::Character) {
            line.partial += static_cast<char>(key.code);
            TakeCharacters(line, false, echo);
            continue;
        }
        TakeCharacters(line, true, echo);
        switch (key.kind) {
            case KeyKind::Enter:
                EndLine();
                if (echo) EndEcho(screen.cursorRow - 1);
                if (wasHidden) HideCursor();
                return line.bytes;
            case KeyKind::Backspace:
                EraseCharacter(line, echo);
                break;
            case KeyKind::Control:
                // Ctrl+D on an empty line is a terminal's end of input,
                // Ctrl-Z a Windows console's.
                if (line.bytes.empty() &&
                    (key.code == CtrlD || (key.code == CtrlZ && CtrlZEndsInput())))
                    QuitAtEndOfInput(echo);
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
