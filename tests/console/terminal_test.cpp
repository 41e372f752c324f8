// The terminal backend end to end: a child process runs the console in a
// pseudo-terminal (or with pipes) and the test checks what reached the
// terminal and the modes it was left in, for every way the child ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "console/key_wait.h"
#include "console/screen.h"
#include "console/screen_script.h"
#include "support/harness.h"

namespace {

// ---- Child programs -------------------------------------------------------------------

void DrawThenWaitForKey() {
    ResetScreen();
    ClearKeyBytes();  // keys the parent's earlier tests queued are not this child's
    InitConsoleTools();
    ConsoleTitle("Phonoskew");
    SetColours(0, 15);
    ClearScreen();
    HideCursor();
    PrintText("ready");
    EndLine();
    // A key typed now, before the wait begins, must still end it at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    WaitForKey();
    PrintText("after key");
    EndLine();
}

void PromptBoxAndDone() {
    ResetScreen();
    ClearKeyBytes();  // keys the parent's earlier tests queued are not this child's
    InitConsoleTools();
    ConsoleTitle("Phonoskew");
    Console80x(55);
    SetColours(0, 15);
    ClearScreen();
    PrintText("   Input file?");
    EndLine();
    MoveCursor(1, 17);
    ReadKeyboardLine();
    Beep();
    ConsoleMessageBox("a\\nb", " ERROR");
    PrintText("Done");
    EndLine();
    WaitForKey();
}

// A step's title, then work that takes a while (killed by the test).
void StepTitleThenWork() {
    ResetScreen();
    InitConsoleTools();
    ShowStepTitle("   Reading file data...");
    std::this_thread::sleep_for(std::chrono::seconds(30));
}

void QuitPromptThenWaitForKey() {
    ResetScreen();
    ClearKeyBytes();
    InitConsoleTools();
    ShowQuitPrompt();
    WaitForKey();
}

// ---- Drawing, raw mode and restoring -----------------------------------------------------

struct EndingCase {
    const char* name;
    const char* key;  // typed, or nullptr to send the signal
    int signal;
};

// SIGTERM is sent to the phonoskew program itself, at its prompt
// (RunInTerminalTest.TerminalRestoredAfterSigterm), with the same checks.
TEST(TerminalTest, DrawsInRawModeAndFullyRestoresOnEveryWayOut) {
    const EndingCase cases[] = {
        {"a key ends the final wait", "x", 0}, {"Ctrl+C is a key, not a signal", "\x03", 0},
        {"SIGHUP", nullptr, SIGHUP},           {"SIGINT", nullptr, SIGINT},
        {"SIGQUIT", nullptr, SIGQUIT},         {"SIGSEGV", nullptr, SIGSEGV},
        {"SIGABRT", nullptr, SIGABRT},         {"SIGXCPU", nullptr, SIGXCPU},
        {"SIGUSR1", nullptr, SIGUSR1},         {"SIGUSR2", nullptr, SIGUSR2},
        {"SIGALRM", nullptr, SIGALRM},         {"SIGVTALRM", nullptr, SIGVTALRM},
        {"SIGPROF", nullptr, SIGPROF},         {"SIGIO", nullptr, SIGIO},
        {"SIGPWR", nullptr, SIGPWR},           {"SIGSYS", nullptr, SIGSYS},
        {"SIGSTKFLT", nullptr, SIGSTKFLT},     {"SIGTRAP", nullptr, SIGTRAP},
        {"SIGRTMIN", nullptr, SIGRTMIN},       {"SIGRTMAX", nullptr, SIGRTMAX},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Child child = StartInPseudoTerminal(FunctionBody(DrawThenWaitForKey));
        ChildGuard guard{child};
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(WaitForOutput(child, "ready"));
        ExpectRawMode(child);

        if (c.key) {
            EXPECT_TRUE(SendKeys(child, c.key));
        } else {
            kill(child.pid, c.signal);
        }
        ASSERT_TRUE(WaitForExit(child));
        if (c.key) {
            EXPECT_EQ(child.exitStatus, 0);
        } else {
            EXPECT_EQ(child.endSignal, c.signal);
        }
        // Drawn with escape sequences on the main screen, never the alternate one.
        const std::string& output = child.out;
        EXPECT_NE(output.find("\x1b]2;Phonoskew\a"), std::string::npos);
        EXPECT_NE(output.find("\x1b[2J"), std::string::npos);
        EXPECT_NE(output.find("\x1b[30;107m"), std::string::npos);  // black on bright white
        const char* text = c.key ? "\x1b[?25lready\x1b[2;1Hafter key" : "\x1b[?25lready";
        EXPECT_NE(output.find(text), std::string::npos);
        EXPECT_EQ(output.find("\x1b[?1049h"), std::string::npos);
        // Just below the last row of text: "ready", then "after key".
        ExpectTerminalRestored(child, c.key ? 3 : 2);
    }
}

// `kill %1` on a job stopped at a shell: the shell has the terminal back and
// sends SIGTERM, then SIGCONT. The program ends at once, leaving the
// terminal (put back at the stop) to the shell: no bytes over its screen,
// and no change of modes, which would stop it again from the background.
TEST(TerminalTest, KilledWhileStoppedInTheBackgroundEndsWithoutTouchingTheTerminal) {
    Program program = FunctionBody(DrawThenWaitForKey);
    program.shellTakesTerminalOnStop = true;
    Child child = StartInPseudoTerminal(program);
    ChildGuard guard{child};
    ASSERT_TRUE(WaitForOutput(child, "ready"));
    kill(child.pid, SIGTSTP);
    ASSERT_TRUE(WaitForStop(child));
    ASSERT_TRUE(WaitForShellToTakeTerminal(child));
    ExpectTerminalRestored(child, 2);
    size_t writtenAtStop = child.out.size();

    kill(child.pid, SIGTERM);
    kill(child.pid, SIGCONT);
    ASSERT_TRUE(WaitForExit(child, 5000)) << "stopped again instead of ending";
    EXPECT_EQ(child.endSignal, SIGTERM);
    EXPECT_EQ(child.out.size(), writtenAtStop);
    ExpectTerminalRestored(child, 2);
}

// ---- Without a terminal -------------------------------------------------------------------

struct PipeCase {
    const char* name;
    std::string input;
    int exitStatus;
    std::string output;
    std::string errors;
};

TEST(TerminalTest, PlainTextWhenNeitherSideIsATerminal) {
    const PipeCase cases[] = {
        // The box's text is on standard error too, as one line.
        {"whole run", "take.wav\r\r", 0, "   Input file?  take.wav\n ERROR\na\nb\nDone\n",
         "phonoskew: a b\n"},
        {"CR LF lines", "take.wav\r\n\r\n", 0, "   Input file?  take.wav\n ERROR\na\nb\nDone\n",
         "phonoskew: a b\n"},
        {"input ends at the prompt", "take", 2, "   Input file?  take\n",
         "phonoskew: standard input ended while waiting for a path\n"},
        {"input ends in the box", "take.wav\rxy", 2, "   Input file?  take.wav\n ERROR\na\nb\n",
         "phonoskew: a b\n"
         "phonoskew: standard input ended while a message box was waiting for a key\n"},
    };
    for (const PipeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Child child = RunPiped(FunctionBody(PromptBoxAndDone), c.input);
        EXPECT_EQ(child.exitStatus, c.exitStatus);  // an exit, not a signal (128 + signal)
        EXPECT_EQ(child.out, c.output);
        EXPECT_EQ(child.err, c.errors);
        EXPECT_EQ(child.out.find('\x1b'), std::string::npos);
    }
}

// A reader of the transcript sees each row as soon as it is finished: a
// step's title while the step works, the last line while a key is awaited.
TEST(TerminalTest, PlainTextRowsGoOutAsSoonAsTheyAreFinished) {
    struct Case {
        void (*body)();
        const char* row;
    };
    const Case cases[] = {
        {StepTitleThenWork, "   Reading file data...\n"},
        {QuitPromptThenWaitForKey, "   press any key to quit\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        Child child = StartPiped(FunctionBody(c.body));
        ChildGuard guard{child};
        EXPECT_TRUE(WaitForOutput(child, c.row, 5000)) << child.out;
        EXPECT_EQ(child.exitStatus, -1);  // still at work, or waiting
    }
}

}  // namespace
