// The plain transcript: when standard output is not a terminal, each row of
// the model goes out as a plain line once the program has moved on below
// it (a program may still come back to the row it is on). The terminal
// reads the model and keeps the text here until ShowScreen writes it.
#include "console/transcript.h"

#include <algorithm>
#include <string>

#include "console/screen.h"
#include "console/terminal.h"

namespace {

bool keep = false;
int firstUnloggedRow = 1;  // rows above it have gone out already
long seenScrolls = 0;      // the model's scrolledRows as last seen
std::string text;

void LogText(const std::string& row) {
    text += row;
    text += '\n';
}

}  // namespace

void StartTranscript(bool kept) {
    keep = kept;
    firstUnloggedRow = 1;
    seenScrolls = Screen().scrolledRows;
    text.clear();
}

// A scroll moves the unlogged rows up; the top row, if it had not gone out,
// goes out from the model's scrolled-off copy. Called after every character
// and line end, as none scrolls more than once.
void NoteScrolls() {
    const ScreenModel& screen = Screen();
    for (; seenScrolls < screen.scrolledRows; ++seenScrolls) {
        if (!keep) continue;
        if (firstUnloggedRow == 1)
            LogText(CellsText(screen.scrolledOff));
        else
            --firstUnloggedRow;
    }
}

void PauseTranscript() {
    NoteScrolls();
    keep = false;
}

void ResumeTranscriptBelow(int row) {
    NoteScrolls();
    keep = true;
    firstUnloggedRow = row + 1;
}

void StartTranscriptPage() {
    NoteScrolls();
    firstUnloggedRow = 1;
}

void LogFinishedRows(bool withCursorRow) {
    NoteScrolls();
    if (!keep) return;
    const ScreenModel& screen = Screen();
    int last = screen.cursorRow - 1;
    if (withCursorRow && !RowText(screen.cursorRow).empty()) last = screen.cursorRow;
    for (int row = firstUnloggedRow; row <= last; ++row) LogText(RowText(row));
    firstUnloggedRow = std::max(firstUnloggedRow, last + 1);
}

std::string TakeTranscriptText() {
    std::string taken;
    taken.swap(text);
    return taken;
}
