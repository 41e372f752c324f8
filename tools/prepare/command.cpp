// The command line of phonoskew-prepare and its help text.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "prepare/prepare.h"
#include "system/options.h"
#include "system/quoting.h"

namespace {

// ---- Command line -------------------------------------------------------------------

constexpr double LowestGainDb = -100.0;
constexpr double HighestGainDb = 20.0;

PrepareCommand Refusal(const std::string& problem) {
    PrepareCommand refused;
    refused.Action = PrepareAction::Refuse;
    refused.Problem = CommandLineRefusal("phonoskew-prepare", problem);
    return refused;
}

// A whole decimal number of dB in the range; strtod alone would take "inf",
// "nan" or hexadecimal.
bool ParseGain(std::string_view text, double& gainDb) {
    if (text.empty() || text.find_first_not_of("+-.0123456789eE") != std::string_view::npos)
        return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno != 0) return false;
    if (!(value >= LowestGainDb && value <= HighestGainDb)) return false;
    gainDb = value;
    return true;
}

enum OptionId { HelpOption = 1, VersionOption, GainOption, SamplePeakOption, DownmixOption };

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"gain", 0, GainOption, "a number of dB"},
    {"sample-peak", 0, SamplePeakOption},
    {"downmix", 0, DownmixOption},
};

}  // namespace

PrepareCommand ParsePrepareCommand(int argc, const char* const* argv) {
    const ReadCommandLine read = ReadOptions(argc, argv, Options);
    PrepareCommand command;
    // In the order given, up to a bad option.
    for (const GivenOption& option : read.Options) {
        if (option.Id == HelpOption || option.Id == VersionOption) {
            command.Action = option.Id == HelpOption ? PrepareAction::Help : PrepareAction::Version;
            return command;
        }
        if (option.Id == GainOption) {
            if (!ParseGain(option.Value, command.GainDb))
                return Refusal("--gain wants a number of dB from -100 to 20, got " +
                               QuotedArgument(option.Value));
            command.HasGain = true;
        } else if (option.Id == SamplePeakOption) {
            command.SamplePeak = true;
        } else if (option.Id == DownmixOption) {
            command.Downmix = true;
        }
    }
    if (!read.Problem.empty()) return Refusal(read.Problem);
    const std::vector<std::string_view>& paths = read.Operands;
    if (paths.empty()) return Refusal("no input file given");
    if (paths.size() > 2) return Refusal("extra operand " + QuotedArgument(paths[2]));
    command.Input = paths[0];
    if (paths.size() == 2) command.Output = paths[1];
    return command;
}

std::string PrepareHelpText(const std::string& exampleFolder) {
    const std::string examples = exampleFolder.empty()
                                     ? "(none found: give --gain, or put the four sets in the "
                                       "current folder)"
                                     : exampleFolder;
    return "Usage: phonoskew-prepare [--gain DB | --sample-peak] [--downmix] IN [OUT]\n"
           "\n"
           "Makes from a recording the one kind of file phonoskew accepts: stereo 24-bit\n"
           "PCM at 96 kHz with the plain 44-byte WAVE header. IN may be a WAVE file of any\n"
           "layout (8- to 32-bit or floating-point samples, extensible format, extra\n"
           "chunks such as bext, LIST or JUNK, RF64), FLAC or AIFF, at any rate from\n"
           "1000 to 768000 Hz, mono (copied to both channels) or stereo; with --downmix,\n"
           "of more channels too. It is read and resampled to 96 kHz once, in bounded\n"
           "memory (the resampled signal waits in a scratch file beside OUT, removed\n"
           "whatever happens), and stored as 24 bits with triangular dither.\n"
           "\n"
           "OUT is by default 'NAME 24-96.wav' beside IN, NAME being IN less its\n"
           "extension. When another file beside IN has the same NAME (cd.wav beside\n"
           "cd.flac), the extension stays in it ('cd.flac 24-96.wav'), so that two\n"
           "recordings never share one output. An existing OUT is replaced.\n"
           "\n"
           "Headroom: an error filter can raise peaks. Unless --gain is given, the level\n"
           "is lowered just enough that none of phonoskew's four outputs would clip when\n"
           "it filters with FO.dat, SO.dat, FOP.dat and SOP.dat of the current folder,\n"
           "and that neither OUT nor any output peaks above 0 dBFS between its samples\n"
           "(the true peak, found four times oversampled as ITU-R BS.1770 measures it),\n"
           "where a player's converter could clip.\n"
           "For a set the folder lacks, the example set installed with phonoskew serves:\n"
           "from share/phonoskew/examples/coefficients beside the program's bin folder,\n"
           "else from where the build installs it, else from the source tree; here\n"
           "  " +
           examples +
           "\n"
           "The headroom never raises the level. A file already in the accepted form that\n"
           "needs no gain keeps its samples exactly.\n"
           "\n"
           "Options:\n"
           "      --gain DB      apply DB decibels (-100 to 20) instead of the headroom; a\n"
           "                     sample beyond full scale is clipped and counted\n"
           "      --sample-peak  the headroom on sample peaks alone, not true peaks\n"
           "      --downmix      fold more than two channels to stereo with the ITU-R\n"
           "                     BS.775 coefficients: centre and surrounds at -3 dB on\n"
           "                     their side (a back centre at -6 dB on both), LFE left out\n"
           "  -h, --help         show this help and exit\n"
           "      --version      show the version and exit\n"
           "\n"
           "Exit status:\n"
           "  0  OUT written\n"
           "  1  IN could not be read or converted, or OUT could not be written\n"
           "  2  a bad command line\n"
           "\n"
           "Then run phonoskew on OUT. More: man phonoskew-prepare\n";
}
