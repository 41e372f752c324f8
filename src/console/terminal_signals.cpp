// The terminal's signal handlers. An ending signal or a fault puts the
// terminal back and ends the program the way the signal would have; a stop
// (SIGTSTP) puts it back and takes it again on continuing; a resize or a
// continue is noted for normal code, which redraws. Handlers only write,
// set modes, note flags and wake the key wait through a self-pipe: they
// never draw.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "console/terminal_state.h"
#include "files/files.h"

namespace {

// The signals that end the program get the restoring handler: those sent
// from outside (files.h) and the faults of its own code. SIGPIPE is not
// among them: a reader that goes away (`phonoskew | head`) must not end the
// job, so it is ignored and the write's error says it; nor is SIGXFSZ,
// ignored so that a file-size limit fails the write like a full disk.
const int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

// The restore bytes and the first modes, unless the program is in the
// background; async-signal-safe (write, tcsetattr, tcgetpgrp).
void PutTerminalBack() {
    if (InBackground()) return;
    if (terminal.restoreLength > 0 && !terminal.outputGone) {
        ssize_t ignored = write(STDOUT_FILENO, terminal.restoreBytes,
                                static_cast<size_t>(terminal.restoreLength));
        (void)ignored;
    }
    if (terminal.modesChanged) tcsetattr(terminal.modesFd, TCSANOW, &terminal.savedModes);
}

// Async-signal-safe: only write, tcsetattr, signal and raise.
void RestoreFromSignal(int signal) {
    int savedErrno = errno;
    if (!terminal.restored) {
        terminal.restored = 1;
        PutTerminalBack();
        if (!InBackground()) WriteEndNote();
    }
    // Ends the program the way the signal would have, so its status shows it.
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = savedErrno;
}

void InstallHandler(int signal, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// SIGTSTP: the terminal goes back as for an exit, so the shell's prompt
// comes back in its own colours with the cursor shown; the process stops
// inside raise. Once continued, raw mode is taken again at once (so keys
// typed during the job neither echo nor send signals), and normal code
// redraws the whole screen. Async-signal-safe: write, tcsetattr,
// sigprocmask, sigaction and raise.
void StopFromSignal(int) {
    int savedErrno = errno;
    if (!terminal.restored) PutTerminalBack();
    ::signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    InstallHandler(SIGTSTP, StopFromSignal, SA_RESTART);
    if (!terminal.restored && terminal.modesChanged)
        tcsetattr(terminal.modesFd, TCSANOW, &terminal.programModes);
    terminal.continueNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
}

void NoteResize(int) {
    int savedErrno = errno;
    terminal.resizeNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
}

void NoteContinue(int) {
    int savedErrno = errno;
    terminal.continueNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
}

}  // namespace

// True when another process group (the shell, after `kill %1` on a stopped
// job, or `bg`) holds the terminal: the terminal is then the shell's, with
// its own modes and text, and a change of modes from here would stop the
// program again (SIGTTOU) instead of letting it end. A terminal that cannot
// say (not the controlling one, or hung up) counts as the program's own.
// Async-signal-safe: tcgetpgrp and getpgrp.
bool InBackground() {
    int fd = terminal.outputIsTerminal ? STDOUT_FILENO : terminal.modesFd;
    if (fd < 0) return false;
    pid_t foreground = tcgetpgrp(fd);
    return foreground > 0 && foreground != getpgrp();
}

// Async-signal-safe: write.
void WriteEndNote() {
    if (terminal.endNoteLength > 0) {
        ssize_t ignored =
            write(STDERR_FILENO, terminal.endNote, static_cast<size_t>(terminal.endNoteLength));
        (void)ignored;
    }
}

void InstallSignalHandlers() {
    sigset_t outside = OutsideEndingSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&outside, signal) == 1) InstallHandler(signal, RestoreFromSignal, 0);
    }
    for (int signal : FaultSignals) InstallHandler(signal, RestoreFromSignal, 0);
    InstallHandler(SIGPIPE, SIG_IGN, 0);
    InstallHandler(SIGTSTP, StopFromSignal, SA_RESTART);
    InstallHandler(SIGWINCH, NoteResize, SA_RESTART);
    InstallHandler(SIGCONT, NoteContinue, SA_RESTART);
}

// ---- The self-pipe ---------------------------------------------------------------------

void OpenWakePipe() {
    if (pipe(terminal.wakeFds) != 0) return;
    for (int fd : terminal.wakeFds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

// Async-signal-safe: write.
void WakeKeyWait() {
    if (terminal.wakeFds[1] < 0) return;
    ssize_t ignored = write(terminal.wakeFds[1], "w", 1);
    (void)ignored;
}

void DrainWakePipe() {
    char drained[64];
    while (read(terminal.wakeFds[0], drained, sizeof drained) > 0) {
    }
}
