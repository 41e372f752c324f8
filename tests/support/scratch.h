// A scratch folder for a test's files, and reading and writing whole files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

// A fresh folder under /tmp, removed with all it holds when the test ends.
struct ScratchDir {
    fs::path path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The path of `name` in the folder.
    std::string File(std::string_view name) const;
    // The names the folder holds, sorted.
    std::vector<std::string> Entries() const;
};

void WriteFileBytes(const fs::path& file, std::string_view bytes);
// An input file "in.wav" in `dir`: 44 header bytes whose contents do not
// matter to the sample reads (0xAA), followed by `data`.
std::string WriteSampleFile(const ScratchDir& dir, std::string_view data);
std::string ReadFileBytes(const fs::path& file);

// The size of the largest file under `dir` that process `pid` has open (a
// temporary file being written, named or not), or -1 when it has none.
long long OpenFileBytesUnder(pid_t pid, const fs::path& dir);
