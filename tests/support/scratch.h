// A scratch folder for a test's files, and reading and writing whole files.
#pragma once

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
std::string ReadFileBytes(const fs::path& file);
