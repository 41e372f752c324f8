// The 80x55 screen model behind the console operations: one character and
// one attribute byte per cell, the current colours and the cursor. It knows
// nothing of the terminal: the console operations (drawing.cpp) change it
// and then have the terminal show it. Internal to the console folder (and
// its tests).
//
// A character is one byte, except in a UTF-8 locale, where a whole UTF-8
// sequence is one character taking the cells of its display width (two for
// East Asian wide ones). A combining mark (or another character of no
// width) joins the cell of the visible character before it, as a terminal
// draws it: `e` and U+0301 make one cell showing é. A cell keeps the
// characters' bytes exactly, so the plain transcript carries them
// unchanged; bytes that make no printable character, and a mark with
// nothing to join, take one cell each and are shown as U+FFFD.
#pragma once

#include <cstdint>
#include <string>

#include "console/console.h"

// How a cell's bytes are shown.
enum class CellShape : unsigned char {
    Byte,       // one byte: the only shape outside a UTF-8 locale
    Character,  // a UTF-8 character one cell wide
    WideLeft,   // a UTF-8 character two cells wide; the next cell is its WideRight
    WideRight,  // the right half of a wide character, no bytes of its own
    Unshown,    // no printable character (invalid UTF-8, a control, zero width)
};

struct ScreenCell {
    unsigned char character;  // the byte, or the first byte of a UTF-8 character
    unsigned char attribute;  // foreground + 16 x background
    CellShape shape = CellShape::Byte;
    // The rest of a UTF-8 character's bytes and of the marks joined to it,
    // zeros after their end.
    char more[15] = {};
};

struct ScreenModel {
    ScreenCell cells[ScreenRows][ScreenColumns];  // [row - 1][column - 1]
    int foreground;
    int background;
    int cursorRow;     // 1-based
    int cursorColumn;  // 1-based
    bool cursorVisible;
    bool utf8;  // characters are UTF-8 (set at start from the locale)
    // Rows scrolled off the top since the reset, and the last of them, as a
    // terminal's scrollback keeps it: the transcript takes it from here.
    long scrolledRows;
    ScreenCell scrolledOff[ScreenColumns];
};

// The one screen of the program.
ScreenModel& Screen();

// Back to the state at program start: blanks in light grey on black,
// cursor visible at row 1, column 1, nothing scrolled, one byte a character.
void ResetScreen();

// ---- Characters ---------------------------------------------------------------------

// The first character of a text: its bytes, its cells and how it shows. A
// combining mark has width 0 (it joins the character before it).
struct TextCharacter {
    size_t length;
    int width;
    CellShape shape;
};
TextCharacter FirstCharacter(std::string_view text);
// True when `text` is the start of a UTF-8 character still missing bytes.
bool StartsIncompleteCharacter(std::string_view text);
// The cells a text takes (a mark with no visible character before it in
// the text takes one).
int TextWidth(std::string_view text);
// The text as it fits `columns` cells: whole when it does, else its start
// and end with "…" between them ("..." where characters are single bytes),
// cut between characters. For a long path on a row of its own.
std::string ShortenMiddle(std::string_view text, int columns);
// Puts one character (as FirstCharacter takes it) at the cursor, wrapping
// and scrolling as PrintText does, and says how many cells the cursor moved
// on: its width, and one more when a wide character did not fit at the end
// of a row; 0 for a mark joined to the cell before. At most one scroll.
int PutCharacter(std::string_view character);
// Puts the first character of `text` at the cursor as PutCharacter does and
// says how many bytes it took.
size_t PutTextCharacter(std::string_view text);
// Puts one character at a cell without moving the cursor; a wide one takes
// the cell to its right as well. Says how many cells it took.
int PutCharacterAt(int row, int column, std::string_view character, int attribute);

int CurrentAttribute();
ScreenCell CellAt(int row, int column);
// The characters of one row, trailing blanks removed.
std::string RowText(int row);
std::string CellsText(const ScreenCell* cells);

// Moves the rows up by one, keeping the top row in scrolledOff, and blanks
// the bottom row in the current colours.
void ScrollScreenUp();
// Moves the cursor to column 1 of the next row, scrolling on the last row.
void NextRow();
// Blanks every cell in the current colours; the cursor to row 1, column 1.
void BlankScreen();
// Moves the cursor; a row or column off the screen is left as it was.
void PlaceCursor(int row, int column);
