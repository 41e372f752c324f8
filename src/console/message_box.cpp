// The modal message box: a frame with the title in its top edge, the message
// lines and a line saying which keys dismiss it. The cells beneath are kept
// and put back when the box goes.
//
//   +- ERROR ---------------------------+
//   |                                   |
//   |              File not found.      |
//   |   Please enter a valid file path  |
//   |                                   |
//   |  Enter, Space or Esc to continue  |
//   +-----------------------------------+
#include "console/message_box.h"

#include <algorithm>

#include "console/key_wait.h"
#include "console/screen.h"
#include "console/terminal.h"
#include "console/transcript.h"

namespace {

constexpr std::string_view DismissHint = "Enter, Space or Esc to continue";
constexpr int Margin = 2;                    // blanks between the frame and the text
constexpr int FrameRows = 5;                 // top, blank, blank, hint, bottom
constexpr int BoxAttribute = 0 + 16 * 7;     // black on light grey
constexpr int TitleAttribute = 15 + 16 * 4;  // bright white on red

void PutCell(int row, int column, char character, int attribute) {
    if (row < 1 || row > ScreenRows || column < 1 || column > ScreenColumns) return;
    Screen().cells[row - 1][column - 1] = {static_cast<unsigned char>(character),
                                           static_cast<unsigned char>(attribute)};
}

void PutText(int row, int column, std::string_view text, int attribute) {
    while (!text.empty() && column <= ScreenColumns) {
        size_t length = FirstCharacter(text).length;
        if (row >= 1 && row <= ScreenRows && column >= 1)
            column += PutCharacterAt(row, column, text.substr(0, length), attribute);
        else
            ++column;
        text.remove_prefix(length);
    }
}

// Cuts a line into pieces of at most `columns` cells, between characters.
void CutLine(std::string_view line, int columns, std::vector<std::string>& pieces) {
    do {
        size_t length = 0;
        int width = 0;
        while (length < line.size()) {
            TextCharacter character = FirstCharacter(line.substr(length));
            if (width + character.width > columns && length > 0) break;
            width += character.width;
            length += character.length;
        }
        pieces.emplace_back(line.substr(0, length));
        line.remove_prefix(length);
    } while (!line.empty());
}

// A row of the box: `edge` at both ends, `fill` between.
void PutBoxRow(const BoxPlace& place, int row, char edge, char fill) {
    PutCell(row, place.left, edge, BoxAttribute);
    for (int column = place.left + 1; column < place.left + place.columns - 1; ++column) {
        PutCell(row, column, fill, BoxAttribute);
    }
    PutCell(row, place.left + place.columns - 1, edge, BoxAttribute);
}

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

// On a small terminal a centred box can cover the typed path, the one row
// the user needs to see beside it: the box goes below that row, or above
// it, where the shown rows leave room; else it stays centred.
void KeepRowClear(BoxPlace& place, int clearRow, int firstRow, int rowCount) {
    int bottom = place.top + place.rows - 1;
    if (clearRow < place.top || clearRow > bottom) return;
    int lastShown = std::min(firstRow + rowCount - 1, ScreenRows);
    if (clearRow + place.rows <= lastShown)
        place.top = clearRow + 1;
    else if (clearRow - place.rows >= std::max(firstRow, 1))
        place.top = clearRow - place.rows;
}

// Which key dismissed the box, or false for a key that is passed over.
bool DismissingKey(const Key& key, BoxKey& which) {
    if (key.kind == KeyKind::Enter)
        which = BoxKey::Enter;
    else if (key.kind == KeyKind::Character && key.code == ' ')
        which = BoxKey::Space;
    else if (key.kind == KeyKind::Escape)
        which = BoxKey::Escape;
    else
        return false;
    return true;
}

void WritePlainBox(const std::vector<std::string>& lines, std::string_view title) {
    LogFinishedRows(false);
    ShowScreen();
    std::string text(title);
    text += '\n';
    for (const std::string& line : lines) text += line + '\n';
    // Someone at a terminal must learn which keys go on; a script needs no hint.
    if (EchoingKeys()) text += std::string(DismissHint) + '\n';
    WritePlainText(text);
}

}  // namespace

// ---- Layout and drawing ------------------------------------------------------------

std::vector<std::string> SplitBoxMessage(std::string_view message) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\\' && i + 1 < message.size() && message[i + 1] == 'n') {
            lines.emplace_back();
            ++i;
        } else if (message[i] == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += message[i];
        }
    }
    return lines;
}

std::string ReasonLine(std::string_view message) {
    std::string line = "phonoskew:";
    for (const std::string& piece : SplitBoxMessage(message)) {
        size_t first = piece.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        line += ' ';
        line += piece.substr(first, piece.find_last_not_of(' ') + 1 - first);
    }
    return line;
}

BoxPlace PlaceMessageBox(std::vector<std::string>& lines, std::string_view title, int firstRow,
                         int rowCount, int firstColumn, int columnCount, int clearRow) {
    int widest = static_cast<int>(std::max(DismissHint.size(), title.size() + 2));
    for (const std::string& line : lines) widest = std::max(widest, TextWidth(line));
    // Within the part of the screen the terminal shows, so that a narrow
    // terminal shows the box's right edge, down to the hint's width.
    int shown = std::max(std::min(columnCount, ScreenColumns) - 2 - 2 * Margin,
                         static_cast<int>(DismissHint.size()));
    int textColumns = std::min(widest, shown);
    std::vector<std::string> cut;
    for (const std::string& line : lines) CutLine(line, textColumns, cut);
    if (static_cast<int>(cut.size()) > ScreenRows - FrameRows) cut.resize(ScreenRows - FrameRows);
    lines = cut;
    BoxPlace place{};
    place.rows = static_cast<int>(lines.size()) + FrameRows;
    place.columns = textColumns + 2 + 2 * Margin;
    place.top = Clamp(firstRow + (rowCount - place.rows) / 2, 1, ScreenRows - place.rows + 1);
    place.left = Clamp(firstColumn + (columnCount - place.columns) / 2, 1,
                       ScreenColumns - place.columns + 1);
    KeepRowClear(place, clearRow, firstRow, rowCount);
    return place;
}

void DrawMessageBox(const BoxPlace& place, const std::vector<std::string>& lines,
                    std::string_view title) {
    int bottom = place.top + place.rows - 1;
    int textLeft = place.left + 1 + Margin;
    int textColumns = place.columns - 2 - 2 * Margin;
    PutBoxRow(place, place.top, '+', '-');
    std::string_view shownTitle = title.substr(0, static_cast<size_t>(place.columns - 5));
    PutText(place.top, place.left + 2, shownTitle, TitleAttribute);
    PutCell(place.top, place.left + 2 + static_cast<int>(shownTitle.size()), ' ', BoxAttribute);
    for (int row = place.top + 1; row < bottom; ++row) PutBoxRow(place, row, '|', ' ');
    for (size_t i = 0; i < lines.size(); ++i) {
        PutText(place.top + 2 + static_cast<int>(i), textLeft, lines[i], BoxAttribute);
    }
    int hintLeft = textLeft + (textColumns - static_cast<int>(DismissHint.size())) / 2;
    PutText(bottom - 1, hintLeft, DismissHint, BoxAttribute);
    PutBoxRow(place, bottom, '+', '-');
}

// ---- The modal box ------------------------------------------------------------------

void NoteOnStandardError(std::string_view line) {
    if (!TerminalStarted()) return;
    if (DrawingToTerminal())
        WriteErrorTextAtEnd(std::string(line) + '\n');
    else
        WriteErrorText(std::string(line) + '\n');
}

BoxKey ConsoleMessageBox(std::string_view message, std::string_view title,
                         std::string_view reason) {
    ScreenModel& screen = Screen();
    std::vector<std::string> lines = SplitBoxMessage(message);
    int firstRow, rowCount, firstColumn, columnCount;
    VisibleRows(firstRow, rowCount);
    VisibleColumns(firstColumn, columnCount);
    BoxPlace place = PlaceMessageBox(lines, title, firstRow, rowCount, firstColumn, columnCount,
                                     screen.cursorRow);
    bool plain = TerminalStarted() && !DrawingToTerminal();
    if (plain) {
        // Whoever reads the transcript, the reason is also on standard error.
        WritePlainBox(lines, title);
        NoteOnStandardError(reason.empty() ? ReasonLine(message) : std::string(reason));
    } else if (!reason.empty()) {
        NoteOnStandardError(reason);
    }

    ScreenCell beneath[ScreenRows][ScreenColumns];
    std::copy(&screen.cells[0][0], &screen.cells[0][0] + ScreenRows * ScreenColumns,
              &beneath[0][0]);
    bool cursorWasVisible = screen.cursorVisible;
    screen.cursorVisible = false;
    // A transcript has the box as its text lines already; a frame drawn
    // into the model could go out as rows of its own.
    if (!plain) DrawMessageBox(place, lines, title);
    ShowScreen();

    BoxKey which = BoxKey::Enter;
    for (;;) {
        Key key;
        if (!NextKey(key)) {
            QuitProgram("phonoskew: standard input ended while a message box was waiting for a key",
                        2);
        }
        if (DismissingKey(key, which)) break;
    }
    std::copy(&beneath[0][0], &beneath[0][0] + ScreenRows * ScreenColumns, &screen.cells[0][0]);
    screen.cursorVisible = cursorWasVisible;
    ShowScreen();
    return which;
}
