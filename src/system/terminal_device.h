// The terminal device: the terminal on standard input and output that the
// console draws its screen on and reads keys from, and every way it is put
// back as it was found. The console hands it finished bytes (the frame's
// escape sequences, listed in console/console.h, or the plain transcript)
// and takes key bytes from it; it knows nothing of the screen.
//
// On POSIX systems the device is the terminal in raw mode; a signal that
// ends the program, a fault, a stop (SIGTSTP) and the exit all put it back,
// and a resize or a continue is noted for the console to redraw.
//
// On Windows it is the console, drawn through the console API: the frame's
// few sequences are carried out as the calls that do the same (cursor
// place, colours, clear, cursor shown or hidden, the title, the window's
// size, the beep), and its text is written as UTF-16. Keys are read as raw
// key events with every input mode off and handed on as the bytes a
// terminal would send, without escape sequences: Esc is the byte 27, a key
// with no character (an arrow, a function key) the byte 0; Ctrl-Z is the
// byte 26, the end of input there as Ctrl-D is on a terminal. Closing the
// console, logging off or shutting down, and a fault, put the console back
// (size, modes, colours, cursor, title) and end the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the device is, as found at the start.
struct TerminalFacts {
    bool InputIsTerminal = false;   // keys come from a terminal
    bool OutputIsTerminal = false;  // standard output is a terminal to draw on
    bool Utf8 = false;              // its text is UTF-8 (else one byte a character)
    // An ESC in the key bytes may start an escape sequence (an arrow, a
    // function key): only a POSIX terminal's keys carry them.
    bool KeysHaveEscapeSequences = false;
    // Ctrl-Z (the byte 26) is the end of input typed at the keyboard, as on
    // a Windows console; elsewhere it is a terminal's suspend key.
    bool CtrlZEndsInput = false;
};

// Set-up as a list of steps, each undone by RestoreTerminalDevice: raw keys
// when standard input is a terminal (Ctrl+C is the byte 3, no echo, no line
// editing); only the echo off when just standard output is one; the
// restoring handlers and the restore at exit. `drawOnOutput` false (a dumb
// terminal) counts standard output as no terminal. Safe to call twice.
TerminalFacts StartTerminalDevice(bool drawOnOutput);

// ---- Writing ------------------------------------------------------------------------

// Writes all of `bytes` to standard output, with the ending and stop signals
// held so that a restore from a handler never lands inside a half-written
// escape sequence. When standard output fails (its reader or terminal gone),
// nothing more is sent there, and the job runs on.
void WriteToStandardOutput(std::string_view bytes);
void WriteToStandardError(std::string_view bytes);
bool StandardErrorIsTerminal();

// The terminal's size, false when it cannot say.
bool TerminalSize(int& rows, int& columns);

// The cells a character takes on the terminal: 1, 2 for a wide one, 0 for a
// mark that joins the character before it, -1 for one it cannot show.
int CharacterCells(char32_t code);

// ---- Putting it back ------------------------------------------------------------------

// The bytes that put the drawn screen back (colours, cursor, a clean line),
// kept ready for a signal handler, which may have to send them at any moment.
void SetRestoreBytes(std::string_view bytes);
// The notes for standard error that wait for the restore at the end (an
// exit or an ending signal), all of them at once: each call replaces the
// last. Up to EndNoteCapacity bytes are kept, in a buffer of fixed size
// that a signal handler can write.
constexpr size_t EndNoteCapacity = 8192;
void SetEndNote(std::string_view text);

// The restore bytes, the modes found at the start and the end note, unless
// another process group holds the terminal. Once; safe to call twice.
void RestoreTerminalDevice();
bool TerminalRestored();

// ---- Keys and waiting ---------------------------------------------------------------

enum class DeviceWait {
    Bytes,     // key bytes came, appended to `bytes`
    Ended,     // standard input has ended
    Woken,     // a signal was noted (see TakeTerminalNotes) or another thread woke it
    TimedOut,  // nothing within the time
};

// Waits up to `timeoutMs` (-1: without limit) for key bytes on standard
// input or a wake.
DeviceWait WaitForKeyBytes(int timeoutMs, std::string& bytes);

// Waits up to `timeoutMs` for a wake alone: keys typed meanwhile stay queued.
void WaitForWake(int timeoutMs);

// Ends a wait early; safe from any thread and from a signal handler.
void WakeTerminalWait();

// Stops the program as a terminal's suspend key stops any other (its raw
// mode sends Ctrl-Z as a byte): the terminal is put back, and on continuing
// taken again and noted for a redraw. Returns once continued.
void SuspendProgram();

// What happened to the terminal since the last call: a resize, or a stop
// and continue (the program's modes are taken again before this returns);
// either way the whole screen must be drawn anew.
struct TerminalNotes {
    bool Resized = false;
    bool Continued = false;
};
TerminalNotes TakeTerminalNotes();
