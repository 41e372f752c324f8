// The 80x55 screen model behind the console operations: one character byte
// and one attribute byte per cell, the current colours and the cursor. The
// operations of console.h change it; the terminal layer shows it. Internal
// to the console folder (and its tests).
#pragma once

#include <cstdint>
#include <string>

#include "console/console.h"

struct ScreenCell {
    unsigned char character;
    unsigned char attribute;  // foreground + 16 x background
};

struct ScreenModel {
    ScreenCell cells[ScreenRows][ScreenColumns];  // [row - 1][column - 1]
    int foreground;
    int background;
    int cursorRow;     // 1-based
    int cursorColumn;  // 1-based
    bool cursorVisible;
    // Plain-text log of finished rows, kept when standard output is not a
    // terminal: rows above firstUnloggedRow have gone out already.
    bool keepLog;
    int firstUnloggedRow;
    std::string logText;
};

// The one screen of the program.
ScreenModel& Screen();

// Back to the state at program start: blanks in light grey on black,
// cursor visible at row 1, column 1, no log kept.
void ResetScreen();

int CurrentAttribute();
ScreenCell CellAt(int row, int column);
// The characters of one row, trailing blanks removed.
std::string RowText(int row);

// Moves the rows up by one and blanks the bottom row in the current colours
// (the top row goes to the log first if it has not been logged).
void ScrollScreenUp();

// Logs every row from the first unlogged one up to the row above the cursor,
// and the cursor's row too when `withCursorRow` and it holds any text.
void LogFinishedRows(bool withCursorRow);
