// Opening, reading and replacing files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <thread>

#include "system/files.h"
#include "system/signals.h"

// ---- Reading ------------------------------------------------------------------

OpenResult OpenForReading(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not hang waiting for a writer. It has
    // no effect on the reads of a regular file.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {NoFile, errno};
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        int error = S_ISDIR(status.st_mode) ? EISDIR : NotRegularFile;
        close(fd);
        return {NoFile, error};
    }
    return {FileHandle{fd}, 0};
}

void CloseFile(FileHandle file) {
    // On Linux the descriptor is gone even when close reports EINTR, so it
    // is never retried.
    if (file != NoFile) close(int(file));
}

ReadResult ReadAt(FileHandle file, void* buffer, size_t size, uint64_t offset) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    ReadResult result;
    // One logical read; the loop only carries on where the system returned
    // less than asked (it caps single reads near 2 GiB).
    while (result.Bytes < size) {
        ssize_t got = pread(int(file), bytes + result.Bytes, size - result.Bytes,
                            off_t(offset + result.Bytes));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result.Error = errno;
            break;
        }
        if (got == 0) break;
        result.Bytes += size_t(got);
    }
    return result;
}

int64_t FileLength(FileHandle file) {
    struct stat status {};
    return fstat(int(file), &status) == 0 ? int64_t(status.st_size) : -1;
}

FileStamp StampOf(FileHandle file) {
    struct stat status {};
    if (fstat(int(file), &status) != 0) return {};
    return {int64_t(status.st_size),
            int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// ---- The program's own names ------------------------------------------------------

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string ProgramFile() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 && size_t(length) < sizeof path ? std::string(path, size_t(length)) : "";
}

// ---- Writing --------------------------------------------------------------------

namespace {

// Template for the temporary file: beside the output, named after it when
// that still fits a file name, else a short hidden name in the same folder.
std::string MakeTempTemplate(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t baseLength = slash == std::string::npos ? path.size() : path.size() - slash - 1;
    if (baseLength + 7 <= NAME_MAX) return path + ".XXXXXX";
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    return folder + ".phonoskew.XXXXXX";
}

// The permissions a newly created file would get (mkstemp makes it 0600).
mode_t NewFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A named temporary file that exists now, for the signal handlers to
// remove: a stage writes its output for seconds, too long to hold the
// ending signals, and the handler's unlink is async-signal-safe.
char pendingTemporary[4096];
volatile sig_atomic_t pendingTemporaryLength = 0;

void NotePendingTemporary(const std::string& name) {
    if (name.size() >= sizeof pendingTemporary) return;
    SignalsHeld held(HeldSignals::Every);
    std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
    pendingTemporaryLength = sig_atomic_t(name.size());
}

void ForgetPendingTemporary() {
    SignalsHeld held(HeldSignals::Every);
    pendingTemporaryLength = 0;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a rename replaces gives its pages back when its last reference
// goes, which for a large output keeps the kernel busy for milliseconds.
// Holding a reference across the rename and dropping it on a thread of its
// own lets the job go on meanwhile. The thread takes no signal but its own
// faults; the next release, or the end of the program, waits for it.
bool releaseOnThread = false;

void ReleaseLater(int heldFd) {
    if (!releaseOnThread) {
        close(heldFd);
        return;
    }
    static std::jthread releaser;
    StartHelperThread(releaser, [heldFd] { close(heldFd); });
}

// Renames `from` over `path`, the replaced file's pages given back later.
int RenameOver(const std::string& from, const std::string& path) {
    int replaced = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (rename(from.c_str(), path.c_str()) == 0) {
        if (replaced >= 0) ReleaseLater(replaced);
        return 0;
    }
    int error = errno;
    if (replaced >= 0) close(replaced);
    return error;
}

// Gives the complete unnamed file `fd` the name `path`: directly when no
// file has it, else under a fresh temporary name renamed over it. Returns 0
// or the error.
int NameUnnamedFile(int fd, const std::string& path) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != EEXIST) return errno;
    // The temporary name exists for an instant, with the ending signals
    // held: only SIGKILL can leave it.
    SignalsHeld held(HeldSignals::OutsideEnding);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tempName = MakeTempTemplate(path);
        unsigned value = unsigned(getpid()) * 2654435761u + unsigned(attempt) * 40503u +
                         unsigned(reinterpret_cast<uintptr_t>(&tempName));
        for (size_t at = tempName.size() - 6; at < tempName.size(); ++at, value /= 36) {
            tempName[at] = "abcdefghijklmnopqrstuvwxyz0123456789"[value % 36];
        }
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempName.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        int error = RenameOver(tempName, path);
        if (error != 0) unlink(tempName.c_str());
        return error;
    }
    return EEXIST;
}

// A named temporary file given up: removed, or, where its folder no longer
// lets it be removed (made read-only meanwhile), cut to nothing and kept
// in Leftover for the user to remove.
void GiveUpTemporary(OutputFile& output) {
    if (unlink(output.TempName.c_str()) != 0 && errno != ENOENT) {
        if (truncate(output.TempName.c_str(), 0) != 0) {
            // Its bytes stay; the name still tells the user what to remove.
        }
        output.Leftover = output.TempName;
    }
    ForgetPendingTemporary();
    output.TempName.clear();
}

}  // namespace

// ---- Output files ------------------------------------------------------------------

OutputFile CreateNamedOutputFile(const std::string& path) {
    OutputFile output;
    output.Path = path;
    std::string tempName = MakeTempTemplate(path);
    int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
        output.Error = errno;
        return output;
    }
    NotePendingTemporary(tempName);
    output.TempName = tempName;
    output.File = fd;
    if (fchmod(fd, NewFileMode()) != 0) output.Error = errno;
    return output;
}

// The data goes to an unnamed file in the output's folder, which gets its
// name only when complete: a kill while it is written, even one that cannot
// be held, leaves no file behind. Where the file system has no unnamed files
// (or /proc, through which one is named), a named temporary file takes its
// place, which an ending signal's handler removes.
OutputFile CreateOutputFile(const std::string& path) {
    if (int error = TakeOutputFailure(OutputStep::Create)) return {NoFile, path, "", error, ""};
    if (access("/proc/self/fd", F_OK) != 0) return CreateNamedOutputFile(path);
    int fd = open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        return CreateNamedOutputFile(path);
    }
    OutputFile output;
    output.Path = path;
    output.File = fd < 0 ? NoFile : FileHandle{fd};
    output.Error = fd < 0 ? errno : 0;
    // A removed folder (the working one, say) refuses an unnamed file with
    // EPERM; the user is told it is not there.
    struct stat folder {};
    if (output.Error == EPERM && stat(FolderOf(path).c_str(), &folder) == 0 && folder.st_nlink == 0)
        output.Error = ENOENT;
    return output;
}

int WriteAt(FileHandle file, std::span<const uint8_t> bytes, uint64_t offset) {
    if (int error = TakeOutputFailure(OutputStep::Write)) return error;
    const uint8_t* data = bytes.data();
    size_t size = bytes.size();
    while (size > 0) {
        ssize_t put = pwrite(int(file), data, size, off_t(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        if (put == 0) return ENOSPC;
        data += put;
        size -= size_t(put);
        offset += uint64_t(put);
    }
    return 0;
}

int NameOutputFile(OutputFile& output) {
    if (output.Error == 0) output.Error = TakeOutputFailure(OutputStep::Name);
    int error = output.Error;
    if (error == 0 && output.TempName.empty())
        error = NameUnnamedFile(int(output.File), output.Path);
    if (output.File != NoFile && close(int(output.File)) != 0 && error == 0) error = errno;
    output.File = NoFile;
    if (!output.TempName.empty()) {
        if (error == 0) error = RenameOver(output.TempName, output.Path);
        if (error == 0) {
            ForgetPendingTemporary();
            output.TempName.clear();
        } else {
            GiveUpTemporary(output);
        }
    }
    output.Error = error;
    return error;
}

void DiscardOutputFile(OutputFile& output) {
    if (output.File != NoFile) close(int(output.File));
    output.File = NoFile;
    if (!output.TempName.empty()) GiveUpTemporary(output);
}

void RemovePendingTemporaryFile() {
    if (pendingTemporaryLength > 0) unlink(pendingTemporary);
}

// ---- Scratch files ------------------------------------------------------------------

// Unnamed where the file system has unnamed files; else a named file
// removed at once, its name living only while the ending signals are held.
OpenResult CreateScratchFile(const std::string& besidePath) {
    int fd = open(FolderOf(besidePath).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return {fd, 0};
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return {NoFile, errno};
    std::string name = MakeTempTemplate(besidePath);
    SignalsHeld held(HeldSignals::OutsideEnding);
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return {NoFile, errno};
    unlink(name.c_str());
    return {fd, 0};
}

void ReleaseReplacedFilesOnThread(bool onThread) { releaseOnThread = onThread; }
