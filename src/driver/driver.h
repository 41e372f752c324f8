// The run driver: the fixed order of one run (window set-up, prompt, header
// check, file data, samples, the four stages with their output files, the
// elapsed time and the final key), and the input prompt that loops until a
// typed path names a file that opens.
#pragma once

#include <string>

// The console window's start-up calls, in their fixed order.
void SetUpConsoleWindow();

// Shows the banner and "   Input file?", reads a path from row 8 column 17,
// and repeats (beep, box, fresh screen) until the path names a readable
// regular file. Returns the path exactly as typed.
std::string AskInputPath();

// Whether `path`, taken whole, names a regular file that opens for reading.
// Never blocks: a FIFO or a device counts as a failed open, as do an empty
// path and one that holds '*' or '?'.
bool CanOpenInput(const std::string& path);
