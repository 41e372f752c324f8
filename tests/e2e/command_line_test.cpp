// The program's command line as a user meets it: --help and --version, a
// bad command line that leaves the terminal alone, and a path given on the
// command line that is typed at the first prompt.
#include <gtest/gtest.h>

#include <vector>

#include "e2e/fixtures.h"

namespace {

struct InformationCase {
    std::vector<std::string> arguments;
    std::string begins;  // how standard output begins
};

TEST(CommandLineRunTest, HelpAndVersionGoToStandardOutputWithStatusZero) {
    const InformationCase cases[] = {
        {{"--help"}, "Usage: phonoskew [--out DIR] [PATH]\n"},
        {{"-h"}, "Usage: phonoskew [--out DIR] [PATH]\n"},
        {{"take1.wav", "--help"}, "Usage: phonoskew [--out DIR] [PATH]\n"},
        {{"--version"}, "phonoskew " PHONOSKEW_VERSION "\n"},
    };
    ScratchDir dir;
    for (const InformationCase& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        Child run = RunPiped(PhonoskewIn(dir.path, c.arguments), "");
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_TRUE(run.out.starts_with(c.begins)) << run.out;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    }
    Child version = RunPiped(PhonoskewIn(dir.path, {"--version"}), "");
    EXPECT_EQ(version.out, "phonoskew " PHONOSKEW_VERSION "\n");
}

const std::vector<std::string> BadCommandLines[] = {
    {"--bogus"},          {"-x"},
    {"--help=now"},       {"a.wav", "b.wav"},
    {"take1.wav\x1b[2J"}, {"--\x1b]2;gotcha\x07"},
};

TEST(CommandLineRunTest, BadCommandLineGivesOneLineOnStandardErrorAndStatusTwo) {
    ScratchDir dir;
    for (const std::vector<std::string>& arguments : BadCommandLines) {
        SCOPED_TRACE(arguments[0]);
        Child run = RunPiped(PhonoskewIn(dir.path, arguments), "take1.wav\r");
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");  // no screen at all
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line expected: " << run.err;
        EXPECT_TRUE(run.err.starts_with("phonoskew: ")) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    }
}

// Read before the terminal is set up: a bad command line or --help in a
// terminal sends no escape sequence and never changes the terminal's modes.
TEST(CommandLineRunTest, TerminalIsUntouchedByABadCommandLineOrHelp) {
    std::vector<std::vector<std::string>> commandLines(std::begin(BadCommandLines),
                                                       std::end(BadCommandLines));
    commandLines.push_back({"--help"});
    commandLines.push_back({"--version"});
    ScratchDir dir;
    for (const std::vector<std::string>& arguments : commandLines) {
        SCOPED_TRACE(arguments[0]);
        Child run = StartInPseudoTerminal(PhonoskewIn(dir.path, arguments));
        ChildGuard guard{run};
        ASSERT_TRUE(WaitForExit(run));
        EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
        EXPECT_EQ(run.screen.bells, 0);
        termios after{};
        ASSERT_EQ(tcgetattr(run.slave, &after), 0);
        EXPECT_EQ(after.c_iflag, run.initialModes.c_iflag);
        EXPECT_EQ(after.c_oflag, run.initialModes.c_oflag);
        EXPECT_EQ(after.c_lflag, run.initialModes.c_lflag);
        EXPECT_EQ(after.c_cflag, run.initialModes.c_cflag);
    }
}

// Through pipes: the path appears typed at the prompt, and an LF that the
// script sends next is a key of its own that dismisses the refusal's box.
TEST(CommandLineRunTest, RefusedPathFromTheCommandLineGivesTheBoxThenAnEmptyPrompt) {
    ScratchDir dir;
    Child run = RunPiped(PhonoskewIn(dir.path, {"nothing.wav"}), "\n");
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;  // the input ends at the fresh prompt
    EXPECT_NE(run.out.find("   Input file?  nothing.wav\n ERROR\n            File not found.\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(run.out.ends_with("   Input file?\n")) << run.out;
    EXPECT_NE(run.err.find("waiting for a path"), std::string::npos) << run.err;
}

}  // namespace
