// Reading files and texts, the same on every system: whole small files,
// blocks at an offset, and a byte at a time.
#include "system/files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "system/signals.h"

std::filesystem::path FileSystemPath(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

PathParts SplitPath(const std::string& path) {
    PathParts parts;
    const size_t nameStart = path.size() - PathText(FileSystemPath(path).filename()).size();
    parts.Folder = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        parts.Stem = name;
    } else {
        parts.Stem = name.substr(0, dot);
        parts.Extension = name.substr(dot);
    }
    return parts;
}

std::vector<std::string> FolderEntryNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator
             entry(FileSystemPath(folder.empty() ? "." : folder), error),
         end;
         !error && entry != end; entry.increment(error))
        names.push_back(PathText(entry->path().filename()));
    return names;
}

int MakeFolder(const std::string& path) {
    if (path.empty()) return 0;
    std::error_code error;
    std::filesystem::create_directories(FileSystemPath(path), error);
    return error ? error.default_error_condition().value() : 0;
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string ErrorText(int error) {
    if (error == NotRegularFile) return "Not a regular file";
    return std::strerror(error);
}

ReadResult ReadFileAt(const std::string& path, void* buffer, size_t size, uint64_t offset) {
    OpenResult file = OpenForReading(path);
    if (file.File == NoFile) return {0, file.Error};
    ReadResult result = ReadAt(file.File, buffer, size, offset);
    CloseFile(file.File);
    return result;
}

namespace {

// The text of an open file from its start, up to `maxBytes` bytes. A read
// error part-way keeps what came before it.
TextResult ReadText(FileHandle file, size_t maxBytes) {
    TextResult result;
    // Status files report a size of 0, so the text is read until it ends,
    // a block at a time into the text itself: nothing large on the stack,
    // which may be small (ulimit -s).
    constexpr size_t Block = 65536;
    while (result.Text.size() < maxBytes) {
        const size_t have = result.Text.size();
        size_t want = std::min(Block, maxBytes - have);
        result.Text.resize(have + want);
        ReadResult got = ReadAt(file, result.Text.data() + have, want, have);
        result.Text.resize(have + got.Bytes);
        result.Error = got.Error;
        if (got.Error != 0 || got.Bytes < want) break;
    }
    return result;
}

}  // namespace

TextResult ReadSmallFile(const std::string& path, size_t maxBytes) {
    OpenResult file = OpenForReading(path);
    if (file.File == NoFile) return {"", file.Error};
    TextResult result = ReadText(file.File, maxBytes);
    CloseFile(file.File);
    return result;
}

ByteReader ReadFromText(std::string_view text) {
    ByteReader reader;
    reader.Data = text.data();
    reader.Size = text.size();
    return reader;
}

ByteReader ReadFromFile(FileHandle file) {
    ByteReader reader;
    reader.File = file;
    reader.Buffer.resize(65536);
    return reader;
}

int PeekByte(ByteReader& reader) {
    if (reader.At == reader.Size && reader.File != NoFile) {
        ReadResult got =
            ReadAt(reader.File, reader.Buffer.data(), reader.Buffer.size(), reader.FileOffset);
        reader.FileOffset += got.Bytes;
        reader.Data = reader.Buffer.data();
        reader.Size = got.Bytes;
        reader.At = 0;
        if (got.Bytes == 0) reader.File = NoFile;  // the end, or an error: nothing more comes
    }
    return reader.At < reader.Size ? static_cast<unsigned char>(reader.Data[reader.At]) : -1;
}

void SkipByte(ByteReader& reader) {
    if (PeekByte(reader) >= 0) ++reader.At;
}

// ---- The tests' seam ---------------------------------------------------------------

namespace {

// Set by a test's thread, taken by whichever thread comes next.
std::atomic<int> failures[3];

}  // namespace

void FailNextOutputStep(OutputStep step, int error) { failures[int(step)].store(error); }

int TakeOutputFailure(OutputStep step) {
    std::atomic<int>& failure = failures[int(step)];
    return failure.load(std::memory_order_relaxed) == 0 ? 0 : failure.exchange(0);
}

// ---- Small files, written whole -------------------------------------------------------

int WriteWholeAndName(OutputFile output, std::initializer_list<std::span<const uint8_t>> pieces) {
    uint64_t offset = 0;
    for (std::span<const uint8_t> piece : pieces) {
        if (output.Error != 0) break;
        output.Error = WriteAt(output.File, piece, offset);
        offset += piece.size();
    }
    return NameOutputFile(output);
}

int ReplaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces) {
    SignalsHeld held(HeldSignals::OutsideEnding);  // written whole before a stop
    return WriteWholeAndName(CreateOutputFile(path), pieces);
}

std::vector<const char*> ArgumentWords(const std::vector<std::string>& arguments) {
    std::vector<const char*> words;
    for (const std::string& argument : arguments) words.push_back(argument.c_str());
    return words;
}
