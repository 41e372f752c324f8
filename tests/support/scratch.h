// A scratch folder for a test's files, and reading and writing whole files.
// Paths are UTF-8 text, as inside the program; the file layer's
// FileSystemPath and PathText carry them to and from std::filesystem.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "system/files.h"

namespace fs = std::filesystem;

// A fresh folder in the system's temporary folder, removed with all it
// holds when the test ends.
struct ScratchDir {
    fs::path path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The path of `name` in the folder, UTF-8.
    std::string File(std::string_view name) const;
    // The names the folder holds, sorted.
    std::vector<std::string> Entries() const;
};

void WriteFileBytes(const fs::path& file, std::string_view bytes);
// An input file "in.wav" in `dir`: 44 header bytes whose contents do not
// matter to the sample reads (0xAA), followed by `data`.
std::string WriteSampleFile(const ScratchDir& dir, std::string_view data);
std::string ReadFileBytes(const fs::path& file);

// ReplaceFile the way of file systems without unnamed files: through a
// named temporary file.
int ReplaceThroughNamedFile(const std::string& path,
                            std::initializer_list<std::span<const uint8_t>> pieces);
