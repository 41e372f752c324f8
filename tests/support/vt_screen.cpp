// A small terminal emulator: enough of a VT/xterm to read a screen back.
#include "support/vt_screen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

VtCell& CellAt(VtScreen& s, int row, int column) {
    return s.cells[static_cast<size_t>((row - 1) * s.columns + (column - 1))];
}

void ScrollUp(VtScreen& s) {
    s.history.push_back(VtRowText(s, 1));
    std::move(s.cells.begin() + s.columns, s.cells.end(), s.cells.begin());
    for (int c = 1; c <= s.columns; ++c)
        CellAt(s, s.rows, c) = VtCell{" ", s.foreground, s.background};
}

void LineFeed(VtScreen& s) {
    if (s.cursorRow == s.rows) return ScrollUp(s);
    ++s.cursorRow;
}

// A wide character cut in two by a write leaves blanks, as in xterm.
void BreakWideCharacterAt(VtScreen& s, int row, int column) {
    VtCell& cell = CellAt(s, row, column);
    if (cell.ch.empty() && column > 1) {
        CellAt(s, row, column - 1).ch = " ";
    } else if (column < s.columns && CellAt(s, row, column + 1).ch.empty()) {
        CellAt(s, row, column + 1).ch = " ";
    }
}

void PutChar(VtScreen& s, const std::string& ch, int width) {
    if (s.pendingWrap || (width == 2 && s.cursorColumn == s.columns)) {
        s.pendingWrap = false;
        s.cursorColumn = 1;
        LineFeed(s);
    }
    for (int half = 0; half < width; ++half)
        BreakWideCharacterAt(s, s.cursorRow, s.cursorColumn + half);
    CellAt(s, s.cursorRow, s.cursorColumn) = VtCell{ch, s.foreground, s.background};
    if (width == 2)
        CellAt(s, s.cursorRow, s.cursorColumn + 1) = VtCell{"", s.foreground, s.background};
    s.cursorColumn += width - 1;
    s.pendingWrap = s.cursorColumn == s.columns;
    if (!s.pendingWrap) ++s.cursorColumn;
}

// East Asian wide and emoji ranges, enough for the tests' text.
bool IsWide(char32_t code) {
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1F64F) ||
           (code >= 0x1F900 && code <= 0x1F9FF) || (code >= 0x20000 && code <= 0x3FFFD);
}

// Combining marks and zero-width characters, enough for the tests' text.
bool IsZeroWidth(char32_t code) {
    return (code >= 0x0300 && code <= 0x036F) || (code >= 0x1AB0 && code <= 0x1AFF) ||
           (code >= 0x1DC0 && code <= 0x1DFF) || (code >= 0x200B && code <= 0x200F) ||
           (code >= 0x20D0 && code <= 0x20FF) || (code >= 0xFE00 && code <= 0xFE0F) ||
           (code >= 0xFE20 && code <= 0xFE2F);
}

// A zero-width character joins the cell before the cursor (the cursor's own
// after a write to the last column), as in xterm; with none, it is dropped.
void JoinPreviousCell(VtScreen& s, std::string_view bytes) {
    int column = s.pendingWrap ? s.cursorColumn : s.cursorColumn - 1;
    if (column < 1) return;
    if (CellAt(s, s.cursorRow, column).ch.empty() && column > 1) --column;
    CellAt(s, s.cursorRow, column).ch += bytes;
}

// Takes one UTF-8 character from the front of `text` and draws it; returns
// its length, or 0 when it is not complete yet.
size_t TakeCharacter(VtScreen& s, std::string_view text) {
    unsigned char first = static_cast<unsigned char>(text[0]);
    size_t length = first >= 0xF0 && first <= 0xF4   ? 4
                    : first >= 0xE0 && first <= 0xEF ? 3
                    : first >= 0xC2 && first <= 0xDF ? 2
                                                     : 1;
    char32_t code = length == 1 ? first : first & (0x3F >> (length - 1));
    for (size_t i = 1; i < length; ++i) {
        if (i >= text.size()) return 0;
        unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            length = 1;  // broken: the lead byte alone is not a character
            break;
        }
        code = (code << 6) | (next & 0x3F);
    }
    bool valid = first < 0x80 || (length > 1 && code >= 0xA0 && code <= 0x10FFFF &&
                                  !(code >= 0xD800 && code <= 0xDFFF) &&
                                  code >= (length == 2   ? 0x80u
                                           : length == 3 ? 0x800u
                                                         : 0x10000u));
    if (valid && length > 1 && IsZeroWidth(code))
        JoinPreviousCell(s, text.substr(0, length));
    else if (valid)
        PutChar(s, std::string(text.substr(0, length)), IsWide(code) ? 2 : 1);
    else
        PutChar(s, "\xEF\xBF\xBD", 1);
    return valid ? length : 1;
}

void EraseCells(VtScreen& s, int fromRow, int fromColumn, int toRow, int toColumn) {
    for (int r = fromRow; r <= toRow; ++r) {
        int first = r == fromRow ? fromColumn : 1;
        int last = r == toRow ? toColumn : s.columns;
        for (int c = first; c <= last; ++c)
            CellAt(s, r, c) = VtCell{" ", s.foreground, s.background};
    }
}

// Pushes the rows down to the last one with text into the history first.
void ClearWholeScreen(VtScreen& s) {
    int last = s.rows;
    while (last >= 1 && VtRowText(s, last).empty()) --last;
    for (int r = 1; r <= last; ++r) s.history.push_back(VtRowText(s, r));
    EraseCells(s, 1, 1, s.rows, s.columns);
}

int Clamp(int value, int low, int high) { return std::max(low, std::min(high, value)); }

void ApplySgr(VtScreen& s, const std::vector<int>& params) {
    if (params.empty()) {
        s.foreground = 7;
        s.background = 0;
        return;
    }
    for (size_t i = 0; i < params.size(); ++i) {
        int p = params[i];
        if (p == 0 || p == 39) s.foreground = 7;
        if (p == 0 || p == 49) s.background = 0;
        if (p >= 30 && p <= 37) s.foreground = p - 30;
        if (p >= 90 && p <= 97) s.foreground = p - 90 + 8;
        if (p >= 40 && p <= 47) s.background = p - 40;
        if (p >= 100 && p <= 107) s.background = p - 100 + 8;
        if ((p == 38 || p == 48) && i + 2 < params.size() && params[i + 1] == 5) {
            (p == 38 ? s.foreground : s.background) = params[i + 2];
            i += 2;
        }
    }
}

// Applies one complete CSI sequence: `body` is what stands between "ESC [" and
// the final byte.
void ApplyCsi(VtScreen& s, std::string_view body, char final) {
    bool privateMode = !body.empty() && body[0] == '?';
    if (privateMode) body.remove_prefix(1);
    std::vector<int> params;
    std::string number;
    for (char ch : body) {
        if (ch == ';') {
            params.push_back(number.empty() ? 0 : std::atoi(number.c_str()));
            number.clear();
        } else {
            number += ch;
        }
    }
    if (!number.empty() || !params.empty())
        params.push_back(number.empty() ? 0 : std::atoi(number.c_str()));
    auto param = [&](size_t i, int fallback) {
        return i < params.size() && params[i] != 0 ? params[i] : fallback;
    };
    if (final != 'm') s.pendingWrap = false;
    switch (final) {
        case 'H':
        case 'f':
            s.cursorRow = Clamp(param(0, 1), 1, s.rows);
            s.cursorColumn = Clamp(param(1, 1), 1, s.columns);
            break;
        case 'A':
            s.cursorRow = Clamp(s.cursorRow - param(0, 1), 1, s.rows);
            break;
        case 'B':
            s.cursorRow = Clamp(s.cursorRow + param(0, 1), 1, s.rows);
            break;
        case 'C':
            s.cursorColumn = Clamp(s.cursorColumn + param(0, 1), 1, s.columns);
            break;
        case 'D':
            s.cursorColumn = Clamp(s.cursorColumn - param(0, 1), 1, s.columns);
            break;
        case 'G':
            s.cursorColumn = Clamp(param(0, 1), 1, s.columns);
            break;
        case 'd':
            s.cursorRow = Clamp(param(0, 1), 1, s.rows);
            break;
        case 'm':
            ApplySgr(s, params);
            break;
        case 'J': {
            int mode = params.empty() ? 0 : params[0];
            if (mode == 0)
                EraseCells(s, s.cursorRow, s.cursorColumn, s.rows, s.columns);
            else if (mode == 1)
                EraseCells(s, 1, 1, s.cursorRow, s.cursorColumn);
            else
                ClearWholeScreen(s);
            break;
        }
        case 'K': {
            int mode = params.empty() ? 0 : params[0];
            if (mode == 0)
                EraseCells(s, s.cursorRow, s.cursorColumn, s.cursorRow, s.columns);
            else if (mode == 1)
                EraseCells(s, s.cursorRow, 1, s.cursorRow, s.cursorColumn);
            else
                EraseCells(s, s.cursorRow, 1, s.cursorRow, s.columns);
            break;
        }
        case 'X': {
            int last = std::min(s.columns, s.cursorColumn + param(0, 1) - 1);
            EraseCells(s, s.cursorRow, s.cursorColumn, s.cursorRow, last);
            break;
        }
        case 'h':
        case 'l':
            if (privateMode && !params.empty() && params[0] == 25) s.cursorVisible = final == 'h';
            break;
        default:
            break;  // window requests (t), scroll regions and the like
    }
}

// Tries to take one escape sequence from the front of `text`; returns its
// length, or 0 when it is not complete yet.
size_t TakeEscape(VtScreen& s, std::string_view text) {
    if (text.size() < 2) return 0;
    char kind = text[1];
    if (kind == '[') {
        for (size_t i = 2; i < text.size(); ++i) {
            unsigned char ch = static_cast<unsigned char>(text[i]);
            if (ch >= 0x40 && ch <= 0x7E) {
                ApplyCsi(s, text.substr(2, i - 2), static_cast<char>(ch));
                return i + 1;
            }
        }
        return 0;
    }
    if (kind == ']') {  // OSC: ends with BEL or ESC backslash
        for (size_t i = 2; i < text.size(); ++i) {
            if (text[i] == '\a' ||
                (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '\\')) {
                std::string_view body = text.substr(2, i - 2);
                if (body.size() > 2 && (body[0] == '0' || body[0] == '2') && body[1] == ';') {
                    s.title = std::string(body.substr(2));
                }
                return text[i] == '\a' ? i + 1 : i + 2;
            }
        }
        return 0;
    }
    if (kind == '(' || kind == ')') return text.size() >= 3 ? 3 : 0;
    return 2;  // ESC 7, ESC 8, ESC = and the like: passed over
}

}  // namespace

VtScreen MakeVtScreen(int rows, int columns) {
    VtScreen s;
    s.rows = rows;
    s.columns = columns;
    s.cells.assign(static_cast<size_t>(rows * columns), VtCell{});
    return s;
}

void FeedVt(VtScreen& s, std::string_view bytes) {
    std::string text = s.pending + std::string(bytes);
    s.pending.clear();
    size_t i = 0;
    while (i < text.size()) {
        char ch = text[i];
        if (ch == '\x1b') {
            size_t length = TakeEscape(s, std::string_view(text).substr(i));
            if (length == 0) {
                s.pending = text.substr(i);
                return;
            }
            i += length;
            continue;
        }
        switch (ch) {
            case '\r':
                s.cursorColumn = 1;
                s.pendingWrap = false;
                break;
            case '\n':
                LineFeed(s);
                s.pendingWrap = false;
                break;
            case '\a':
                ++s.bells;
                break;
            case '\b':
                if (s.cursorColumn > 1) --s.cursorColumn;
                s.pendingWrap = false;
                break;
            default:
                if (static_cast<unsigned char>(ch) >= 32) {
                    size_t length = TakeCharacter(s, std::string_view(text).substr(i));
                    if (length == 0) {
                        s.pending = text.substr(i);
                        return;
                    }
                    i += length;
                    continue;
                }
                break;
        }
        ++i;
    }
}

const VtCell& VtCellAt(const VtScreen& s, int row, int column) {
    return s.cells[static_cast<size_t>((row - 1) * s.columns + (column - 1))];
}

std::string VtRowText(const VtScreen& s, int row, bool keepTrailing) {
    std::string text;
    for (int c = 1; c <= s.columns; ++c) text += VtCellAt(s, row, c).ch;
    if (!keepTrailing) text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string VtDump(const VtScreen& s) {
    std::string dump;
    for (int r = 1; r <= s.rows; ++r) {
        char label[16];
        std::snprintf(label, sizeof label, "%2d|", r);
        dump += label + VtRowText(s, r) + "\n";
    }
    return dump;
}
