// The screen model and the drawing operations over it. Every operation
// changes the model and then asks the terminal layer to show the change.
#include "console/screen.h"

#include "console/terminal.h"

namespace {

ScreenModel screen;
bool screenReady = false;

constexpr int StartAttribute = 7;  // light grey on black, a console's default

ScreenModel& Model() {
    if (!screenReady) ResetScreen();
    return screen;
}

void FillRow(int row, int attribute) {
    for (ScreenCell& cell : screen.cells[row - 1])
        cell = {' ', static_cast<unsigned char>(attribute)};
}

// Moves the cursor to column 1 of the next row, scrolling on the last row.
void AdvanceRow() {
    screen.cursorColumn = 1;
    if (screen.cursorRow < ScreenRows) {
        ++screen.cursorRow;
    } else {
        ScrollScreenUp();
    }
}

void LogRow(int row) {
    screen.logText += RowText(row);
    screen.logText += '\n';
}

}  // namespace

// ---- Model state ----------------------------------------------------------------

ScreenModel& Screen() { return Model(); }

void ResetScreen() {
    screenReady = true;
    for (int row = 1; row <= ScreenRows; ++row) FillRow(row, StartAttribute);
    screen.foreground = StartAttribute % 16;
    screen.background = StartAttribute / 16;
    screen.cursorRow = 1;
    screen.cursorColumn = 1;
    screen.cursorVisible = true;
    screen.keepLog = false;
    screen.firstUnloggedRow = 1;
    screen.logText.clear();
}

int CurrentAttribute() { return Model().foreground + 16 * Model().background; }

ScreenCell CellAt(int row, int column) { return Model().cells[row - 1][column - 1]; }

std::string RowText(int row) {
    std::string text;
    for (const ScreenCell& cell : Model().cells[row - 1]) text += static_cast<char>(cell.character);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

void ScrollScreenUp() {
    ScreenModel& s = Model();
    if (s.keepLog) {
        if (s.firstUnloggedRow == 1)
            LogRow(1);
        else
            --s.firstUnloggedRow;
    }
    for (int row = 1; row < ScreenRows; ++row) {
        for (int column = 0; column < ScreenColumns; ++column)
            s.cells[row - 1][column] = s.cells[row][column];
    }
    FillRow(ScreenRows, CurrentAttribute());
}

void LogFinishedRows(bool withCursorRow) {
    ScreenModel& s = Model();
    if (!s.keepLog) return;
    int last = s.cursorRow - 1;
    if (withCursorRow && !RowText(s.cursorRow).empty()) last = s.cursorRow;
    for (int row = s.firstUnloggedRow; row <= last; ++row) LogRow(row);
    if (last + 1 > s.firstUnloggedRow) s.firstUnloggedRow = last + 1;
}

// ---- Drawing operations ---------------------------------------------------------

void PrintText(std::string_view text) {
    ScreenModel& s = Model();
    LogFinishedRows(false);
    unsigned char attribute = static_cast<unsigned char>(CurrentAttribute());
    for (char character : text) {
        s.cells[s.cursorRow - 1][s.cursorColumn - 1] = {static_cast<unsigned char>(character),
                                                        attribute};
        // A text that reaches the right edge has already moved on to the next row.
        if (s.cursorColumn < ScreenColumns)
            ++s.cursorColumn;
        else
            AdvanceRow();
    }
    ShowScreen();
}

void EndLine() {
    Model();
    LogFinishedRows(false);
    AdvanceRow();
    ShowScreen();
}

void SetColours(int foreground, int background) {
    ScreenModel& s = Model();
    if (foreground >= 0 && foreground < 16) s.foreground = foreground;
    if (background >= 0 && background < 16) s.background = background;
}

void ClearScreen() {
    ScreenModel& s = Model();
    LogFinishedRows(true);
    for (int row = 1; row <= ScreenRows; ++row) FillRow(row, CurrentAttribute());
    s.cursorRow = 1;
    s.cursorColumn = 1;
    s.firstUnloggedRow = 1;
    ShowScreen();
}

void HideCursor() {
    Model().cursorVisible = false;
    ShowScreen();
}

int CursorRow() { return Model().cursorRow; }

void MoveCursor(int row, int column) {
    ScreenModel& s = Model();
    if (row >= 1 && row <= ScreenRows) s.cursorRow = row;
    if (column >= 1 && column <= ScreenColumns) s.cursorColumn = column;
    ShowScreen();
}
