// The console's drawing operations. Each changes the screen model, has the
// transcript note what it finished, and then shows the screen: the model
// knows nothing of the terminal, and the terminal only reads the model.
#include "console/screen.h"
#include "console/terminal.h"
#include "console/transcript.h"

void PrintText(std::string_view text) {
    LogFinishedRows(false);
    while (!text.empty()) {
        text.remove_prefix(PutTextCharacter(text));
        NoteScrolls();
    }
    ShowScreen();
}

int PrintCharacter(std::string_view character) {
    LogFinishedRows(false);
    int cells = PutCharacter(character);
    NoteScrolls();
    ShowScreen();
    return cells;
}

void EndLine() {
    LogFinishedRows(false);
    NextRow();
    NoteScrolls();
    ShowScreen();
}

void SetColours(int foreground, int background) {
    ScreenModel& screen = Screen();
    if (foreground >= 0 && foreground < 16) screen.foreground = foreground;
    if (background >= 0 && background < 16) screen.background = background;
}

void ClearScreen() {
    LogFinishedRows(true);
    BlankScreen();
    StartTranscriptPage();
    ShowScreen();
}

void HideCursor() {
    Screen().cursorVisible = false;
    ShowScreen();
}

int CursorRow() { return Screen().cursorRow; }

void MoveCursor(int row, int column) {
    PlaceCursor(row, column);
    ShowScreen();
}
