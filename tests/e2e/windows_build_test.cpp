// The Windows build's phonoskew.exe under wine, in a pseudo-terminal of
// 80x55: wine draws its console there with escape sequences, which libvterm
// reads back as for the Linux build. Run by `make check-windows`, which
// names the program (a script that starts it under wine) in
// PHONOSKEW_WINDOWS_BIN and keeps a wine session up; skipped without it.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "e2e/fixtures.h"

namespace {

// Wine takes a second or two to start even with its session up.
constexpr int WineMs = 60000;

// phonoskew.exe under wine in a pseudo-terminal of `rows` x 80, in a folder
// with a job's files; the program named by PHONOSKEW_WINDOWS_BIN.
Child StartUnderWine(const char* windowsProgram, const ScratchDir& dir, int rows = 55) {
    Program program = PhonoskewIn(dir.path);
    program.environment = {std::string("PHONOSKEW_BIN=") + windowsProgram, "LC_ALL=C.UTF-8"};
    return StartInPseudoTerminal(program, rows, 80);
}

// Wine turns the terminal's echo off only once the program first waits for
// a key; a key typed before would be echoed by the terminal itself.
bool WaitForWineToTakeKeys(Child& run) {
    return WaitForScreen(run, [&run](const VtScreen&) {
        termios modes{};
        return tcgetattr(run.slave, &modes) == 0 && !(modes.c_lflag & ECHO);
    });
}

// The terminal's modes, colours and cursor as before the start.
void ExpectConsolePutBack(const Child& run) {
    termios modes{};
    ASSERT_EQ(tcgetattr(run.slave, &modes), 0);
    EXPECT_EQ(modes.c_lflag, run.initialModes.c_lflag);
    EXPECT_EQ(modes.c_iflag, run.initialModes.c_iflag);
    EXPECT_TRUE(run.screen.cursorVisible);
    EXPECT_EQ(run.screen.foreground, 7);
    EXPECT_EQ(run.screen.background, 0);
}

// A refused file whose name is not ASCII (so its name opened: the header
// is read before it is refused), its box dismissed with Esc, which wine
// hands over without its character; the job on take1.wav with Ctrl+C typed
// on the way, which the prompt ignores; the stages' lines in their colours;
// Ctrl+C as the final key, then the outputs of the Linux build's model.
TEST(WindowsBuildUnderWine, RefusalJobAndFinalKeyOnWinesConsole) {
    const char* windowsProgram = std::getenv("PHONOSKEW_WINDOWS_BIN");
    if (!windowsProgram) GTEST_SKIP() << "PHONOSKEW_WINDOWS_BIN is not set (make check-windows)";
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(4800);
    WriteJobFiles(dir.path, fixture);
    std::string mono = MakeWave({1, 2}, {3, 4});
    mono[22] = 1;
    WriteFileBytes(dir.path / FileSystemPath("m\xc3\xb6no.wav"), mono);
    Child run = StartUnderWine(windowsProgram, dir);
    ChildGuard guard{run};

    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?", WineMs)) << VtDump(run.screen);
    ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) { return s.cursorColumn == 17; }));
    ExpectPromptScreen(run.screen);
    EXPECT_EQ(run.screen.title, "Phonoskew");
    ASSERT_TRUE(WaitForWineToTakeKeys(run));

    SendKeys(run, "m\xc3\xb6no.wav\r");
    ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) {
        return ScreenHas(s, "This is not a stero Wave file") && ScreenHas(s, "ERROR") &&
               ScreenHas(s, "Enter, Space or Esc to continue");
    })) << VtDump(run.screen);
    EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?  m\xc3\xb6no.wav");
    EXPECT_TRUE(ScreenHas(run.screen, "phonoskew-prepare makes an accepted copy; Ctrl-D quits"));
    SendKeys(run, "\x1b");
    ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) {
        return !ScreenHas(s, "ERROR") && VtRowText(s, 8) == "   Input file?" &&
               s.cursorColumn == 17;
    })) << VtDump(run.screen);
    ExpectPromptScreen(run.screen);

    SendKeys(run, "take1");
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?  take1")) << VtDump(run.screen);
    SendKeys(run, "\x03");
    SendKeys(run, ".wav\r");
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit", WineMs)) << VtDump(run.screen);
    ExpectFinishedJobScreen(run.screen, fixture);

    SendKeys(run, "\x03");
    ASSERT_TRUE(WaitForExit(run, WineMs)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, 0);
    ExpectOutputsMatchReference(dir.path, fixture);
}

// Ctrl-Z on an empty line at the prompt is a Windows console's end of
// input: the program ends as after Ctrl-D on Linux, with the console put
// back. Wine keeps the terminal's suspend key whatever the console's input
// modes, so its terminal stops wine instead: here, as after
// `stty susp undef`, the terminal has none, and wine hands Ctrl-Z over as
// the key it is on Windows. With text typed, Ctrl-Z is passed over.
TEST(WindowsBuildUnderWine, CtrlZAtThePromptEndsTheInput) {
    const char* windowsProgram = std::getenv("PHONOSKEW_WINDOWS_BIN");
    if (!windowsProgram) GTEST_SKIP() << "PHONOSKEW_WINDOWS_BIN is not set (make check-windows)";
    ScratchDir dir;
    Child run = StartUnderWine(windowsProgram, dir);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?", WineMs)) << VtDump(run.screen);
    ASSERT_TRUE(WaitForWineToTakeKeys(run));
    termios modes{};
    ASSERT_EQ(tcgetattr(run.slave, &modes), 0);
    modes.c_cc[VSUSP] = _POSIX_VDISABLE;
    ASSERT_EQ(tcsetattr(run.slave, TCSANOW, &modes), 0);

    SendKeys(run, "ab\x1a");
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?  ab")) << VtDump(run.screen);
    SendKeys(run, "\x7f\x7f");
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?")) << VtDump(run.screen);
    SendKeys(run, "\x1a");
    ASSERT_TRUE(WaitForExit(run, WineMs)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_TRUE(ScreenHas(run.screen, "phonoskew: standard input ended while waiting for a path"))
        << VtDump(run.screen);
    EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?");
    ExpectConsolePutBack(run);
}

// In a console of 80x24, which the program cannot make 55 rows high (as
// Windows Terminal keeps its size), the console shows the 24 rows around
// the cursor, as the Linux build does in a terminal of that size.
TEST(WindowsBuildUnderWine, SmallConsoleShowsTheRowsAroundTheCursor) {
    const char* windowsProgram = std::getenv("PHONOSKEW_WINDOWS_BIN");
    if (!windowsProgram) GTEST_SKIP() << "PHONOSKEW_WINDOWS_BIN is not set (make check-windows)";
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(200);
    WriteJobFiles(dir.path, fixture);
    Child run = StartUnderWine(windowsProgram, dir, 24);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?", WineMs)) << VtDump(run.screen);
    ASSERT_TRUE(WaitForWineToTakeKeys(run));
    SendKeys(run, "take1.wav\r");
    // The cursor ends on model row 55, so rows 32 to 55 are in view. Wine
    // draws the moved view row by row: the last row comes last.
    ASSERT_TRUE(WaitForScreen(
        run,
        [](const VtScreen& s) {
            return VtRowText(s, 23) == "   press any key to quit" && VtRowText(s, 24).empty();
        },
        WineMs))
        << VtDump(run.screen);
    const std::pair<int, std::string> rows[] = {
        {2, "   Applying second-order filter..."},
        {5, "   Writing file - take1 RIAA error 2.wav"},
        {17, "   Writing file - take1 RIAA error 4.wav"},
        {24, ""},
    };
    for (const auto& [row, text] : rows) {
        EXPECT_EQ(VtRowText(run.screen, row), text) << row << "\n" << VtDump(run.screen);
    }
    EXPECT_TRUE(std::regex_match(VtRowText(run.screen, 22),
                                 std::regex("   Job completed in (\\d*\\.)?\\d+ seconds")));
    ExpectColours(run.screen, 17, 1, 40, Grey);
    SendKeys(run, "q");
    ASSERT_TRUE(WaitForExit(run, WineMs)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, 0);
    ExpectConsolePutBack(run);
    ExpectOutputsMatchReference(dir.path, fixture);
}

}  // namespace
