// Suggested commands in POSIX single quotes, which keep every byte.
#include <gtest/gtest.h>

#include <string>

#include "system/quoting.h"

namespace {

TEST(CommandArgument, SingleQuotesForThePosixShell) {
    EXPECT_EQ(CommandArgument("in.wav"), "'in.wav'");
    EXPECT_EQ(CommandArgument("take 1 $HOME `x` \"y\" \\z.wav"),
              "'take 1 $HOME `x` \"y\" \\z.wav'");
    EXPECT_EQ(CommandArgument("it's.wav"), "'it'\\''s.wav'");
    EXPECT_EQ(CommandArgument(""), "''");
    EXPECT_EQ(ToolCommand("phonoskew-prepare"), "phonoskew-prepare");
}

}  // namespace
