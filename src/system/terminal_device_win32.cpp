// The terminal device on Windows: the console, drawn through the console
// API, and its keys read as raw key events. Set-up is a list of steps that
// RestoreTerminalDevice undoes: the console's modes, size, colours, cursor
// and title are saved, then changed; an exit, a console's close, a logoff,
// a shutdown and a fault all put them back.
//
// The screen is drawn by console_output_win32.cpp, which carries out the
// frame's bytes as console calls. When standard input or output is not a
// console (a pipe, a file, NUL), its bytes go through unchanged, as on
// POSIX systems.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "system/console_win32.h"
#include "system/files.h"
#include "system/signals.h"
#include "system/terminal_device.h"

namespace {

// ---- The device's state ----------------------------------------------------------

struct DeviceState {
    bool started = false;
    TerminalFacts facts;
    HANDLE input = INVALID_HANDLE_VALUE;   // the console's input, when keys come from it
    HANDLE output = INVALID_HANDLE_VALUE;  // the console's screen buffer, when drawn on
    std::atomic<bool> outputGone = false;
    std::atomic<bool> restored = false;

    // What set-up changed, as it was found.
    DWORD savedInputMode = 0;
    bool inputModeChanged = false;
    int windowRows = 0;  // the window's size when last read (TerminalSize)
    int windowColumns = 0;

    wchar_t highSurrogate = 0;  // a key's first half of a character beyond U+FFFF

    // The restore bytes and the end note, kept for the handlers.
    std::string restoreBytes;
    std::string endNote;

    // Keys from a pipe come through a thread of their own.
    HANDLE pipeReady = nullptr;
    std::mutex pipeLock;
    std::string pipeBytes;
    bool pipeEnded = false;
    std::string injected;  // Ctrl+C taken by the console's handler, as a key
};

DeviceState device;

// Wakes a key wait, and the main thread's wait while helper threads work.
HANDLE WakeEvent() {
    static HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return wake;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void WriteHandle(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD put = 0;
        if (!WriteFile(handle, bytes.data(), DWORD(bytes.size()), &put, nullptr) || put == 0) {
            if (handle == GetStdHandle(STD_OUTPUT_HANDLE)) device.outputGone = true;
            return;
        }
        bytes.remove_prefix(put);
    }
}

// ---- Keys ---------------------------------------------------------------------------

bool IsModifierOnly(WORD key) {
    switch (key) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL:
        case VK_LSHIFT:
        case VK_RSHIFT:
        case VK_LCONTROL:
        case VK_RCONTROL:
        case VK_LMENU:
        case VK_RMENU:
        case VK_LWIN:
        case VK_RWIN:
            return true;
    }
    return false;
}

// One key press as the bytes a terminal sends for it, without escape
// sequences: Esc is 27 (wine gives no character for it), Enter 13,
// Backspace 8, a character its UTF-8 bytes, Alt with a letter and a key
// without a character the byte 0. Releases and modifiers alone give nothing.
void AppendKey(const KEY_EVENT_RECORD& key, std::string& bytes) {
    if (!key.bKeyDown || IsModifierOnly(key.wVirtualKeyCode)) return;
    const wchar_t character = key.uChar.UnicodeChar;
    const DWORD state = key.dwControlKeyState;
    const bool alt = state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
    const bool ctrl = state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
    for (WORD repeat = 0; repeat < std::max<WORD>(key.wRepeatCount, 1); ++repeat) {
        if (key.wVirtualKeyCode == VK_ESCAPE) {
            bytes += '\x1b';
        } else if (key.wVirtualKeyCode == VK_RETURN) {
            bytes += '\r';
        } else if (key.wVirtualKeyCode == VK_BACK) {
            bytes += '\b';
        } else if (character == 0 || (alt && !ctrl)) {
            bytes += '\0';  // AltGr (Ctrl and Alt) still types its character
        } else if (character >= 0xD800 && character < 0xDC00) {
            device.highSurrogate = character;
        } else if (character >= 0xDC00 && character < 0xE000) {
            if (device.highSurrogate != 0) {
                AppendUtf8(0x10000 + ((char32_t(device.highSurrogate) - 0xD800) << 10) +
                               (char32_t(character) - 0xDC00),
                           bytes);
            }
            device.highSurrogate = 0;
        } else {
            AppendUtf8(char32_t(character), bytes);
        }
    }
}

// Takes the console's queued events; key bytes go to `bytes`.
bool ReadConsoleKeys(std::string& bytes) {
    INPUT_RECORD records[64];
    DWORD count = 0;
    if (!ReadConsoleInputW(device.input, records, 64, &count)) return false;
    const size_t before = bytes.size();
    for (DWORD i = 0; i < count; ++i) {
        if (records[i].EventType == KEY_EVENT) AppendKey(records[i].Event.KeyEvent, bytes);
    }
    return bytes.size() > before;
}

// Keys from a pipe or a file: a thread of its own reads them as they come.
void ReadPipe() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        const bool read = ReadFile(in, buffer, sizeof buffer, &got, nullptr);
        std::lock_guard<std::mutex> hold(device.pipeLock);
        // The end: no bytes, whether the call says so (wine) or fails
        // (a broken pipe on Windows).
        if (!read || got == 0) {
            device.pipeEnded = true;
            SetEvent(device.pipeReady);
            return;
        }
        device.pipeBytes.append(buffer, got);
        SetEvent(device.pipeReady);
    }
}

// ---- Putting it back -----------------------------------------------------------------

void PutConsoleBack() {
    if (device.facts.OutputIsTerminal && !device.outputGone) {
        PutConsoleOutputBack(device.restoreBytes);
    }
    if (device.inputModeChanged) SetConsoleMode(device.input, device.savedInputMode);
    if (!device.endNote.empty()) WriteHandle(GetStdHandle(STD_ERROR_HANDLE), device.endNote);
}

// A console's close, a logoff or a shutdown ends the program as an ending
// signal does on POSIX systems: once any output under way is whole or gone,
// the console is put back and the program ends. Ctrl+C, which wine's
// console still turns into an event, is the key of the byte 3.
BOOL WINAPI ConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT) {
        std::lock_guard<std::mutex> hold(device.pipeLock);
        device.injected += '\x03';
        SetEvent(WakeEvent());
        return TRUE;
    }
    std::lock_guard<std::recursive_mutex> hold(EndingLock());
    RemovePendingTemporaryFile();
    if (!device.restored.exchange(true)) PutConsoleBack();
    ExitProcess(128 + 1);
}

// A fault puts the console back before Windows ends the program.
LONG WINAPI Fault(EXCEPTION_POINTERS*) {
    if (!device.restored.exchange(true)) PutConsoleBack();
    return EXCEPTION_CONTINUE_SEARCH;
}

void RestoreAtExit() { RestoreTerminalDevice(); }

}  // namespace

// ---- Set-up ------------------------------------------------------------------------

TerminalFacts StartTerminalDevice(bool drawOnOutput) {
    if (device.started) return device.facts;
    device.started = true;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    device.facts.Utf8 = true;
    device.facts.KeysHaveEscapeSequences = false;
    if (IsConsole(in)) {
        device.facts.InputIsTerminal = true;
        device.facts.CtrlZEndsInput = true;
        device.input = in;
        GetConsoleMode(in, &device.savedInputMode);
        // Every input mode off: no line editing, no echo, and Ctrl+C a key.
        device.inputModeChanged = SetConsoleMode(in, 0);
    } else {
        device.pipeReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        std::thread(ReadPipe).detach();
    }
    if (drawOnOutput && IsConsole(out)) {
        device.facts.OutputIsTerminal = true;
        device.output = out;
        StartConsoleOutput(out);
    }
    SetConsoleCtrlHandler(ConsoleEvent, TRUE);
    SetUnhandledExceptionFilter(Fault);
    std::atexit(RestoreAtExit);
    return device.facts;
}

// ---- Writing ------------------------------------------------------------------------

void WriteToStandardOutput(std::string_view bytes) {
    if (device.outputGone) return;
    SignalsHeld held(HeldSignals::OutsideEndingAndStop);
    if (device.facts.OutputIsTerminal) {
        DrawOnConsole(bytes);
    } else {
        WriteHandle(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
    }
}

void WriteToStandardError(std::string_view bytes) {
    SignalsHeld held(HeldSignals::OutsideEndingAndStop);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(error)) {
        std::wstring wide = Wide(bytes);
        DWORD written = 0;
        WriteConsoleW(error, wide.data(), DWORD(wide.size()), &written, nullptr);
    } else {
        WriteHandle(error, bytes);
    }
}

bool StandardErrorIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

bool TerminalSize(int& rows, int& columns) {
    if (!device.facts.OutputIsTerminal || !ConsoleWindowSize(rows, columns)) return false;
    device.windowRows = rows;
    device.windowColumns = columns;
    return true;
}

// The console shows a character in one cell, or two for the wide characters
// of East Asian scripts; a combining mark joins the character before it.
int CharacterCells(char32_t code) {
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) return -1;
    if ((code >= 0x300 && code < 0x370) || (code >= 0x1AB0 && code < 0x1B00) ||
        (code >= 0x1DC0 && code < 0x1E00) || (code >= 0x20D0 && code < 0x2100) ||
        (code >= 0xFE20 && code < 0xFE30)) {
        return 0;
    }
    if ((code >= 0x1100 && code < 0x1160) || (code >= 0x2E80 && code < 0xA4D0) ||
        (code >= 0xAC00 && code < 0xD7A4) || (code >= 0xF900 && code < 0xFB00) ||
        (code >= 0xFE30 && code < 0xFE50) || (code >= 0xFF00 && code < 0xFF61) ||
        (code >= 0xFFE0 && code < 0xFFE7) || (code >= 0x20000 && code < 0x3FFFE)) {
        return 2;
    }
    return 1;
}

// ---- Putting it back ------------------------------------------------------------------

void SetRestoreBytes(std::string_view bytes) {
    SignalsHeld held(HeldSignals::Every);
    device.restoreBytes = bytes;
}

void SetEndNote(std::string_view text) {
    SignalsHeld held(HeldSignals::Every);
    device.endNote = text;
}

void RestoreTerminalDevice() {
    SignalsHeld held(HeldSignals::Every);
    if (!device.started || device.restored.exchange(true)) return;
    PutConsoleBack();
}

bool TerminalRestored() { return device.restored; }

// ---- Keys and waiting ---------------------------------------------------------------

DeviceWait WaitForKeyBytes(int timeoutMs, std::string& bytes) {
    {
        std::lock_guard<std::mutex> hold(device.pipeLock);
        if (!device.injected.empty()) {
            bytes += device.injected;
            device.injected.clear();
            return DeviceWait::Bytes;
        }
        if (!device.facts.InputIsTerminal && !device.pipeBytes.empty()) {
            bytes += device.pipeBytes;
            device.pipeBytes.clear();
            return DeviceWait::Bytes;
        }
        if (!device.facts.InputIsTerminal && device.pipeEnded) return DeviceWait::Ended;
    }
    HANDLE watched[2] = {device.facts.InputIsTerminal ? device.input : device.pipeReady,
                         WakeEvent()};
    DWORD waited =
        WaitForMultipleObjects(2, watched, FALSE, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
    if (waited == WAIT_TIMEOUT) return DeviceWait::TimedOut;
    if (waited == WAIT_OBJECT_0 + 1) return DeviceWait::Woken;
    if (waited != WAIT_OBJECT_0) return DeviceWait::Ended;
    if (!device.facts.InputIsTerminal) return DeviceWait::Woken;  // taken on the next call
    return ReadConsoleKeys(bytes) ? DeviceWait::Bytes : DeviceWait::Woken;
}

void WaitForWake(int timeoutMs) { WaitForSingleObject(WakeEvent(), DWORD(timeoutMs)); }

void WakeTerminalWait() { SetEvent(WakeEvent()); }

// The console has no stop and continue. Its window has no resize signal
// either: a window whose size differs from the last reading (after the
// program's own size request, or the user's) has been resized.
TerminalNotes TakeTerminalNotes() {
    int rows = 0;
    int columns = 0;
    if (!device.facts.OutputIsTerminal || !ConsoleWindowSize(rows, columns)) return {};
    return {.Resized = rows != device.windowRows || columns != device.windowColumns};
}

// A console program has no stop and continue: Ctrl-Z is the console's end
// of input (TerminalFacts::CtrlZEndsInput).
void SuspendProgram() {}
