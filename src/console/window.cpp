// The window set-up calls, the job clock, the beep and the way out. A terminal has no
// toolbar, icon or system menu, so those calls do nothing; the title and the
// size are asked of the terminal with xterm's sequences.
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/screen.h"
#include "console/terminal.h"
#include "system/clock.h"

// ---- Window set-up ----------------------------------------------------------------

void InitConsoleTools() { StartTerminal(); }

// A terminal has no toolbar.
void ConsoleToolBar(int, int) {}

// OSC 2: the terminal window's title. Control bytes are left out so the
// title cannot end the sequence early.
void ConsoleTitle(std::string_view title) {
    std::string sequence = "\x1b]2;";
    for (char character : title) {
        if (static_cast<unsigned char>(character) >= 32 && character != 127) sequence += character;
    }
    sequence += '\a';
    SendToTerminal(sequence);
}

// A terminal window's icon is not the program's to set.
void ConsoleIcon(int) {}

// A terminal has no system menu to take items from.
void DeleteWindowMenuItem(int) {}

// CSI 8;rows;80 t asks the terminal to resize its text area; a terminal
// that refuses keeps its size and the view follows the cursor instead.
void Console80x(int rows) {
    SendToTerminal("\x1b[8;" + std::to_string(rows) + ";" + std::to_string(ScreenColumns) + "t");
}

// Where the terminal window stands on the desktop is the user's choice.
void ConsoleMove(int, int) {}

// ---- The job clock ---------------------------------------------------------------------

Extended ClockSeconds() { return static_cast<Extended>(MonotonicMilliseconds()) / 1000; }

// ---- Beep and the way out ---------------------------------------------------------------

void Beep() { SendToTerminal("\a"); }

void QuitProgram(std::string_view reason, int status) {
    RestoreTerminal();
    WriteErrorText(std::string(reason) + '\n');
    std::exit(status);
}
