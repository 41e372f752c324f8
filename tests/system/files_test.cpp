// The file layer: what opens for reading, reads at offsets and of small
// files, replacing a file whole, and the memory and processors there are.
#include "system/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace {

TEST(OpenForReading, OnlyRegularFilesOpen) {
    ScratchDir dir;
    std::string regular = dir.File("FO.dat");
    std::ofstream(regular) << "1\r\n";
    std::string folder = dir.File("SO.dat");
    ASSERT_TRUE(fs::create_directory(folder));

    OpenResult file = OpenForReading(regular);
    EXPECT_NE(file.File, NoFile);
    CloseFile(file.File);
    EXPECT_EQ(OpenForReading(folder).Error, EISDIR);
    EXPECT_EQ(OpenForReading(dir.File("SOP.dat")).Error, ENOENT);
    EXPECT_EQ(ErrorText(NotRegularFile), "Not a regular file");
    EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
}

TEST(ReadFileAt, ReadsFromTheOffsetAndStopsQuietlyAtTheEnd) {
    ScratchDir dir;
    std::string name = dir.File("in.wav");
    std::ofstream(name, std::ios::binary) << "0123456789";
    char buffer[8] = "xxxxxxx";
    ReadResult read = ReadFileAt(name, buffer, 7, 6);
    EXPECT_EQ(read.Bytes, 4u);
    EXPECT_EQ(read.Error, 0);
    EXPECT_EQ(std::string(buffer, 7), "6789xxx");  // the rest is left as it was
    EXPECT_EQ(ReadFileAt(dir.File("none"), buffer, 7, 0).Error, ENOENT);
}

// A limit keeps a huge file from being read whole.
TEST(ReadSmallFile, ReadsUpToTheLimit) {
    ScratchDir dir;
    std::string name = dir.File("long.txt");
    std::ofstream(name, std::ios::binary) << std::string(200000, 'a');
    EXPECT_EQ(ReadSmallFile(name, 100000).Text.size(), 100000u);
    EXPECT_EQ(ReadSmallFile(name, 1 << 20).Text.size(), 200000u);
}

// Both ways of replacing a file: new, over a longer old one, and the
// failures (missing folder, a folder in the way, a name over the limit),
// never leaving anything else in the folder. The temporary name must not
// push the longest allowed name over the limit.
TEST(ReplaceFile, WritesWholeFilesBothWaysOrLeavesNothing) {
    using Replace = int (*)(const std::string&, std::initializer_list<std::span<const uint8_t>>);
    for (Replace replace : {ReplaceFile, ReplaceThroughNamedFile}) {
        ScratchDir dir;
        const uint8_t head[] = {'R', 'I'}, tail[] = {'F', 'F', '!'};
        std::string name = dir.File("out.wav");
        EXPECT_EQ(replace(name, {head, tail}), 0);
        EXPECT_EQ(ReadFileBytes(name), "RIFF!");
        std::ofstream(name, std::ios::binary) << std::string(1000, 'x');
        EXPECT_EQ(replace(name, {tail}), 0);
        EXPECT_EQ(ReadFileBytes(name), "FF!");

        EXPECT_EQ(replace(dir.File("none/out.wav"), {head}), ENOENT);
        std::string folder = dir.File("in the way.wav");
        ASSERT_TRUE(fs::create_directory(folder));
        EXPECT_NE(replace(folder, {head}), 0);
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(replace(dir.File(std::string(252, 'n') + ".wav"), {head}), ENAMETOOLONG);
        std::string longest = std::string(250, 'a') + ".wav";  // 254 characters
        EXPECT_EQ(replace(dir.File(longest), {head}), 0);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{longest, "in the way.wav", "out.wav"}));
    }
}

// Paths are UTF-8 on every system: a name in any script is written,
// replaced, opened and read under that very name (on Windows through the
// wide-character calls, not the code page).
TEST(ReplaceFile, NamesInAnyScript) {
    ScratchDir dir;
    const std::string name = "T\xc3\xa9st \xe4\xb8\xad \xc3\xbc.wav";  // Tést 中 ü.wav
    const std::string path = dir.File(name);
    const uint8_t old[] = {'o', 'l', 'd'}, riff[] = {'R', 'I', 'F', 'F', '!', '!'};
    EXPECT_EQ(ReplaceFile(path, {old}), 0);
    EXPECT_EQ(ReplaceFile(path, {riff}), 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
    OpenResult file = OpenForReading(path);
    ASSERT_NE(file.File, NoFile) << ErrorText(file.Error);
    EXPECT_EQ(FileLength(file.File), 6);
    char bytes[8] = {};
    EXPECT_EQ(ReadAt(file.File, bytes, 7, 0).Bytes, 6u);
    CloseFile(file.File);
    EXPECT_STREQ(bytes, "RIFF!!");
}

TEST(ProgramFile, NamesThisProgram) {
    EXPECT_NE(ProgramFile().find("system_tests"), std::string::npos) << ProgramFile();
}

}  // namespace
