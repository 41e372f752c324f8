// The command line, read GNU style before anything touches the terminal:
// --help, --version, --out DIR (the folder for the outputs), or one PATH
// that is typed at the first prompt.
#pragma once

#include <string>

#include "engine/engine.h"

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
    std::string OutputFolder;  // --out DIR: the outputs go there; "" beside the input
    std::string Problem;       // one line, ending in a newline, naming what is wrong and --help
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

// ---- The run's settings, from the environment ----------------------------------

// Every setting the environment gives a run, read once, by one parser.
struct RunSettings {
    EngineChoice Engine;     // PHONOSKEW_KERNEL and PHONOSKEW_THREADS
    bool DrawScreen = true;  // false when TERM is "dumb"
    std::string Warnings;    // "phonoskew: NAME is "VALUE", ..." lines, or ""
};

// The settings from the values of PHONOSKEW_THREADS, PHONOSKEW_KERNEL and
// TERM (nullptr when unset; an empty value counts as unset) on a machine
// where the process can use `processors` processors. Threads: a whole
// number from 1 up, at most MostThreads; by default one a processor. Each
// value the program cannot use as given is named once in the warnings,
// with what is used instead.
RunSettings ParseRunSettings(const char* threads, const char* kernel, const char* term,
                             int processors);

// The same from this process's environment.
RunSettings ReadRunSettings();
