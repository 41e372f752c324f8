// The screen script of a run, drawn through the console operations.
#include "console/screen_script.h"

#include "console/screen.h"
#include "console/terminal.h"
#include "console/transcript.h"

namespace {

// Ends a line of the script. The console's EndLine keeps the row back from
// the plain transcript, since a program may come back to it (as the prompt
// does to type the path); a line of the script is finished, so it goes out
// at once: a step's title is there while the step works.
void FinishLine() {
    EndLine();
    LogFinishedRows(false);
    ShowScreen();
}

void PrintLine(std::string_view text) {
    PrintText(text);
    FinishLine();
}

void BlankLines(int count) {
    for (int i = 0; i < count; ++i) FinishLine();
}

void UseGrey() { SetColours(DarkGrey, BrightWhite); }
void UseBlack() { SetColours(Black, BrightWhite); }

}  // namespace

int ShowPromptScreen() {
    ClearScreen();
    UseBlack();
    HideCursor();
    BlankLines(1);
    PrintLine("   Phonoskew");
    PrintLine("   Copyright (c) 2026 the Phonoskew developers");
    PrintLine("   https://phonoskew.example");
    BlankLines(3);
    UseGrey();
    int promptRow = CursorRow();
    PrintText("   Input file?");
    EndLine();  // the path is typed on this row: it goes out with it
    return promptRow;
}

void PrintNumber(Extended value, int digits) { PrintText(FormatNumber(value, digits)); }

void ShowFileData(int channels, int sampleRate, int bitsPerSample, int frameCount,
                  double duration) {
    BlankLines(2);
    UseGrey();
    PrintLine("                 FILE DATA");
    BlankLines(1);
    PrintText("                 Channels    ");
    PrintNumber(channels, 7);
    FinishLine();
    PrintText("                 Sample rate ");
    PrintNumber(sampleRate, 15);
    PrintLine("Hz");
    PrintText("                 Resolution  ");
    PrintNumber(bitsPerSample, 7);
    PrintLine("bits");
    PrintText("                 Length      ");
    PrintNumber(frameCount, 15);
    PrintLine("samples");
    PrintText("                 Duration    ");
    PrintNumber(RoundToDecimals(duration, 2), 15);
    PrintLine("seconds");
    BlankLines(3);
}

void ShowStepTitle(std::string_view title) {
    UseGrey();
    PrintLine(title);
}

void ShowWritingFile(std::string_view outputName) {
    UseGrey();
    constexpr std::string_view Start = "   Writing file - ";
    PrintText(Start);
    // One row, so that a long path does not push the banner off the screen;
    // the last column stays free, as a terminal wraps after writing it.
    PrintLine(ShortenMiddle(outputName, ScreenColumns - 1 - int(Start.size())));
}

void ShowDone(int blankLines, std::string_view note) {
    UseBlack();
    PrintText("   Done");
    PrintLine(note);
    BlankLines(blankLines);
}

void ShowSkipped(int blankLines, std::string_view note) {
    UseBlack();
    PrintText("   Skipped");
    PrintLine(note);
    BlankLines(blankLines);
}

void ShowJobTime(double startTime) {
    UseBlack();
    PrintText("   Job completed in");
    Extended endTime = ClockSeconds();
    PrintNumber(RoundToDecimals(endTime - startTime, 2), 15);
    PrintLine("seconds");
}

void ShowQuitPrompt() {
    UseGrey();
    PrintLine("   press any key to quit");
}
