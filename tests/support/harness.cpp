// Process and pseudo-terminal plumbing for the console and end-to-end tests.
#include "support/harness.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(int timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

void SetEnvironment(const Program& program) {
    for (const char* name : {"LANG", "LC_ALL", "LC_CTYPE"}) unsetenv(name);
    for (const std::string& setting : program.environment) {
        size_t equals = setting.find('=');
        setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
}

[[noreturn]] void RunInChild(const Program& program) {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);  // the crash cases leave no core files
    signal(SIGPIPE, SIG_DFL);       // the test process ignores it; the child must not
    SetEnvironment(program);
    for (int fd : program.closedDescriptors) close(fd);
    // Only the standard descriptors go on to the program, whatever the test
    // runner left open: a limit on open files then means what it says.
    close_range(3, ~0u, 0);
    for (const auto& [resource, value] : program.limits) {
        rlimit limit{value, value};
        setrlimit(resource, &limit);
    }
    if (program.body) {
        program.body();
        exit(0);  // not _exit: the restore at exit is under test
    }
    if (chdir(program.folder.c_str()) != 0) _exit(126);
    std::string binary = PhonoskewBinary();
    std::vector<char*> argv{const_cast<char*>("phonoskew")};
    for (const std::string& argument : program.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
}

// One read from a descriptor poll found ready; at its end the descriptor is
// no longer watched (a pty master stays open: it is the input too).
void ReadReady(int& fd, bool isInput, std::string& into) {
    char bytes[65536];
    ssize_t count = read(fd, bytes, sizeof bytes);
    if (count > 0) {
        into.append(bytes, static_cast<size_t>(count));
        return;
    }
    if (!isInput) close(fd);
    fd = -1;
}

// Reads what comes within `waitMs`; true when something came (bytes or an end).
bool ReadOutput(Child& child, int waitMs) {
    if (child.output < 0 && child.errors < 0) waitMs = 1;  // only the end is left to wait for
    pollfd watched[2] = {{child.output, POLLIN, 0}, {child.errors, POLLIN, 0}};
    if (poll(watched, 2, waitMs) <= 0) return false;
    size_t known = child.out.size();
    if (watched[0].revents) ReadReady(child.output, child.output == child.input, child.out);
    if (watched[1].revents) ReadReady(child.errors, false, child.err);
    if (child.slave >= 0) FeedVt(child.screen, std::string_view(child.out).substr(known));
    return true;
}

void NoteStatus(Child& child, int status) {
    child.endSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    child.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + child.endSignal;
}

// True once the child has ended; notes its status.
bool Ended(Child& child) {
    int status = 0;
    if (child.exitStatus >= 0) return true;
    rusage usage{};
    if (child.leader <= 0 || wait4(child.leader, &status, WNOHANG, &usage) != child.leader)
        return false;
    NoteStatus(child, status);
    child.peakResidentBytes = uint64_t(usage.ru_maxrss) * 1024;
    return true;
}

// After the end: what is still on its way through the pipes or terminal.
void ReadRest(Child& child) {
    while (ReadOutput(child, 50)) {
    }
}

bool ReadUntil(Child& child, const std::function<bool()>& done, int timeoutMs) {
    Clock::time_point deadline = Deadline(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        if (!ReadOutput(child, 50) && Ended(child)) {
            ReadRest(child);
            return done();
        }
    }
    return true;
}

// Terminal output with its control bytes made visible, for failure messages.
std::string Visible(std::string_view bytes) {
    std::string shown;
    for (char ch : bytes) {
        if (ch == '\x1b') {
            shown += "\\e";
        } else if (static_cast<unsigned char>(ch) < 32) {
            shown += '^';
            shown += static_cast<char>(ch + '@');
        } else {
            shown += ch;
        }
    }
    return shown;
}

// The terminal's modes now.
termios ModesOf(const Child& child) {
    termios modes{};
    EXPECT_EQ(tcgetattr(child.slave, &modes), 0);
    return modes;
}

void CloseOnce(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Ends the way `status` says the child ended, so the test sees it.
[[noreturn]] void EndAs(int status) {
    if (WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

// The shell's stand-in: leads a new session with the terminal as its
// controlling terminal, runs the program as the foreground job in a process
// group of its own, reports the program's pid and ends as it ended. With a
// leader in the same session, the job's group is not orphaned, so SIGTSTP
// stops it as it would at a shell.
[[noreturn]] void LeadSession(int terminal, int report, const Program& program) {
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    pid_t pid = fork();
    if (pid == 0) {
        close(report);
        setpgid(0, 0);
        signal(SIGTTOU, SIG_IGN);  // a background group takes the terminal only so
        tcsetpgrp(terminal, getpid());
        signal(SIGTTOU, SIG_DFL);
        for (int fd = 0; fd <= 2; ++fd) dup2(terminal, fd);
        close(terminal);
        setenv("TERM", "xterm-256color", 1);
        RunInChild(program);
    }
    setpgid(pid, pid);  // on both sides, so neither waits for the other
    ssize_t ignored = write(report, &pid, sizeof pid);
    (void)ignored;
    close(report);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, program.shellTakesTerminalOnStop ? WUNTRACED : 0) < 0) {
            if (errno != EINTR) _exit(127);
            continue;
        }
        if (!WIFSTOPPED(status)) break;
        signal(SIGTTOU, SIG_IGN);
        tcsetpgrp(terminal, getpgrp());
    }
    close(terminal);
    EndAs(status);
}

// The state letter of a process in /proc ('T' when stopped), or 0.
char ProcessState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t nameEnd = line.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() ? line[nameEnd + 2] : 0;
}

}  // namespace

std::string PhonoskewBinary() {
    const char* path = std::getenv("PHONOSKEW_BIN");
    return path ? path : "phonoskew";
}

Child StartInPseudoTerminal(const Program& program, int rows, int columns) {
    Child child;
    winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
    int master = -1;
    if (openpty(&master, &child.slave, nullptr, nullptr, &size) != 0) return child;
    child.input = child.output = master;
    child.screen = MakeVtScreen(rows, columns);
    // Read before forking: the child may enter raw mode at once.
    tcgetattr(child.slave, &child.initialModes);
    int report[2];
    if (pipe(report) != 0) return child;
    child.leader = fork();
    if (child.leader == 0) {
        close(report[0]);
        close(master);
        LeadSession(child.slave, report[1], program);
    }
    close(report[1]);
    if (read(report[0], &child.pid, sizeof child.pid) != sizeof child.pid) child.pid = -1;
    close(report[0]);
    return child;
}

Child StartPiped(const Program& program) {
    Child child;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return child;
    child.pid = child.leader = fork();
    if (child.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        RunInChild(program);
    }
    signal(SIGPIPE, SIG_IGN);  // a child may end before reading all its input
    close(in[0]);
    close(out[1]);
    close(err[1]);
    child.input = in[1];
    child.output = out[0];
    child.errors = err[0];
    return child;
}

Child RunPiped(const Program& program, std::string_view input, int timeoutMs) {
    Child child = StartPiped(program);
    SendKeys(child, input);
    CloseOnce(child.input);
    if (child.pid > 0 && !WaitForExit(child, timeoutMs)) ADD_FAILURE() << "child did not end";
    StopChild(child);
    return child;
}

bool SendKeys(Child& child, std::string_view keys) {
    return keys.empty() ||
           write(child.input, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

bool WaitForOutput(Child& child, std::string_view text, int timeoutMs) {
    return ReadUntil(
        child, [&] { return child.out.find(text) != std::string::npos; }, timeoutMs);
}

bool WaitForScreen(Child& child, const std::function<bool(const VtScreen&)>& done, int timeoutMs) {
    return ReadUntil(
        child, [&] { return done(child.screen); }, timeoutMs);
}

bool WaitForRowText(Child& child, int row, const std::string& text, int timeoutMs) {
    return WaitForScreen(
        child, [&](const VtScreen& s) { return VtRowText(s, row) == text; }, timeoutMs);
}

bool WaitForExit(Child& child, int timeoutMs) {
    Clock::time_point deadline = Deadline(timeoutMs);
    while (!Ended(child)) {
        if (Clock::now() >= deadline) return false;
        ReadOutput(child, 20);
    }
    ReadRest(child);
    return true;
}

bool WaitForStop(Child& child, int timeoutMs) {
    Clock::time_point deadline = Deadline(timeoutMs);
    while (child.pid > 0 && ProcessState(child.pid) != 'T') {
        if (Clock::now() >= deadline || Ended(child)) return false;
        ReadOutput(child, 20);
    }
    ReadRest(child);
    return child.pid > 0;
}

bool WaitForShellToTakeTerminal(Child& child, int timeoutMs) {
    Clock::time_point deadline = Deadline(timeoutMs);
    for (;;) {
        // The master side answers for the terminal's foreground group.
        pid_t foreground = 0;
        if (ioctl(child.input, TIOCGPGRP, &foreground) == 0 && foreground > 0 &&
            foreground != child.pid)
            return true;
        if (Clock::now() >= deadline || Ended(child)) return false;
        ReadOutput(child, 10);
    }
}

void StopChild(Child& child) {
    if (child.leader > 0 && !Ended(child)) {
        // The leader, if any, then ends as the child did.
        kill(child.pid > 0 ? child.pid : child.leader, SIGKILL);
        int status = 0;
        waitpid(child.leader, &status, 0);
        NoteStatus(child, status);
    }
    if (child.output == child.input) child.output = -1;
    for (int* fd : {&child.input, &child.output, &child.errors, &child.slave}) CloseOnce(*fd);
}

void ExpectRawMode(const Child& child) {
    const termios& before = child.initialModes;
    termios during = ModesOf(child);
    EXPECT_NE(before.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(during.c_iflag & (ICRNL | IXON | IXOFF), 0u);
}

void ExpectTerminalRestored(const Child& child, int row, std::string_view notes) {
    const termios& before = child.initialModes;
    termios after = ModesOf(child);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);

    const std::string& output = child.out;
    std::string restore = "\x1b[" + std::to_string(row) + ";1H\x1b[0m\x1b[K\x1b[?25h";
    std::string_view last =
        std::string_view(output).substr(output.size() - std::min<size_t>(output.size(), 400));
    EXPECT_TRUE(output.ends_with(restore + std::string(notes)))
        << "row " << row << ", output ends ..." << Visible(last);
    int noteLines = static_cast<int>(std::count(notes.begin(), notes.end(), '\n'));
    EXPECT_EQ(child.screen.cursorRow, std::min(row + noteLines, child.screen.rows));
    EXPECT_EQ(child.screen.cursorColumn, 1);
    EXPECT_TRUE(child.screen.cursorVisible);
    EXPECT_EQ(child.screen.foreground, 7);
    EXPECT_EQ(child.screen.background, 0);
}
