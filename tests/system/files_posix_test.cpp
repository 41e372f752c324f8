// The file layer where POSIX systems alone can show it: FIFOs and devices,
// status files, new files' permissions, and a replacement killed or
// stopped by a signal mid-write; the processors under an affinity mask.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch.h"
#include "system/files.h"

namespace {

TEST(OpenForReading, FifosAndDevicesAreRefusedWithoutBlocking) {
    ScratchDir dir;
    std::string fifo = dir.File("FOP.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(OpenForReading(fifo).Error, NotRegularFile);
    EXPECT_EQ(OpenForReading("/dev/null").Error, NotRegularFile);
}

// Status files report a size of 0 yet have text.
TEST(ReadSmallFile, ReadsFilesOfUnknownSize) {
    TextResult status = ReadSmallFile("/proc/self/status", 1 << 20);
    EXPECT_EQ(status.Error, 0);
    EXPECT_NE(status.Text.find("VmRSS"), std::string::npos);
}

// A new output gets the user's permissions, by either way of replacing.
TEST(ReplaceFile, NewFilesTakeTheUsersPermissions) {
    using Replace = int (*)(const std::string&, std::initializer_list<std::span<const uint8_t>>);
    mode_t mask = umask(0);
    umask(mask);
    for (Replace replace : {ReplaceFile, ReplaceThroughNamedFile}) {
        ScratchDir dir;
        const uint8_t bytes[] = {'R', 'I'};
        std::string name = dir.File("out.wav");
        EXPECT_EQ(replace(name, {bytes}), 0);
        struct stat status {};
        ASSERT_EQ(stat(name.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    }
}

// The size of the largest file under `dir` that process `pid` has open (a
// temporary file being written, named or not), or -1 when it has none.
long long OpenFileBytesUnder(pid_t pid, const fs::path& dir) {
    const std::string prefix = dir.string() + "/";
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    long long largest = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fds, error)) {
        std::string target = fs::read_symlink(entry.path(), error).string();
        struct stat status {};
        if (error || target.compare(0, prefix.size(), prefix) != 0) continue;
        if (stat(entry.path().c_str(), &status) == 0) {
            largest = std::max(largest, static_cast<long long>(status.st_size));
        }
    }
    return largest;
}

// Waits until process `pid` has written into a file under `dir`, the
// replacement's temporary file: the write is then under way. False when the
// write ended first (`ended` says so), or the child `pid` did.
bool WaitUntilWriting(pid_t pid, const ScratchDir& dir, const std::atomic<bool>* ended,
                      int* childStatus = nullptr) {
    while (OpenFileBytesUnder(pid, dir.path) <= 0) {
        if (ended && *ended) return false;
        if (childStatus && waitpid(pid, childStatus, WNOHANG) == pid) return false;
        sched_yield();
    }
    return true;
}

// SIGKILL cannot be held: killed in the middle of writing 256 MB, the
// writer leaves the old file as it was and nothing else.
TEST(ReplaceFile, KilledMidWriteLeavesNothingBehind) {
    ScratchDir dir;
    std::string name = dir.File("out.wav");
    std::ofstream(name, std::ios::binary) << "old";
    pid_t child = fork();
    if (child == 0) {
        std::vector<uint8_t> data(size_t{256} << 20, 7);
        ReplaceFile(name, {data});
        _exit(0);
    }
    int status = 0;
    if (WaitUntilWriting(child, dir, nullptr, &status)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(WIFSIGNALED(status)) << "the write ended before the kill: make it longer";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(ReadFileBytes(name), "old");
}

// A stop request (SIGTERM) that arrives in the middle of a write must wait
// until the file has its final name, or a stopped program would leave a
// temporary file behind. The handler looks at the moment it runs.
volatile sig_atomic_t outputExistedAtSignal = -1;
const char* signalledOutputName = nullptr;

void NoteOutputAtSignal(int) { outputExistedAtSignal = access(signalledOutputName, F_OK) == 0; }

TEST(ReplaceFile, StopSignalWaitsUntilTheFileIsComplete) {
    ScratchDir dir;
    std::string name = dir.File("big.wav");
    signalledOutputName = name.c_str();
    struct sigaction action {
    }, previous{};
    action.sa_handler = NoteOutputAtSignal;
    sigaction(SIGTERM, &action, &previous);

    std::vector<uint8_t> data(size_t{96} << 20, 7);
    std::atomic<bool> ended = false;
    std::thread sender([&dir, &ended] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);  // the signal must go to the writer
        if (WaitUntilWriting(getpid(), dir, &ended)) kill(getpid(), SIGTERM);
    });
    int error = ReplaceFile(name, {data});
    ended = true;
    sender.join();  // the held signal ran its handler when the write ended
    sigaction(SIGTERM, &previous, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(outputExistedAtSignal, 1) << "-1: the write ended before the signal: make it longer";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"big.wav"});
}

// A removed working folder refuses an unnamed file with EPERM: the retry
// box says the folder is not there.
TEST(CreateOutputFile, AFolderThatIsGoneIsSaidAsSuch) {
    ScratchDir dir;
    const fs::path gone = dir.path / "gone";
    fs::create_directory(gone);
    const fs::path previous = fs::current_path();
    fs::current_path(gone);
    fs::remove(gone);
    OutputFile output = CreateOutputFile("out.wav");
    fs::current_path(previous);
    EXPECT_EQ(output.Error, ENOENT);
    DiscardOutputFile(output);
}

// A named temporary file that can be neither named nor removed (its folder
// made append-only while it was written: nothing leaves it, not even for
// root) is cut to nothing and named.
TEST(NameOutputFile, ALeftoverTemporaryFileIsEmptiedAndNamed) {
    ScratchDir dir;
    OutputFile output = CreateNamedOutputFile(dir.File("out.wav"));
    ASSERT_EQ(output.Error, 0);
    const std::vector<uint8_t> bytes(100000, 7);
    ASSERT_EQ(WriteAt(output.File, bytes, 0), 0);
    const std::string temporary = output.TempName;
    int folder = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0 ||
        ioctl(folder, FS_IOC_SETFLAGS, &(flags |= FS_APPEND_FL)) != 0) {
        close(folder);
        DiscardOutputFile(output);
        GTEST_SKIP() << "no append-only folders here";
    }
    EXPECT_NE(NameOutputFile(output), 0);
    flags &= ~FS_APPEND_FL;
    ioctl(folder, FS_IOC_SETFLAGS, &flags);
    close(folder);
    EXPECT_EQ(output.Leftover, temporary);
    EXPECT_EQ(fs::file_size(temporary), 0u);
    EXPECT_FALSE(fs::exists(dir.path / "out.wav"));
}

}  // namespace
