// The command line, read GNU style before anything touches the terminal:
// --help, --version, or one PATH that is typed at the first prompt.
#pragma once

#include <string>

enum class CommandAction {
    Run,      // the usual run, with Path typed at the first prompt when HasPath
    Help,     // HelpText on standard output, status 0
    Version,  // VersionText on standard output, status 0
    Refuse,   // Problem on standard error, status 2
};

struct CommandLine {
    CommandAction Action = CommandAction::Run;
    bool HasPath = false;
    std::string Path;
    std::string Problem;  // one line, ending in a newline, naming what is wrong and --help
};

// Options are taken in order wherever they stand (as getopt_long permutes
// them), and the first of --help, --version or a bad option decides; long
// options may be shortened while unambiguous. "--" ends the options. Then
// more than one path, or a path with a control character, is refused.
CommandLine ParseCommandLine(int argc, const char* const* argv);

std::string HelpText();
std::string VersionText();

// The key bytes that type `path` at the prompt and then press Enter.
std::string TypedPathKeys(const std::string& path);

// The lines for standard error that name a setting of the environment the
// program cannot use, each "phonoskew: NAME is "VALUE", ...", or "" when
// both are usable. `threads` and `kernel` are the values of
// PHONOSKEW_THREADS and PHONOSKEW_KERNEL, nullptr when unset; an empty
// value counts as unset.
std::string SettingsWarnings(const char* threads, const char* kernel);
