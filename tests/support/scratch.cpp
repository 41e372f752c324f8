// Scratch folders and whole-file reads and writes for the tests.
#include "support/scratch.h"

#include <stdlib.h>
#include <sys/stat.h>

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

std::string WriteSampleFile(const ScratchDir& dir, std::string_view data) {
    std::string path = dir.File("in.wav");
    WriteFileBytes(path, std::string(44, '\xAA') + std::string(data));
    return path;
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long long OpenFileBytesUnder(pid_t pid, const fs::path& dir) {
    const std::string prefix = dir.string() + "/";
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    long long largest = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fds, error)) {
        std::string target = fs::read_symlink(entry.path(), error).string();
        struct stat status {};
        if (error || target.compare(0, prefix.size(), prefix) != 0) continue;
        if (stat(entry.path().c_str(), &status) == 0) {
            largest = std::max(largest, static_cast<long long>(status.st_size));
        }
    }
    return largest;
}
