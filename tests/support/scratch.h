// A scratch folder for a test's files, and reading and writing whole files.
// Paths inside the program are UTF-8 on every system; `PathFromText` and
// `TextOfPath` carry them to and from std::filesystem, whose narrow
// strings are the system's code page on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

fs::path PathFromText(std::string_view utf8);
std::string TextOfPath(const fs::path& path);

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
