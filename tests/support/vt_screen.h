// The terminal the end-to-end tests read the program's screen from: libvterm
// (an xterm-like emulator) behind a few plain functions, so a test checks
// each row's text and colours as a user would see them. Text is UTF-8: a
// wide character takes two cells, a combining mark joins its cell, and a
// byte that starts no valid character shows as U+FFFD. Colours are the
// 16-colour palette numbers the program sends (SGR 30-37/90-97, 40-47/100-107);
// the terminal's own colours read as 7 on 0. Like tmux and VTE, the screen
// keeps in its history the rows a line feed at the bottom or a whole-screen
// clear pushes off the screen.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;

struct VtCell {
    std::string ch = " ";  // the character's bytes; empty in the right half of a wide one
    int foreground = 7;    // palette numbers; -1 for a colour outside the palette
    int background = 0;
};

struct VtScreen {
    struct FreeVTerm {
        void operator()(VTerm* terminal) const;
    };
    std::unique_ptr<VTerm, FreeVTerm> terminal;
    int rows = 0;
    int columns = 0;
    // Read back after each FeedVt.
    int cursorRow = 1;  // 1-based
    int cursorColumn = 1;
    bool cursorVisible = true;
    int foreground = 7;  // the colours the next character is written in
    int background = 0;
    int bells = 0;
    std::string title;
    // The scrollback: rows a line feed at the bottom scrolled off, and the
    // rows down to the last one with text that a whole-screen clear pushed.
    std::vector<std::string> history;
    std::string heldBack;  // a possible start of a clear, awaiting more bytes
};

VtScreen MakeVtScreen(int rows, int columns);

// Feeds terminal output bytes; sequences split across calls are kept.
void FeedVt(VtScreen& screen, std::string_view bytes);

// Row text (1-based), trailing blanks trimmed unless `keepTrailing`.
std::string VtRowText(const VtScreen& screen, int row, bool keepTrailing = false);
VtCell VtCellAt(const VtScreen& screen, int row, int column);
// The whole screen as text, one line a row, for failure messages.
std::string VtDump(const VtScreen& screen);
