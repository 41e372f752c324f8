// One reading of a command line for every program.
#include "system/options.h"

#include "system/quoting.h"

namespace {

struct Reader {
    int argc;
    const char* const* argv;
    std::span<const OptionSpec> table;
    ReadCommandLine read;
};

// The option whose long name starts with `name`: the one named exactly, else
// the only one it starts; nullptr with the problem set when none or several.
const OptionSpec* FindLong(Reader& reader, std::string_view name, std::string_view argument) {
    const OptionSpec* found = nullptr;
    int starts = 0;
    for (const OptionSpec& option : reader.table) {
        if (option.Long == name) return &option;
        if (!name.empty() && option.Long.starts_with(name)) {
            found = &option;
            ++starts;
        }
    }
    if (starts == 1) return found;
    reader.read.Problem = starts == 0 ? "unrecognized option " + QuotedArgument(argument)
                                      : "option " + QuotedArgument(argument) + " is ambiguous";
    return nullptr;
}

// The value of `option` from `inline` or, without one, from the next
// argument; false with the problem set when it is missing.
bool TakeValue(Reader& reader, const OptionSpec& option, const std::string_view* given, int& i) {
    GivenOption taken{option.Id, {}};
    if (option.Value == nullptr) {
        if (given != nullptr) {
            reader.read.Problem =
                "option '--" + std::string(option.Long) + "' doesn't allow an argument";
            return false;
        }
    } else if (given != nullptr) {
        taken.Value = *given;
    } else if (i + 1 < reader.argc) {
        taken.Value = reader.argv[++i];
    } else {
        reader.read.Problem = "option '--" + std::string(option.Long) + "' needs " + option.Value;
        return false;
    }
    reader.read.Options.push_back(taken);
    return true;
}

bool ReadLong(Reader& reader, std::string_view argument, int& i) {
    const std::string_view body = argument.substr(2);
    const size_t equals = body.find('=');
    const OptionSpec* option = FindLong(reader, body.substr(0, equals), argument);
    if (option == nullptr) return false;
    const std::string_view value = equals == std::string_view::npos ? "" : body.substr(equals + 1);
    return TakeValue(reader, *option, equals == std::string_view::npos ? nullptr : &value, i);
}

// A cluster of short options; one that takes a value takes the rest of the
// cluster, or the next argument.
bool ReadShort(Reader& reader, std::string_view argument, int& i) {
    for (size_t at = 1; at < argument.size(); ++at) {
        const OptionSpec* option = nullptr;
        for (const OptionSpec& candidate : reader.table)
            if (candidate.Short != 0 && candidate.Short == argument[at]) option = &candidate;
        if (option == nullptr) {
            reader.read.Problem = "invalid option -- " + QuotedArgument(argument.substr(at, 1));
            return false;
        }
        if (option->Value != nullptr && at + 1 < argument.size()) {
            const std::string_view rest = argument.substr(at + 1);
            return TakeValue(reader, *option, &rest, i);
        }
        if (!TakeValue(reader, *option, nullptr, i)) return false;
        if (option->Value != nullptr) return true;
    }
    return true;
}

}  // namespace

ReadCommandLine ReadOptions(int argc, const char* const* argv, std::span<const OptionSpec> table) {
    Reader reader{argc, argv, table, {}};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            reader.read.Operands.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (!(argument[1] == '-' ? ReadLong(reader, argument, i)
                                        : ReadShort(reader, argument, i))) {
            break;
        }
    }
    return reader.read;
}

std::string CommandLineRefusal(std::string_view program, std::string_view problem) {
    const std::string name(program);
    return name + ": " + std::string(problem) + " (try '" + name + " --help')\n";
}
