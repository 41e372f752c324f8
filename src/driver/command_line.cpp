// Reading the command line and the texts of --help and --version, and
// checking the settings the environment gives.
#include "driver/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#ifndef PHONOSKEW_VERSION
#error "PHONOSKEW_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

constexpr const char* HelpHint = " (try 'phonoskew --help')\n";

// Bytes that no key at the prompt can type: a path holding one could
// never have been typed there.
bool IsControl(unsigned char byte) { return byte < 32 || byte == 127; }

// An argument quoted for the one-line message, its control bytes written
// as \xHH so that the message can never steer the terminal.
std::string Quoted(std::string_view text) {
    std::string quoted = "'";
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        if (IsControl(byte)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        } else {
            quoted += ch;
        }
    }
    return quoted + "'";
}

CommandLine Refusal(const std::string& problem) {
    CommandLine refused;
    refused.Action = CommandAction::Refuse;
    refused.Problem = "phonoskew: " + problem + HelpHint;
    return refused;
}

CommandLine Action(CommandAction action) {
    CommandLine line;
    line.Action = action;
    return line;
}

// "--name" or "--name=value", where name may be any unambiguous start of a
// long option; the two options begin with different letters.
CommandLine LongOption(std::string_view argument) {
    std::string_view body = argument.substr(2);
    size_t equals = body.find('=');
    std::string_view name = body.substr(0, equals);
    for (auto [option, action] : {std::pair{std::string_view("help"), CommandAction::Help},
                                  std::pair{std::string_view("version"), CommandAction::Version}}) {
        if (name.empty() || !option.starts_with(name)) continue;
        if (equals != std::string_view::npos) {
            return Refusal("option '--" + std::string(option) + "' doesn't allow an argument");
        }
        return Action(action);
    }
    return Refusal("unrecognized option " + Quoted(argument));
}

// "-h", or a cluster of short options of which the first decides.
CommandLine ShortOptions(std::string_view argument) {
    if (argument[1] == 'h') return Action(CommandAction::Help);
    return Refusal("invalid option -- " + Quoted(argument.substr(1, 1)));
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    std::vector<std::string_view> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            paths.push_back(argument);  // "-" alone is a path, as getopt has it
        } else if (argument == "--") {
            optionsEnded = true;
        } else {
            CommandLine option = argument[1] == '-' ? LongOption(argument) : ShortOptions(argument);
            if (option.Action != CommandAction::Run) return option;
        }
    }
    if (paths.size() > 1) return Refusal("extra operand " + Quoted(paths[1]));
    CommandLine line;
    if (paths.empty()) return line;
    for (char ch : paths[0]) {
        if (IsControl(static_cast<unsigned char>(ch))) {
            char problem[96];
            std::snprintf(problem, sizeof problem,
                          "the path holds a control character (0x%02X), which cannot be typed",
                          static_cast<unsigned char>(ch));
            return Refusal(problem);
        }
    }
    line.HasPath = true;
    line.Path = paths[0];
    return line;
}

std::string HelpText() {
    return "Usage: phonoskew [PATH]\n"
           "\n"
           "Hear what errors of phono playback equalisation do to a recording: Phonoskew\n"
           "passes one stereo 24-bit 96 kHz WAVE file through four 64-tap FIR error\n"
           "filters, with triangular dither, and writes four 24-bit WAVE files beside it.\n"
           "\n"
           "At \"Input file?\" type the recording's path and press Enter (PATH, if given,\n"
           "is typed there for you). The file's data is shown, then each of the four\n"
           "stages filters and writes one file; then any key quits.\n"
           "\n"
           "Only stereo 24-bit 96 kHz PCM WAVE files with the plain 44-byte header are\n"
           "accepted. phonoskew-prepare makes one from any recording ('in 24-96.wav'),\n"
           "with the headroom the error filters need; or SoX, with peaks at -3 dBFS:\n"
           "  phonoskew-prepare 'in.wav'\n"
           "  sox 'in.wav' -b 24 -r 96000 -c 2 -t wavpcm 'in-24-96.wav' gain -n -3\n"
           "\n"
           "Coefficient files, read from the current folder, one number a line (CR LF):\n"
           "  FO.dat   first-order error          ->  NAME RIAA error 1.wav\n"
           "  SO.dat   second-order error         ->  NAME RIAA error 2.wav\n"
           "  FOP.dat  first-order phase shift    ->  NAME RIAA error 3.wav\n"
           "  SOP.dat  second-order phase shift   ->  NAME RIAA error 4.wav\n"
           "NAME is the path less its last four characters.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Exit status:\n"
           "  0  complete: all four files written\n"
           "  1  an output file was given up with Esc\n"
           "  2  standard input ended at the prompt or at a message box, or a bad\n"
           "     command line\n"
           "  3  an unexpected failure, named on standard error\n"
           "\n"
           "Environment:\n"
           "  PHONOSKEW_THREADS  threads for each stage (default: one a core)\n"
           "  PHONOSKEW_KERNEL   auto (default), avx2 or sse2 (caps on the vector width),\n"
           "                     exact (or x87: every output in the 64-bit-significand\n"
           "                     arithmetic); the output bytes are the same in every mode\n"
           "\n"
           "The whole dialogue, the file formats and every message: man phonoskew\n";
}

std::string VersionText() { return "phonoskew " PHONOSKEW_VERSION "\n"; }

// LF, not CR: a CR would join with an LF that a script sends next (CR LF is
// one Enter), and that LF is meant to dismiss a message box.
std::string TypedPathKeys(const std::string& path) { return path + "\n"; }

// ---- Settings of the environment ----------------------------------------------------

namespace {

// A whole decimal number from 1 up, as the engine reads it.
bool UsableThreadCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    long threads = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && threads >= 1;
}

bool UsableKernel(std::string_view name) {
    for (std::string_view known : {"exact", "x87", "avx2", "sse2", "auto"}) {
        if (name == known) return true;
    }
    return false;
}

}  // namespace

std::string SettingsWarnings(const char* threads, const char* kernel) {
    std::string lines;
    if (threads && *threads && !UsableThreadCount(threads)) {
        lines += std::string("phonoskew: PHONOSKEW_THREADS is \"") + threads +
                 "\", not a number of threads from 1 up: one a processor is used\n";
    }
    if (kernel && *kernel && !UsableKernel(kernel)) {
        lines += std::string("phonoskew: PHONOSKEW_KERNEL is \"") + kernel +
                 "\", not exact, x87, avx2, sse2 or auto: it is ignored\n";
    }
    return lines;
}
