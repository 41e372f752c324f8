// The test terminal over libvterm: its screen layer keeps the cells, and
// these functions read them back as text and palette numbers.
#include "support/vt_screen.h"

#include <vterm.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// The program clears the whole screen with exactly these bytes (see
// src/console/console.h). libvterm pushes nothing into the scrollback on a
// clear, where tmux and VTE push the rows with text; FeedVt does that here.
constexpr std::string_view ClearScreen = "\x1b[2J";

VTermScreen* ScreenOf(const VtScreen& s) { return vterm_obtain_screen(s.terminal.get()); }

void AppendUtf8(std::string& text, uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
        return;
    }
    static constexpr unsigned char Lead[] = {0, 0xC0, 0xE0, 0xF0};
    int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    text += static_cast<char>(Lead[extra] | (code >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
        text += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

// libvterm marks the right half of a wide character with (uint32_t)-1.
std::string CellText(const VTermScreenCell& cell) {
    if (cell.chars[0] == static_cast<uint32_t>(-1)) return "";
    if (cell.chars[0] == 0) return " ";
    std::string text;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i)
        AppendUtf8(text, cell.chars[i]);
    return text;
}

// SGR 30-37 and 90-97 give palette entries 0-15; the terminal's own
// colour (never set, or SGR 0/39/49) reads as `own`.
int PaletteNumber(const VTermColor& colour, int own) {
    if (VTERM_COLOR_IS_DEFAULT_FG(&colour) || VTERM_COLOR_IS_DEFAULT_BG(&colour)) return own;
    return VTERM_COLOR_IS_INDEXED(&colour) ? colour.indexed.idx : -1;
}

std::string TrimmedRow(const VTermScreenCell* cells, int columns) {
    std::string text;
    for (int c = 0; c < columns; ++c) text += CellText(cells[c]);
    return text.erase(text.find_last_not_of(' ') + 1);
}

// ---- Callbacks: they write into the VtScreen being fed ----------------------

int OnPushLine(int columns, const VTermScreenCell* cells, void* user) {
    static_cast<VtScreen*>(user)->history.push_back(TrimmedRow(cells, columns));
    return 1;
}

int OnBell(void* user) {
    ++static_cast<VtScreen*>(user)->bells;
    return 1;
}

int OnTerminalProperty(VTermProp property, VTermValue* value, void* user) {
    VtScreen& s = *static_cast<VtScreen*>(user);
    if (property == VTERM_PROP_CURSORVISIBLE) s.cursorVisible = value->boolean != 0;
#if VTERM_VERSION_MAJOR > 0 || VTERM_VERSION_MINOR >= 2
    // From 0.2 on, a string comes in fragments.
    if (property == VTERM_PROP_TITLE) {
        if (value->string.initial) s.title.clear();
        s.title.append(value->string.str, value->string.len);
    }
#else
    if (property == VTERM_PROP_TITLE) s.title = value->string;
#endif
    return 1;
}

const VTermScreenCallbacks Callbacks = [] {
    VTermScreenCallbacks callbacks{};
    callbacks.settermprop = OnTerminalProperty;
    callbacks.bell = OnBell;
    callbacks.sb_pushline = OnPushLine;
    return callbacks;
}();

// ---- Feeding ---------------------------------------------------------------

void Write(VtScreen& s, std::string_view bytes) {
    if (!bytes.empty()) vterm_input_write(s.terminal.get(), bytes.data(), bytes.size());
}

// What a clear pushes: the rows down to the last one with text.
void PushRowsWithText(VtScreen& s) {
    int last = s.rows;
    while (last >= 1 && VtRowText(s, last).empty()) --last;
    for (int r = 1; r <= last; ++r) s.history.push_back(VtRowText(s, r));
}

// The length of the longest end of `bytes` that could begin a clear.
size_t PossibleClearStart(std::string_view bytes) {
    for (size_t length = std::min(bytes.size(), ClearScreen.size() - 1); length > 0; --length) {
        if (ClearScreen.starts_with(bytes.substr(bytes.size() - length))) return length;
    }
    return 0;
}

void ReadBackState(VtScreen& s) {
    VTermState* state = vterm_obtain_state(s.terminal.get());
    VTermPos cursor;
    vterm_state_get_cursorpos(state, &cursor);
    s.cursorRow = cursor.row + 1;
    s.cursorColumn = cursor.col + 1;
    VTermValue pen;
    vterm_state_get_penattr(state, VTERM_ATTR_FOREGROUND, &pen);
    s.foreground = PaletteNumber(pen.color, 7);
    vterm_state_get_penattr(state, VTERM_ATTR_BACKGROUND, &pen);
    s.background = PaletteNumber(pen.color, 0);
}

}  // namespace

void VtScreen::FreeVTerm::operator()(VTerm* terminal) const { vterm_free(terminal); }

VtScreen MakeVtScreen(int rows, int columns) {
    VtScreen s;
    s.terminal.reset(vterm_new(rows, columns));
    s.rows = rows;
    s.columns = columns;
    vterm_set_utf8(s.terminal.get(), 1);
    vterm_screen_reset(ScreenOf(s), 1);
    return s;
}

void FeedVt(VtScreen& s, std::string_view bytes) {
    // Pointed at `s` on each call, since a VtScreen may have moved since.
    vterm_screen_set_callbacks(ScreenOf(s), &Callbacks, &s);
    std::string text = s.heldBack + std::string(bytes);
    std::string_view rest = text;
    for (size_t at; (at = rest.find(ClearScreen)) != std::string_view::npos;) {
        Write(s, rest.substr(0, at));
        PushRowsWithText(s);
        Write(s, ClearScreen);
        rest.remove_prefix(at + ClearScreen.size());
    }
    // libvterm would hold an unfinished sequence too, so holding it here
    // changes nothing on the screen meanwhile.
    size_t held = PossibleClearStart(rest);
    Write(s, rest.substr(0, rest.size() - held));
    s.heldBack = std::string(rest.substr(rest.size() - held));
    ReadBackState(s);
}

// The right half of a wide character shows in the character's colours,
// which libvterm keeps only in the left half.
VtCell VtCellAt(const VtScreen& s, int row, int column) {
    VTermScreenCell cell, colours;
    vterm_screen_get_cell(ScreenOf(s), VTermPos{row - 1, column - 1}, &cell);
    colours = cell;
    if (cell.chars[0] == static_cast<uint32_t>(-1) && column > 1)
        vterm_screen_get_cell(ScreenOf(s), VTermPos{row - 1, column - 2}, &colours);
    return VtCell{CellText(cell), PaletteNumber(colours.fg, 7), PaletteNumber(colours.bg, 0)};
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
