// The terminal device on POSIX systems: raw mode, writing, the key wait, and
// the signal handlers that put the terminal back. An ending signal or a
// fault puts the terminal back and ends the program the way the signal
// would have; a stop (SIGTSTP) puts it back and takes it again on
// continuing; a resize or a continue is noted for normal code, which
// redraws. Handlers only write, set modes, note flags and wake the key wait
// through a self-pipe: they never draw.
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "system/files.h"
#include "system/signals.h"
#include "system/terminal_device.h"

namespace {

// The device's state. The members a handler reads or writes are volatile
// sig_atomic_t or are set before the handlers go in.
struct DeviceState {
    bool started = false;
    TerminalFacts facts;
    // Standard output's reader or terminal has gone: nothing more goes there.
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

    // The notes for standard error that wait for the restore at the end.
    char endNote[EndNoteCapacity] = {};
    volatile sig_atomic_t endNoteLength = 0;

    // Signals noted by handlers; the self-pipe wakes a key wait.
    int wakeFds[2] = {-1, -1};
    volatile sig_atomic_t resizeNoted = 0;
    volatile sig_atomic_t continueNoted = 0;
};

DeviceState device;

// ---- Writing --------------------------------------------------------------------

void WriteAll(int fd, std::string_view bytes) {
    if (fd == STDOUT_FILENO && device.outputGone) return;
    SignalsHeld held(HeldSignals::OutsideEndingAndStop);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) {
            if (fd == STDOUT_FILENO) device.outputGone = 1;
            break;
        }
        done += static_cast<size_t>(count);
    }
}

// ---- Signal handlers ------------------------------------------------------------------
//
// SIGPIPE is not among the ending signals: a reader that goes away
// (`phonoskew | head`) must not end the job, so it is ignored and the
// write's error says it; nor is SIGXFSZ (signals.h).

// True when another process group (the shell, after `kill %1` on a stopped
// job, or `bg`) holds the terminal: the terminal is then the shell's, with
// its own modes and text, and a change of modes from here would stop the
// program again (SIGTTOU) instead of letting it end. A terminal that cannot
// say (not the controlling one, or hung up) counts as the program's own.
// Async-signal-safe: tcgetpgrp and getpgrp.
bool InBackground() {
    int fd = device.facts.OutputIsTerminal ? STDOUT_FILENO : device.modesFd;
    if (fd < 0) return false;
    pid_t foreground = tcgetpgrp(fd);
    return foreground > 0 && foreground != getpgrp();
}

// All of it, as a terminal may take a long text in pieces. Async-signal-safe:
// write.
void WriteEndNote() {
    size_t done = 0;
    size_t length = static_cast<size_t>(device.endNoteLength);
    while (done < length) {
        ssize_t count = write(STDERR_FILENO, device.endNote + done, length - done);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
}

// Async-signal-safe: write.
void WakeFromHandler() {
    if (device.wakeFds[1] < 0) return;
    ssize_t ignored = write(device.wakeFds[1], "w", 1);
    (void)ignored;
}

// The restore bytes and the first modes, unless the program is in the
// background; async-signal-safe (write, tcsetattr, tcgetpgrp).
void PutTerminalBack() {
    if (InBackground()) return;
    if (device.restoreLength > 0 && !device.outputGone) {
        ssize_t ignored =
            write(STDOUT_FILENO, device.restoreBytes, static_cast<size_t>(device.restoreLength));
        (void)ignored;
    }
    if (device.modesChanged) tcsetattr(device.modesFd, TCSANOW, &device.savedModes);
}

// Async-signal-safe: only write, tcsetattr, unlink, signal and raise.
void RestoreFromSignal(int signal) {
    int savedErrno = errno;
    if (!device.restored) {
        device.restored = 1;
        PutTerminalBack();
        if (!InBackground()) WriteEndNote();
    }
    RemovePendingTemporaryFile();
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
    if (!device.restored) PutTerminalBack();
    ::signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    InstallHandler(SIGTSTP, StopFromSignal, SA_RESTART);
    if (!device.restored && device.modesChanged)
        tcsetattr(device.modesFd, TCSANOW, &device.programModes);
    device.continueNoted = 1;
    WakeFromHandler();
    errno = savedErrno;
}

void NoteResize(int) {
    int savedErrno = errno;
    device.resizeNoted = 1;
    WakeFromHandler();
    errno = savedErrno;
}

void NoteContinue(int) {
    int savedErrno = errno;
    device.continueNoted = 1;
    WakeFromHandler();
    errno = savedErrno;
}

void InstallSignalHandlers() {
    sigset_t outside = OutsideEndingSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&outside, signal) == 1) InstallHandler(signal, RestoreFromSignal, 0);
    }
    // A fault's handler runs on the thread's signal stack: the fault may be
    // that the stack ran out.
    UseSignalStack();
    for (int signal : FaultSignals) InstallHandler(signal, RestoreFromSignal, SA_ONSTACK);
    InstallHandler(SIGPIPE, SIG_IGN, 0);
    InstallHandler(SIGTSTP, StopFromSignal, SA_RESTART);
    InstallHandler(SIGWINCH, NoteResize, SA_RESTART);
    InstallHandler(SIGCONT, NoteContinue, SA_RESTART);
}

// ---- Set-up ------------------------------------------------------------------------

// The self-pipe that wakes a key wait when a handler notes a signal.
void OpenWakePipe() {
    if (pipe(device.wakeFds) != 0) return;
    for (int fd : device.wakeFds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

void DrainWakePipe() {
    char drained[64];
    while (read(device.wakeFds[0], drained, sizeof drained) > 0) {
    }
}

// Raw input: no echo, no line editing, no signals from keys (Ctrl+C is the
// byte 3), no CR-to-LF translation, no flow control, 8-bit bytes. Output
// processing stays on. When only standard output is a terminal, just the
// echo is turned off, so keys typed at it do not scribble on the screen.
void EnterRawMode() {
    int fd = device.facts.InputIsTerminal ? STDIN_FILENO
                                          : (device.facts.OutputIsTerminal ? STDOUT_FILENO : -1);
    if (fd < 0 || tcgetattr(fd, &device.savedModes) != 0) return;
    termios& modes = device.programModes;
    modes = device.savedModes;
    if (device.facts.InputIsTerminal) {
        modes.c_iflag &= ~(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON | IXOFF | IXANY);
        modes.c_lflag &= ~(ECHO | ECHONL | ICANON | IEXTEN | ISIG);
        modes.c_cflag |= CS8;
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
    } else {
        modes.c_lflag &= ~(ECHO | ECHONL);
    }
    // TCSANOW, not TCSAFLUSH: keys already typed stay queued for the program.
    if (tcsetattr(fd, TCSANOW, &modes) == 0) {
        device.modesFd = fd;
        device.modesChanged = 1;
    }
}

void RestoreAtExit() { RestoreTerminalDevice(); }

}  // namespace

TerminalFacts StartTerminalDevice(bool drawOnOutput) {
    if (device.started) return device.facts;
    device.started = true;
    device.facts.InputIsTerminal = isatty(STDIN_FILENO);
    device.facts.OutputIsTerminal = drawOnOutput && isatty(STDOUT_FILENO);
    // In a UTF-8 locale a UTF-8 sequence is one character of its display
    // width (wcwidth follows LC_CTYPE); elsewhere each byte is one.
    std::setlocale(LC_CTYPE, "");
    device.facts.Utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    device.facts.KeysHaveEscapeSequences = device.facts.InputIsTerminal;
    OpenWakePipe();
    InstallSignalHandlers();
    std::atexit(RestoreAtExit);
    EnterRawMode();
    return device.facts;
}

// ---- Writing ------------------------------------------------------------------------

void WriteToStandardOutput(std::string_view bytes) { WriteAll(STDOUT_FILENO, bytes); }

void WriteToStandardError(std::string_view bytes) { WriteAll(STDERR_FILENO, bytes); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO); }

bool TerminalSize(int& rows, int& columns) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0)
        return false;
    rows = size.ws_row;
    columns = size.ws_col;
    return true;
}

int CharacterCells(char32_t code) { return wcwidth(static_cast<wchar_t>(code)); }

// ---- Putting it back ------------------------------------------------------------------

// Every signal is held while the bytes change, so a handler never sends
// half of the old and half of the new.
void SetRestoreBytes(std::string_view bytes) {
    size_t length = std::min(bytes.size(), sizeof device.restoreBytes);
    SignalsHeld held(HeldSignals::Every);
    std::memcpy(device.restoreBytes, bytes.data(), length);
    device.restoreLength = static_cast<sig_atomic_t>(length);
}

void SetEndNote(std::string_view text) {
    size_t length = std::min(text.size(), sizeof device.endNote);
    SignalsHeld held(HeldSignals::Every);
    std::memcpy(device.endNote, text.data(), length);
    device.endNoteLength = static_cast<sig_atomic_t>(length);
}

void RestoreTerminalDevice() {
    if (!device.started || device.restored) return;
    SignalsHeld held(HeldSignals::OutsideEndingAndStop);
    device.restored = 1;
    if (!InBackground()) {
        if (device.restoreLength > 0)
            WriteAll(STDOUT_FILENO, std::string_view(device.restoreBytes, device.restoreLength));
        if (device.modesChanged) tcsetattr(device.modesFd, TCSANOW, &device.savedModes);
        WriteEndNote();
    }
    device.modesChanged = 0;
}

bool TerminalRestored() { return device.restored; }

// ---- Keys and waiting ---------------------------------------------------------------

DeviceWait WaitForKeyBytes(int timeoutMs, std::string& bytes) {
    int wakeFd = device.wakeFds[0];
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(watched, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (ready == 0) return DeviceWait::TimedOut;
    if (ready < 0) return errno == EINTR ? DeviceWait::Woken : DeviceWait::Ended;
    if (watched[1].revents & POLLIN) {
        DrainWakePipe();
        return DeviceWait::Woken;
    }
    if (!(watched[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) return DeviceWait::Woken;
    char received[256];
    ssize_t count = read(STDIN_FILENO, received, sizeof received);
    if (count > 0) {
        bytes.append(received, static_cast<size_t>(count));
        return DeviceWait::Bytes;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return DeviceWait::Woken;
    return DeviceWait::Ended;
}

void WaitForWake(int timeoutMs) {
    int wakeFd = device.wakeFds[0];
    pollfd watched = {wakeFd, POLLIN, 0};
    if (poll(&watched, wakeFd >= 0 ? 1 : 0, timeoutMs) > 0) DrainWakePipe();
}

void WakeTerminalWait() { WakeFromHandler(); }

// To the whole process group, as the terminal's own suspend key sends it: a
// pipeline or a script that started the program stops with it, so that the
// shell sees its job stopped. The stop handler does the rest.
void SuspendProgram() { kill(0, SIGTSTP); }

TerminalNotes TakeTerminalNotes() {
    TerminalNotes notes;
    if (device.resizeNoted) {
        device.resizeNoted = 0;
        notes.Resized = true;
    }
    if (device.continueNoted) {
        device.continueNoted = 0;
        if (device.modesChanged) tcsetattr(device.modesFd, TCSANOW, &device.programModes);
        notes.Continued = true;
    }
    return notes;
}
