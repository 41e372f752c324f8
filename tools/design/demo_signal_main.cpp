// phonoskew-demo-signal: writes the demo recording, a short musical test
// signal as a stereo 24-bit 96 kHz WAVE file that Phonoskew accepts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "design/design.h"
#include "system/files.h"
#include "system/options.h"
#include "system/quoting.h"

namespace {

constexpr const char* UsageText =
    "usage: phonoskew-demo-signal OUT.wav [--seconds S]\n"
    "Writes a deterministic test signal (plucked notes over quiet pink noise,\n"
    "peak -6 dBFS) as a stereo 24-bit 96 kHz WAVE file with a 44-byte header.\n"
    "S is 0.1 to 600, default 10. --version shows the version.\n";

enum OptionId { HelpOption = 1, VersionOption, SecondsOption };

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"seconds", 0, SecondsOption, "a number of seconds"},
};

// From 0.1 to 600 seconds; else said on stderr.
bool ParseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(value >= 0.1 && value <= 600.0)) {
        std::fprintf(stderr, "phonoskew-demo-signal: --seconds wants 0.1 to 600, got %s\n",
                     QuotedArgument(text).c_str());
        return false;
    }
    seconds = value;
    return true;
}

}  // namespace

int main(int argc, char** commandLine) {
    // The path in UTF-8, as the file layer takes it.
    const std::vector<std::string> arguments = ProgramArguments(argc, commandLine);
    const std::vector<const char*> argv = ArgumentWords(arguments);
    const ReadCommandLine read = ReadOptions(argc, argv.data(), Options);
    double seconds = 10.0;
    for (const GivenOption& option : read.Options) {
        if (option.Id == HelpOption) {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (option.Id == VersionOption) {
            std::fputs("phonoskew-demo-signal " PHONOSKEW_VERSION "\n", stdout);
            return 0;
        }
        if (option.Id == SecondsOption && !ParseSeconds(std::string(option.Value), seconds))
            return 2;
    }
    if (!read.Problem.empty() || read.Operands.size() != 1) {
        if (!read.Problem.empty())
            std::fprintf(stderr, "phonoskew-demo-signal: %s\n", read.Problem.c_str());
        std::fputs(UsageText, stderr);
        return 2;
    }
    const std::string outPath(read.Operands[0]);

    const std::string reason = WriteDemoFile(outPath, MakeDemoSignal(seconds));
    if (!reason.empty()) {
        std::fprintf(stderr, "phonoskew-demo-signal: cannot write %s: %s\n",
                     QuotedArgument(outPath).c_str(), reason.c_str());
        return 1;
    }
    return 0;
}
