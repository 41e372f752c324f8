// phonoskew-demo-signal: writes the demo recording, a short musical test
// signal as a stereo 24-bit 96 kHz WAVE file that Phonoskew accepts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "design/design.h"
#include "system/files.h"

namespace {

constexpr const char* UsageText =
    "usage: phonoskew-demo-signal OUT.wav [--seconds S]\n"
    "Writes a deterministic test signal (plucked notes over quiet pink noise,\n"
    "peak -6 dBFS) as a stereo 24-bit 96 kHz WAVE file with a 44-byte header.\n"
    "S is 0.1 to 600, default 10. --version shows the version.\n";

}  // namespace

int main(int argc, char** commandLine) {
    // The path in UTF-8, as the file layer takes it.
    std::vector<std::string> arguments = ProgramArguments(argc, commandLine);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    const char* outPath = nullptr;
    double seconds = 10.0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("phonoskew-demo-signal " PHONOSKEW_VERSION "\n", stdout);
            return 0;
        }
        if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds >= 0.1 && seconds <= 600.0)) {
                std::fprintf(stderr,
                             "phonoskew-demo-signal: --seconds wants 0.1 to 600, got '%s'\n",
                             argv[i]);
                return 2;
            }
        } else if (!outPath && !arg.empty() && arg[0] != '-') {
            outPath = argv[i];
        } else {
            std::fprintf(stderr, "phonoskew-demo-signal: unexpected argument: %s\n%s", argv[i],
                         UsageText);
            return 2;
        }
    }
    if (!outPath) {
        std::fputs(UsageText, stderr);
        return 2;
    }

    const std::string reason = WriteDemoFile(outPath, MakeDemoSignal(seconds));
    if (!reason.empty()) {
        std::fprintf(stderr, "phonoskew-demo-signal: cannot write %s: %s\n", outPath,
                     reason.c_str());
        return 1;
    }
    return 0;
}
