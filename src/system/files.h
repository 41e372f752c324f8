// The system layer: everything Phonoskew asks of the operating system,
// behind plain functions that mean the same on every system it runs on.
// Its headers: files (this one), memory and the job's large arrays
// (memory.h), the processors the process may use (processors.h), signals,
// holds and helper threads (signals.h), and the terminal device the console
// draws on and reads keys from (terminal_device.h). The rest of the program
// holds no system call, no system header and no system difference of its
// own; the system's status files are read through one reader
// (status_files.h).
//
// Files: every way Phonoskew touches the file system, written once. A file
// opened for reading must be a regular file, and opening never blocks (a FIFO
// or a device is refused, not waited on); reads carry on after short reads
// and interrupts and stop quietly at the end of the file; an output file is
// replaced whole, through a temporary file beside it and a rename, or left
// alone. Nothing here prints: every failure comes back as an error number of
// <cerrno> (ENOENT, ENOSPC, ...) on every system, which `ErrorText` turns
// into words.
#pragma once

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

// An open file, or NoFile.
using FileHandle = intptr_t;
constexpr FileHandle NoFile = -1;

struct OpenResult {
    FileHandle File = NoFile;  // open for reading unless NoFile
    int Error = 0;             // else why not
};

// Opens `path`, taken whole, for reading if it names a regular file.
OpenResult OpenForReading(const std::string& path);

// Closes a file; NoFile is left alone.
void CloseFile(FileHandle file);

struct ReadResult {
    size_t Bytes = 0;  // read before the end of the file or the error
    int Error = 0;
};

// Reads up to `size` bytes from byte `offset` on. The end of the file is not
// an error: fewer bytes come back.
ReadResult ReadAt(FileHandle file, void* buffer, size_t size, uint64_t offset);

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
    FileHandle File = NoFile;  // the file, or NoFile for a text
    const char* Data = nullptr;
    size_t Size = 0;  // bytes at Data
    size_t At = 0;    // the next one
    uint64_t FileOffset = 0;
    std::vector<char> Buffer;
};
ByteReader ReadFromText(std::string_view text);
ByteReader ReadFromFile(FileHandle file);

// The next byte (0 to 255) without taking it, or -1 at the end.
int PeekByte(ByteReader& reader);
void SkipByte(ByteReader& reader);

// ---- Writing --------------------------------------------------------------------

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
