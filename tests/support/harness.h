// Runs a child under test as a user meets it: in a pseudo-terminal of a
// given size, as the foreground job of a session whose leader stands in for
// the shell (so stopping and continuing work as they do at a shell), or with
// pipes. The child is a function of the test binary or the built phonoskew
// program. The test types keys, reads the output with time-outs (a
// terminal's also as a screen of cells), reads the terminal's modes and
// collects how the child ended.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/vt_screen.h"

// What a child runs.
struct Program {
    void (*body)() = nullptr;            // a function; the child then exits with status 0
    std::filesystem::path folder;        // without a body: the phonoskew program, run here
    std::vector<std::string> arguments;  // the program's command line after its name
    // NAME=VALUE settings for the child. LANG, LC_ALL and LC_CTYPE are
    // removed first, so a child runs in the C locale unless a test says.
    std::vector<std::string> environment;
    // Standard descriptors (0 to 2) the child starts with closed.
    std::vector<int> closedDescriptors;
    // Resource limits (RLIMIT_FSIZE and the like) the child starts under.
    std::vector<std::pair<int, rlim_t>> limits;
    // In a pseudo-terminal: when the child stops, the shell's stand-in takes
    // the terminal back, as a shell does, so the child is a background job.
    bool shellTakesTerminalOnStop = false;
};

inline Program FunctionBody(void (*body)()) {
    Program program;
    program.body = body;
    return program;
}
inline Program PhonoskewIn(const std::filesystem::path& folder,
                           std::vector<std::string> arguments = {}) {
    Program program;
    program.folder = folder;
    program.arguments = std::move(arguments);
    return program;
}

struct Child {
    pid_t pid = -1;                  // the child: signals go here
    pid_t leader = -1;               // what the test waits for: the shell's stand-in, or the child
    int input = -1;                  // where keys go: the pty master, or the standard input pipe
    int output = -1;                 // the pty master, or the standard output pipe
    int errors = -1;                 // the standard error pipe (pipes only)
    int slave = -1;                  // the terminal side, held open to read its modes (pty only)
    termios initialModes{};          // the terminal's modes before the child started
    std::string out;                 // everything written to the terminal or standard output
    std::string err;                 // everything written to standard error (pipes only)
    VtScreen screen;                 // what the terminal shows (pty only)
    int exitStatus = -1;             // exit code, or 128 + signal; -1 while running
    int endSignal = 0;               // the signal that ended the child, 0 when it exited
    uint64_t peakResidentBytes = 0;  // the most memory it held (the leader's)
};

// The program under test (set by the build through PHONOSKEW_BIN).
std::string PhonoskewBinary();

Child StartInPseudoTerminal(const Program& program, int rows = 55, int columns = 80);
// Starts it with pipes for standard input, output and error.
Child StartPiped(const Program& program);
// Starts it with pipes, sends `input`, closes standard input and waits for the
// end; the child is stopped (and the test failed) after `timeoutMs`.
Child RunPiped(const Program& program, std::string_view input, int timeoutMs = 60000);

// True when all of them were written.
bool SendKeys(Child& child, std::string_view keys);

// These read output until the condition holds; false when the time runs out
// or the child has ended without it.
bool WaitForOutput(Child& child, std::string_view text, int timeoutMs = 20000);
bool WaitForScreen(Child& child, const std::function<bool(const VtScreen&)>& done,
                   int timeoutMs = 20000);
bool WaitForRowText(Child& child, int row, const std::string& text, int timeoutMs = 20000);
// Waits for the end, reading the last output; false on time-out.
bool WaitForExit(Child& child, int timeoutMs = 20000);
// Waits until the child is stopped (by SIGTSTP and the like), reading its
// output meanwhile; false on time-out or when it ended.
bool WaitForStop(Child& child, int timeoutMs = 20000);

// Waits until the shell's stand-in holds the terminal again (after a stop,
// with shellTakesTerminalOnStop); false on time-out.
bool WaitForShellToTakeTerminal(Child& child, int timeoutMs = 20000);

// Kills the child if it still runs and closes its descriptors.
void StopChild(Child& child);
struct ChildGuard {
    Child& child;
    ~ChildGuard() { StopChild(child); }
};

// Checks shared by the console and end-to-end tests (pty only, while the
// child is not stopped). Raw mode: no echo, line editing, key signals, CR
// translation or flow control, where the terminal had them before.
void ExpectRawMode(const Child& child);
// The terminal is back in its first modes, and the output ends with the
// restore: the cursor on a clean line at `row` (just below the last text, so
// nothing scrolls away), colours reset, the cursor shown; then the run's
// `notes` for standard error, lines ended by CR LF, below it.
void ExpectTerminalRestored(const Child& child, int row, std::string_view notes = {});
