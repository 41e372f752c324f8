// The Windows console's screen buffer as the terminal device draws on it
// (console_output_win32.cpp): the frame's bytes read into console
// operations (console_sequences.h) and carried out as console calls, and
// the buffer's size, colours, cursor and title put back as they were found.
// Internal to the Windows files of the system layer.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Saves what drawing changes (size, colours, cursor, title) and draws on
// `output` from now on.
void StartConsoleOutput(HANDLE output);

// Carries out the frame's bytes; a sequence cut at the end waits for the
// next call.
void DrawOnConsole(std::string_view bytes);

// Draws `restoreBytes`, then puts back the size, colours, cursor and title
// saved at the start.
void PutConsoleOutputBack(std::string_view restoreBytes);

// The window's size in cells (the part of the buffer shown), false when the
// console cannot say.
bool ConsoleWindowSize(int& rows, int& columns);

// UTF-8 to UTF-16, and one character back to UTF-8.
std::wstring Wide(std::string_view text);
void AppendUtf8(char32_t code, std::string& bytes);
