// The terminal behind the screen model: drawing the model on the terminal
// device by the frame differ (frame.h), one write per frame, or writing the
// plain transcript; and keeping the restore bytes the device sends on every
// way out up to date with what the terminal shows. The device itself
// (system/terminal_device.h) holds the modes, the signals and the writes.
#include "console/terminal.h"

#include <string>

#include "console/frame.h"
#include "console/screen.h"
#include "console/transcript.h"
#include "system/terminal_device.h"

namespace {

bool started = false;
bool drawOnOutput = true;
TerminalFacts facts;

// What the terminal shows, as the last frame left it.
ShownState shown;

// The notes for standard error kept for the end (WriteErrorTextAtEnd).
std::string endNotes;
long endNotesLeftOut = 0;

void ReadTerminalSize() {
    int rows = 0;
    int columns = 0;
    if (TerminalSize(rows, columns)) {
        shown.rows = rows;
        shown.columns = columns;
    }
}

// Kept up to date after every frame, since a signal handler may have to
// send the restore at any moment.
void UpdateRestoreBytes() {
    SetRestoreBytes(facts.OutputIsTerminal ? MakeRestoreBytes(Screen(), shown) : "");
}

// Acts on what the device noted: a new size, or a stop and continue (the
// size too may have changed while stopped), redraws everything.
void HandleTerminalNotes() {
    TerminalNotes notes = TakeTerminalNotes();
    if (!notes.Resized && !notes.Continued) return;
    if (facts.OutputIsTerminal) ReadTerminalSize();
    shown.valid = false;
    UpdateRestoreBytes();
}

void DrawFrame() {
    std::string frame = MakeFrame(Screen(), shown);
    if (frame.empty()) return;
    // The restore must be ready before the frame is out: a signal may come
    // the moment the text appears.
    UpdateRestoreBytes();
    WriteToStandardOutput(frame);
}

}  // namespace

// ---- Start and restore ----------------------------------------------------------------

void DrawScreenOnTerminal(bool draw) { drawOnOutput = draw; }

void StartTerminal() {
    if (started) return;
    started = true;
    facts = StartTerminalDevice(drawOnOutput);
    StartTranscript(!facts.OutputIsTerminal);
    Screen().utf8 = facts.Utf8;
    if (facts.OutputIsTerminal) ReadTerminalSize();
    UpdateRestoreBytes();
}

bool TerminalStarted() { return started; }

bool KeysHaveEscapeSequences() { return started && facts.KeysHaveEscapeSequences; }

bool CtrlZSuspends() { return started && facts.InputIsTerminal && !facts.CtrlZEndsInput; }

bool CtrlZEndsInput() { return facts.CtrlZEndsInput; }

void EndInputOnCtrlZ(bool fromConsole) { facts.CtrlZEndsInput = fromConsole; }

bool DrawingToTerminal() { return started && facts.OutputIsTerminal; }

bool EchoingKeys() {
    return started && facts.InputIsTerminal && !facts.OutputIsTerminal && !TerminalRestored();
}

void RestoreTerminal() {
    if (!started || TerminalRestored()) return;
    if (!facts.OutputIsTerminal) {
        LogFinishedRows(true);
        ShowScreen();
    }
    RestoreTerminalDevice();
}

// ---- Showing the model ------------------------------------------------------------------

void ShowScreen() {
    if (!started || TerminalRestored()) return;
    HandleTerminalNotes();
    if (facts.OutputIsTerminal) {
        DrawFrame();
        return;
    }
    std::string text = TakeTranscriptText();
    if (!text.empty()) WriteToStandardOutput(text);
}

void SendToTerminal(std::string_view bytes) {
    if (DrawingToTerminal() && !TerminalRestored()) WriteToStandardOutput(bytes);
}

void WritePlainText(std::string_view text) {
    if (started && !facts.OutputIsTerminal) WriteToStandardOutput(text);
}

void WriteErrorText(std::string_view text) { WriteToStandardError(text); }

// The notes kept for the end, whole lines, and how many lines found no
// room beside them; the device keeps them all ready for the restore.
void WriteErrorTextAtEnd(std::string_view text) {
    if (!DrawingToTerminal() || !StandardErrorIsTerminal() || TerminalRestored()) {
        WriteErrorText(text);
        return;
    }
    // Room for the line that counts the notes left out.
    constexpr size_t MoreNotesRoom = 64;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        line += '\n';
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (endNotesLeftOut == 0 &&
            endNotes.size() + line.size() <= EndNoteCapacity - MoreNotesRoom)
            endNotes += line;
        else
            ++endNotesLeftOut;
    }
    if (endNotesLeftOut == 0) {
        SetEndNote(endNotes);
        return;
    }
    SetEndNote(endNotes + "phonoskew: ... and " + std::to_string(endNotesLeftOut) +
               (endNotesLeftOut == 1 ? " more note\n" : " more notes\n"));
}

void VisibleRows(int& firstRow, int& rowCount) {
    firstRow = DrawingToTerminal() ? shown.viewTop : 1;
    rowCount = DrawingToTerminal() ? ShownRowCount(shown) : ScreenRows;
}

void VisibleColumns(int& firstColumn, int& columnCount) {
    firstColumn = DrawingToTerminal() ? shown.viewLeft : 1;
    columnCount = DrawingToTerminal() ? ShownColumnCount(shown) : ScreenColumns;
}
