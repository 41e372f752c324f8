// Scratch folders and whole-file reads and writes for the tests.
#include "support/scratch.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

ScratchDir::ScratchDir() {
    char name[] = "/tmp/phonoskew-test-XXXXXX";
    path = mkdtemp(name);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string ScratchDir::File(std::string_view name) const { return (path / name).string(); }

std::vector<std::string> ScratchDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFileBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
