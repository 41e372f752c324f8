// Reading the command line and the texts of --help and --version, and
// checking the settings the environment gives.
#include "driver/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "filters/stages.h"
#include "system/files.h"
#include "system/options.h"
#include "system/processors.h"
#include "system/quoting.h"
#include "wave/wave.h"

#ifndef PHONOSKEW_VERSION
#error "PHONOSKEW_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

// Bytes that no key at the prompt can type: a path holding one could
// never have been typed there.
bool IsControl(unsigned char byte) { return byte < 32 || byte == 127; }

CommandLine Refusal(const std::string& problem) {
    CommandLine refused;
    refused.Action = CommandAction::Refuse;
    refused.Problem = CommandLineRefusal("phonoskew", problem);
    return refused;
}

CommandLine Action(CommandAction action) {
    CommandLine line;
    line.Action = action;
    return line;
}

enum OptionId { HelpOption = 1, VersionOption, OutputFolderOption };

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"out", 0, OutputFolderOption, "a folder"},
};

// "  FO.dat   first-order error          ->  NAME RIAA error 1.wav" for each stage.
std::string StageLines() {
    std::string lines;
    for (const ErrorStage& stage : ErrorStages) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-8s %-26s ->  NAME%s\n", stage.CoefficientFile,
                      stage.Kind, stage.OutputSuffix);
        lines += line;
    }
    return lines;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    const ReadCommandLine read = ReadOptions(argc, argv, Options);
    std::string_view outputFolder;
    // The first of --help, --version or a bad option decides; the last
    // --out counts.
    for (const GivenOption& option : read.Options) {
        if (option.Id == HelpOption) return Action(CommandAction::Help);
        if (option.Id == VersionOption) return Action(CommandAction::Version);
        if (option.Id == OutputFolderOption) {
            if (option.Value.empty()) return Refusal("option '--out' wants a folder, not ''");
            outputFolder = option.Value;
        }
    }
    if (!read.Problem.empty()) return Refusal(read.Problem);
    const std::vector<std::string_view>& paths = read.Operands;
    if (paths.size() > 1) return Refusal("extra operand " + QuotedArgument(paths[1]));
    CommandLine line;
    line.OutputFolder = outputFolder;
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
    return "Usage: phonoskew [--out DIR] [PATH]\n"
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
           "  " +
           PrepareToolCommand("in.wav") + "\n  " + ConversionCommand("in.wav", {}) +
           "\n"
           "\n"
           "Coefficient files, read from the current folder, one number a line (CR LF):\n" +
           StageLines() +
           "NAME is the path less its last four characters.\n"
           "\n"
           "Options:\n"
           "      --out DIR  write the four files into DIR (made if missing), with the\n"
           "                 same names, instead of beside the input\n"
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
           "  PHONOSKEW_KERNEL   auto (default), avx2 or sse4 (caps on the vector width),\n"
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

struct KernelName {
    std::string_view Name;
    Kernel Form;
};

// The kernels by name; x87 is exact's other name, and sse2 the 128-bit
// cap's old one (on x86-64 it takes SSE4 where the processor has it).
constexpr KernelName KernelNames[] = {{"auto", Kernel::Fast},        {"avx2", Kernel::FastUpto256},
                                      {"sse4", Kernel::FastUpto128}, {"sse2", Kernel::FastUpto128},
                                      {"exact", Kernel::Exact},      {"x87", Kernel::Exact}};

// A whole decimal number (blanks and a '+' may lead), saturated at
// `ceiling`; -1 when the text is not one.
long long WholeNumber(std::string_view text, long long ceiling) {
    size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos) return -1;
    if (text[at] == '+') ++at;
    if (at == text.size()) return -1;
    long long value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return -1;
        value = std::min(ceiling, value * 10 + (text[at] - '0'));
    }
    return value;
}

// The value as the environment gave it, its control bytes escaped: it goes
// to the terminal.
std::string Warning(const char* name, const char* value, std::string_view what) {
    return std::string("phonoskew: ") + name + " is \"" + PrintableText(value) + "\", " +
           std::string(what) + "\n";
}

}  // namespace

RunSettings ParseRunSettings(const char* threads, const char* kernel, const char* term,
                             int processors) {
    RunSettings settings;
    settings.Engine.Threads = std::clamp(processors, 1, MostThreads);
    if (threads && *threads) {
        long long asked = WholeNumber(threads, MostThreads + 1);
        if (asked < 1) {
            settings.Warnings +=
                Warning("PHONOSKEW_THREADS", threads,
                        "not a number of threads from 1 up: one a processor is used");
        } else if (asked > MostThreads) {
            settings.Engine.Threads = MostThreads;
            settings.Warnings += Warning(
                "PHONOSKEW_THREADS", threads,
                "more than the " + std::to_string(MostThreads) +
                    " threads a stage can use: " + std::to_string(MostThreads) + " are used");
        } else {
            settings.Engine.Threads = int(asked);
        }
    }
    if (kernel && *kernel) {
        const KernelName* known =
            std::find_if(std::begin(KernelNames), std::end(KernelNames),
                         [kernel](const KernelName& k) { return k.Name == kernel; });
        if (known != std::end(KernelNames)) {
            settings.Engine.Form = known->Form;
        } else {
            settings.Warnings += Warning("PHONOSKEW_KERNEL", kernel,
                                         "not exact, x87, avx2, sse4 or auto: it is ignored");
        }
    }
    // A dumb terminal cannot place the cursor: it gets the plain transcript.
    settings.DrawScreen = !(term && std::string_view(term) == "dumb");
    return settings;
}

RunSettings ReadRunSettings() {
    return ParseRunSettings(std::getenv("PHONOSKEW_THREADS"), std::getenv("PHONOSKEW_KERNEL"),
                            std::getenv("TERM"), ProcessorsAvailable());
}
