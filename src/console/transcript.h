// The plain transcript: the screen model's rows as lines of text, for
// standard output when it is not a terminal. It reads the model and keeps
// the text until ShowScreen writes it.
#pragma once

#include <string>

// Starts the transcript afresh; `keep`: rows are to go out as plain lines.
void StartTranscript(bool keep);
// Takes note of the rows the model scrolled off since the last call, so a
// row that had not gone out yet is not lost. Called after every character
// and line end.
void NoteScrolls();
// Logs every row from the first unlogged one up to the row above the cursor,
// and the cursor's row too when `withCursorRow` and it holds any text.
void LogFinishedRows(bool withCursorRow);
// After a clear: the next row to go out is row 1.
void StartTranscriptPage();
// While the typing is echoed, the rows are written by the echo itself;
// then the transcript goes on below `row`, the last row the echo wrote on.
void PauseTranscript();
void ResumeTranscriptBelow(int row);
// The lines logged and not yet written, which are then cleared.
std::string TakeTranscriptText();
