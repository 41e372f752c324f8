// One reading of the command line for every program, as GNU tools read it.
#include "system/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

enum { Help = 1, Version, Level, Out };
constexpr OptionSpec Table[] = {
    {"help", 'h', Help},
    {"version", 0, Version},
    {"level", 'l', Level, "a level"},
    {"levels-all", 0, Out},
};

// The reading as one line: options as "ID=VALUE", operands in brackets,
// then the problem.
std::string Shown(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "program");
    const ReadCommandLine read = ReadOptions(int(arguments.size()), arguments.data(), Table);
    std::string shown;
    for (const GivenOption& option : read.Options)
        shown += std::to_string(option.Id) + "=" + std::string(option.Value) + " ";
    for (std::string_view operand : read.Operands) shown += "[" + std::string(operand) + "] ";
    return shown + read.Problem;
}

TEST(ReadOptions, GnuRules) {
    struct Case {
        std::vector<const char*> Arguments;
        const char* Shown;
    };
    const Case cases[] = {
        {{"a.wav", "-h", "b.wav"}, "1= [a.wav] [b.wav] "},  // options anywhere
        {{"--he", "--vers"}, "1= 2= "},                     // shortened
        {{"--level=3", "--level", "4", "-l5", "-l", "6"}, "3=3 3=4 3=5 3=6 "},
        {{"--level="}, "3= "},
        {{"-hl", "7"}, "1= 3=7 "},  // a cluster
        {{"-", "--", "-h", "--"}, "[-] [-h] [--] "},
        {{""}, "[] "},
        {{"--levels"}, "4= "},  // --level, exact above, is also the start of --levels-all
        {{"--lev"}, "option '--lev' is ambiguous"},
        {{"-h", "--bogus=1", "-h"}, "1= unrecognized option '--bogus=1'"},  // stops there
        {{"---help"}, "unrecognized option '---help'"},
        {{"-hx"}, "1= invalid option -- 'x'"},
        {{"-\x1b"}, "invalid option -- '\\x1B'"},
        {{"--help=yes"}, "option '--help' doesn't allow an argument"},
        {{"a.wav", "--level"}, "[a.wav] option '--level' needs a level"},
        {{"-l"}, "option '--level' needs a level"},
    };
    for (const Case& c : cases) EXPECT_EQ(Shown(c.Arguments), c.Shown) << c.Shown;
}

}  // namespace
