// A small terminal emulator for the end-to-end tests: it reads what the
// program sends to its terminal and keeps the resulting screen of cells, so
// a test can check each row's text and colours as a user would see them.
// It understands the sequences a full-screen program of this kind sends:
// cursor positioning and movement, SGR colours, erase, cursor visibility,
// and OSC/window requests (which it passes over). Text is UTF-8: East Asian
// wide characters take two cells, combining marks join the cell before, and
// a byte that starts no valid character shows as U+FFFD. Like tmux and VTE, it keeps the rows a
// clear or a line feed at the bottom pushes off the screen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct VtCell {
    std::string ch = " ";  // the character's bytes; empty in the right half of a wide one
    int foreground = 7;    // 16-colour palette numbers; 7 on 0 is the default
    int background = 0;
};

struct VtScreen {
    int rows = 0;
    int columns = 0;
    std::vector<VtCell> cells;
    int cursorRow = 1;  // 1-based
    int cursorColumn = 1;
    bool cursorVisible = true;
    bool pendingWrap = false;
    int foreground = 7;
    int background = 0;
    int bells = 0;
    std::string title;
    std::string pending;  // an incomplete escape sequence or character awaiting more bytes
    // The scrollback: rows a line feed at the bottom scrolled off, and the
    // rows down to the last one with text that a whole-screen clear pushed.
    std::vector<std::string> history;
};

VtScreen MakeVtScreen(int rows, int columns);

// Feeds terminal output bytes; sequences split across calls are kept.
void FeedVt(VtScreen& screen, std::string_view bytes);

// Row text (1-based), trailing blanks trimmed unless `keepTrailing`.
std::string VtRowText(const VtScreen& screen, int row, bool keepTrailing = false);
const VtCell& VtCellAt(const VtScreen& screen, int row, int column);
// The whole screen as text, one line a row, for failure messages.
std::string VtDump(const VtScreen& screen);
