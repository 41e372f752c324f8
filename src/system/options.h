// The command line of every Phonoskew program, read GNU style by one loop:
// options anywhere among the operands (as getopt_long permutes them), long
// options shortened while unambiguous, "--opt=VALUE" or "--opt VALUE", a
// cluster of short options, "--" ending the options and "-" alone an
// operand. Each program lists its options in a table; adding one is one
// line there.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct OptionSpec {
    std::string_view Long;  // "help", without the dashes
    char Short = 0;         // 'h', or 0 for none
    int Id = 0;             // what the program switches on
    // What the option's value is, for the message when it is missing ("a
    // number of dB"); nullptr for an option without one.
    const char* Value = nullptr;
};

struct GivenOption {
    int Id = 0;
    std::string_view Value;
};

struct ReadCommandLine {
    std::vector<GivenOption> Options;  // in the order given, up to any problem
    std::vector<std::string_view> Operands;
    // "" or the first problem, as getopt words it: "unrecognized option
    // '--x'", "invalid option -- 'x'", "option '--help' doesn't allow an
    // argument", "option '--gain' needs a number of dB". Reading stops there.
    std::string Problem;
};

ReadCommandLine ReadOptions(int argc, const char* const* argv, std::span<const OptionSpec> table);

// The line a program refuses its command line with, on standard error:
// "phonoskew-prepare: no input file given (try 'phonoskew-prepare --help')".
std::string CommandLineRefusal(std::string_view program, std::string_view problem);
