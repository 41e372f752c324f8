// Suggested commands for cmd.exe, and paths cut at either separator.
#include <gtest/gtest.h>

#include <string>

#include "system/files.h"
#include "system/quoting.h"

namespace {

TEST(CommandArgument, DoubleQuotesForCmd) {
    EXPECT_EQ(CommandArgument("C:\\Music\\cd.wav"), "\"C:\\Music\\cd.wav\"");
    EXPECT_EQ(CommandArgument("it's & more (1).wav"), "\"it's & more (1).wav\"");
    EXPECT_EQ(CommandArgument("Pho 100% app"), "\"Pho 100% app\"");
    EXPECT_EQ(CommandArgument("C:\\Music\\"), "\"C:\\Music\\\\\"");
}

// A program beside this one but not on PATH is named by its full path.
TEST(ToolCommand, FullPathWhenTheFolderIsNotOnPath) {
    const std::string command = ToolCommand("phonoskew-prepare");
    EXPECT_TRUE(command == "phonoskew-prepare" ||
                (command.front() == '"' && command.ends_with("\\phonoskew-prepare.exe\"")))
        << command;
}

TEST(SplitPath, BackslashesSeparateToo) {
    const PathParts parts = SplitPath("C:\\a.b\\take");
    EXPECT_EQ(parts.Folder, "C:\\a.b\\");
    EXPECT_EQ(parts.Stem, "take");
    EXPECT_EQ(parts.Extension, "");
    EXPECT_EQ(SplitPath("C:take.wav").Folder, "C:");
}

}  // namespace
