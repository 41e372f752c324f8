// Drawing on the Windows console: the frame's bytes are read into console
// operations (system/console_sequences.h) and each is carried out as the
// console call that does the same. Text goes out as UTF-16 with
// WriteConsoleW at the cursor in the current colours. What drawing
// changes (the buffer's size, its colours, the cursor, the title and the
// output mode) is saved first and put back at the end.
//
// Text does not wrap at the right edge while the program draws: a console
// whose buffer is no taller than its window (Windows Terminal's, wine's in
// a terminal) would scroll the whole screen up one row when a row's last
// cell is written on its last row. The frame places the cursor itself after
// every write that reaches the right edge.
#include <algorithm>
#include <vector>

#include "system/console_sequences.h"
#include "system/console_win32.h"

namespace {

struct ConsoleOutput {
    HANDLE handle = INVALID_HANDLE_VALUE;
    SequenceReader reader;
    // What drawing changes, as it was found.
    CONSOLE_SCREEN_BUFFER_INFO savedBuffer{};
    CONSOLE_CURSOR_INFO savedCursor{};
    std::wstring savedTitle;
    DWORD savedMode = 0;
    bool modeChanged = false;
    bool sizeChanged = false;
};

ConsoleOutput output;

CONSOLE_SCREEN_BUFFER_INFO BufferInfo() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(output.handle, &info);
    return info;
}

// Rows and columns count from the window's top left, 1-based.
void PlaceCursor(int row, int column) {
    CONSOLE_SCREEN_BUFFER_INFO info = BufferInfo();
    COORD at{SHORT(info.srWindow.Left + column - 1), SHORT(info.srWindow.Top + row - 1)};
    SetConsoleCursorPosition(output.handle, at);
}

void FillCells(COORD from, DWORD count, WORD attribute) {
    DWORD done = 0;
    FillConsoleOutputCharacterW(output.handle, L' ', count, from, &done);
    FillConsoleOutputAttribute(output.handle, attribute, count, from, &done);
}

void FillWindow(WORD attribute) {
    CONSOLE_SCREEN_BUFFER_INFO info = BufferInfo();
    for (SHORT row = info.srWindow.Top; row <= info.srWindow.Bottom; ++row) {
        FillCells({0, row}, DWORD(info.dwSize.X), attribute);
    }
}

void FillRowEnd(WORD attribute) {
    CONSOLE_SCREEN_BUFFER_INFO info = BufferInfo();
    FillCells(info.dwCursorPosition, DWORD(info.dwSize.X - info.dwCursorPosition.X), attribute);
}

void ShowCursor(bool shown) {
    CONSOLE_CURSOR_INFO cursor{};
    GetConsoleCursorInfo(output.handle, &cursor);
    cursor.bVisible = shown;
    SetConsoleCursorInfo(output.handle, &cursor);
}

// The buffer and the window set to `rows` x `columns` where the console can
// show that whole; else both stay as they are, and the frame follows the
// cursor in the smaller window, as on a terminal that refuses to resize.
void SizeWindow(int rows, int columns) {
    CONSOLE_SCREEN_BUFFER_INFO info = BufferInfo();
    COORD largest = GetLargestConsoleWindowSize(output.handle);
    if (largest.X < columns || largest.Y < rows) return;
    if (info.dwMaximumWindowSize.X < columns || info.dwMaximumWindowSize.Y < rows) {
        // The window cannot grow past its buffer: the buffer grows first.
        if (info.dwSize.X < columns || info.dwSize.Y < rows) {
            COORD bigger{SHORT(std::max<int>(info.dwSize.X, columns)),
                         SHORT(std::max<int>(info.dwSize.Y, rows))};
            SetConsoleScreenBufferSize(output.handle, bigger);
        }
    }
    SMALL_RECT tiny{0, 0, 0, 0};
    SetConsoleWindowInfo(output.handle, TRUE, &tiny);
    SetConsoleScreenBufferSize(output.handle, COORD{SHORT(columns), SHORT(rows)});
    SMALL_RECT window{0, 0, SHORT(columns - 1), SHORT(rows - 1)};
    SetConsoleWindowInfo(output.handle, TRUE, &window);
    output.sizeChanged = true;
}

void WriteText(std::string_view text) {
    std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(output.handle, wide.data(), DWORD(wide.size()), &written, nullptr);
}

void CarryOut(const ConsoleOperation& operation) {
    switch (operation.step) {
        case ConsoleStep::Move:
            PlaceCursor(operation.row, operation.column);
            break;
        case ConsoleStep::Attributes:
            SetConsoleTextAttribute(output.handle, WORD(operation.attribute));
            break;
        case ConsoleStep::FillWindow:
            FillWindow(WORD(operation.attribute));
            break;
        case ConsoleStep::FillRowEnd:
            FillRowEnd(WORD(operation.attribute));
            break;
        case ConsoleStep::Text:
            WriteText(operation.text);
            break;
        case ConsoleStep::Cursor:
            ShowCursor(operation.shown);
            break;
        case ConsoleStep::Title:
            SetConsoleTitleW(Wide(operation.text).c_str());
            break;
        case ConsoleStep::Size:
            SizeWindow(operation.row, operation.column);
            break;
        case ConsoleStep::Beep:
            MessageBeep(0);
            break;
    }
}

}  // namespace

std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

void AppendUtf8(char32_t code, std::string& bytes) {
    if (code < 0x80) {
        bytes += char(code);
    } else if (code < 0x800) {
        bytes += char(0xC0 | (code >> 6));
        bytes += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes += char(0xE0 | (code >> 12));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
        bytes += char(0x80 | (code & 0x3F));
    } else {
        bytes += char(0xF0 | (code >> 18));
        bytes += char(0x80 | ((code >> 12) & 0x3F));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
        bytes += char(0x80 | (code & 0x3F));
    }
}

void StartConsoleOutput(HANDLE handle) {
    output.handle = handle;
    GetConsoleScreenBufferInfo(handle, &output.savedBuffer);
    output.reader.ownAttribute = output.savedBuffer.wAttributes;
    output.reader.attribute = output.savedBuffer.wAttributes;
    GetConsoleCursorInfo(handle, &output.savedCursor);
    wchar_t title[1024] = {};
    if (GetConsoleTitleW(title, 1024) > 0) output.savedTitle = title;
    if (GetConsoleMode(handle, &output.savedMode)) {
        output.modeChanged =
            SetConsoleMode(handle, output.savedMode & ~DWORD(ENABLE_WRAP_AT_EOL_OUTPUT));
    }
}

void DrawOnConsole(std::string_view bytes) {
    std::vector<ConsoleOperation> operations;
    ReadConsoleSequences(output.reader, bytes, operations);
    for (const ConsoleOperation& operation : operations) CarryOut(operation);
}

void PutConsoleOutputBack(std::string_view restoreBytes) {
    DrawOnConsole(restoreBytes);
    if (output.sizeChanged) {
        const CONSOLE_SCREEN_BUFFER_INFO& saved = output.savedBuffer;
        SMALL_RECT tiny{0, 0, 0, 0};
        SetConsoleWindowInfo(output.handle, TRUE, &tiny);
        SetConsoleScreenBufferSize(output.handle, saved.dwSize);
        SetConsoleWindowInfo(output.handle, TRUE, &saved.srWindow);
    }
    SetConsoleTextAttribute(output.handle, output.savedBuffer.wAttributes);
    SetConsoleCursorInfo(output.handle, &output.savedCursor);
    if (output.modeChanged) SetConsoleMode(output.handle, output.savedMode);
    if (!output.savedTitle.empty()) SetConsoleTitleW(output.savedTitle.c_str());
}

bool ConsoleWindowSize(int& rows, int& columns) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output.handle, &info)) return false;
    rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    columns = info.srWindow.Right - info.srWindow.Left + 1;
    return rows > 0 && columns > 0;
}
