// Process and pseudo-terminal plumbing for the end-to-end tests.
#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void Put24(std::string& bytes, int32_t sample) {
    auto v = static_cast<uint32_t>(sample);
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>((v >> 8) & 0xFF);
    bytes += static_cast<char>((v >> 16) & 0xFF);
}

void PutLE(std::string& bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

[[noreturn]] void ExecPhonoskew(const fs::path& dir) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::string binary = PhonoskewBinary();
    execl(binary.c_str(), "phonoskew", static_cast<char*>(nullptr));
    _exit(127);
}

// Reads what is there within `waitMs`; false at end of output.
bool ReadSome(int fd, std::string& into, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;  // EIO on a pty once the program has gone
    into.append(buffer, static_cast<size_t>(n));
    return true;
}

}  // namespace

std::string PhonoskewBinary() {
    const char* path = std::getenv("PHONOSKEW_BIN");
    return path ? path : "phonoskew";
}

ScratchDir::ScratchDir() {
    char name[] = "/tmp/phonoskew-e2e-XXXXXX";
    path = mkdtemp(name);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string CanonicalWaveHeader(uint64_t frames) {
    auto dataSize = static_cast<uint32_t>(6 * frames);
    std::string bytes = "RIFF";
    PutLE(bytes, dataSize + 36, 4);
    bytes += "WAVEfmt ";
    PutLE(bytes, 16, 4);
    PutLE(bytes, 1, 2);
    PutLE(bytes, 2, 2);
    PutLE(bytes, 96000, 4);
    PutLE(bytes, 576000, 4);
    PutLE(bytes, 6, 2);
    PutLE(bytes, 24, 2);
    bytes += "data";
    PutLE(bytes, dataSize, 4);
    return bytes;
}

std::string MakeWave(const std::vector<int32_t>& left, const std::vector<int32_t>& right) {
    std::string bytes = CanonicalWaveHeader(left.size());
    for (size_t n = 0; n < left.size(); ++n) {
        Put24(bytes, left[n]);
        Put24(bytes, right[n]);
    }
    return bytes;
}

std::string CoefficientText(const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& field : fields) text += field + "\r\n";
    return text;
}

PipedRun RunPiped(const fs::path& dir, const std::string& input, int timeoutSeconds) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        ExecPhonoskew(dir);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
        // The program may have ended before reading all of it.
    }
    close(in[1]);

    PipedRun run;
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && Clock::now() < deadline) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        char buffer[65536];
        if (fds[0].revents) {
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                outOpen = false;
            else
                run.out.append(buffer, static_cast<size_t>(n));
        }
        if (fds[1].revents) {
            ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n <= 0)
                errOpen = false;
            else
                run.err.append(buffer, static_cast<size_t>(n));
        }
    }
    if (outOpen || errOpen) kill(pid, SIGKILL);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitStatus = DecodeStatus(status);
    return run;
}

PtyRun StartInPty(const fs::path& dir, int rows, int columns) {
    PtyRun run;
    run.screen = MakeVtScreen(rows, columns);
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    char name[256] = {};
    if (openpty(&run.master, &run.slave, name, nullptr, &size) != 0) return run;
    run.slaveName = name;
    // Read before forking: the program may enter raw mode at once.
    tcgetattr(run.slave, &run.initialModes);
    run.pid = fork();
    if (run.pid == 0) {
        setsid();
        ioctl(run.slave, TIOCSCTTY, 0);
        for (int fd = 0; fd <= 2; ++fd) dup2(run.slave, fd);
        close(run.slave);
        close(run.master);
        setenv("TERM", "xterm-256color", 1);
        ExecPhonoskew(dir);
    }
    return run;
}

void SendKeys(PtyRun& run, const std::string& keys) {
    if (write(run.master, keys.data(), keys.size()) < 0) {
        // The program has gone; the test's next wait will say so.
    }
}

bool WaitForScreen(PtyRun& run, const std::function<bool(const VtScreen&)>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done(run.screen)) return true;
        if (Clock::now() >= deadline) return false;
        std::string chunk;
        bool open = ReadSome(run.master, chunk, 50);
        run.raw += chunk;
        FeedVt(run.screen, chunk);
        if (!open && chunk.empty()) return done(run.screen);
    }
}

bool WaitForRowText(PtyRun& run, int row, const std::string& text, int timeoutMs) {
    return WaitForScreen(
        run, [&](const VtScreen& s) { return VtRowText(s, row) == text; }, timeoutMs);
}

bool WaitForExit(PtyRun& run, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string chunk;
        bool open = ReadSome(run.master, chunk, 20);
        run.raw += chunk;
        FeedVt(run.screen, chunk);
        int status = 0;
        if (run.exitStatus < 0 && waitpid(run.pid, &status, WNOHANG) == run.pid) {
            run.exitStatus = DecodeStatus(status);
        }
        if (run.exitStatus >= 0 && (!open || chunk.empty())) return true;
        if (Clock::now() >= deadline) return false;
    }
}

void StopPty(PtyRun& run) {
    if (run.exitStatus < 0 && run.pid > 0) {
        kill(run.pid, SIGKILL);
        int status = 0;
        waitpid(run.pid, &status, 0);
        run.exitStatus = DecodeStatus(status);
    }
    if (run.master >= 0) close(run.master);
    if (run.slave >= 0) close(run.slave);
    run.master = run.slave = -1;
}
