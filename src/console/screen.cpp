// The screen model: characters into cells, wrapping, scrolling, the cursor.
// Nothing here reaches the terminal.
#include "console/screen.h"

#include <algorithm>
#include <string>
#include <vector>

#include "system/terminal_device.h"

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

// ---- UTF-8 --------------------------------------------------------------------------

// The bytes of a UTF-8 character that starts with `lead`, or 0 for a byte
// that starts none.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The code point of the whole, valid UTF-8 character at the start of `text`
// of `length` bytes, or -1 (overlong forms, surrogates, beyond U+10FFFF).
long DecodeCharacter(std::string_view text, size_t length) {
    if (text.size() < length) return -1;
    long code = static_cast<unsigned char>(text[0]) & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (!Continuation(text[i])) return -1;
        code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    const long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
    return code;
}

// Writes a character's cells at row, column (which must hold them all).
void PutCells(int row, int column, std::string_view bytes, CellShape shape, int attribute) {
    ScreenCell cell{
        static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(attribute), shape, {}};
    for (size_t i = 1; i < bytes.size() && i <= sizeof cell.more; ++i) cell.more[i - 1] = bytes[i];
    screen.cells[row - 1][column - 1] = cell;
    if (shape == CellShape::WideLeft) {
        screen.cells[row - 1][column] = {
            ' ', static_cast<unsigned char>(attribute), CellShape::WideRight, {}};
    }
}

// A cell a combining mark can join: one showing a visible character.
bool Joinable(const ScreenCell& cell) {
    switch (cell.shape) {
        case CellShape::Character:
        case CellShape::WideLeft:
            return true;
        case CellShape::Byte:
            return cell.character > ' ' && cell.character < 127;
        case CellShape::WideRight:
        case CellShape::Unshown:
            break;
    }
    return false;
}

// Joins a mark to the cell before (row, column): to its left, the left half
// of a wide character, or the last cell of the row above for column 1.
// False when that cell shows no visible character or has no room left.
bool JoinPreviousCell(int row, int column, std::string_view bytes) {
    if (column == 1) {
        if (row == 1) return false;
        --row;
        column = ScreenColumns + 1;
    }
    int index = column - 2;
    if (screen.cells[row - 1][index].shape == CellShape::WideRight && index > 0) --index;
    ScreenCell& cell = screen.cells[row - 1][index];
    if (!Joinable(cell)) return false;
    char* end = std::find(std::begin(cell.more), std::end(cell.more), '\0');
    if (bytes.size() > size_t(std::end(cell.more) - end)) return false;
    std::copy(bytes.begin(), bytes.end(), end);
    if (cell.shape == CellShape::Byte) cell.shape = CellShape::Character;
    return true;
}

// One cell on: a text that reaches the right edge goes on at the next row.
void AdvanceCursor() {
    if (screen.cursorColumn < ScreenColumns)
        ++screen.cursorColumn;
    else
        NextRow();
}

// A wide character that does not fit at the end of a row leaves that cell
// blank and goes to the next row, as a terminal does.
int PutAtCursor(std::string_view bytes, TextCharacter character) {
    int moved = 0;
    int attribute = CurrentAttribute();
    if (character.width == 0) {
        if (JoinPreviousCell(screen.cursorRow, screen.cursorColumn,
                             bytes.substr(0, character.length)))
            return 0;
        character = {character.length, 1, CellShape::Unshown};
    }
    if (character.width == 2 && screen.cursorColumn == ScreenColumns) {
        PutCells(screen.cursorRow, screen.cursorColumn, " ", CellShape::Byte, attribute);
        NextRow();
        moved = 1;
    }
    PutCells(screen.cursorRow, screen.cursorColumn, bytes.substr(0, character.length),
             character.shape, attribute);
    for (int cell = 0; cell < character.width; ++cell) AdvanceCursor();
    return moved + character.width;
}

}  // namespace

// ---- Model state ----------------------------------------------------------------

ScreenModel& Screen() { return Model(); }

// ---- Characters ---------------------------------------------------------------------

TextCharacter FirstCharacter(std::string_view text) {
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (!Model().utf8 || first < 0x80) return {1, 1, CellShape::Byte};
    size_t length = SequenceLength(first);
    long code = length ? DecodeCharacter(text, length) : -1;
    if (code < 0) return {1, 1, CellShape::Unshown};
    int width = CharacterCells(char32_t(code));
    if (width == 1) return {length, 1, CellShape::Character};
    if (width == 2) return {length, 2, CellShape::WideLeft};
    if (width == 0) return {length, 0, CellShape::Character};  // a mark
    return {length, 1, CellShape::Unshown};                    // controls
}

bool StartsIncompleteCharacter(std::string_view text) {
    if (!Model().utf8 || text.empty()) return false;
    size_t length = SequenceLength(static_cast<unsigned char>(text[0]));
    if (text.size() >= length) return false;
    for (size_t i = 1; i < text.size(); ++i) {
        if (!Continuation(text[i])) return false;
    }
    return true;
}

// As PrintText places the characters: a mark takes no cell while the
// visible character before it has room left in its cell for the mark's bytes.
int TextWidth(std::string_view text) {
    int width = 0;
    size_t room = 0;  // bytes the last cell can still join
    while (!text.empty()) {
        TextCharacter character = FirstCharacter(text);
        unsigned char first = static_cast<unsigned char>(text[0]);
        if (character.width == 0 && room >= character.length) {
            room -= character.length;
        } else if (character.width == 0) {
            width += 1;  // shown alone
            room = 0;
        } else {
            width += character.width;
            bool visible = character.shape == CellShape::Character ||
                           character.shape == CellShape::WideLeft || (first > ' ' && first < 127);
            room = visible ? sizeof ScreenCell::more - (character.length - 1) : 0;
        }
        text.remove_prefix(character.length);
    }
    return width;
}

std::string ShortenMiddle(std::string_view text, int columns) {
    if (TextWidth(text) <= columns) return std::string(text);
    std::string_view ellipsis = Screen().utf8 ? "\xE2\x80\xA6" : "...";
    int room = columns - TextWidth(ellipsis);
    std::vector<size_t> starts;  // where each character begins, then the end
    for (size_t at = 0; at < text.size(); at += FirstCharacter(text.substr(at)).length)
        starts.push_back(at);
    starts.push_back(text.size());
    if (room < 0) {
        // Too narrow even for the ellipsis: its start and end alone.
        room = columns;
        ellipsis = {};
    }
    // The end holds the file's own name, so it gets the larger half.
    size_t tailStart = text.size();
    int tailWidth = 0;
    for (size_t i = starts.size() - 1; i-- > 0;) {
        int width = FirstCharacter(text.substr(starts[i])).width;
        if (tailWidth + width > room - room / 2) break;
        tailWidth += width;
        tailStart = starts[i];
    }
    size_t headEnd = 0;
    int headWidth = 0;
    for (size_t i = 0; i + 1 < starts.size() && starts[i + 1] <= tailStart; ++i) {
        int width = FirstCharacter(text.substr(starts[i])).width;
        if (headWidth + width > room - tailWidth) break;
        headWidth += width;
        headEnd = starts[i + 1];
    }
    return std::string(text.substr(0, headEnd)) + std::string(ellipsis) +
           std::string(text.substr(tailStart));
}

int PutCharacter(std::string_view character) {
    Model();
    return PutAtCursor(character, FirstCharacter(character));
}

size_t PutTextCharacter(std::string_view text) {
    Model();
    TextCharacter character = FirstCharacter(text);
    PutAtCursor(text, character);
    return character.length;
}

int PutCharacterAt(int row, int column, std::string_view character, int attribute) {
    Model();
    TextCharacter taken = FirstCharacter(character);
    if (taken.width == 0) {
        if (JoinPreviousCell(row, column, character.substr(0, taken.length))) return 0;
        taken = {taken.length, 1, CellShape::Unshown};
    }
    if (taken.width == 2 && column == ScreenColumns) taken = {taken.length, 1, CellShape::Unshown};
    PutCells(row, column, character.substr(0, taken.length), taken.shape, attribute);
    return taken.width;
}

void ResetScreen() {
    screenReady = true;
    for (int row = 1; row <= ScreenRows; ++row) FillRow(row, StartAttribute);
    screen.foreground = StartAttribute % 16;
    screen.background = StartAttribute / 16;
    screen.cursorRow = 1;
    screen.cursorColumn = 1;
    screen.cursorVisible = true;
    screen.utf8 = false;
    screen.scrolledRows = 0;
}

int CurrentAttribute() { return Model().foreground + 16 * Model().background; }

ScreenCell CellAt(int row, int column) { return Model().cells[row - 1][column - 1]; }

// Each character's bytes as they were printed; the right half of a wide
// character has none (a blank where its left half was drawn over).
std::string RowText(int row) { return CellsText(Model().cells[row - 1]); }

std::string CellsText(const ScreenCell* cells) {
    std::string text;
    for (int column = 0; column < ScreenColumns; ++column) {
        const ScreenCell& cell = cells[column];
        if (cell.shape == CellShape::WideRight) {
            if (column == 0 || cells[column - 1].shape != CellShape::WideLeft) text += ' ';
            continue;
        }
        text += static_cast<char>(cell.character);
        for (size_t i = 0; i < sizeof cell.more && cell.more[i] != 0; ++i) text += cell.more[i];
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

void ScrollScreenUp() {
    ScreenModel& s = Model();
    std::copy(s.cells[0], s.cells[0] + ScreenColumns, s.scrolledOff);
    ++s.scrolledRows;
    for (int row = 1; row < ScreenRows; ++row) {
        for (int column = 0; column < ScreenColumns; ++column)
            s.cells[row - 1][column] = s.cells[row][column];
    }
    FillRow(ScreenRows, CurrentAttribute());
}

// Moves the cursor to column 1 of the next row, scrolling on the last row.
void NextRow() {
    ScreenModel& s = Model();
    s.cursorColumn = 1;
    if (s.cursorRow < ScreenRows) {
        ++s.cursorRow;
    } else {
        ScrollScreenUp();
    }
}

void BlankScreen() {
    ScreenModel& s = Model();
    for (int row = 1; row <= ScreenRows; ++row) FillRow(row, CurrentAttribute());
    s.cursorRow = 1;
    s.cursorColumn = 1;
}

void PlaceCursor(int row, int column) {
    ScreenModel& s = Model();
    if (row >= 1 && row <= ScreenRows) s.cursorRow = row;
    if (column >= 1 && column <= ScreenColumns) s.cursorColumn = column;
}
