// How the command line is read: GNU-style options, one path, and the
// one-line refusals.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "wave/wave.h"

namespace {

CommandLine Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "phonoskew");
    return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

struct Accepted {
    std::vector<const char*> arguments;
    CommandAction action;
    const char* path;  // nullptr: no path
};

TEST(CommandLineTest, OptionsAndPathAreReadAsGnuToolsReadThem) {
    const Accepted cases[] = {
        {{}, CommandAction::Run, nullptr},
        {{"take1.wav"}, CommandAction::Run, "take1.wav"},
        {{"music/take 1.wav"}, CommandAction::Run, "music/take 1.wav"},
        {{"-"}, CommandAction::Run, "-"},
        {{""}, CommandAction::Run, ""},  // refused at the prompt, as an empty line is
        {{"--", "-h"}, CommandAction::Run, "-h"},
        {{"--", "--help"}, CommandAction::Run, "--help"},
        {{"--", "--"}, CommandAction::Run, "--"},
        {{"take1.wav", "--"}, CommandAction::Run, "take1.wav"},
        {{"caf\xc3\xa9.wav"}, CommandAction::Run, "caf\xc3\xa9.wav"},  // bytes above 127 type
        {{"--help"}, CommandAction::Help, nullptr},
        {{"-h"}, CommandAction::Help, nullptr},
        {{"--he"}, CommandAction::Help, nullptr},
        {{"--h"}, CommandAction::Help, nullptr},
        {{"-hx"}, CommandAction::Help, nullptr},
        {{"take1.wav", "--help"}, CommandAction::Help, nullptr},  // options anywhere
        {{"a.wav", "b.wav", "--help"}, CommandAction::Help, nullptr},
        {{"--help", "--bogus"}, CommandAction::Help, nullptr},  // the first decides
        {{"--version"}, CommandAction::Version, nullptr},
        {{"--vers"}, CommandAction::Version, nullptr},
        {{"--version", "--help"}, CommandAction::Version, nullptr},
    };
    for (const Accepted& c : cases) {
        std::string shown;
        for (const char* argument : c.arguments) shown += std::string(" [") + argument + "]";
        SCOPED_TRACE(shown);
        CommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.Action, c.action);
        EXPECT_EQ(line.HasPath, c.path != nullptr);
        if (c.path) {
            EXPECT_EQ(line.Path, c.path);
        }
        EXPECT_EQ(line.Problem, "");
    }
}

// --out DIR, --out=DIR or a start of the name, anywhere; the last one given
// holds, and the word after it is the folder even when it looks like a path.
TEST(CommandLineTest, OutputFolderOption) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"take1.wav"}, ""},
        {{"--out", "runs/5 %", "take1.wav"}, "runs/5 %"},
        {{"take1.wav", "--out=runs"}, "runs"},
        {{"--o", "a", "--ou=b", "take1.wav"}, "b"},
        {{"--out", "-h", "take1.wav"}, "-h"},
    };
    for (const auto& [arguments, folder] : cases) {
        CommandLine line = Parse(arguments);
        EXPECT_EQ(line.Action, CommandAction::Run) << line.Problem;
        EXPECT_EQ(line.OutputFolder, folder);
        EXPECT_EQ(line.Path, "take1.wav");
    }
}

struct Refused {
    std::vector<const char*> arguments;
    const char* problem;  // the line between "phonoskew: " and the --help hint
};

TEST(CommandLineTest, BadCommandLinesGiveOneLineNamingTheProblem) {
    const Refused cases[] = {
        {{"--bogus"}, "unrecognized option '--bogus'"},
        {{"--helpme"}, "unrecognized option '--helpme'"},
        {{"--bogus=1"}, "unrecognized option '--bogus=1'"},
        {{"---help"}, "unrecognized option '---help'"},
        {{"--help=yes"}, "option '--help' doesn't allow an argument"},
        {{"--ver=2"}, "option '--version' doesn't allow an argument"},
        {{"-x"}, "invalid option -- 'x'"},
        {{"-xh"}, "invalid option -- 'x'"},
        {{"-v"}, "invalid option -- 'v'"},
        {{"--bogus", "--help"}, "unrecognized option '--bogus'"},
        {{"take1.wav", "-q"}, "invalid option -- 'q'"},
        {{"a.wav", "b.wav"}, "extra operand 'b.wav'"},
        {{"a.wav", "--", "-b"}, "extra operand '-b'"},
        {{"a.wav", "b.wav", "c.wav"}, "extra operand 'b.wav'"},
        // No key types a control character, so such a path is refused here.
        {{"take1.wav\n"}, "the path holds a control character (0x0A), which cannot be typed"},
        {{"a\tb.wav"}, "the path holds a control character (0x09), which cannot be typed"},
        {{"a\x7f.wav"}, "the path holds a control character (0x7F), which cannot be typed"},
        {{"--", "\x1b[2J"}, "the path holds a control character (0x1B), which cannot be typed"},
        // What is echoed back cannot steer the terminal.
        {{"--\x1b[2J"}, "unrecognized option '--\\x1B[2J'"},
        {{"-\x1b"}, "invalid option -- '\\x1B'"},
        {{"a.wav", "\x1b]2;x\x07"}, "extra operand '\\x1B]2;x\\x07'"},
        {{"a.wav", "--out"}, "option '--out' needs a folder"},
        {{"--out=", "a.wav"}, "option '--out' wants a folder, not ''"},
    };
    for (const Refused& c : cases) {
        std::string shown;
        for (const char* argument : c.arguments) shown += std::string(" [") + argument + "]";
        SCOPED_TRACE(shown);
        CommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.Action, CommandAction::Refuse);
        EXPECT_EQ(line.Problem,
                  std::string("phonoskew: ") + c.problem + " (try 'phonoskew --help')\n");
        EXPECT_FALSE(line.HasPath);
    }
}

TEST(CommandLineTest, HelpFitsEightyColumnsAndNamesWhatAUserNeeds) {
    std::string help = HelpText();
    // The commands as this system's shell takes them; on Windows the tool
    // may be named by its full path, however long.
    const std::string prepare = "  " + PrepareToolCommand("in.wav");
    EXPECT_NE(help.find(prepare + "\n"), std::string::npos) << prepare;
    EXPECT_NE(help.find("  " + ConversionCommand("in.wav", {}) + "\n"), std::string::npos);
    std::istringstream lines(help);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        if (line != prepare) {
            EXPECT_LE(line.size(), 80u) << line;
        }
        for (char ch : line) EXPECT_GE(static_cast<unsigned char>(ch), 32) << line;
    }
    EXPECT_LT(count, 50);  // one screen
    for (const char* needed :
         {"--help", "--version", "FO.dat", "SO.dat", "FOP.dat", "SOP.dat", "NAME RIAA error 1.wav",
          "NAME RIAA error 4.wav", "  0  ", "  1  ", "  2  ", "  3  ", "PHONOSKEW_THREADS",
          "PHONOSKEW_KERNEL", "exact", "man phonoskew"}) {
        EXPECT_NE(help.find(needed), std::string::npos) << needed;
    }
}

TEST(CommandLineTest, VersionIsTheProgramNameAndADottedNumber) {
    std::string version = VersionText();
    EXPECT_TRUE(version.starts_with("phonoskew ")) << version;
    EXPECT_TRUE(version.ends_with("\n")) << version;
    std::string number = version.substr(10, version.size() - 11);
    int dots = 0;
    for (char ch : number) {
        if (ch == '.') {
            ++dots;
        } else {
            EXPECT_TRUE(ch >= '0' && ch <= '9') << version;
        }
    }
    EXPECT_EQ(dots, 2) << version;
}

// The settings a run uses, and each value it cannot use as given named
// with its value and what is used instead; empty and unset ones are not.
// The machine has 6 processors.
TEST(RunSettings, ThreadsKernelAndTerminalWithTheirWarnings) {
    const std::string threads = "phonoskew: PHONOSKEW_THREADS is \"";
    const std::string notANumber =
        "\", not a number of threads from 1 up: one a processor is used\n";
    const std::string tooMany = "\", more than the 64 threads a stage can use: 64 are used\n";
    const std::string kernel = "phonoskew: PHONOSKEW_KERNEL is \"";
    const std::string ignored = "\", not exact, x87, avx2, sse4 or auto: it is ignored\n";
    struct Case {
        const char* Threads;
        const char* KernelName;
        const char* Term;
        int UsedThreads;
        Kernel Form;
        std::string Warnings;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 6, Kernel::Fast, ""},
        {"", "", "", 6, Kernel::Fast, ""},
        {"1", "x87", "xterm", 1, Kernel::Exact, ""},
        {"64", "exact", nullptr, 64, Kernel::Exact, ""},
        {" +3", "auto", nullptr, 3, Kernel::Fast, ""},
        {"4", "avx2", nullptr, 4, Kernel::FastUpto256, ""},
        {"2", "sse4", nullptr, 2, Kernel::FastUpto128, ""},
        {"2", "sse2", nullptr, 2, Kernel::FastUpto128, ""},
        {"0", nullptr, nullptr, 6, Kernel::Fast, threads + "0" + notANumber},
        {"-2", nullptr, nullptr, 6, Kernel::Fast, threads + "-2" + notANumber},
        {"4x", nullptr, nullptr, 6, Kernel::Fast, threads + "4x" + notANumber},
        {"65", nullptr, nullptr, 64, Kernel::Fast, threads + "65" + tooMany},
        {"99999999999999999999", nullptr, nullptr, 64, Kernel::Fast,
         threads + "99999999999999999999" + tooMany},
        {nullptr, "X87", nullptr, 6, Kernel::Fast, kernel + "X87" + ignored},
        {"two", "fast", "dumb", 6, Kernel::Fast,
         threads + "two" + notANumber + kernel + "fast" + ignored},
    };
    for (const Case& c : cases) {
        RunSettings settings = ParseRunSettings(c.Threads, c.KernelName, c.Term, 6);
        SCOPED_TRACE(testing::Message() << (c.Threads ? c.Threads : "unset") << " "
                                        << (c.KernelName ? c.KernelName : "unset"));
        EXPECT_EQ(settings.Engine.Threads, c.UsedThreads);
        EXPECT_EQ(settings.Engine.Form, c.Form);
        EXPECT_EQ(settings.Warnings, c.Warnings);
        EXPECT_EQ(settings.DrawScreen, !(c.Term && std::string(c.Term) == "dumb"));
    }
    // With more processors than a stage can use, one a processor is capped.
    EXPECT_EQ(ParseRunSettings(nullptr, nullptr, nullptr, 200).Engine.Threads, 64);
}

}  // namespace
