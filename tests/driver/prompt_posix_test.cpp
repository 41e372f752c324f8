// The prompt's open test with names only POSIX file systems hold: a FIFO,
// wildcard characters, trailing blanks (which Windows drops from a name, so
// that there the typed text opens); and a file renamed over the one opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/driver.h"
#include "support/scratch.h"
#include "system/files.h"
#include "wave/wave.h"

namespace {

TEST(OpenTypedPathTest, FifosWildcardNamesAndTrailingBlanks) {
    ScratchDir dir;
    for (const char* name : {"what?.wav", "star*.wav", "blank.wav ", "blank.wav", "take1.wav"})
        std::ofstream(dir.path / name, std::ios::binary) << "x";
    ASSERT_EQ(mkfifo((dir.path / "pipe.wav").c_str(), 0600), 0);
    const std::string in = dir.path.string() + "/";

    struct Case {
        std::string typed;
        std::string used;  // "" when nothing opens
        int error;
    } cases[] = {
        // Refused without blocking.
        {in + "pipe.wav", "", NotRegularFile},
        // The path as typed wins when it exists, else the dropped form.
        {in + "blank.wav ", in + "blank.wav ", 0},
        {in + "take1.wav  ", in + "take1.wav", 0},
        // Wildcards are refused even where such a file exists.
        {in + "what?.wav", "", ENOENT},
        {"'" + in + "star*.wav'", "", ENOENT},
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

// The file the prompt opened is the one whose header is checked, even when
// another file has been put in its place since.
TEST(OpenTypedPathTest, TheHeaderIsReadFromTheFileThePromptOpened) {
    ScratchDir dir;
    const std::string path = dir.File("take1.wav");
    const auto header = MakeOutputHeader(ConsistentWaveInfo(), 12);
    std::ofstream(path, std::ios::binary)
        << std::string(header.begin(), header.end()) << std::string(12, '\x01');
    TypedInput input = OpenTypedPath(path);
    ASSERT_EQ(input.Error, 0);
    std::ofstream(dir.path / "other.wav", std::ios::binary) << "RIFF, not a wave";
    fs::rename(dir.path / "other.wav", path);
    EXPECT_EQ(CheckInputHeader(path, input.File).Refusal, "");
    EXPECT_NE(CheckInputHeader(path).Refusal, "");
    CloseFile(input.File);
}

}  // namespace
