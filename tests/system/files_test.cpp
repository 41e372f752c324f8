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
#include "system/memory.h"
#include "system/processors.h"
#include "system/status_files.h"

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

TEST(AvailableMemory, StatusTextsAndControlGroups) {
    EXPECT_EQ(MemAvailableBytes("MemTotal: 100 kB\nMemFree: 5 kB\nMemAvailable:   2048 kB\n"),
              2048u * 1024);
    EXPECT_EQ(MemAvailableBytes("MemTotal: 100 kB\n"), UINT64_MAX);

    EXPECT_EQ(ControlGroupRoom("1073741824\n", "73741824\n", 0), 1000000000u);
    EXPECT_EQ(ControlGroupRoom("max\n", "5\n", 0), UINT64_MAX);
    EXPECT_EQ(ControlGroupRoom("100\n", "200\n", 0), 0u);  // over its limit already
    // Page cache from copying the recording a moment before is given back
    // when needed: a 1000 MiB limit with 900 MiB used, 700 MiB of it cache.
    EXPECT_EQ(ControlGroupRoom("1048576000\n", "943718400\n", 734003200), 838860800u);
    EXPECT_EQ(ControlGroupRoom("100\n", "50\n", 80), 100u);

    // The clean file cache, active and inactive (an input read twice sits on
    // the active list), less what is dirty or being written back: version 2's
    // names, or version 1's totals beside the group's own figures.
    const char* stat2 =
        "anon 1000\nfile 900\nactive_file 100\ninactive_file 800\nfile_dirty 30\n"
        "file_writeback 20\n";
    const char* stat1 =
        "cache 5\nactive_file 3\ninactive_file 7\ntotal_active_file 40\n"
        "total_inactive_file 70\ntotal_dirty 10\ntotal_writeback 0\n";
    EXPECT_EQ(ControlGroupCleanCache(stat2), 850u);
    EXPECT_EQ(ControlGroupCleanCache(stat1), 100u);
    EXPECT_EQ(ControlGroupCleanCache("active_file 5\ninactive_file 5\nfile_dirty 40\n"), 0u);
    EXPECT_EQ(ControlGroupCleanCache("anon 5\n"), 0u);

    using Folders = std::vector<std::string>;
    EXPECT_EQ(ControlGroupFolders("0::/user.slice/run-1.scope\n", "memory"),
              (Folders{"/sys/fs/cgroup/user.slice/run-1.scope", "/sys/fs/cgroup/user.slice",
                       "/sys/fs/cgroup", "/sys/fs/cgroup/unified/user.slice/run-1.scope",
                       "/sys/fs/cgroup/unified/user.slice", "/sys/fs/cgroup/unified"}));
    EXPECT_EQ(ControlGroupFolders("7:pids:/\n4:cpu,memory:/box/\n", "memory"),
              (Folders{"/sys/fs/cgroup/memory/box", "/sys/fs/cgroup/memory"}));
    EXPECT_EQ(ControlGroupFolders("0::/\n", "memory"),
              (Folders{"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}));
    EXPECT_TRUE(ControlGroupFolders("garbage", "memory").empty());

    // This machine has some.
    MemoryRoom room = MeasureMemoryRoom();
    EXPECT_GT(AvailableMemory(room, 0), 16u << 20);
    // Thread stacks come out of the room under the process's own limits.
    EXPECT_EQ(AvailableMemory({1000, 600}, 200), 400u);
    EXPECT_EQ(AvailableMemory({300, 600}, 200), 300u);
    EXPECT_EQ(AvailableMemory({1000, 100}, 200), 0u);
    EXPECT_EQ(AvailableMemory({1000, UINT64_MAX}, 200), 1000u);
}

// A version 2 cpu.max holds quota and period, version 1 two files; a part
// of a processor counts as a whole one.
TEST(ProcessorsAvailable, Quotas) {
    EXPECT_EQ(ProcessorsInQuota("200000", "100000\n"), 2);
    EXPECT_EQ(ProcessorsInQuota("150000", "100000"), 2);
    EXPECT_EQ(ProcessorsInQuota("50000\n", "100000\n"), 1);
    EXPECT_EQ(ProcessorsInQuota("max", "100000\n"), 0);
    EXPECT_EQ(ProcessorsInQuota("-1\n", "100000\n"), 0);
    EXPECT_EQ(ControlGroupFolders("4:cpu,cpuacct:/job\n3:memory:/m\n", "cpu"),
              (std::vector<std::string>{"/sys/fs/cgroup/cpu/job", "/sys/fs/cgroup/cpu"}));
    EXPECT_GE(ProcessorsAvailable(), 1);
}

}  // namespace
