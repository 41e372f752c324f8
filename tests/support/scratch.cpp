// Scratch folders and whole-file reads and writes for the tests.
#include "support/scratch.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

// A name no other test, nor another run at the same moment, has taken.
ScratchDir::ScratchDir() {
    std::random_device seed;
    std::mt19937_64 draw(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        path =
            fs::temp_directory_path() / ("phonoskew-test-" + std::to_string(draw() % 1000000007));
        if (fs::create_directory(path)) return;
    }
    throw std::runtime_error("no scratch folder could be made in " +
                             PathText(fs::temp_directory_path()));
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string ScratchDir::File(std::string_view name) const {
    return PathText(path / FileSystemPath(std::string(name)));
}

std::vector<std::string> ScratchDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
        names.push_back(PathText(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFileBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string WriteSampleFile(const ScratchDir& dir, std::string_view data) {
    std::string path = dir.File("in.wav");
    WriteFileBytes(FileSystemPath(path), std::string(44, '\xAA') + std::string(data));
    return path;
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int ReplaceThroughNamedFile(const std::string& path,
                            std::initializer_list<std::span<const uint8_t>> pieces) {
    return WriteWholeAndName(CreateNamedOutputFile(path), pieces);
}
