// Files: every way Phonoskew touches the file system, written once. A file
// opened for reading must be a regular file, and opening never blocks (a FIFO
// or a device is refused, not waited on); reads carry on after short reads
// and interrupts and stop quietly at the end of the file; an output file is
// replaced whole, through a temporary file beside it and a rename, or left
// alone. Nothing here prints: every failure comes back as the system's error
// number, which `ErrorText` turns into words. The folder also holds what the
// process may have of the machine: its memory and the job's large arrays
// (files/memory.h), and its processors (below).
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Error number for a path that names something other than a regular file.
constexpr int NotRegularFile = -1;

// The system's words for an error number ("No such file or directory").
std::string ErrorText(int error);

// ---- Reading ------------------------------------------------------------------

struct OpenResult {
    int Fd = -1;    // open for reading when >= 0
    int Error = 0;  // else why not
};

// Opens `path`, taken whole, for reading if it names a regular file.
OpenResult OpenForReading(const std::string& path);

// Closes a descriptor, ignoring interrupts.
void CloseFile(int fd);

struct ReadResult {
    size_t Bytes = 0;  // read before the end of the file or the error
    int Error = 0;
};

// Reads up to `size` bytes from byte `offset` on. The end of the file is not
// an error: fewer bytes come back.
ReadResult ReadAt(int fd, void* buffer, size_t size, uint64_t offset);

// Opens `path`, reads up to `size` bytes from `offset` on, and closes it.
ReadResult ReadFileAt(const std::string& path, void* buffer, size_t size, uint64_t offset);

struct TextResult {
    std::string Text;
    int Error = 0;
};

// The whole text of a small file, such as a system status file whose size
// is not known in advance. A file longer than `maxBytes` gives its first
// `maxBytes` bytes.
TextResult ReadSmallFile(const std::string& path, size_t maxBytes);

// Reads a file, or a text, a byte at a time through a small buffer: a file
// of any size in fixed memory. A read error counts as the end of the file.
struct ByteReader {
    int Fd = -1;  // the file, or -1 for a text
    const char* Data = nullptr;
    size_t Size = 0;  // bytes at Data
    size_t At = 0;    // the next one
    uint64_t FileOffset = 0;
    std::vector<char> Buffer;
};
ByteReader ReadFromText(std::string_view text);
ByteReader ReadFromFile(int fd);

// The next byte (0 to 255) without taking it, or -1 at the end.
int PeekByte(ByteReader& reader);
void SkipByte(ByteReader& reader);

// ---- Writing --------------------------------------------------------------------

// Makes a write beyond the file-size limit (`ulimit -f`) fail with EFBIG, as
// a full disk fails with ENOSPC, instead of ending the program by SIGXFSZ.
void ReportFileSizeLimitAsError();

// The signals by which someone outside asks the program to end (kill, the
// terminal, batch systems' time limits, timers, the real-time signals): each
// ends the program by default. They are held while a temporary file exists,
// and they, with the faults, get the terminal's restoring handler.
sigset_t OutsideEndingSignals();

// Every signal but the faults of a thread's own code: what a helper thread
// holds, so that stop, terminal and ending signals reach the main thread.
sigset_t AllButFaultSignals();

// Holds `signals` back on this thread while it lives, then puts the mask
// back as it was. Every place that holds signals uses it: a write that a
// handler must not cut into, a temporary file a stop must not leave behind,
// and the start of a helper thread, which takes the mask in force then.
struct SignalsHeld {
    sigset_t previous;
    explicit SignalsHeld(const sigset_t& signals) {
        pthread_sigmask(SIG_BLOCK, &signals, &previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Replaces the file `path` with the given pieces, one after the other: they
// are written to an unnamed file in the same folder, which gets the name
// only when complete (where the file system cannot, a named temporary file
// renamed over `path`). On failure nothing is left behind and `path` is
// untouched. Stop signals wait until the write is over. Only SIGKILL, which
// cannot wait, can leave a file: the complete new one, when it strikes
// between the temporary name and the rename over an existing `path` (or,
// without unnamed files, a part of it), under the temporary name: `path`
// followed by a dot and six letters or digits. Returns 0 or the error.
int ReplaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces);

// Whether the file a replacement renames over gives its pages back on a
// thread of its own while the caller goes on, or at once (the default).
void ReleaseReplacedFilesOnThread(bool onThread);

// The same through a named temporary file, the way on file systems without
// unnamed files.
int ReplaceThroughNamedFile(const std::string& path,
                            std::initializer_list<std::span<const uint8_t>> pieces);

// ---- Processors the process can use ----------------------------------------------

// The least of: the processors the process may run on (its CPU affinity)
// and the CPU quota of its control group and of each group above it, in
// whole processors rounded up. At least 1.
int ProcessorsAvailable();

// The parts, for tests: the processors of a CPU quota and its period
// (version 2's cpu.max holds both, "max 100000" when there is none;
// version 1's cpu.cfs_quota_us says -1), rounded up; 0 for no bound.
int ProcessorsInQuota(std::string_view quota, std::string_view period);
