// The frame differ: from the screen model and what the terminal shows now,
// the bytes that bring the terminal up to date. No I/O and no globals, so it
// is tested byte for byte without a terminal.
#pragma once

#include <string>

#include "console/screen.h"

// What the terminal shows: its size, the part of the model in view, the
// cells as drawn, its colours and its cursor. A fresh one (valid false)
// makes the next frame clear the terminal and draw everything.
struct ShownState {
    int rows = ScreenRows;  // the terminal's size
    int columns = ScreenColumns;
    int viewTop = 1;  // the model cell at the terminal's top left
    int viewLeft = 1;
    ScreenCell cells[ScreenRows][ScreenColumns] = {};
    bool valid = false;  // false: the next frame clears and draws everything
    int attribute = -1;  // the terminal's colours, -1 when unknown
    int cursorRow = 0;   // the terminal's cursor (terminal rows), 0 when unknown
    int cursorColumn = 0;
    int cursorVisible = -1;   // 1 shown, 0 hidden, -1 unknown
    bool frameDrawn = false;  // a frame has gone out since the start
};

// The bytes that draw the model's changes on the terminal: only the cells
// that differ from `shown`, with the view following the cursor when the
// terminal is smaller than the screen. Brings `shown` up to date; empty when
// nothing changed.
std::string MakeFrame(const ScreenModel& screen, ShownState& shown);

// The model rows and columns in view.
int ShownRowCount(const ShownState& shown);
int ShownColumnCount(const ShownState& shown);

// The bytes that put the terminal back at the end: colours reset, cursor
// shown and, once a frame is out, the cursor on a clean line below the last
// row of text.
std::string MakeRestoreBytes(const ScreenModel& screen, const ShownState& shown);
