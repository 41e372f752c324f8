// Stand-in console writing plain lines to standard output, used until the
// terminal layer exists.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "console/console.h"

namespace {
std::string pendingLine;
int cursorRow = 1;
}  // namespace

void InitConsoleTools() {}
void ConsoleToolBar(int, int) {}
void ConsoleTitle(std::string_view) {}
void ConsoleIcon(int) {}
void DeleteWindowMenuItem(int) {}
void Console80x(int) {}
void ConsoleMove(int, int) {}

void PrintText(std::string_view text) { pendingLine += text; }
void EndLine() {
    std::cout << pendingLine << '\n' << std::flush;
    pendingLine.clear();
    ++cursorRow;
}
void SetColours(int, int) {}
void ClearScreen() { cursorRow = 1; }
void HideCursor() {}
int CursorRow() { return cursorRow; }
void MoveCursor(int row, int) { cursorRow = row; }
std::string ReadKeyboardLine() {
    std::string line;
    int c;
    while ((c = std::getchar()) != EOF && c != '\r' && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) QuitProgram("phonoskew: standard input ended", 2);
    EndLine();
    return line;
}
void WaitForKey() { std::getchar(); }
void Beep() {}
Extended ClockSeconds() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() / 1000.0L;
}
BoxKey ConsoleMessageBox(std::string_view message, std::string_view title) {
    std::cout << title << ": " << message << '\n';
    return BoxKey::Enter;
}
void QuitProgram(std::string_view reason, int status) {
    std::cerr << reason << '\n';
    std::exit(status);
}
