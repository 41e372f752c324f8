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

TEST(CanOpenInputTest, AcceptsOnlyReadableRegularFiles) {
    ScratchDir dir;
    Touch(dir.path / "take1.wav");
    Touch(dir.path / "empty.wav", "");
    fs::create_directory(dir.path / "folder.wav");
    ASSERT_EQ(mkfifo((dir.path / "pipe.wav").c_str(), 0600), 0);

    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {(dir.path / "take1.wav").string(), true},
        {(dir.path / "empty.wav").string(), true},
        {(dir.path / "missing.wav").string(), false},
        {"", false},
        {(dir.path / "folder.wav").string(), false},
        // A FIFO with no writer: must fail at once instead of blocking.
        {(dir.path / "pipe.wav").string(), false},
        {"/dev/null", false},
        // Quotes and trailing blanks are part of the name, not stripped.
        {"\"" + (dir.path / "take1.wav").string() + "\"", false},
        {(dir.path / "take1.wav").string() + " ", false},
        {(dir.path / "take?.wav").string(), false},
        {(dir.path / "*.wav").string(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CanOpenInput(c.path), c.opens) << "path: " << c.path;
}

TEST(CanOpenInputTest, WildcardCharactersRefusedEvenWhenSuchAFileExists) {
    ScratchDir dir;
    Touch(dir.path / "what?.wav");
    Touch(dir.path / "star*.wav");
    EXPECT_FALSE(CanOpenInput((dir.path / "what?.wav").string()));
    EXPECT_FALSE(CanOpenInput((dir.path / "star*.wav").string()));
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
