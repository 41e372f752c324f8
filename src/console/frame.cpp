// The frame differ: absolute positioning, only the cells that changed, the
// view following the cursor on a terminal smaller than the screen, never a
// byte below the terminal's last row.
#include "console/frame.h"

#include <cstring>

namespace {

constexpr int ShortGap = 6;  // unchanged cells rewritten rather than jumped

void AppendNumber(std::string& out, int value) { out += std::to_string(value); }

void AppendCursorMove(std::string& out, int row, int column) {
    out += "\x1b[";
    AppendNumber(out, row);
    out += ';';
    AppendNumber(out, column);
    out += 'H';
}

// ---- Colours and characters -------------------------------------------------------

// The palette's order (black, blue, green, cyan, red, magenta, brown, light
// grey) in the terminal's colour numbers (black, red, green, yellow, blue,
// magenta, cyan, white); entries 8-15 are the bright forms.
constexpr int TerminalColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void AppendColours(std::string& out, int attribute) {
    int foreground = attribute % 16;
    int background = attribute / 16;
    out += "\x1b[";
    AppendNumber(out, (foreground < 8 ? 30 : 90) + TerminalColour[foreground % 8]);
    out += ';';
    AppendNumber(out, (background < 8 ? 40 : 100) + TerminalColour[background % 8]);
    out += 'm';
}

// One cell's byte as the terminal should show it: printable ASCII as is,
// 160-255 as the Latin-1 character in UTF-8 (one byte, one cell), and
// control bytes as '?' so no cell can ever send a control sequence.
void AppendGlyph(std::string& out, unsigned char character) {
    if (character >= 32 && character < 127) {
        out += static_cast<char>(character);
    } else if (character >= 160) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        out += '?';
    }
}

void AppendCharacterBytes(std::string& out, const ScreenCell& cell) {
    out += static_cast<char>(cell.character);
    for (size_t i = 0; i < sizeof cell.more && cell.more[i] != 0; ++i) out += cell.more[i];
}

// Draws the cell at `column` (1-based) of a model row and says how many
// terminal cells that took: two for a wide character whose both halves are
// there and in view (up to `lastColumn`), else one. UTF-8 characters are
// sent as they are, bytes that make none as U+FFFD, and a half of a wide
// character that cannot be drawn whole as a blank.
int AppendCellGlyph(std::string& out, const ScreenCell* cells, int column, int lastColumn) {
    const ScreenCell& cell = cells[column - 1];
    switch (cell.shape) {
        case CellShape::Byte:
            AppendGlyph(out, cell.character);
            return 1;
        case CellShape::Character:
            AppendCharacterBytes(out, cell);
            return 1;
        case CellShape::Unshown:
            out += "\xEF\xBF\xBD";
            return 1;
        case CellShape::WideLeft:
            if (column < lastColumn && cells[column].shape == CellShape::WideRight) {
                AppendCharacterBytes(out, cell);
                return 2;
            }
            break;
        case CellShape::WideRight:
            break;
    }
    out += ' ';
    return 1;
}

void AppendColoursIfChanged(std::string& out, ShownState& shown, int attribute) {
    if (shown.attribute == attribute) return;
    AppendColours(out, attribute);
    shown.attribute = attribute;
}

// ---- Which cells to draw -----------------------------------------------------------

// Keeps the cursor in view when the terminal is smaller than the screen.
void FollowCursor(int& first, int count, int cursor, int size) {
    if (cursor < first) first = cursor;
    if (cursor >= first + count) first = cursor - count + 1;
    if (first > size - count + 1) first = size - count + 1;
    if (first < 1) first = 1;
}

bool SameCell(const ScreenCell& a, const ScreenCell& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool HasWideCells(const ScreenCell* cells) {
    for (int column = 0; column < ScreenColumns; ++column) {
        if (cells[column].shape == CellShape::WideLeft ||
            cells[column].shape == CellShape::WideRight)
            return true;
    }
    return false;
}

// A row where any cell changed is drawn whole when it holds wide
// characters, in the model or on the terminal: writing half of one breaks
// the other half.
bool RowToDrawWhole(const ScreenCell* cells, const ScreenCell* old) {
    if (!HasWideCells(cells) && !HasWideCells(old)) return false;
    for (int column = 0; column < ScreenColumns; ++column) {
        if (!SameCell(cells[column], old[column])) return true;
    }
    return false;
}

// ---- Drawing ---------------------------------------------------------------------------

// Brings the terminal's cursor to (terminalRow, terminalColumn) of model row
// `cells`: by rewriting a few unchanged cells when that is shorter than a
// move (such a row has no wide characters: those are drawn whole).
void AppendMoveTo(std::string& frame, ShownState& shown, const ScreenCell* cells, int terminalRow,
                  int terminalColumn, int lastColumn) {
    int gap = terminalColumn - shown.cursorColumn;
    if (shown.cursorRow == terminalRow && shown.cursorColumn > 0 && gap > 0 && gap <= ShortGap) {
        for (int skipped = shown.cursorColumn; skipped < terminalColumn; ++skipped) {
            AppendColoursIfChanged(frame, shown, cells[shown.viewLeft + skipped - 2].attribute);
            AppendCellGlyph(frame, cells, shown.viewLeft + skipped - 1, lastColumn);
        }
    } else if (shown.cursorRow != terminalRow || shown.cursorColumn != terminalColumn) {
        AppendCursorMove(frame, terminalRow, terminalColumn);
    }
}

void AppendChangedCells(std::string& frame, const ScreenModel& screen, ShownState& shown,
                        bool everything) {
    int rows = ShownRowCount(shown);
    int columns = ShownColumnCount(shown);
    int lastColumn = shown.viewLeft + columns - 1;
    for (int terminalRow = 1; terminalRow <= rows; ++terminalRow) {
        int row = shown.viewTop + terminalRow - 1;
        const ScreenCell* cells = screen.cells[row - 1];
        ScreenCell* old = shown.cells[row - 1];
        bool wholeRow = everything || RowToDrawWhole(cells, old);
        for (int terminalColumn = 1; terminalColumn <= columns;) {
            int column = shown.viewLeft + terminalColumn - 1;
            if (!wholeRow && SameCell(cells[column - 1], old[column - 1])) {
                ++terminalColumn;
                continue;
            }
            if (frame.empty() && shown.cursorVisible != 0) {
                frame += "\x1b[?25l";  // no cursor flicker while drawing
                shown.cursorVisible = 0;
            }
            AppendMoveTo(frame, shown, cells, terminalRow, terminalColumn, lastColumn);
            AppendColoursIfChanged(frame, shown, cells[column - 1].attribute);
            int width = AppendCellGlyph(frame, cells, column, lastColumn);
            for (int half = 0; half < width; ++half)
                old[column - 1 + half] = cells[column - 1 + half];
            terminalColumn += width;
            shown.cursorRow = terminalRow;
            // After the last column the terminal's cursor place is uncertain.
            shown.cursorColumn = terminalColumn <= shown.columns ? terminalColumn : 0;
        }
    }
}

void AppendCursorState(std::string& frame, const ScreenModel& screen, ShownState& shown) {
    int row = screen.cursorRow - shown.viewTop + 1;
    int column = screen.cursorColumn - shown.viewLeft + 1;
    bool visible = screen.cursorVisible && row >= 1 && row <= ShownRowCount(shown) && column >= 1 &&
                   column <= ShownColumnCount(shown);
    if (visible && (shown.cursorRow != row || shown.cursorColumn != column)) {
        AppendCursorMove(frame, row, column);
        shown.cursorRow = row;
        shown.cursorColumn = column;
    }
    if (shown.cursorVisible != (visible ? 1 : 0)) {
        frame += visible ? "\x1b[?25h" : "\x1b[?25l";
        shown.cursorVisible = visible ? 1 : 0;
    }
}

// The shown row (1-based) of the last model row in view that holds text,
// or 0 when the rows in view are blank.
int LastShownTextRow(const ScreenModel& screen, const ShownState& shown) {
    for (int terminalRow = ShownRowCount(shown); terminalRow >= 1; --terminalRow) {
        for (const ScreenCell& cell : screen.cells[shown.viewTop + terminalRow - 2]) {
            if (cell.character != ' ') return terminalRow;
        }
    }
    return 0;
}

}  // namespace

int ShownRowCount(const ShownState& shown) {
    return shown.rows < ScreenRows ? shown.rows : ScreenRows;
}

int ShownColumnCount(const ShownState& shown) {
    return shown.columns < ScreenColumns ? shown.columns : ScreenColumns;
}

std::string MakeFrame(const ScreenModel& screen, ShownState& shown) {
    int oldTop = shown.viewTop;
    int oldLeft = shown.viewLeft;
    FollowCursor(shown.viewTop, ShownRowCount(shown), screen.cursorRow, ScreenRows);
    FollowCursor(shown.viewLeft, ShownColumnCount(shown), screen.cursorColumn, ScreenColumns);
    // The terminal is cleared only when its content is unknown. A view that
    // moved is drawn over cell by cell: a clear would push a copy of the
    // screen into the scrollback of many terminals on every new row.
    bool everything = !shown.valid || shown.viewTop != oldTop || shown.viewLeft != oldLeft;
    std::string frame;
    if (!shown.valid) {
        frame += "\x1b[?25l\x1b[0m\x1b[H\x1b[2J";
        shown.cursorVisible = 0;
        shown.attribute = -1;
        shown.cursorRow = 1;
        shown.cursorColumn = 1;
        shown.valid = true;
    }
    AppendChangedCells(frame, screen, shown, everything);
    AppendCursorState(frame, screen, shown);
    if (!frame.empty()) shown.frameDrawn = true;
    return frame;
}

// The final screen stays readable above the shell's prompt; the terminal
// scrolls only when that text reaches its bottom row.
std::string MakeRestoreBytes(const ScreenModel& screen, const ShownState& shown) {
    std::string bytes;
    if (shown.frameDrawn) {
        int below = LastShownTextRow(screen, shown) + 1;
        if (below <= ShownRowCount(shown)) {
            AppendCursorMove(bytes, below, 1);
            bytes += "\x1b[0m\x1b[K";
        } else {
            AppendCursorMove(bytes, ShownRowCount(shown), 1);
            bytes += "\x1b[0m\r\n\x1b[K";
        }
    } else {
        bytes += "\x1b[0m";
    }
    bytes += "\x1b[?25h";
    return bytes;
}
