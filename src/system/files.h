// The system layer: everything Phonoskew asks of the operating system,
// behind plain functions that mean the same on every system it runs on.
// Its headers: files (this one), the processors the process may use
// (processors.h, with Linux's control groups read in
// control_groups_linux.h), signals, holds and helper threads (signals.h),
// the terminal device the console draws on and reads keys from
// (terminal_device.h), standard error held away from the screen while a
// library probes (standard_error.h), the command line's options
// (options.h), and texts from outside as messages and this system's shell
// take them (quoting.h). The rest of the program holds no system call, no
// system header and no system difference of its own.
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
#include <filesystem>
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

// The size of an open file in bytes, or -1 when the system cannot tell.
int64_t FileLength(FileHandle file);

// What tells that a file changed: its length and its last modification
// time, as the system keeps them.
struct FileStamp {
    int64_t Length = -1;
    int64_t Modified = 0;  // nanoseconds, or the system's own unit
    bool operator==(const FileStamp&) const = default;
};
// The stamp of an open file; Length -1 when the system cannot tell.
FileStamp StampOf(FileHandle file);

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

// An output file being written: an unnamed file in the output's folder, or,
// where the file system has none, a named temporary file beside it. It gets
// its name only when complete; until then a kill, or a failure, leaves no
// file behind (a named temporary file is removed by the handlers of the
// ending signals; only SIGKILL, which cannot be handled, can leave it: the
// output's name followed by a dot and six letters or digits).
struct OutputFile {
    FileHandle File = NoFile;
    std::string Path;      // the name it gets when complete
    std::string TempName;  // the named temporary file, or "" for an unnamed one
    int Error = 0;         // why it could not be made or named, or 0
    // A named temporary file that could be neither named nor removed, left
    // empty, or "".
    std::string Leftover;
};

// Makes the file that will become `path`; Error says when it cannot.
OutputFile CreateOutputFile(const std::string& path);
// The same through a named temporary file, the way on file systems without
// unnamed files (and every way on Windows).
OutputFile CreateNamedOutputFile(const std::string& path);

// Writes all of `bytes` at byte `offset` of `file`. Threads may write
// different parts of one file at once. Returns 0 or the error.
int WriteAt(FileHandle file, std::span<const uint8_t> bytes, uint64_t offset);

// Gives the complete file its name, in one step replacing any file of that
// name, and closes it. Replacing an existing file takes a temporary name
// for an instant, with the ending signals held. Returns 0 or the error; on
// failure nothing is left behind and any file of that name is untouched.
int NameOutputFile(OutputFile& output);

// Closes the file and removes it, unnamed.
void DiscardOutputFile(OutputFile& output);

// The seam through which a test makes the next making, write or naming of
// an output file fail with `error` (once), as a full disk or a file-size
// limit would, and the file is left as such a failure leaves it.
enum class OutputStep { Create, Write, Name };
void FailNextOutputStep(OutputStep step, int error);
// The error set for `step`, now taken, or 0: for the output files' code.
int TakeOutputFailure(OutputStep step);

// Removes a named temporary output file that exists now; for the handlers
// of the ending signals (async-signal-safe).
void RemovePendingTemporaryFile();

// Whether the file a replacement renames over gives its pages back on a
// thread of its own while the caller goes on, or at once (the default).
void ReleaseReplacedFilesOnThread(bool onThread);

// Replaces the file `path` with the given pieces, one after the other,
// through an output file as above, with the ending signals from outside
// waiting until the write is over. Returns 0 or the error.
int ReplaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces);

// Writes the pieces one after the other into `output`, then names it.
// Returns 0 or the error.
int WriteWholeAndName(OutputFile output, std::initializer_list<std::span<const uint8_t>> pieces);

// ---- Scratch files ----------------------------------------------------------------

// A file for a program's own passing data, read and written with ReadAt and
// WriteAt, in the folder of `besidePath` (where the output will go, so that
// its space is on the same disk). It has no name, or loses it the moment it
// is made, with the ending signals held: no failure, ending signal or kill
// can leave it behind, and CloseFile gives its space back.
OpenResult CreateScratchFile(const std::string& besidePath);

// ---- The program's own names ------------------------------------------------------

// The command line's arguments in UTF-8, as every path is inside the
// program: on Windows taken again from the wide-character command line,
// since `argv` there holds the system's code page; elsewhere `argv` itself.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Pointers to `arguments`, as a parser of `argv` takes them; valid while
// `arguments` is.
std::vector<const char*> ArgumentWords(const std::vector<std::string>& arguments);

// The path of the running program's file, or "" when the system cannot tell.
std::string ProgramFile();

// A path for std::filesystem and back. Paths are UTF-8 inside the program;
// std::filesystem takes narrow text in the system's code page on Windows.
std::filesystem::path FileSystemPath(const std::string& text);

// A path cut into its folder, up to and with the last separator (the
// system's: on Windows the backslash too), and its last part's stem and
// extension, from the last '.' on. A leading dot (".hidden") starts no
// extension. Folder + Stem + Extension is the path.
struct PathParts {
    std::string Folder;
    std::string Stem;
    std::string Extension;
};
PathParts SplitPath(const std::string& path);

// The names in `folder` ("" for the current one); none when it cannot be read.
std::vector<std::string> FolderEntryNames(const std::string& folder);

// Makes the folder `path` with any missing parents; 0 when it stands there
// afterwards (or `path` is ""), else the errno value of what stopped it.
int MakeFolder(const std::string& path);
std::string PathText(const std::filesystem::path& path);
