// The program in a pseudo-terminal of 80x55, as a user meets it: keys typed,
// the screen read back through libvterm (support/vt_screen.h).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <regex>

#include "e2e/fixtures.h"

namespace {

// The job on take1.wav of `frames` frames, named on the command line.
Child StartJobInTerminal(const ScratchDir& dir, int frames,
                         std::vector<std::string> environment = {}) {
    WriteJobFiles(dir.path, MakeJobFixture(frames));
    Program program = PhonoskewIn(dir.path, {"take1.wav"});
    program.environment = std::move(environment);
    return StartInPseudoTerminal(program);
}

// `key` at the final prompt ends the run with `status`.
void ExpectKeyEndsTheRun(Child& run, std::string_view key = "q", int status = 0) {
    SendKeys(run, key);
    ASSERT_TRUE(WaitForExit(run)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, status);
}

// The two ways a user stops the program: kill -TSTP, or Ctrl-Z typed at
// the terminal, which raw mode passes on as the byte 26.
struct StopWay {
    const char* name;
    bool byKey;
};
const StopWay StopWays[] = {{"kill -TSTP", false}, {"Ctrl-Z", true}};

// A stop: the terminal is back as after an exit, the cursor on
// `restoredRow`; the shell writes its lines there, then fg continues it.
void StopAndContinueUnderTheShell(Child& run, int restoredRow, bool byKey = false) {
    if (byKey)
        SendKeys(run, "\x1a");
    else
        kill(run.pid, SIGTSTP);
    ASSERT_TRUE(WaitForStop(run)) << VtDump(run.screen);
    ExpectTerminalRestored(run, restoredRow);
    const std::string shell = "[1]+  Stopped   phonoskew\r\n$ fg\r\n";
    ASSERT_EQ(write(run.slave, shell.data(), shell.size()), static_cast<ssize_t>(shell.size()));
    ASSERT_TRUE(WaitForText(run, "$ fg"));
    kill(run.pid, SIGCONT);
}

TEST(RunInTerminalTest, StartScreenTypingAndBackspace) {
    ScratchDir dir;
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?")) << VtDump(run.screen);
    ASSERT_TRUE(WaitForScreen(
        run, [](const VtScreen& s) { return s.cursorColumn == 17 && s.cursorVisible; }));
    ExpectPromptScreen(run.screen);
    EXPECT_EQ(run.screen.title, "Phonoskew");

    SendKeys(run, "abcd\x7f\x08x");
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?  abx")) << VtDump(run.screen);
    EXPECT_EQ(run.screen.cursorColumn, 20);
    ExpectColours(run.screen, 8, 17, 19, Black);
    // Arrows, function keys and Alt+letter type nothing.
    SendKeys(run, "\x1b[A\x1b[15~\x1bq\tz");
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?  abxz")) << VtDump(run.screen);
}

struct RefusedPath {
    const char* typed;
    const char* message;  // the box's first line
    const char* more;     // another line of the box, or nullptr
    const char* dismissal;
};

TEST(RunInTerminalTest, RefusedPathsGiveTheirBoxThenAFreshPrompt) {
    const RefusedPath cases[] = {
        {"", "File not found.", "Please enter a valid file path", "\r"},
        {"no such file.wav", "File not found.", "Please enter a valid file path", "\r"},
        {"mono.wav", "This is not a stero Wave file", nullptr, " "},
    };
    ScratchDir dir;
    std::string wave = MakeWave({1, 2}, {3, 4});
    wave[22] = 1;  // mono
    WriteFileBytes(dir.path / "mono.wav", wave);
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    for (const RefusedPath& c : cases) {
        SCOPED_TRACE(c.typed);
        int bellsBefore = run.screen.bells;
        SendKeys(run, std::string(c.typed) + "\r");
        ASSERT_TRUE(WaitForText(run, c.message)) << VtDump(run.screen);
        ASSERT_TRUE(WaitForText(run, "ERROR"));
        if (c.more) {
            EXPECT_TRUE(ScreenHas(run.screen, c.more));
        }
        EXPECT_GT(run.screen.bells, bellsBefore);
        SendKeys(run, c.dismissal);
        ASSERT_TRUE(WaitForScreen(run, [&](const VtScreen& s) {
            return !ScreenHas(s, c.message) && VtRowText(s, 8) == "   Input file?" &&
                   s.cursorVisible;
        })) << VtDump(run.screen);
        ExpectPromptScreen(run.screen);
    }
}

// A refused format's box names the way on and the way out; on a small
// terminal it leaves the typed path in view; and Ctrl-D at the fresh
// prompt is that way out.
TEST(RunInTerminalTest, RefusalBoxShowsTheWayOnAndOutBesideTheTypedPath) {
    ScratchDir dir;
    std::string cdRip = CanonicalWaveHeader(0);
    cdRip[34] = 16;
    WriteFileBytes(dir.path / "cd rip.wav", cdRip);
    for (auto [rows, columns] : {std::pair{55, 80}, std::pair{20, 60}, std::pair{16, 60}}) {
        SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
        Child run = StartInPseudoTerminal(PhonoskewIn(dir.path), rows, columns);
        ChildGuard guard{run};
        ASSERT_TRUE(WaitForText(run, "Input file?")) << VtDump(run.screen);
        SendKeys(run, "cd rip.wav\r");
        ASSERT_TRUE(WaitForText(run, "Enter, Space or Esc to continue")) << VtDump(run.screen);
        EXPECT_TRUE(ScreenHas(run.screen, "This is not a 24-bit Wave file"));
        EXPECT_TRUE(ScreenHas(run.screen, "phonoskew-prepare makes an accepted copy; Ctrl-D quits"))
            << VtDump(run.screen);
        EXPECT_TRUE(ScreenHas(run.screen, "   Input file?  cd rip.wav")) << VtDump(run.screen);
        SendKeys(run, "\r");
        ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) { return !ScreenHas(s, "ERROR"); }));
        SendKeys(run, "\x04");
        ASSERT_TRUE(WaitForExit(run)) << VtDump(run.screen);
        EXPECT_EQ(run.exitStatus, 2);
    }
}

TEST(RunInTerminalTest, FullRunShowsEveryRowInItsColoursAndRestoresTheTerminal) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(4800);
    WriteJobFiles(dir.path, fixture);
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    ExpectRawMode(run);

    SendKeys(run, "take1.wav\r");
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    ExpectFinishedJobScreen(run.screen, fixture);
    EXPECT_FALSE(run.screen.cursorVisible);

    ExpectKeyEndsTheRun(run);
    ExpectTerminalRestored(run, 55, ClippingNotes(fixture, "\r\n"));
    for (int stage = 1; stage <= 4; ++stage) {
        EXPECT_TRUE(fs::exists(dir.path / ("take1 RIAA error " + std::to_string(stage) + ".wav")));
    }
}

// `phonoskew PATH` in a terminal: the path stands typed at the prompt, the
// job runs on it, and a key ends the run as usual.
TEST(RunInTerminalTest, PathOnTheCommandLineIsTypedAtThePrompt) {
    ScratchDir dir;
    Child run = StartJobInTerminal(dir, 100);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?  take1.wav");
    ExpectColours(run.screen, 8, 17, 25, Black);
    EXPECT_EQ(VtRowText(run.screen, 48), "   Writing file - take1 RIAA error 4.wav");
    ExpectKeyEndsTheRun(run, " ");
    ExpectTerminalRestored(run, 55, ClippingNotes(MakeJobFixture(100), "\r\n"));
}

TEST(RunInTerminalTest, MissingCoefficientFileBoxComesBackUntilTheFileAppears) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(100);
    WriteJobFiles(dir.path, fixture);
    std::string soText = ReadFileBytes(dir.path / "SO.dat");
    fs::remove(dir.path / "SO.dat");
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    SendKeys(run, "take1.wav\r");
    ASSERT_TRUE(WaitForText(run, "File 'SO.dat' not found.")) << VtDump(run.screen);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        EXPECT_TRUE(ScreenHas(run.screen, "Please ensure that it is in the parent directory"));
        // Output 1 is already on disk while the run waits.
        EXPECT_TRUE(fs::exists(dir.path / "take1 RIAA error 1.wav"));
        int bellsAtDismissal = run.screen.bells;
        if (attempt == 3) WriteFileBytes(dir.path / "SO.dat", soText);
        SendKeys(run, "\r");
        if (attempt == 3) break;
        // Dismissed without the file: a new beep and the same box again.
        ASSERT_TRUE(WaitForScreen(run, [&](const VtScreen& s) {
            return s.bells > bellsAtDismissal && ScreenHas(s, "File 'SO.dat' not found.");
        })) << VtDump(run.screen);
    }
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    // The stage's title line was printed once, not once per attempt.
    EXPECT_EQ(VtRowText(run.screen, 33), "   Applying second-order filter...");
    EXPECT_EQ(VtRowText(run.screen, 34), "   Done");
    ExpectKeyEndsTheRun(run, "\r");
}

TEST(RunInTerminalTest, KeyPressedDuringTheJobEndsTheFinalWait) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(2000);
    WriteJobFiles(dir.path, fixture);
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    SendKeys(run, "take1.wav\rk");
    ASSERT_TRUE(WaitForExit(run)) << VtDump(run.screen);
    EXPECT_EQ(run.exitStatus, 0);
    // The run's notes below the final screen have scrolled it up.
    std::string notes = ClippingNotes(fixture);
    int noteLines = static_cast<int>(std::count(notes.begin(), notes.end(), '\n'));
    EXPECT_EQ(VtRowText(run.screen, 54 - noteLines), "   press any key to quit")
        << VtDump(run.screen);
}

// The console tests end a child by every other signal; SIGTERM, the usual
// way a program is stopped, is sent to the program itself at its prompt.
TEST(RunInTerminalTest, TerminalRestoredAfterSigterm) {
    ScratchDir dir;
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    ExpectRawMode(run);
    kill(run.pid, SIGTERM);
    ASSERT_TRUE(WaitForExit(run));
    EXPECT_EQ(run.endSignal, SIGTERM);  // ended by the signal, as the shell expects
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM);
    // The prompt stays on screen, the cursor on the clean line below it.
    ExpectTerminalRestored(run, 9);
    EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?");
}

// Under `ulimit -f` an output that would pass the limit fails like one on a
// full disk: its box with the system's reason, Esc skips it, the other
// outputs are tried, and the run ends as usual with the terminal put back.
// Each writer's line says the file was skipped, and whether the file of that
// name is an earlier one; so does standard error at the end.
TEST(RunInTerminalTest, FileSizeLimitGivesTheWriteBoxForEveryOutput) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(4800));  // outputs of 29 222 bytes
    WriteFileBytes(dir.path / OutputName(3), "an earlier run's");
    Program program = PhonoskewIn(dir.path);
    program.limits = {{RLIMIT_FSIZE, rlim_t{16} << 10}};  // below every output's size
    Child run = StartInPseudoTerminal(program);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    SendKeys(run, "take1.wav\r");
    std::string notes;
    for (int stage = 1; stage <= 4; ++stage) {
        SCOPED_TRACE(stage);
        std::string name = "Could not write file '" + OutputName(stage) + "':";
        ASSERT_TRUE(WaitForText(run, name)) << VtDump(run.screen);
        EXPECT_TRUE(ScreenHas(run.screen, "File too large.")) << VtDump(run.screen);
        SendKeys(run, "\x1b");
        ASSERT_TRUE(WaitForScreen(run, [&](const VtScreen& s) { return !ScreenHas(s, name); }));
        notes += "phonoskew: " + OutputName(stage) + ": skipped, " +
                 (stage == 3 ? "the file of that name is an earlier one" : "no file written") +
                 "\r\n";
    }
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    for (int row : {31, 37, 49})
        EXPECT_EQ(VtRowText(run.screen, row), "   Skipped (no file written)");
    EXPECT_EQ(VtRowText(run.screen, 43), "   Skipped (the file of that name is an earlier one)");
    ExpectColours(run.screen, 43, 1, 52, Black);
    ExpectKeyEndsTheRun(run, "q", 1);
    ExpectTerminalRestored(run, 55, notes);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"FO.dat", "FOP.dat", "SO.dat", "SOP.dat",
                                                       OutputName(3), "take1.wav"}));
    EXPECT_EQ(ReadFileBytes(dir.path / OutputName(3)), "an earlier run's");
}

// A failed write mended while its box is up: Enter computes the stage again
// from its first draw and writes the bytes the first try would have.
TEST(RunInTerminalTest, RetriedWriteGivesTheSameBytes) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(5000);
    WriteJobFiles(dir.path, fixture);
    fs::create_directory(dir.path / OutputName(2));  // in the way of output 2
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path, {"take1.wav"}));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForText(run, "Enter tries again")) << VtDump(run.screen);
    fs::remove(dir.path / OutputName(2));
    SendKeys(run, "\r");
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    ExpectKeyEndsTheRun(run);
    ExpectOutputsMatchReference(dir.path, fixture);
}

// Settings the program cannot use are named once on standard error, after
// the restore at the end: in a terminal, on the clean line below the final
// screen, where no frame clears them away.
TEST(RunInTerminalTest, UnusableSettingsAreNamedOnceBelowTheFinalScreen) {
    ScratchDir dir;
    Child run = StartJobInTerminal(dir, 100, {"PHONOSKEW_THREADS=two", "PHONOSKEW_KERNEL=fast"});
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    ExpectKeyEndsTheRun(run);
    const std::string note =
        "phonoskew: PHONOSKEW_THREADS is \"two\", not a number of threads from 1 up: one a "
        "processor is used\r\nphonoskew: PHONOSKEW_KERNEL is \"fast\", not exact, x87, avx2, "
        "sse4 or auto: it is ignored\r\n" +
        ClippingNotes(MakeJobFixture(100), "\r\n");
    EXPECT_TRUE(run.out.ends_with("\x1b[?25h" + note)) << run.out.substr(run.out.size() - 300);
    EXPECT_EQ(run.out.find("phonoskew: PHONOSKEW_THREADS"), run.out.size() - note.size());
}

// At 80x24 the terminal shows the 24 model rows around the cursor; moving
// that view down row by row must not push copies of the screen into the
// terminal's scrollback.
TEST(RunInTerminalTest, SmallTerminalFollowsTheCursorWithoutFillingTheScrollback) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(200);
    WriteJobFiles(dir.path, fixture);
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path), 24, 80);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    SendKeys(run, "take1.wav\r");
    // The cursor ends on model row 55, so rows 32 to 55 are in view.
    ASSERT_TRUE(WaitForRowText(run, 23, "   press any key to quit")) << VtDump(run.screen);
    const std::pair<int, std::string> rows[] = {
        {2, "   Applying second-order filter..."},
        {5, "   Writing file - take1 RIAA error 2.wav"},
        {17, "   Writing file - take1 RIAA error 4.wav"},
        {24, ""},
    };
    for (const auto& [row, text] : rows) EXPECT_EQ(VtRowText(run.screen, row), text) << row;
    EXPECT_TRUE(std::regex_match(VtRowText(run.screen, 22),
                                 std::regex("   Job completed in (\\d*\\.)?\\d+ seconds")));
    ExpectColours(run.screen, 17, 1, 40, Grey);
    std::string pushed;
    for (const std::string& line : run.screen.history) pushed += line + "\n";
    EXPECT_TRUE(run.screen.history.empty()) << run.screen.history.size() << " rows:\n" << pushed;
    ExpectKeyEndsTheRun(run);
    // Only the run's notes below the final screen scroll rows away.
    std::string notes = ClippingNotes(fixture, "\r\n");
    ExpectTerminalRestored(run, 24, notes);
    EXPECT_EQ(run.screen.history.size(), size_t(std::count(notes.begin(), notes.end(), '\n')));
}

// At 80x24 the rows of the reading and of the first stage scroll out of
// view, and with them their notes; at the end the notes stand on standard
// error below the final screen, where the scrollback keeps them.
TEST(RunInTerminalTest, NotesOfRowsScrolledOffComeOnStandardErrorAtTheEnd) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(200));
    std::string wave = ReadFileBytes(dir.path / "take1.wav");
    WriteFileBytes(dir.path / "take1.wav", wave.substr(0, wave.size() - 60));
    std::string fo = ReadFileBytes(dir.path / "FO.dat");
    std::erase(fo, '\r');
    WriteFileBytes(dir.path / "FO.dat", fo);
    Child run = StartInPseudoTerminal(PhonoskewIn(dir.path, {"take1.wav"}), 24, 80);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 23, "   press any key to quit")) << VtDump(run.screen);
    EXPECT_FALSE(ScreenHas(run.screen, "missing")) << VtDump(run.screen);
    EXPECT_FALSE(ScreenHas(run.screen, "FO.dat")) << VtDump(run.screen);
    ExpectKeyEndsTheRun(run);
    const std::string restore = "\x1b[24;1H\x1b[0m\x1b[K\x1b[?25h";
    size_t end = run.out.rfind(restore);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(run.out.substr(end + restore.size())
                    .starts_with("phonoskew: take1.wav: 10 frames missing, read as silence\r\n"
                                 "phonoskew: FO.dat: line feeds without CR joined its lines into "
                                 "one field\r\n"))
        << run.out.substr(end);
}

// A dumb terminal cannot place the cursor: it gets the plain transcript,
// with the prompt out before the first key, the typing echoed as it comes
// (Backspace too) and the keys that dismiss a box.
TEST(RunInTerminalTest, DumbTerminalGetsThePlainTranscript) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(20));
    Program program = PhonoskewIn(dir.path);
    program.environment = {"TERM=dumb"};
    Child run = StartInPseudoTerminal(program);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForOutput(run, "   Phonoskew\r\n"));
    ASSERT_TRUE(WaitForOutput(run, "\r\n   Input file?  ")) << run.out;
    SendKeys(run, "nothing.wx");
    ASSERT_TRUE(WaitForOutput(run, "   Input file?  nothing.wx")) << run.out;
    SendKeys(run, "\x7f");
    ASSERT_TRUE(WaitForOutput(run, "nothing.wx\b \b")) << run.out;
    SendKeys(run, "av\r");
    ASSERT_TRUE(WaitForOutput(run, "Enter, Space or Esc to continue\r\n")) << run.out;
    SendKeys(run, "\rtake1.wav\r");
    ASSERT_TRUE(WaitForOutput(run, "   press any key to quit\r\n")) << run.out;
    ExpectKeyEndsTheRun(run);
    for (const char* lines :
         {"   Input file?  nothing.wx\b \bav\r\n ERROR\r\n            File not found.\r\n"
          " Please enter a valid file path  \r\nEnter, Space or Esc to continue\r\n"
          "phonoskew: 'nothing.wav': File not found.\r\n",
          "\r\n   Input file?  take1.wav\r\n\r\n\r\n", "   Reading file data...\r\n"}) {
        EXPECT_NE(run.out.find(lines), std::string::npos) << lines << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find_first_of("\x1b\a"), std::string::npos) << run.out;
}

struct TypedPathCase {
    const char* name;
    bool utf8;  // LC_ALL=C.UTF-8, else the C locale
    std::string typed;
    std::string row8;  // as the terminal shows it (UTF-8)
    int cursorColumn;
};

// The terminal is UTF-8, as the emulator is: in a UTF-8 locale a typed
// character shows as itself in its width; outside one each byte shows as
// its Latin-1 character, as it always has.
TEST(RunInTerminalTest, TypedUtf8ShowsAsTyped) {
    const TypedPathCase cases[] = {
        {"accents", true, "\xc3\xa9t\xc3\xa9.wav", "   Input file?  \xc3\xa9t\xc3\xa9.wav", 24},
        {"wide", true, "\xe6\x97\xa5x", "   Input file?  \xe6\x97\xa5x", 20},
        {"backspace takes a wide character whole", true, "a\xe6\x97\xa5\x7f", "   Input file?  a",
         18},
        {"a C1 control shows harmless", true, "a\xc2\x9b", "   Input file?  a\xef\xbf\xbd", 19},
        {"decomposed accents join their letters", true, "e\xcc\x81te\xcc\x81",
         "   Input file?  e\xcc\x81te\xcc\x81", 20},
        {"backspace takes a letter with its mark", true, "ae\xcc\x81\x7f", "   Input file?  a", 18},
        {"an invalid byte shows harmless", true, "\xff", "   Input file?  \xef\xbf\xbd", 18},
        {"C locale: bytes as Latin-1", false, "\xc3\xa9", "   Input file?  \xc3\x83\xc2\xa9", 19},
    };
    for (const TypedPathCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        Program program = PhonoskewIn(dir.path);
        if (c.utf8) program.environment = {"LC_ALL=C.UTF-8"};
        Child run = StartInPseudoTerminal(program);
        ChildGuard guard{run};
        ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
        SendKeys(run, c.typed);
        EXPECT_TRUE(WaitForScreen(run, [&](const VtScreen& s) {
            return VtRowText(s, 8) == c.row8 && s.cursorColumn == c.cursorColumn;
        })) << VtDump(run.screen);
        EXPECT_EQ(run.out.find("\xc2\x9b"), std::string::npos);
    }
}

// The path's bytes are opened exactly as typed, and the output names that
// come from them show as typed too.
TEST(RunInTerminalTest, Utf8PathRunsTheJobAndShowsTheOutputNames) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(30));
    fs::rename(dir.path / "take1.wav", dir.path / "\xc3\xa9t\xc3\xa9.wav");
    Program program = PhonoskewIn(dir.path);
    program.environment = {"LC_ALL=C.UTF-8"};
    Child run = StartInPseudoTerminal(program);
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
    SendKeys(run, "\xc3\xa9t\xc3\xa9.wav\r");
    ASSERT_TRUE(WaitForRowText(run, 54, "   press any key to quit")) << VtDump(run.screen);
    EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?  \xc3\xa9t\xc3\xa9.wav");
    EXPECT_EQ(VtRowText(run.screen, 48), "   Writing file - \xc3\xa9t\xc3\xa9 RIAA error 4.wav");
    for (int stage = 1; stage <= 4; ++stage) {
        EXPECT_TRUE(fs::exists(dir.path /
                               ("\xc3\xa9t\xc3\xa9 RIAA error " + std::to_string(stage) + ".wav")));
    }
    ExpectKeyEndsTheRun(run);
}

// A stop at the prompt: the shell gets its terminal back as after an exit;
// on continuing, the program takes raw mode again, redraws over what the
// shell wrote, and the typing goes on.
TEST(RunInTerminalTest, StopGivesTheTerminalBackAndContinueTakesItAgain) {
    for (const StopWay& way : StopWays) {
        SCOPED_TRACE(way.name);
        ScratchDir dir;
        Child run = StartInPseudoTerminal(PhonoskewIn(dir.path));
        ChildGuard guard{run};
        ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?"));
        SendKeys(run, "ab");
        ASSERT_TRUE(WaitForRowText(run, 8, "   Input file?  ab"));
        ASSERT_NO_FATAL_FAILURE(StopAndContinueUnderTheShell(run, 9, way.byKey));
        ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) {
            return !ScreenHas(s, "Stopped") && !ScreenHas(s, "$ fg") && s.cursorVisible;
        })) << VtDump(run.screen);
        ExpectRawMode(run);
        EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?  ab");
        ExpectColours(run.screen, 8, 17, 18, Black);
        EXPECT_EQ(run.screen.cursorRow, 8);
        EXPECT_EQ(run.screen.cursorColumn, 19);
        SendKeys(run, "c\r");
        ASSERT_TRUE(WaitForText(run, "File not found.")) << VtDump(run.screen);
        EXPECT_EQ(VtRowText(run.screen, 8), "   Input file?  abc");
    }
}

// Stopped and continued while a stage filters (two threads on the x87 unit,
// over 16 million frames: most of a second at the least), the terminal is
// put back below the stage's line, and the program redraws over what the
// shell wrote at once, not when the stage ends. Ctrl-Z, read while the
// stage works, acts at once too.
TEST(RunInTerminalTest, ContinueDuringAStageRedrawsAtOnce) {
    for (const StopWay& way : StopWays) {
        SCOPED_TRACE(way.name);
        ScratchDir dir;
        Child run =
            StartJobInTerminal(dir, 16000000, {"PHONOSKEW_THREADS=2", "PHONOSKEW_KERNEL=x87"});
        ChildGuard guard{run};
        ASSERT_TRUE(WaitForRowText(run, 27, "   Applying first-order filter...", 60000))
            << VtDump(run.screen);
        ASSERT_NO_FATAL_FAILURE(StopAndContinueUnderTheShell(run, 28, way.byKey));
        ASSERT_TRUE(WaitForScreen(run, [](const VtScreen& s) {
            return !ScreenHas(s, "$ fg") && VtRowText(s, 27) == "   Applying first-order filter...";
        })) << VtDump(run.screen);
        EXPECT_EQ(VtRowText(run.screen, 28), "") << "redrawn only when the stage ended";
        ExpectRawMode(run);
    }
}

}  // namespace
