// The terminal behind the screen model: raw keyboard mode, drawing the model
// with escape sequences (or as the plain transcript when standard output is
// not a terminal), reading key bytes, and putting the terminal back on every
// way out. It reads the model; the model knows nothing of it. Until StartTerminal is called the
// console works on the model alone and sends nothing anywhere, which is how the unit tests run it.
#pragma once

#include <string>
#include <string_view>

#include "console/keys.h"

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

// ---- The plain transcript (transcript.cpp) ---------------------------------------------

// Starts the transcript afresh; `keep`: rows are to go out as plain lines.
void StartTranscript(bool keep);
// Takes note of the rows the model scrolled off since the last call, so a
// row that had not gone out yet is not lost. Called after every character
// and line end.
void NoteScrolls();
// Logs every row from the first unlogged one up to the row above the cursor,
// and the cursor's row too when `withCursorRow` and it holds any text.
void LogFinishedRows(bool withCursorRow);
// After a clear: the next row to go out is row 1.
void StartTranscriptPage();
// While the typing is echoed, the rows are written by the echo itself;
// then the transcript goes on below `row`, the last row the echo wrote on.
void PauseTranscript();
void ResumeTranscriptBelow(int row);
// The lines logged and not yet written, which are then cleared.
std::string TakeTranscriptText();

// Sends raw bytes to a terminal on standard output (nothing otherwise).
void SendToTerminal(std::string_view bytes);
// Writes plain text to standard output when it is not a terminal.
void WritePlainText(std::string_view text);
// Writes to standard error.
void WriteErrorText(std::string_view text);

// The rows of the model the terminal shows: first row and count.
void VisibleRows(int& firstRow, int& rowCount);
void VisibleColumns(int& firstColumn, int& columnCount);

// The next key: from standard input once started, otherwise from the bytes
// given to FeedKeyBytes. Returns false when the input has ended.
bool NextKey(Key& key);
void ClearKeyBytes();
// Whether an ESC may start an escape sequence: only keys from a terminal
// send them.
void ReadEscapeSequences(bool fromTerminal);
// Whether Ctrl-Z (the byte 26) stops the program as a terminal's suspend key
// does, wherever keys are read or the job runs: for keys from a terminal.
void SuspendOnCtrlZ(bool fromTerminal);
// Whether Ctrl-Z on an empty line at the prompt ends the input as Ctrl-D
// does: for keys from a Windows console, where Ctrl-Z is the end of input.
void EndInputOnCtrlZ(bool fromConsole);
bool CtrlZEndsInput();

// Puts the terminal back: modes, cursor shown, colours reset, the cursor on
// a clean line below the drawn area. Safe to call twice.
void RestoreTerminal();
