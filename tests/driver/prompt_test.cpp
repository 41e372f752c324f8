// Which typed paths pass the prompt's open test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/driver.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& file, const std::string& content = "x") {
    std::ofstream(file, std::ios::binary) << content;
}

// What opens is the file layer's (regular files only, never blocking);
// the prompt adds that the typed text is the name exactly as typed, and
// that wildcard characters are refused even where such a file exists.
TEST(CanOpenInputTest, TheTypedTextIsTheNameAndWildcardsAreRefused) {
    ScratchDir dir;
    Touch(dir.path / "take1.wav");
    Touch(dir.path / "empty.wav", "");
    Touch(dir.path / "what?.wav");
    Touch(dir.path / "star*.wav");
    ASSERT_EQ(mkfifo((dir.path / "pipe.wav").c_str(), 0600), 0);
    const std::string take = (dir.path / "take1.wav").string();

    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {take, true},
        {(dir.path / "empty.wav").string(), true},
        {(dir.path / "missing.wav").string(), false},
        {(dir.path / "pipe.wav").string(), false},  // and does not block
        {"", false},
        {"\"" + take + "\"", false},
        {take + " ", false},
        {(dir.path / "take?.wav").string(), false},
        {(dir.path / "*.wav").string(), false},
        {(dir.path / "what?.wav").string(), false},
        {(dir.path / "star*.wav").string(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CanOpenInput(c.path), c.opens) << "path: " << c.path;
}

// A long path must be opened whole: cut at 255 characters it would open a
// different file, the one whose name is the cut prefix.
TEST(CanOpenInputTest, UsesTheWholePathNotAPrefix) {
    ScratchDir dir;
    fs::path folder = dir.path / std::string(100, 'd');
    fs::create_directories(folder);
    std::string prefix = (folder / "").string();
    prefix += std::string(255 - prefix.size(), 'f');
    ASSERT_EQ(prefix.size(), 255u);
    Touch(prefix);
    EXPECT_TRUE(CanOpenInput(prefix));
    EXPECT_FALSE(CanOpenInput(prefix + ".wav"));

    std::string longName = prefix + "-take1.wav";
    Touch(longName);
    fs::remove(prefix);
    EXPECT_TRUE(CanOpenInput(longName));
}

TEST(CanOpenInputTest, TooLongForTheSystemIsAFailedOpen) {
    EXPECT_FALSE(CanOpenInput("/tmp/" + std::string(5000, 'a')));
}

}  // namespace
