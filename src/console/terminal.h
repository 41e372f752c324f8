// The terminal behind the screen model: raw keyboard mode, drawing the model
// with escape sequences (or as the plain transcript when standard output is
// not a terminal), reading key bytes, and putting the terminal back on every
// way out. It reads the model; the model knows nothing of it. Until StartTerminal is called the
// console works on the model alone and sends nothing anywhere, which is how the unit tests run it.
#pragma once

#include <string>
#include <string_view>

// Sets up the terminal device (raw mode when standard input is a terminal,
// the restoring signal handlers and the restore at exit) and the screen's
// form: drawn when standard output is a terminal (unless
// DrawScreenOnTerminal(false)), else the plain transcript. Safe to call twice.
void StartTerminal();
bool TerminalStarted();
// True when standard output is a terminal (and the terminal is started).
bool DrawingToTerminal();
// True when keys come from a terminal but the screen goes out as plain text
// (a dumb terminal, or output to a pipe or file): no drawn screen shows
// what the keys do, so the program says it in the text itself.
bool EchoingKeys();

// Shows the model's changes: only changed cells, in one write; or, when
// standard output is not a terminal, the transcript's new lines.
void ShowScreen();

// PrintText of one character (drawing.cpp), for the typed line: says how
// many cells the cursor moved on, as PutCharacter does.
int PrintCharacter(std::string_view character);

// Sends raw bytes to a terminal on standard output (nothing otherwise).
void SendToTerminal(std::string_view bytes);
// Writes plain text to standard output when it is not a terminal.
void WritePlainText(std::string_view text);
// Writes to standard error.
void WriteErrorText(std::string_view text);

// The rows of the model the terminal shows: first row and count.
void VisibleRows(int& firstRow, int& rowCount);
void VisibleColumns(int& firstColumn, int& columnCount);

// How keys are to be read, as the terminal device found them: whether an
// ESC may start an escape sequence (only keys from a terminal send them);
// whether Ctrl-Z (the byte 26) stops the program as a terminal's suspend
// key does, wherever keys are read or the job runs; and whether Ctrl-Z on
// an empty line at the prompt ends the input as Ctrl-D does, as on a
// Windows console. All false until StartTerminal.
bool KeysHaveEscapeSequences();
bool CtrlZSuspends();
bool CtrlZEndsInput();
// Sets the last for a console that is not started, as the tests run it.
void EndInputOnCtrlZ(bool fromConsole);

// Puts the terminal back: modes, cursor shown, colours reset, the cursor on
// a clean line below the drawn area. Safe to call twice.
void RestoreTerminal();
