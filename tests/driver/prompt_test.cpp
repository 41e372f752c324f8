// Which typed paths pass the prompt's open test.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/driver.h"
#include "support/scratch.h"
#include "system/files.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& file, const std::string& content = "x") {
    std::ofstream(file, std::ios::binary) << content;
}

// What opens is the file layer's (regular files only, never blocking);
// the prompt adds that the typed text is the name exactly as typed, that
// wildcard characters are refused even where such a file exists, and that
// a path that does not open is tried once more as a terminal's drag and
// drop typed it, without its quotes and trailing blank. (Names Windows
// cannot hold, and FIFOs, are in prompt_posix_test.cpp.)
TEST(OpenTypedPathTest, TheTypedTextThenTheDroppedPathWildcardsRefused) {
    ScratchDir dir;
    Touch(dir.path / "take1.wav");
    Touch(dir.path / "empty.wav", "");
    Touch(dir.path / "it's.wav");
    const std::string in = PathText(dir.path) + "/";

    struct Case {
        std::string typed;
        std::string used;  // "" when nothing opens
        int error;
    } cases[] = {
        {in + "take1.wav", in + "take1.wav", 0},
        {in + "empty.wav", in + "empty.wav", 0},
        {in + "missing.wav", "", ENOENT},
        {in, "", EISDIR},
        {"", "", ENOENT},
        {"\"" + in + "take1.wav\"", in + "take1.wav", 0},
        {"'" + in + "take1.wav' ", in + "take1.wav", 0},
        {"'" + in + "it'\\''s.wav' ", in + "it's.wav", 0},
        {"'" + in + "missing.wav'", "", ENOENT},
        {in + "take?.wav", "", ENOENT},
        {in + "*.wav", "", ENOENT},
    };
    for (const Case& c : cases) {
        TypedInput input = OpenTypedPath(c.typed);
        EXPECT_EQ(input.Error, c.error) << "typed: " << c.typed;
        EXPECT_EQ(input.File != NoFile, c.error == 0) << "typed: " << c.typed;
        if (c.error == 0) {
            EXPECT_EQ(input.Path, c.used) << "typed: " << c.typed;
        }
        CloseFile(input.File);
    }
}

int OpenError(const std::string& path) {
    const TypedInput input = OpenTypedPath(path);
    CloseFile(input.File);
    return input.Error;
}

// A long path must be opened whole: cut at 255 characters it would open a
// different file, the one whose name is the cut prefix.
TEST(OpenTypedPathTest, UsesTheWholePathNotAPrefix) {
    ScratchDir dir;
    fs::path folder = dir.path / std::string(100, 'd');
    fs::create_directories(folder);
    std::string prefix = (folder / "").string();
    prefix += std::string(255 - prefix.size(), 'f');
    ASSERT_EQ(prefix.size(), 255u);
    Touch(prefix);
    EXPECT_EQ(OpenError(prefix), 0);
    EXPECT_EQ(OpenError(prefix + ".wav"), ENOENT);

    std::string longName = prefix + "-take1.wav";
    Touch(longName);
    fs::remove(prefix);
    EXPECT_EQ(OpenError(longName), 0);
}

TEST(OpenTypedPathTest, TooLongForTheSystemIsAFailedOpen) {
    ScratchDir dir;
    EXPECT_EQ(OpenError(dir.File(std::string(5000, 'a'))), ENAMETOOLONG);
}

}  // namespace
