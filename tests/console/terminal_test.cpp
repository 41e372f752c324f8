// The terminal backend end to end: a child process runs the console in a
// pseudo-terminal (or with pipes) and the test checks what reached the
// terminal and the modes it was left in, for every way the child ends.
#include "console/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "console/screen.h"

namespace {

// ---- Running a child ------------------------------------------------------------

struct Child {
    pid_t pid = -1;
    int output = -1;  // pty master, or the read end of the stdout pipe
    int input = -1;   // where to write keys
    int errors = -1;  // read end of the stderr pipe (pipes only)
    std::string slaveName;
    termios initialModes{};  // the terminal's modes before the child started
};

void NoCoreFiles() {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

// Terminal output with its control bytes made visible, for failure messages.
std::string EscapeForMessage(const std::string& bytes) {
    std::string shown;
    for (char ch : bytes) {
        if (ch == '\x1b')
            shown += "\\e";
        else if (static_cast<unsigned char>(ch) < 32)
            shown += "^" + std::string(1, static_cast<char>(ch + 64));
        else
            shown += ch;
    }
    return shown;
}

termios ModesOf(const std::string& slaveName) {
    termios modes{};
    int fd = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    tcgetattr(fd, &modes);
    close(fd);
    return modes;
}

Child StartInPseudoTerminal(void (*body)(), unsigned short rows, unsigned short columns) {
    Child child;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return child;
    child.slaveName = ptsname(master);
    winsize size{rows, columns, 0, 0};
    ioctl(master, TIOCSWINSZ, &size);
    // Read before forking: the child may enter raw mode at once.
    child.initialModes = ModesOf(child.slaveName);
    child.pid = fork();
    if (child.pid == 0) {
        NoCoreFiles();
        setsid();
        int slave = open(child.slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
        ioctl(slave, TIOCSCTTY, 0);
        for (int fd = 0; fd <= 2; ++fd) dup2(slave, fd);
        close(slave);
        close(master);
        body();
        exit(0);
    }
    child.output = master;
    child.input = master;
    return child;
}

Child StartWithPipes(void (*body)()) {
    Child child;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        NoCoreFiles();
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        body();
        exit(0);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    child.input = in[1];
    child.output = out[0];
    child.errors = err[0];
    return child;
}

// Reads what is there within `milliseconds`; false when nothing more comes.
bool ReadSome(int fd, std::string& into, int milliseconds) {
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, milliseconds) <= 0) return false;
    char bytes[4096];
    ssize_t count = read(fd, bytes, sizeof bytes);
    if (count <= 0) return false;  // EIO from a pty master once the child is gone
    into.append(bytes, static_cast<size_t>(count));
    return true;
}

bool ReadUntil(int fd, std::string& into, const std::string& marker) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (into.find(marker) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ReadSome(fd, into, 50);
    }
    return true;
}

// Collects the rest of the output and the child's status.
int FinishChild(const Child& child, std::string& output) {
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            ADD_FAILURE() << "child did not end";
            break;
        }
        ReadSome(child.output, output, 20);
    }
    while (ReadSome(child.output, output, 50)) {
    }
    return status;
}

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

// ---- Raw mode and restoring -------------------------------------------------------------

struct EndingCase {
    const char* name;
    const char* key;  // typed, or nullptr to send the signal
    int signal;
};

TEST(TerminalTest, RawModeIsEnteredAndFullyRestoredOnEveryWayOut) {
    const EndingCase cases[] = {
        {"a key ends the final wait", "x", 0}, {"Ctrl+C is a key, not a signal", "\x03", 0},
        {"SIGTERM", nullptr, SIGTERM},         {"SIGHUP", nullptr, SIGHUP},
        {"SIGINT", nullptr, SIGINT},           {"SIGQUIT", nullptr, SIGQUIT},
        {"SIGSEGV", nullptr, SIGSEGV},         {"SIGABRT", nullptr, SIGABRT},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Child child = StartInPseudoTerminal(DrawThenWaitForKey, 55, 80);
        ASSERT_GT(child.pid, 0);
        termios before = child.initialModes;
        std::string output;
        ASSERT_TRUE(ReadUntil(child.output, output, "ready"));

        termios raw = ModesOf(child.slaveName);
        EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(raw.c_iflag & (ICRNL | IXON | IXOFF), 0u);
        EXPECT_NE(before.c_lflag & (ECHO | ICANON | ISIG), 0u);

        if (c.key) {
            ssize_t written = write(child.input, c.key, 1);
            EXPECT_EQ(written, 1);
        } else {
            kill(child.pid, c.signal);
        }
        int status = FinishChild(child, output);
        if (c.key) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_NE(output.find("after key"), std::string::npos);
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        }

        termios after = ModesOf(child.slaveName);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
        EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
        // The restore comes last: cursor to a clean line just below the
        // last row of text ("ready", then "after key"), colours reset, the
        // cursor shown; nothing scrolls the final screen away.
        const std::string restore = c.key ? "\x1b[3;1H\x1b[0m" : "\x1b[2;1H\x1b[0m";
        size_t restoreAt = output.rfind(restore);
        ASSERT_NE(restoreAt, std::string::npos) << EscapeForMessage(output);
        std::string tail = output.substr(restoreAt + restore.size());
        EXPECT_EQ(tail, "\x1b[K\x1b[?25h");
        close(child.output);
    }
}

TEST(TerminalTest, DrawsColoursTitleAndCursorWithEscapeSequences) {
    Child child = StartInPseudoTerminal(DrawThenWaitForKey, 55, 80);
    ASSERT_GT(child.pid, 0);
    std::string output;
    ASSERT_TRUE(ReadUntil(child.output, output, "ready"));
    ssize_t written = write(child.input, "x", 1);
    EXPECT_EQ(written, 1);
    FinishChild(child, output);
    close(child.output);
    EXPECT_NE(output.find("\x1b]2;Phonoskew\a"), std::string::npos);
    EXPECT_NE(output.find("\x1b[2J"), std::string::npos);
    EXPECT_NE(output.find("\x1b[30;107m"), std::string::npos) << output;  // black on bright white
    EXPECT_NE(output.find("\x1b[?25lready\x1b[2;1Hafter key"), std::string::npos);
    EXPECT_EQ(output.find("\x1b[?1049h"), std::string::npos);  // never the alternate screen
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
        {"whole run", "take.wav\r\r", 0, "   Input file?  take.wav\n ERROR\na\nb\nDone\n", ""},
        {"CR LF lines", "take.wav\r\n\r\n", 0, "   Input file?  take.wav\n ERROR\na\nb\nDone\n",
         ""},
        {"input ends at the prompt", "take", 2, "   Input file?  take\n",
         "phonoskew: standard input ended while waiting for a path\n"},
        {"input ends in the box", "take.wav\rxy", 2, "   Input file?  take.wav\n ERROR\na\nb\n",
         "phonoskew: standard input ended while a message box was waiting for a key\n"},
    };
    for (const PipeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Child child = StartWithPipes(PromptBoxAndDone);
        ASSERT_GT(child.pid, 0);
        ssize_t written = write(child.input, c.input.data(), c.input.size());
        EXPECT_EQ(written, static_cast<ssize_t>(c.input.size()));
        close(child.input);
        std::string output;
        int status = FinishChild(child, output);
        std::string errors;
        while (ReadSome(child.errors, errors, 50)) {
        }
        close(child.output);
        close(child.errors);
        EXPECT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), c.exitStatus);
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(output.find('\x1b'), std::string::npos);
    }
}

}  // namespace
