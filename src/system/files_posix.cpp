// Opening, reading and replacing files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
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

// Writes all `size` bytes, carrying on after partial writes and interrupts.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        data += put;
        size -= size_t(put);
    }
    return true;
}

}  // namespace

// Where unnamed files are not offered: a named temporary file renamed over
// the output. Only a kill that cannot be held (SIGKILL) can leave it behind.
int ReplaceThroughNamedFile(const std::string& path,
                            std::initializer_list<std::span<const uint8_t>> pieces) {
    // While a temporary file exists, a request to stop (from the terminal or
    // kill) waits until it has been renamed or removed, so stopping the
    // program never leaves a stray temporary file beside the outputs.
    SignalsHeld held(HeldSignals::OutsideEnding);
    std::string tempName = MakeTempTemplate(path);
    int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) return errno;

    bool written = fchmod(fd, NewFileMode()) == 0;
    for (std::span<const uint8_t> piece : pieces) {
        written = written && WriteAll(fd, piece.data(), piece.size());
    }
    int error = errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(tempName.c_str(), path.c_str()) == 0) return 0;
    if (written) error = errno;
    unlink(tempName.c_str());
    return error;
}

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a rename replaces gives its pages back when its last reference
// goes, which for a large output keeps the kernel busy for milliseconds.
// Holding a reference across the rename and dropping it on a thread of its
// own lets the job go on meanwhile. The thread takes no signal but its own
// faults; the next
// release, or the end of the program, waits for it.
bool releaseOnThread = false;

void ReleaseLater(int heldFd) {
    if (!releaseOnThread) {
        close(heldFd);
        return;
    }
    static std::jthread releaser;
    StartHelperThread(releaser, [heldFd] { close(heldFd); });
}

// Gives the complete unnamed file `fd` the name `path`: directly when no
// file has it, else under a fresh temporary name renamed over it. Returns 0,
// the error, or -1 when names cannot be given this way at all.
int NameUnnamedFile(int fd, const std::string& path) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != EEXIST) return errno == ENOENT && access("/proc/self/fd", F_OK) != 0 ? -1 : errno;
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
        int replaced = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (rename(tempName.c_str(), path.c_str()) == 0) {
            if (replaced >= 0) ReleaseLater(replaced);
            return 0;
        }
        int error = errno;
        if (replaced >= 0) close(replaced);
        unlink(tempName.c_str());
        return error;
    }
    return EEXIST;
}

}  // namespace

// The data goes to an unnamed file in the output's folder, which gets its
// name only when complete: a kill while it is written, even one that cannot
// be held, leaves no file behind. Replacing an existing output takes a
// temporary name for an instant before the rename, where only SIGKILL can
// leave it. Where the file system has no unnamed files, a named temporary
// file takes its place.
void ReleaseReplacedFilesOnThread(bool onThread) { releaseOnThread = onThread; }

int ReplaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces) {
    SignalsHeld held(HeldSignals::OutsideEnding);  // no stray temporary file on a stop
    int fd = open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return ReplaceThroughNamedFile(path, pieces);
        }
        return errno;
    }
    bool written = true;
    for (std::span<const uint8_t> piece : pieces) {
        written = written && WriteAll(fd, piece.data(), piece.size());
    }
    int error = written ? NameUnnamedFile(fd, path) : errno;
    close(fd);
    if (error == -1) return ReplaceThroughNamedFile(path, pieces);
    return error;
}
