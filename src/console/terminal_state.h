// The terminal's state shared by its files (terminal.cpp, terminal_signals.cpp,
// key_wait.cpp): the start-up facts, the modes and the bytes the restore
// sends, and what the signal handlers note. The members a handler reads or
// writes are volatile sig_atomic_t or are set before the handlers go in.
#pragma once

#include <signal.h>
#include <termios.h>

struct TerminalState {
    bool started = false;
    bool inputIsTerminal = false;
    bool outputIsTerminal = false;
    // Standard output's reader or terminal has gone: nothing more goes there,
    // and the job runs on to its end.
    volatile sig_atomic_t outputGone = 0;

    // Terminal modes: the fd whose modes were changed, and the modes found there.
    int modesFd = -1;
    termios savedModes{};
    termios programModes{};
    volatile sig_atomic_t modesChanged = 0;
    volatile sig_atomic_t restored = 0;

    // The bytes that put the terminal back, kept ready for a signal handler.
    char restoreBytes[64] = {};
    volatile sig_atomic_t restoreLength = 0;

    // A note for standard error that waits for the restore at the end.
    char endNote[512] = {};
    volatile sig_atomic_t endNoteLength = 0;

    // Signals noted by handlers; the self-pipe wakes a key wait.
    int wakeFds[2] = {-1, -1};
    volatile sig_atomic_t resizeNoted = 0;
    volatile sig_atomic_t continueNoted = 0;
};

// The one terminal of the program.
extern TerminalState terminal;

// ---- Signals (terminal_signals.cpp) -----------------------------------------------

// The restoring handlers for the ending signals and the faults, the stop
// handler, and the notes of a resize and a continue.
void InstallSignalHandlers();
// True when another process group holds the terminal. Async-signal-safe.
bool InBackground();
// Writes the end note to standard error. Async-signal-safe.
void WriteEndNote();
// The self-pipe that wakes a key wait when a handler notes a signal.
void OpenWakePipe();
void WakeKeyWait();
void DrainWakePipe();
