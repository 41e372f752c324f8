// The terminal backend. Standard input in raw mode gives key bytes; the
// screen model is drawn on standard output with absolute positioning, only
// the cells that changed, one write per frame, never below the terminal's
// last row. Everything set up here is undone by one restore that is safe to
// call twice, from normal code, at exit or from a signal handler; a stop
// (SIGTSTP) undoes it too and takes the terminal back on continuing.
#include "console/terminal.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/screen.h"
#include "files/files.h"

namespace {

constexpr int EscapeWaitMilliseconds = 50;  // a lone ESC is Esc after this pause
constexpr int ShortGap = 6;                 // unchanged cells rewritten rather than jumped

bool started = false;
bool inputIsTerminal = false;
bool outputIsTerminal = false;
// Standard output's reader or terminal has gone: nothing more goes there,
// and the job runs on to its end.
volatile sig_atomic_t outputGone = 0;

// Terminal modes: the fd whose modes were changed, and the modes found there.
int modesFd = -1;
termios savedModes;
termios programModes;
volatile sig_atomic_t modesChanged = 0;
volatile sig_atomic_t restored = 0;

// What the terminal shows: its size, the part of the model in view, and a
// copy of the cells as drawn.
int terminalRows = ScreenRows;
int terminalColumns = ScreenColumns;
int viewTop = 1;
int viewLeft = 1;
ScreenCell shown[ScreenRows][ScreenColumns];
bool shownValid = false;  // false: the next frame clears and draws everything
int shownAttribute = -1;  // the terminal's colours, -1 when unknown
int shownCursorRow = 0;   // the terminal's cursor (terminal rows), 0 when unknown
int shownCursorColumn = 0;
int shownCursorVisible = -1;
bool frameDrawn = false;

// The bytes that put the terminal back, kept ready for a signal handler.
char restoreBytes[64];
volatile sig_atomic_t restoreLength = 0;

// A note for standard error that waits for the restore at the end.
char endNote[512];
volatile sig_atomic_t endNoteLength = 0;

// Signals noted by handlers; the self-pipe wakes a key wait.
int wakeFds[2] = {-1, -1};
volatile sig_atomic_t resizeNoted = 0;
volatile sig_atomic_t continueNoted = 0;

KeyDecoder decoder;
bool inputEnded = false;

// The signals that end the program get the restoring handler: those sent
// from outside (files.h) and the faults of its own code. SIGPIPE is not
// among them: a reader that goes away (`phonoskew | head`) must not end the
// job, so it is ignored and the write's error says it; nor is SIGXFSZ,
// ignored so that a file-size limit fails the write like a full disk.
const int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

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
    if (fd == STDOUT_FILENO && outputGone) return;
    sigset_t hold = OutsideSignals(), previous;
    sigprocmask(SIG_BLOCK, &hold, &previous);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) {
            if (fd == STDOUT_FILENO) outputGone = 1;
            break;
        }
        done += static_cast<size_t>(count);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void AppendNumber(std::string& out, int value) { out += std::to_string(value); }

void AppendCursorMove(std::string& out, int row, int column) {
    out += "\x1b[";
    AppendNumber(out, row);
    out += ';';
    AppendNumber(out, column);
    out += 'H';
}

// ---- Colours and characters -------------------------------------------------------

// The palette's order (black, blue, green, cyan, red, magenta, brown, light
// grey) in the terminal's colour numbers (black, red, green, yellow, blue,
// magenta, cyan, white); entries 8-15 are the bright forms.
constexpr int TerminalColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void AppendColours(std::string& out, int attribute) {
    int foreground = attribute % 16;
    int background = attribute / 16;
    out += "\x1b[";
    AppendNumber(out, (foreground < 8 ? 30 : 90) + TerminalColour[foreground % 8]);
    out += ';';
    AppendNumber(out, (background < 8 ? 40 : 100) + TerminalColour[background % 8]);
    out += 'm';
}

// One cell's byte as the terminal should show it: printable ASCII as is,
// 160-255 as the Latin-1 character in UTF-8 (one byte, one cell), and
// control bytes as '?' so no cell can ever send a control sequence.
void AppendGlyph(std::string& out, unsigned char character) {
    if (character >= 32 && character < 127) {
        out += static_cast<char>(character);
    } else if (character >= 160) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        out += '?';
    }
}

void AppendCharacterBytes(std::string& out, const ScreenCell& cell) {
    out += static_cast<char>(cell.character);
    for (size_t i = 0; i < sizeof cell.more && cell.more[i] != 0; ++i) out += cell.more[i];
}

// Draws the cell at `column` (1-based) of a model row and says how many
// terminal cells that took: two for a wide character whose both halves are
// there and in view (up to `lastColumn`), else one. UTF-8 characters are
// sent as they are, bytes that make none as U+FFFD, and a half of a wide
// character that cannot be drawn whole as a blank.
int AppendCellGlyph(std::string& out, const ScreenCell* cells, int column, int lastColumn) {
    const ScreenCell& cell = cells[column - 1];
    switch (cell.shape) {
        case CellShape::Byte:
            AppendGlyph(out, cell.character);
            return 1;
        case CellShape::Character:
            AppendCharacterBytes(out, cell);
            return 1;
        case CellShape::Unshown:
            out += "\xEF\xBF\xBD";
            return 1;
        case CellShape::WideLeft:
            if (column < lastColumn && cells[column].shape == CellShape::WideRight) {
                AppendCharacterBytes(out, cell);
                return 2;
            }
            break;
        case CellShape::WideRight:
            break;
    }
    out += ' ';
    return 1;
}

// ---- Terminal size and restore bytes ------------------------------------------------

void ReadTerminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        terminalRows = size.ws_row;
        terminalColumns = size.ws_col;
    }
}

int ShownRowCount() { return terminalRows < ScreenRows ? terminalRows : ScreenRows; }
int ShownColumnCount() { return terminalColumns < ScreenColumns ? terminalColumns : ScreenColumns; }

// The shown row (1-based) of the last model row in view that holds text,
// or 0 when the rows in view are blank.
int LastShownTextRow() {
    const ScreenModel& screen = Screen();
    for (int terminalRow = ShownRowCount(); terminalRow >= 1; --terminalRow) {
        for (const ScreenCell& cell : screen.cells[viewTop + terminalRow - 2]) {
            if (cell.character != ' ') return terminalRow;
        }
    }
    return 0;
}

// Restore: colours reset, cursor shown, and the cursor on a clean line just
// below the last row of text, so the final screen stays readable above the
// shell's prompt; the terminal scrolls only when that text reaches its
// bottom row. Kept up to date after every frame, since a signal handler may
// have to send it.
void UpdateRestoreBytes() {
    std::string bytes;
    if (outputIsTerminal) {
        if (frameDrawn) {
            int below = LastShownTextRow() + 1;
            if (below <= ShownRowCount()) {
                AppendCursorMove(bytes, below, 1);
                bytes += "\x1b[0m\x1b[K";
            } else {
                AppendCursorMove(bytes, ShownRowCount(), 1);
                bytes += "\x1b[0m\r\n\x1b[K";
            }
        } else {
            bytes += "\x1b[0m";
        }
        bytes += "\x1b[?25h";
    }
    sigset_t hold, previous;
    sigfillset(&hold);
    sigprocmask(SIG_BLOCK, &hold, &previous);
    std::memcpy(restoreBytes, bytes.data(), bytes.size());
    restoreLength = static_cast<sig_atomic_t>(bytes.size());
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// ---- Terminal modes -------------------------------------------------------------------

// Raw input: no echo, no line editing, no signals from keys (Ctrl+C is the
// byte 3), no CR-to-LF translation, no flow control, 8-bit bytes. Output
// processing stays on. When only standard output is a terminal, just the
// echo is turned off, so keys typed at it do not scribble on the screen.
void EnterRawMode() {
    int fd = inputIsTerminal ? STDIN_FILENO : (outputIsTerminal ? STDOUT_FILENO : -1);
    if (fd < 0 || tcgetattr(fd, &savedModes) != 0) return;
    programModes = savedModes;
    if (inputIsTerminal) {
        programModes.c_iflag &=
            ~(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON | IXOFF | IXANY);
        programModes.c_lflag &= ~(ECHO | ECHONL | ICANON | IEXTEN | ISIG);
        programModes.c_cflag |= CS8;
        programModes.c_cc[VMIN] = 1;
        programModes.c_cc[VTIME] = 0;
    } else {
        programModes.c_lflag &= ~(ECHO | ECHONL);
    }
    // TCSANOW, not TCSAFLUSH: keys already typed stay queued for the program.
    if (tcsetattr(fd, TCSANOW, &programModes) == 0) {
        modesFd = fd;
        modesChanged = 1;
    }
}

// ---- Signals ---------------------------------------------------------------------------

// True when another process group (the shell, after `kill %1` on a stopped
// job, or `bg`) holds the terminal: the terminal is then the shell's, with
// its own modes and text, and a change of modes from here would stop the
// program again (SIGTTOU) instead of letting it end. A terminal that cannot
// say (not the controlling one, or hung up) counts as the program's own.
// Async-signal-safe: tcgetpgrp and getpgrp.
bool InBackground() {
    int fd = outputIsTerminal ? STDOUT_FILENO : modesFd;
    if (fd < 0) return false;
    pid_t foreground = tcgetpgrp(fd);
    return foreground > 0 && foreground != getpgrp();
}

// The restore bytes and the first modes, unless the program is in the
// background; async-signal-safe (write, tcsetattr, tcgetpgrp).
void PutTerminalBack() {
    if (InBackground()) return;
    if (restoreLength > 0 && !outputGone) {
        ssize_t ignored = write(STDOUT_FILENO, restoreBytes, static_cast<size_t>(restoreLength));
        (void)ignored;
    }
    if (modesChanged) tcsetattr(modesFd, TCSANOW, &savedModes);
}

// Async-signal-safe: write.
void WriteEndNote() {
    if (endNoteLength > 0) {
        ssize_t ignored = write(STDERR_FILENO, endNote, static_cast<size_t>(endNoteLength));
        (void)ignored;
    }
}

// Async-signal-safe: only write, tcsetattr, signal and raise.
void RestoreFromSignal(int signal) {
    int savedErrno = errno;
    if (!restored) {
        restored = 1;
        PutTerminalBack();
        if (!InBackground()) WriteEndNote();
    }
    // Ends the program the way the signal would have, so its status shows it.
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = savedErrno;
}

void WakeKeyWait() {
    if (wakeFds[1] < 0) return;
    ssize_t ignored = write(wakeFds[1], "w", 1);
    (void)ignored;
}

void DrainWakePipe() {
    char drained[64];
    while (read(wakeFds[0], drained, sizeof drained) > 0) {
    }
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
    if (!restored) PutTerminalBack();
    ::signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    InstallHandler(SIGTSTP, StopFromSignal, SA_RESTART);
    if (!restored && modesChanged) tcsetattr(modesFd, TCSANOW, &programModes);
    continueNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
}

void NoteResize(int) {
    int savedErrno = errno;
    resizeNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
}

void NoteContinue(int) {
    int savedErrno = errno;
    continueNoted = 1;
    WakeKeyWait();
    errno = savedErrno;
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

// Acts on what the handlers noted: a new size redraws everything; after a
// stop and continue, the modes are set again and everything redrawn (the
// size too may have changed while stopped).
void HandleNotedSignals() {
    if (resizeNoted) {
        resizeNoted = 0;
        ReadTerminalSize();
        shownValid = false;
        UpdateRestoreBytes();
    }
    if (continueNoted) {
        continueNoted = 0;
        if (modesChanged) tcsetattr(modesFd, TCSANOW, &programModes);
        if (outputIsTerminal) ReadTerminalSize();
        shownValid = false;
        UpdateRestoreBytes();
    }
}

void RestoreAtExit() { RestoreTerminal(); }

// ---- Drawing ---------------------------------------------------------------------------

// Keeps the cursor in view when the terminal is smaller than the screen.
void FollowCursor(int& first, int count, int cursor, int size) {
    if (cursor < first) first = cursor;
    if (cursor >= first + count) first = cursor - count + 1;
    if (first > size - count + 1) first = size - count + 1;
    if (first < 1) first = 1;
}

bool SameCell(const ScreenCell& a, const ScreenCell& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool HasWideCells(const ScreenCell* cells) {
    for (int column = 0; column < ScreenColumns; ++column) {
        if (cells[column].shape == CellShape::WideLeft ||
            cells[column].shape == CellShape::WideRight)
            return true;
    }
    return false;
}

// A row where any cell changed is drawn whole when it holds wide
// characters, in the model or on the terminal: writing half of one breaks
// the other half.
bool RowToDrawWhole(int row) {
    const ScreenCell* cells = Screen().cells[row - 1];
    const ScreenCell* old = shown[row - 1];
    if (!HasWideCells(cells) && !HasWideCells(old)) return false;
    for (int column = 0; column < ScreenColumns; ++column) {
        if (!SameCell(cells[column], old[column])) return true;
    }
    return false;
}

void AppendChangedCells(std::string& frame, bool everything) {
    const ScreenModel& screen = Screen();
    int rows = ShownRowCount();
    int columns = ShownColumnCount();
    for (int terminalRow = 1; terminalRow <= rows; ++terminalRow) {
        int row = viewTop + terminalRow - 1;
        bool wholeRow = everything || RowToDrawWhole(row);
        int lastColumn = viewLeft + columns - 1;
        for (int terminalColumn = 1; terminalColumn <= columns;) {
            int column = viewLeft + terminalColumn - 1;
            const ScreenCell& cell = screen.cells[row - 1][column - 1];
            if (!wholeRow && SameCell(cell, shown[row - 1][column - 1])) {
                ++terminalColumn;
                continue;
            }
            if (frame.empty() && shownCursorVisible != 0) {
                frame += "\x1b[?25l";  // no cursor flicker while drawing
                shownCursorVisible = 0;
            }
            int gap = terminalColumn - shownCursorColumn;
            if (shownCursorRow == terminalRow && shownCursorColumn > 0 && gap > 0 &&
                gap <= ShortGap) {
                // Rewriting a few unchanged cells is shorter than moving past
                // them (such a row has no wide characters: those are drawn whole).
                for (int skipped = shownCursorColumn; skipped < terminalColumn; ++skipped) {
                    const ScreenCell& same = screen.cells[row - 1][viewLeft + skipped - 2];
                    if (shownAttribute != same.attribute) {
                        AppendColours(frame, same.attribute);
                        shownAttribute = same.attribute;
                    }
                    AppendCellGlyph(frame, screen.cells[row - 1], viewLeft + skipped - 1,
                                    lastColumn);
                }
            } else if (shownCursorRow != terminalRow || shownCursorColumn != terminalColumn) {
                AppendCursorMove(frame, terminalRow, terminalColumn);
            }
            if (shownAttribute != cell.attribute) {
                AppendColours(frame, cell.attribute);
                shownAttribute = cell.attribute;
            }
            int width = AppendCellGlyph(frame, screen.cells[row - 1], column, lastColumn);
            for (int half = 0; half < width; ++half)
                shown[row - 1][column - 1 + half] = screen.cells[row - 1][column - 1 + half];
            terminalColumn += width;
            shownCursorRow = terminalRow;
            // After the last column the terminal's cursor place is uncertain.
            shownCursorColumn = terminalColumn <= terminalColumns ? terminalColumn : 0;
        }
    }
}

void AppendCursorState(std::string& frame) {
    const ScreenModel& screen = Screen();
    int row = screen.cursorRow - viewTop + 1;
    int column = screen.cursorColumn - viewLeft + 1;
    bool visible = screen.cursorVisible && row >= 1 && row <= ShownRowCount() && column >= 1 &&
                   column <= ShownColumnCount();
    if (visible && (shownCursorRow != row || shownCursorColumn != column)) {
        AppendCursorMove(frame, row, column);
        shownCursorRow = row;
        shownCursorColumn = column;
    }
    if (shownCursorVisible != (visible ? 1 : 0)) {
        frame += visible ? "\x1b[?25h" : "\x1b[?25l";
        shownCursorVisible = visible ? 1 : 0;
    }
}

void DrawFrame() {
    const ScreenModel& screen = Screen();
    int oldTop = viewTop;
    int oldLeft = viewLeft;
    FollowCursor(viewTop, ShownRowCount(), screen.cursorRow, ScreenRows);
    FollowCursor(viewLeft, ShownColumnCount(), screen.cursorColumn, ScreenColumns);
    // The terminal is cleared only when its content is unknown. A view that
    // moved is drawn over cell by cell: a clear would push a copy of the
    // screen into the scrollback of many terminals on every new row.
    bool everything = !shownValid || viewTop != oldTop || viewLeft != oldLeft;
    std::string frame;
    if (!shownValid) {
        frame += "\x1b[?25l\x1b[0m\x1b[H\x1b[2J";
        shownCursorVisible = 0;
        shownAttribute = -1;
        shownCursorRow = 1;
        shownCursorColumn = 1;
        shownValid = true;
    }
    AppendChangedCells(frame, everything);
    AppendCursorState(frame);
    if (frame.empty()) return;
    // The restore must be ready before the frame is out: a signal may come
    // the moment the text appears.
    frameDrawn = true;
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

void StartTerminal() {
    if (started) return;
    started = true;
    OpenStandardDescriptors();
    inputIsTerminal = isatty(STDIN_FILENO);
    // A dumb terminal cannot place the cursor: it gets the plain transcript.
    const char* term = std::getenv("TERM");
    outputIsTerminal = isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
    Screen().keepLog = !outputIsTerminal;
    // In a UTF-8 locale a UTF-8 sequence is one character of its display
    // width (wcwidth follows LC_CTYPE); elsewhere each byte is one.
    std::setlocale(LC_CTYPE, "");
    Screen().utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    if (pipe(wakeFds) == 0) {
        for (int fd : wakeFds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    if (outputIsTerminal) ReadTerminalSize();
    UpdateRestoreBytes();
    InstallSignalHandlers();
    std::atexit(RestoreAtExit);
    EnterRawMode();
}

bool TerminalStarted() { return started; }

bool DrawingToTerminal() { return started && outputIsTerminal; }

bool EchoingKeys() { return started && inputIsTerminal && !outputIsTerminal && !restored; }

void RestoreTerminal() {
    if (!started || restored) return;
    sigset_t hold = OutsideSignals(), previous;
    sigprocmask(SIG_BLOCK, &hold, &previous);
    if (!outputIsTerminal) {
        LogFinishedRows(true);
        ShowScreen();
    }
    restored = 1;
    if (!InBackground()) {
        if (restoreLength > 0)
            WriteAll(STDOUT_FILENO, std::string_view(restoreBytes, restoreLength));
        if (modesChanged) tcsetattr(modesFd, TCSANOW, &savedModes);
        WriteEndNote();
    }
    modesChanged = 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// ---- Showing the model ------------------------------------------------------------------

void ShowScreen() {
    if (!started || restored) return;
    HandleNotedSignals();
    if (outputIsTerminal) {
        DrawFrame();
        return;
    }
    ScreenModel& screen = Screen();
    if (!screen.logText.empty()) {
        WriteAll(STDOUT_FILENO, screen.logText);
        screen.logText.clear();
    }
}

void SendToTerminal(std::string_view bytes) {
    if (DrawingToTerminal() && !restored) WriteAll(STDOUT_FILENO, bytes);
}

void WritePlainText(std::string_view text) {
    if (started && !outputIsTerminal) WriteAll(STDOUT_FILENO, text);
}

void WriteErrorText(std::string_view text) { WriteAll(STDERR_FILENO, text); }

void WriteErrorTextAtEnd(std::string_view text) {
    if (!DrawingToTerminal() || !isatty(STDERR_FILENO) || restored) {
        WriteErrorText(text);
        return;
    }
    size_t length = std::min(text.size(), sizeof endNote - 1);
    std::memcpy(endNote, text.data(), length);
    endNoteLength = static_cast<sig_atomic_t>(length);
}

void VisibleRows(int& firstRow, int& rowCount) {
    firstRow = DrawingToTerminal() ? viewTop : 1;
    rowCount = DrawingToTerminal() ? ShownRowCount() : ScreenRows;
}

void VisibleColumns(int& firstColumn, int& columnCount) {
    firstColumn = DrawingToTerminal() ? viewLeft : 1;
    columnCount = DrawingToTerminal() ? ShownColumnCount() : ScreenColumns;
}

// ---- Reading keys -------------------------------------------------------------------------

void FeedKeyBytes(std::string_view bytes) { decoder.pending.append(bytes); }

void ClearKeyBytes() { decoder = KeyDecoder{}; }

bool NextKey(Key& key) {
    for (;;) {
        if (!started) return TakeKey(decoder, true, key);
        if (TakeKey(decoder, inputEnded, key)) return true;
        if (inputEnded) return false;
        // The screen is up to date (and resized) while waiting, and the
        // transcript has every row above the cursor.
        LogFinishedRows(false);
        ShowScreen();
        pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        int timeout = decoder.pending.empty() ? -1 : EscapeWaitMilliseconds;
        int ready = poll(watched, wakeFds[0] >= 0 ? 2 : 1, timeout);
        if (ready == 0) {
            if (TakeKey(decoder, true, key)) return true;
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) continue;
            inputEnded = true;
            continue;
        }
        if (watched[1].revents & POLLIN) DrainWakePipe();
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char bytes[256];
            ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
            if (count > 0)
                decoder.pending.append(bytes, static_cast<size_t>(count));
            else if (count == 0 || (errno != EINTR && errno != EAGAIN))
                inputEnded = true;
        }
    }
}

// ---- Waiting while another thread works --------------------------------------------------

void WaitServingTerminal(int timeoutMs) {
    pollfd watched = {wakeFds[0], POLLIN, 0};
    if (poll(&watched, wakeFds[0] >= 0 ? 1 : 0, timeoutMs) > 0) DrainWakePipe();
    if (resizeNoted || continueNoted) ShowScreen();
}

void WakeTerminalWait() { WakeKeyWait(); }
