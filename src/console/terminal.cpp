// The terminal backend: start-up, raw mode, writing, showing the screen
// model and the restore. Standard input in raw mode gives key bytes; the
// model is drawn on standard output by the frame differ (frame.h), one
// write per frame. Everything set up here is undone by one restore that is
// safe to call twice, from normal code, at exit or from a signal handler
// (terminal_signals.cpp); a stop (SIGTSTP) undoes it too and takes the
// terminal back on continuing.
#include "console/terminal.h"

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/frame.h"
#include "console/screen.h"
#include "console/terminal_state.h"
#include "files/files.h"

TerminalState terminal;

namespace {

// What the terminal shows, as the last frame left it.
ShownState shown;

// The outside signals and SIGTSTP, held while bytes go to the terminal.
sigset_t OutsideSignals() {
    sigset_t signals = OutsideEndingSignals();
    sigaddset(&signals, SIGTSTP);
    return signals;
}

// ---- Writing --------------------------------------------------------------------

// Writes everything with the outside signals held back, so a restore from a
// handler never lands inside a half-written escape sequence. When standard
// output fails (its reader or terminal gone), nothing more is sent there.
void WriteAll(int fd, std::string_view bytes) {
    if (fd == STDOUT_FILENO && terminal.outputGone) return;
    SignalsHeld held(OutsideSignals());
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) {
            if (fd == STDOUT_FILENO) terminal.outputGone = 1;
            break;
        }
        done += static_cast<size_t>(count);
    }
}

// ---- Terminal size and restore bytes ------------------------------------------------

void ReadTerminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        shown.rows = size.ws_row;
        shown.columns = size.ws_col;
    }
}

// Kept up to date after every frame, since a signal handler may have to
// send the restore at any moment; every signal is held while it changes.
void UpdateRestoreBytes() {
    std::string bytes = terminal.outputIsTerminal ? MakeRestoreBytes(Screen(), shown) : "";
    sigset_t every;
    sigfillset(&every);
    SignalsHeld held(every);
    std::memcpy(terminal.restoreBytes, bytes.data(), bytes.size());
    terminal.restoreLength = static_cast<sig_atomic_t>(bytes.size());
}

// ---- Terminal modes -------------------------------------------------------------------

// Raw input: no echo, no line editing, no signals from keys (Ctrl+C is the
// byte 3), no CR-to-LF translation, no flow control, 8-bit bytes. Output
// processing stays on. When only standard output is a terminal, just the
// echo is turned off, so keys typed at it do not scribble on the screen.
void EnterRawMode() {
    int fd =
        terminal.inputIsTerminal ? STDIN_FILENO : (terminal.outputIsTerminal ? STDOUT_FILENO : -1);
    if (fd < 0 || tcgetattr(fd, &terminal.savedModes) != 0) return;
    termios& modes = terminal.programModes;
    modes = terminal.savedModes;
    if (terminal.inputIsTerminal) {
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
        terminal.modesFd = fd;
        terminal.modesChanged = 1;
    }
}

// Acts on what the handlers noted: a new size redraws everything; after a
// stop and continue, the modes are set again and everything redrawn (the
// size too may have changed while stopped).
void HandleNotedSignals() {
    if (terminal.resizeNoted) {
        terminal.resizeNoted = 0;
        ReadTerminalSize();
        shown.valid = false;
        UpdateRestoreBytes();
    }
    if (terminal.continueNoted) {
        terminal.continueNoted = 0;
        if (terminal.modesChanged) tcsetattr(terminal.modesFd, TCSANOW, &terminal.programModes);
        if (terminal.outputIsTerminal) ReadTerminalSize();
        shown.valid = false;
        UpdateRestoreBytes();
    }
}

void RestoreAtExit() { RestoreTerminal(); }

void DrawFrame() {
    std::string frame = MakeFrame(Screen(), shown);
    if (frame.empty()) return;
    // The restore must be ready before the frame is out: a signal may come
    // the moment the text appears.
    UpdateRestoreBytes();
    WriteAll(STDOUT_FILENO, frame);
}

}  // namespace

// ---- Start and restore ----------------------------------------------------------------

void OpenStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, as the lower ones are open.
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// Set-up as a list of steps; RestoreTerminal undoes them.
void StartTerminal() {
    if (terminal.started) return;
    terminal.started = true;
    OpenStandardDescriptors();
    terminal.inputIsTerminal = isatty(STDIN_FILENO);
    // A dumb terminal cannot place the cursor: it gets the plain transcript.
    const char* term = std::getenv("TERM");
    terminal.outputIsTerminal = isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
    StartTranscript(!terminal.outputIsTerminal);
    // In a UTF-8 locale a UTF-8 sequence is one character of its display
    // width (wcwidth follows LC_CTYPE); elsewhere each byte is one.
    std::setlocale(LC_CTYPE, "");
    Screen().utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    OpenWakePipe();
    if (terminal.outputIsTerminal) ReadTerminalSize();
    UpdateRestoreBytes();
    InstallSignalHandlers();
    std::atexit(RestoreAtExit);
    EnterRawMode();
}

bool TerminalStarted() { return terminal.started; }

bool DrawingToTerminal() { return terminal.started && terminal.outputIsTerminal; }

bool EchoingKeys() {
    return terminal.started && terminal.inputIsTerminal && !terminal.outputIsTerminal &&
           !terminal.restored;
}

void RestoreTerminal() {
    if (!terminal.started || terminal.restored) return;
    SignalsHeld held(OutsideSignals());
    if (!terminal.outputIsTerminal) {
        LogFinishedRows(true);
        ShowScreen();
    }
    terminal.restored = 1;
    if (!InBackground()) {
        if (terminal.restoreLength > 0)
            WriteAll(STDOUT_FILENO,
                     std::string_view(terminal.restoreBytes, terminal.restoreLength));
        if (terminal.modesChanged) tcsetattr(terminal.modesFd, TCSANOW, &terminal.savedModes);
        WriteEndNote();
    }
    terminal.modesChanged = 0;
}

// ---- Showing the model ------------------------------------------------------------------

void ShowScreen() {
    if (!terminal.started || terminal.restored) return;
    HandleNotedSignals();
    if (terminal.outputIsTerminal) {
        DrawFrame();
        return;
    }
    std::string text = TakeTranscriptText();
    if (!text.empty()) WriteAll(STDOUT_FILENO, text);
}

void SendToTerminal(std::string_view bytes) {
    if (DrawingToTerminal() && !terminal.restored) WriteAll(STDOUT_FILENO, bytes);
}

void WritePlainText(std::string_view text) {
    if (terminal.started && !terminal.outputIsTerminal) WriteAll(STDOUT_FILENO, text);
}

void WriteErrorText(std::string_view text) { WriteAll(STDERR_FILENO, text); }

void WriteErrorTextAtEnd(std::string_view text) {
    if (!DrawingToTerminal() || !isatty(STDERR_FILENO) || terminal.restored) {
        WriteErrorText(text);
        return;
    }
    size_t length = std::min(text.size(), sizeof terminal.endNote - 1);
    std::memcpy(terminal.endNote, text.data(), length);
    terminal.endNoteLength = static_cast<sig_atomic_t>(length);
}

void VisibleRows(int& firstRow, int& rowCount) {
    firstRow = DrawingToTerminal() ? shown.viewTop : 1;
    rowCount = DrawingToTerminal() ? ShownRowCount(shown) : ScreenRows;
}

void VisibleColumns(int& firstColumn, int& columnCount) {
    firstColumn = DrawingToTerminal() ? shown.viewLeft : 1;
    columnCount = DrawingToTerminal() ? ShownColumnCount(shown) : ScreenColumns;
}
