// Opening, reading and replacing files on Windows. Paths are UTF-8 inside
// the program and go to the wide-character calls as UTF-16, so any name the
// user can type opens. Every failure comes back as the error number of
// <cerrno> that means the same, as on POSIX systems.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
// windows.h names its own ReplaceFile so; this file defines the program's.
#undef ReplaceFile

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <string>

#include "system/files.h"
#include "system/signals.h"

namespace {

std::wstring Wide(const std::string& path) {
    if (path.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

// The <cerrno> number for the last Windows error.
int LastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// A named temporary file that exists now, for the console's ending events
// to remove.
wchar_t pendingTemporary[32768];
volatile std::sig_atomic_t pendingTemporaryLength = 0;

// The longest name of one file or folder, in UTF-16 units.
constexpr size_t LongestName = 255;

size_t LastNameStart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? 0 : separator + 1;
}

// A name in the path longer than the system allows is refused as too long,
// as on POSIX systems, not as missing.
bool HasTooLongName(const std::wstring& path) {
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of(L"\\/", start);
        const size_t length = (end == std::wstring::npos ? path.size() : end) - start;
        if (length > LongestName) return true;
        if (end == std::wstring::npos) return false;
        start = end + 1;
    }
}

// Beside the output, its name and a dot and six letters or digits; where
// that would be too long a name, a short one in the same folder.
std::string TemporaryName(const std::string& path, unsigned attempt) {
    unsigned value = unsigned(GetCurrentProcessId()) * 2654435761u + attempt * 40503u +
                     unsigned(GetTickCount64());
    const std::wstring wide = Wide(path);
    std::string name = path + ".";
    if (wide.size() - LastNameStart(wide) + 7 > LongestName) {
        name = path.substr(0, path.find_last_of("\\/") + 1) + ".phonoskew.";  // npos + 1 is 0
    }
    for (int i = 0; i < 6; ++i, value /= 36)
        name += "abcdefghijklmnopqrstuvwxyz0123456789"[value % 36];
    return name;
}

}  // namespace

// ---- Reading ------------------------------------------------------------------

OpenResult OpenForReading(const std::string& path) {
    if (HasTooLongName(Wide(path))) return {NoFile, ENAMETOOLONG};
    // Others may read and even replace the file meanwhile, as on POSIX systems.
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD attributes = GetFileAttributesW(Wide(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return {NoFile, EISDIR};
        return {NoFile, LastError()};
    }
    // A device (NUL, CON, a pipe) is not a regular file.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return {NoFile, NotRegularFile};
    }
    return {reinterpret_cast<FileHandle>(file), 0};
}

void CloseFile(FileHandle file) {
    if (file != NoFile) CloseHandle(Handle(file));
}

ReadResult ReadAt(FileHandle file, void* buffer, size_t size, uint64_t offset) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    ReadResult result;
    while (result.Bytes < size) {
        OVERLAPPED at{};
        const uint64_t position = offset + result.Bytes;
        at.Offset = DWORD(position);
        at.OffsetHigh = DWORD(position >> 32);
        const DWORD want = DWORD(std::min<size_t>(size - result.Bytes, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(Handle(file), bytes + result.Bytes, want, &got, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF) result.Error = LastError();
            break;
        }
        if (got == 0) break;
        result.Bytes += got;
    }
    return result;
}

int64_t FileLength(FileHandle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(Handle(file), &size) ? int64_t(size.QuadPart) : -1;
}

FileStamp StampOf(FileHandle file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(Handle(file), &information)) return {};
    const auto join = [](DWORD high, DWORD low) { return int64_t(uint64_t(high) << 32 | low); };
    return {join(information.nFileSizeHigh, information.nFileSizeLow),
            join(information.ftLastWriteTime.dwHighDateTime,
                 information.ftLastWriteTime.dwLowDateTime)};
}

// ---- The program's own names ------------------------------------------------------

// Split as the C runtime splits the command line into `argv`, so the two
// agree on the count; where they do not, `argv` as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    if (count == argc) {
        for (int i = 0; i < count; ++i) arguments[size_t(i)] = Narrow(wide[i], wcslen(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

std::string ProgramFile() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    return length > 0 && length < path.size() ? Narrow(path.data(), length) : "";
}

// ---- Output files ------------------------------------------------------------------

// A named temporary file beside the output, moved over the output's name in
// one step when complete; the console's ending events remove it, and only a
// process killed outright can leave it.
OutputFile CreateOutputFile(const std::string& path) {
    if (int error = TakeOutputFailure(OutputStep::Create)) return {NoFile, path, "", error, ""};
    OutputFile output;
    output.Path = path;
    if (HasTooLongName(Wide(path))) {
        output.Error = ENAMETOOLONG;
        return output;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(path, attempt);
        std::wstring wide = Wide(name);
        SignalsHeld held(HeldSignals::OutsideEnding);
        // Shared for deletion alone: the ending events' handler may delete
        // it while it is open, and it goes when the process closes it.
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            output.Error = LastError();
            return output;
        }
        if (wide.size() < std::size(pendingTemporary)) {
            std::memcpy(pendingTemporary, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
            pendingTemporaryLength = std::sig_atomic_t(wide.size());
        }
        output.File = reinterpret_cast<FileHandle>(file);
        output.TempName = name;
        return output;
    }
    output.Error = EEXIST;
    return output;
}

int WriteAt(FileHandle file, std::span<const uint8_t> bytes, uint64_t offset) {
    if (int error = TakeOutputFailure(OutputStep::Write)) return error;
    size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = DWORD(position);
        at.OffsetHigh = DWORD(position >> 32);
        const DWORD want = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(Handle(file), bytes.data() + done, want, &put, &at)) return LastError();
        if (put == 0) return ENOSPC;
        done += put;
    }
    return 0;
}

namespace {

// A named temporary file given up: removed, or, where that is refused
// (its folder's permissions changed meanwhile), cut to nothing and kept in
// Leftover for the user to remove.
void GiveUpTemporary(OutputFile& output) {
    const std::wstring temporary = Wide(output.TempName);
    if (!DeleteFileW(temporary.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        output.Leftover = output.TempName;
    }
    pendingTemporaryLength = 0;
    output.TempName.clear();
}

}  // namespace

int NameOutputFile(OutputFile& output) {
    SignalsHeld held(HeldSignals::OutsideEnding);
    if (output.Error == 0) output.Error = TakeOutputFailure(OutputStep::Name);
    int error = output.Error;
    if (output.File != NoFile && !CloseHandle(Handle(output.File)) && error == 0)
        error = LastError();
    output.File = NoFile;
    const std::wstring temporary = Wide(output.TempName);
    if (error == 0 && !MoveFileExW(temporary.c_str(), Wide(output.Path).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastError();
    }
    if (error != 0) {
        GiveUpTemporary(output);
    } else {
        pendingTemporaryLength = 0;
        output.TempName.clear();
    }
    output.Error = error;
    return error;
}

void DiscardOutputFile(OutputFile& output) {
    SignalsHeld held(HeldSignals::OutsideEnding);
    if (output.File != NoFile) CloseHandle(Handle(output.File));
    output.File = NoFile;
    if (!output.TempName.empty()) GiveUpTemporary(output);
    pendingTemporaryLength = 0;
}

void RemovePendingTemporaryFile() {
    if (pendingTemporaryLength > 0) DeleteFileW(pendingTemporary);
}

// The replaced file's space is given back by Windows itself.
void ReleaseReplacedFilesOnThread(bool) {}

// Every output is a named temporary file here.
OutputFile CreateNamedOutputFile(const std::string& path) { return CreateOutputFile(path); }

// ---- Scratch files ------------------------------------------------------------------

// A named file that Windows deletes when its one handle closes, which the
// end of the process does however it ends.
OpenResult CreateScratchFile(const std::string& besidePath) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring wide = Wide(TemporaryName(besidePath, attempt));
        HANDLE file =
            CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) return {reinterpret_cast<FileHandle>(file), 0};
        if (GetLastError() != ERROR_FILE_EXISTS) return {NoFile, LastError()};
    }
    return {NoFile, EEXIST};
}
