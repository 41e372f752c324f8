// The Windows build's phonoskew.exe under wine, in a pseudo-terminal of
// 80x55: wine draws its console there with escape sequences, which libvterm
// reads back as for the Linux build. Run by `make check-windows`, which
// names the program (a script that starts it under wine) in
// PHONOSKEW_WINDOWS_BIN and keeps a wine session up; skipped without it.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdlib>
#include <string>

#include "e2e/fixtures.h"

namespace {

// Wine takes a second or two to start even with its session up.
constexpr int WineMs = 60000;

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
    Program program = PhonoskewIn(dir.path);
    program.environment = {std::string("PHONOSKEW_BIN=") + windowsProgram, "LC_ALL=C.UTF-8"};
    Child run = StartInPseudoTerminal(program);
    ChildGuard guard{run};

    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?", WineMs)) << VtDump(run.screen);
    ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) { return s.cursorColumn == 17; }));
    ExpectPromptScreen(run.screen);
    EXPECT_EQ(run.screen.title, "Phonoskew");
    // Wine turns the terminal's echo off only once the program first waits
    // for a key; a key typed before would be echoed by the terminal itself.
    ASSERT_TRUE(WaitForScreen(run, [&run](const VtScreen&) {
        termios modes{};
        return tcgetattr(run.slave, &modes) == 0 && !(modes.c_lflag & ECHO);
    }));

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
    const VtScreen& s = run.screen;
    const std::pair<int, std::string> rows[] = {
        {8, "   Input file?  take1.wav"},
        {11, "                 FILE DATA"},
        {13, "                 Channels     2"},
        {14, "                 Sample rate  96000 Hz"},
        {15, "                 Resolution   24 bits"},
        {16, "                 Length       4800 samples"},
        {17, "                 Duration     .05 seconds"},
        {21, "   Reading file data..."},
        {24, "   Extracting channels..."},
        {27, "   Applying first-order filter..."},
        {30, "   Writing file - take1 RIAA error 1.wav"},
        {33, "   Applying second-order filter..."},
        {36, "   Writing file - take1 RIAA error 2.wav"},
        {39, "   Applying first-order phase shift..."},
        {42, "   Writing file - take1 RIAA error 3.wav"},
        {45, "   Applying second-order phase shift..."},
        {48, "   Writing file - take1 RIAA error 4.wav"},
    };
    for (const auto& [row, text] : rows) {
        EXPECT_EQ(VtRowText(s, row), text) << "row " << row << "\n" << VtDump(s);
        ExpectColours(s, row, 1, row == 8 ? 14 : int(text.size()), Grey);
    }
    ExpectColours(s, 8, 17, 25, Black);
    for (int row : {22, 25, 28, 31, 34, 37, 40, 43, 46, 49}) {
        EXPECT_TRUE(VtRowText(s, row).starts_with("   Done")) << row << "\n" << VtDump(s);
        ExpectColours(s, row, 1, 7, Black);
    }
    EXPECT_TRUE(VtRowText(s, 53).starts_with("   Job completed in ")) << VtDump(s);

    SendKeys(run, "\x03");
    ASSERT_TRUE(WaitForExit(run, WineMs)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, 0);
    ExpectOutputsMatchReference(dir.path, fixture);
}

}  // namespace
