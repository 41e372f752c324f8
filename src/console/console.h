// The console: an 80x55 text screen of coloured cells shown in the terminal
// that started Phonoskew, the raw keyboard, modal message boxes, the beep,
// the job clock and the window set-up. Everything the rest of the program
// draws or reads goes through these plain functions; the terminal itself
// (escape sequences, the transcript) stays inside this folder, and the
// device under it (raw mode, signals, restoring it on every way out) inside
// the system layer (system/terminal_device.h). Inside, the screen model
// (screen.h) knows nothing of the terminal: the operations (drawing.cpp,
// keyboard.cpp, message_box.cpp) change the model and then call ShowScreen;
// the terminal (terminal.h) reads the model, draws it through the frame
// differ (frame.h) or writes the plain transcript, and waits for keys
// (key_wait.cpp).
//
// Escape sequences sent to a terminal on standard output (none at all when
// standard output is not a terminal, or TERM is "dumb": each screen row then
// goes out as a plain line once finished, and a message box as its title and
// text lines, with its text also on standard error as one line; when the
// keys come from a terminal, the prompt's row goes out before the first key,
// typed characters are echoed as they come, a Backspace as BS, blank, BS,
// and a box's lines end with the keys that dismiss it):
//   ESC [ row ; column H    put the cursor at a cell (1-based)
//   ESC [ fg ; bg m         colours of the cells that follow: palette 0-7 as
//                           30-37 / 40-47, palette 8-15 as 90-97 / 100-107
//   ESC [ 0 m               colours back to the terminal's own
//   ESC [ H  ESC [ 2 J      cursor home and clear, before a whole redraw (first
//                           frame, after a resize or a stop and continue);
//                           a view that follows the cursor on a small
//                           terminal is drawn over, never cleared
//   ESC [ ? 25 l / h        hide / show the cursor
//   ESC [ K                 at the restore (on exit or a stop): clear the line
//                           below the last text, where the cursor is left
//                           for the shell
//   ESC [ 8 ; rows ; 80 t   ask the terminal for 80 columns and `rows` rows
//   ESC ] 2 ; title BEL     the terminal window's title
//   BEL                     the beep
//   CR LF                   at the restore, when text reaches the bottom row:
//                           scrolls up one row to make that clean line
// Cell text: in a UTF-8 locale each character as its UTF-8 bytes (a wide
// one over two cells, a combining mark after the character it joins), and
// U+FFFD for bytes that make no printable character; elsewhere printable ASCII as is, bytes 160-255
// as their Latin-1 characters in UTF-8, and '?' for the rest. No cell sends a control byte. No
// alternate screen is used, so the last screen stays readable after exit.
#pragma once

#include <string>
#include <string_view>

#include "numeric/numeric.h"

// ---- Screen geometry and colours ---------------------------------------------

constexpr int ScreenColumns = 80;
constexpr int ScreenRows = 55;

// The 16-colour palette; attribute = foreground + 16 x background.
constexpr int Black = 0;
constexpr int DarkGrey = 8;
constexpr int BrightWhite = 15;

// ---- What the run tells the console before the window set-up -------------------

// False: the screen goes out as the plain transcript even on a terminal (a
// dumb terminal, which cannot place the cursor). Before InitConsoleTools.
void DrawScreenOnTerminal(bool draw);

// Queues bytes as if they had been typed: a path given on the command line
// is typed at the first prompt.
void FeedKeyBytes(std::string_view bytes);

// Writes to standard error once the terminal has been put back at the end
// (an exit or an ending signal), where the terminal shows it below the
// final screen and its scrollback keeps it; at once when standard error is
// not the terminal drawn on. Each call adds its lines to the ones kept
// before; beyond 8 KiB a last line says how many more there were.
void WriteErrorTextAtEnd(std::string_view text);

// For the main thread while helper threads work: waits up to `timeoutMs`
// or until they wake it, and redraws the screen at once after a stop and
// continue or a resize, which would otherwise wait for the next line. Keys
// typed meanwhile are kept for the keys to come; a Ctrl-Z among them stops
// the program at once.
void WaitServingTerminal(int timeoutMs);

// ---- Window set-up, in the order the program makes these calls -----------------

void InitConsoleTools();
void ConsoleToolBar(int mode, int size);
void ConsoleTitle(std::string_view title);
void ConsoleIcon(int icon);
void DeleteWindowMenuItem(int item);
void Console80x(int rows);
void ConsoleMove(int x, int y);

// ---- Console operations --------------------------------------------------------

void PrintText(std::string_view text);
void EndLine();
void SetColours(int foreground, int background);
void ClearScreen();
void HideCursor();
int CursorRow();
void MoveCursor(int row, int column);
std::string ReadKeyboardLine();
void WaitForKey();
void Beep();
Extended ClockSeconds();

// ---- Message boxes ---------------------------------------------------------------

// How the user dismissed a message box.
enum class BoxKey { Enter, Space, Escape };

// Draws a modal framed box over the screen with `title` and `message` (the
// two characters backslash and n in `message` break the line), waits until
// Enter, Space or Esc dismisses it, restores the screen beneath and says
// which key it was. The caller sounds Beep first. When the screen goes out
// as plain text, `reason` goes to standard error as one line; by default
// "phonoskew: " and the message's lines. A `reason` given is also one of
// the run's notes: on a drawn screen it goes to standard error at the end.
BoxKey ConsoleMessageBox(std::string_view message, std::string_view title,
                         std::string_view reason = {});

// One of the run's notes, such as a "Done" line's, for standard error with a
// line end: at once when the screen goes out as plain text, as a box's
// reason does; on a drawn screen at the end (WriteErrorTextAtEnd), since the
// row that shows it may scroll away or be drawn over.
void NoteOnStandardError(std::string_view line);

// Ends the program at once with a one-line message on standard error and
// exit status `status`, leaving the terminal as it was found.
[[noreturn]] void QuitProgram(std::string_view reason, int status);
