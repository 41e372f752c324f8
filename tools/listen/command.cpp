// The command line of phonoskew-listen and its help text.
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "listen/listen.h"
#include "system/options.h"
#include "system/quoting.h"

namespace {

constexpr int MostTrials = 1000;

ListenCommand Refusal(const std::string& problem) {
    ListenCommand refused;
    refused.Action = ListenAction::Refuse;
    refused.Problem = CommandLineRefusal("phonoskew-listen", problem);
    return refused;
}

// A whole number from `low` to `high`, decimal digits only.
bool ParseWhole(std::string_view text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    value = std::strtoll(std::string(text).c_str(), nullptr, 10);
    return value >= low && value <= high;
}

// Seconds as "12.5" or minutes and seconds as "1:02.5"; never negative.
bool ParseTime(std::string_view text, double& seconds) {
    if (text.empty() || text.find_first_not_of("0123456789.:") != text.npos) return false;
    double minutes = 0.0;
    const size_t colon = text.find(':');
    if (colon != text.npos) {
        int64_t whole = 0;
        if (!ParseWhole(text.substr(0, colon), 0, 100000, whole)) return false;
        minutes = double(whole);
        text = text.substr(colon + 1);
        if (text.empty() || text.find(':') != text.npos) return false;
    }
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno != 0 || copy == ".") return false;
    seconds = minutes * 60.0 + value;
    return true;
}

enum OptionId {
    HelpOption = 1,
    VersionOption,
    ListDevicesOption,
    WriteReferenceOption,
    ReportOption,
    MatchOption,
    TrialsOption,
    SeedOption,
    FromOption,
    ToOption,
    DeviceOption,
    RateOption,
    ExportOption,
};

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"list-devices", 0, ListDevicesOption},
    {"write-reference", 0, WriteReferenceOption},
    {"report", 0, ReportOption},
    {"match", 0, MatchOption, "loudness, rms or none"},
    {"trials", 0, TrialsOption, "a number of trials"},
    {"seed", 0, SeedOption, "a number"},
    {"from", 0, FromOption, "a time"},
    {"to", 0, ToOption, "a time"},
    {"device", 0, DeviceOption, "a name or a number"},
    {"rate", 0, RateOption, "a rate in Hz"},
    {"export", 0, ExportOption, "a folder"},
};

bool ParseMatch(std::string_view name, LevelMatch& match) {
    if (name == "loudness") {
        match = LevelMatch::Loudness;
    } else if (name == "rms") {
        match = LevelMatch::Rms;
    } else if (name == "none") {
        match = LevelMatch::None;
    } else {
        return false;
    }
    return true;
}

// One option with a value; "" when taken, else the refusal's words.
std::string TakeValueOption(const GivenOption& option, ListenCommand& command) {
    const std::string_view value = option.Value;
    int64_t whole = 0;
    switch (option.Id) {
        case MatchOption:
            if (!ParseMatch(value, command.Match))
                return "--match wants loudness, rms or none, got " + QuotedArgument(value);
            break;
        case TrialsOption:
            if (!ParseWhole(value, 1, MostTrials, whole))
                return "--trials wants a number from 1 to 1000, got " + QuotedArgument(value);
            command.Trials = int(whole);
            break;
        case SeedOption:
            if (!ParseWhole(value, 0, 4294967295, whole))
                return "--seed wants a number from 0 to 4294967295, got " + QuotedArgument(value);
            command.HasSeed = true;
            command.Seed = uint32_t(whole);
            break;
        case FromOption:
        case ToOption:
            if (!ParseTime(value,
                           option.Id == FromOption ? command.FromSeconds : command.ToSeconds))
                return std::string(option.Id == FromOption ? "--from" : "--to") +
                       " wants a time in seconds or minutes:seconds, got " + QuotedArgument(value);
            break;
        case DeviceOption:
            if (value.empty()) return "--device wants a name or a number";
            command.Device = value;
            break;
        case RateOption:
            if (!ParseWhole(value, 8000, 384000, whole))
                return "--rate wants a rate from 8000 to 384000 Hz, got " + QuotedArgument(value);
            command.Rate = double(whole);
            break;
        case ExportOption:
            if (value.empty()) return "--export wants a folder";
            command.ExportFolder = value;
            break;
    }
    return "";
}

// The operands: the recording, then the outputs' numbers.
std::string TakeOperands(const std::vector<std::string_view>& operands, ListenCommand& command) {
    if (operands.empty()) return "no recording given";
    command.Recording = operands[0];
    for (size_t i = 1; i < operands.size(); ++i) {
        int64_t n = 0;
        if (!ParseWhole(operands[i], 1, 4, n))
            return "an output is a number from 1 to 4, got " + QuotedArgument(operands[i]);
        for (int taken : command.Outputs) {
            if (taken == n) return "output " + std::to_string(n) + " named twice";
        }
        command.Outputs.push_back(int(n));
    }
    return "";
}

}  // namespace

ListenCommand ParseListenCommand(int argc, const char* const* argv) {
    const ReadCommandLine read = ReadOptions(argc, argv, Options);
    ListenCommand command;
    // In the order given, up to a bad option.
    for (const GivenOption& option : read.Options) {
        switch (option.Id) {
            case HelpOption:
                command.Action = ListenAction::Help;
                return command;
            case VersionOption:
                command.Action = ListenAction::Version;
                return command;
            case ListDevicesOption:
                command.Action = ListenAction::ListDevices;
                break;
            case WriteReferenceOption:
                command.WriteReference = true;
                break;
            case ReportOption:
                command.Report = true;
                break;
            default:
                if (const std::string problem = TakeValueOption(option, command); !problem.empty())
                    return Refusal(problem);
        }
    }
    if (!read.Problem.empty()) return Refusal(read.Problem);
    if (command.Action == ListenAction::ListDevices) return command;
    const std::string problem = TakeOperands(read.Operands, command);
    if (!problem.empty()) return Refusal(problem);
    if (command.ToSeconds > 0.0 && command.ToSeconds <= command.FromSeconds)
        return Refusal("--to must come after --from");
    if (command.WriteReference || command.Report || !command.ExportFolder.empty())
        command.Action = ListenAction::Work;
    return command;
}

std::string ListenHelpText() {
    return "Usage: phonoskew-listen [OPTIONS] RECORDING.wav [N ...]\n"
           "\n"
           "A blind ABX test of phonoskew's error outputs of RECORDING.wav, through the\n"
           "sound device. For output N ('NAME RIAA error N.wav' beside the recording; by\n"
           "default every output there is), A is the reference: the recording through a\n"
           "one-tap identity filter with output N's own dither, byte for byte what\n"
           "phonoskew writes with the identity set of examples/coefficients/reference.\n"
           "B is output N. A and B differ by the error filter alone. Their levels are\n"
           "matched first, the louder one lowered, so that level cannot give them away.\n"
           "\n"
           "Keys while listening:\n"
           "  a, b, x   play A, B or X, at the same place, through an 8 ms crossfade\n"
           "  space     pause or go on\n"
           "  [  ]      start or end the loop where it plays;  \\  the whole recording\n"
           "  1, 2      answer: X is A, X is B\n"
           "  q         end the test (Ctrl-C too); Ctrl-Z suspends it\n"
           "X is drawn anew for each trial and shown only at the end, with the score\n"
           "and the chance of doing as well by guessing. Each trial is added to\n"
           "'NAME RIAA listening.log' beside the recording.\n"
           "\n"
           "Options:\n"
           "      --match HOW        loudness (integrated, ITU-R BS.1770; the default),\n"
           "                         rms, or none\n"
           "      --trials N         trials for each output (1 to 1000; default 16)\n"
           "      --seed N           draw X from this seed (0 to 4294967295), not the clock\n"
           "      --from TIME        the loop's start, in seconds or minutes:seconds\n"
           "      --to TIME          the loop's end (default: the end of the recording)\n"
           "      --device NAME|N    the sound device by name or by number\n"
           "      --rate HZ          play at HZ, both sides resampled alike with libsoxr\n"
           "                         (default: 96000, or the device's own rate)\n"
           "      --list-devices     list the sound devices and exit\n"
           "      --write-reference  write 'NAME RIAA reference N.wav' beside the recording\n"
           "      --export DIR       write the level-matched pairs into DIR (made when\n"
           "                         missing) as 'NAME RIAA reference N.wav' and\n"
           "                         'NAME RIAA error N.wav' for another ABX tool, and\n"
           "                         print the gains\n"
           "      --report           what each error did to the recording: loudness, RMS,\n"
           "                         peaks, octave bands, the null depth; with an SVG plot\n"
           "                         'NAME RIAA report N.svg' beside the recording\n"
           "  -h, --help             show this help and exit\n"
           "      --version          show the version and exit\n"
           "With --write-reference, --export or --report no test is started. No file is\n"
           "ever overwritten.\n"
           "\n"
           "Exit status:\n"
           "  0  the test ran, or the files were written\n"
           "  1  a missing or wrong output, a file that could not be read or written,\n"
           "     or no sound device\n"
           "  2  a bad command line\n"
           "\n"
           "More: man phonoskew-listen\n";
}
