// The screen script of a run: every line Phonoskew shows, with its colours
// and place. Progress lines are grey on white, "Done" lines black on white.
#pragma once

#include <string_view>

#include "console/console.h"

// Clears the screen, draws the banner and "   Input file?", and returns the
// row the question stands on (row 8 on a fresh screen).
int ShowPromptScreen();

// Prints `value` in the program's number format (see FormatNumber).
void PrintNumber(Extended value, int digits);

// The FILE DATA block, from the two blank lines after the prompt to the
// three blank lines before the job starts.
void ShowFileData(int channels, int sampleRate, int bitsPerSample, int frameCount, double duration);

// A grey progress line such as "   Reading file data...".
void ShowStepTitle(std::string_view title);

// "   Writing file - " and the output name, grey, on one row: a long name
// is shortened in its middle on the screen (the file keeps its name).
void ShowWritingFile(std::string_view outputName);

// A black "   Done", then `note` on the same line (such as " (3 samples
// clipped)"), then `blankLines` blank lines.
void ShowDone(int blankLines, std::string_view note = {});

// A black "   Skipped" in the place of a writer's "Done", when the user gave
// the file up, then `note` on the same line and `blankLines` blank lines.
void ShowSkipped(int blankLines, std::string_view note);

// "   Job completed in" and the seconds since `startTime`; the end time is
// taken after the words are drawn.
void ShowJobTime(double startTime);

// The grey "   press any key to quit" line.
void ShowQuitPrompt();
