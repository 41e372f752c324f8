// phonoskew-design: writes the four error filters FO.dat, SO.dat, FOP.dat
// and SOP.dat (64 taps each, for 96 kHz) with one SVG response plot each,
// and prints how far each filter departs from flat and from its exact model.
// With --check it reads coefficient files as phonoskew does instead, and
// says what it finds in each.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "design/design.h"
#include "filters/filters.h"
#include "filters/stages.h"
#include "numeric/numeric.h"
#include "system/files.h"
#include "system/options.h"
#include "system/quoting.h"

namespace {

struct DesignOptions {
    std::string OutDir = ".";
    std::string Sets = "FO,SO,FOP,SOP";
    double FoTauMicro = 75.0;
    double FoErrorPercent = 5.0;
    double SoHz = 15000.0;
    double SoQRight = 0.7071;
    double SoQWrong = 0.85;
    double FopTauMicro = 75.0;
    double SopHz = 15000.0;
    double SopQ = 0.7071;
    bool Check = false;              // --check: read these files instead
    std::vector<std::string> Files;  // the files to check
};

constexpr const char* UsageText =
    "usage: phonoskew-design [options]\n"
    "       phonoskew-design --check FILE.dat... [--out DIR]\n"
    "Writes FO.dat, SO.dat, FOP.dat and SOP.dat (64 taps for 96 kHz, one number\n"
    "per line, CR LF) and a response plot NAME.svg for each. With --check, reads\n"
    "each FILE.dat as phonoskew does and prints its taps as read, what may make\n"
    "them differ from the numbers meant, their sum and the largest gain they can\n"
    "give, and writes the plot NAME-response.svg of its response.\n"
    "\n"
    "  --out DIR            directory for the files, made if missing (default .)\n"
    "  --check              read the coefficient files named instead of designing\n"
    "  --sets LIST          which sets, comma-separated (default FO,SO,FOP,SOP)\n"
    "  --fo-tau US          FO: the time constant in us (default 75, RIAA treble)\n"
    "  --fo-error PCT       FO: how far it is off, in percent (default 5)\n"
    "  --so-freq HZ         SO: resonance frequency (default 15000)\n"
    "  --so-q-right Q       SO: the intended damping (default 0.7071)\n"
    "  --so-q-wrong Q       SO: the actual damping (default 0.85)\n"
    "  --fop-tau US         FOP: all-pass time constant in us (default 75)\n"
    "  --sop-freq HZ        SOP: all-pass centre frequency (default 15000)\n"
    "  --sop-q Q            SOP: all-pass Q (default 0.7071)\n"
    "  --help               this text\n"
    "  --version            the version of Phonoskew it belongs to\n";

enum OptionId {
    HelpOption = 1,
    VersionOption,
    CheckOption,
    OutOption,
    SetsOption,
    FoTauOption,
    FoErrorOption,
    SoFreqOption,
    SoQRightOption,
    SoQWrongOption,
    FopTauOption,
    SopFreqOption,
    SopQOption,
};

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"check", 0, CheckOption},
    {"out", 0, OutOption, "a folder"},
    {"sets", 0, SetsOption, "a list of sets"},
    {"fo-tau", 0, FoTauOption, "a number"},
    {"fo-error", 0, FoErrorOption, "a percentage"},
    {"so-freq", 0, SoFreqOption, "a number"},
    {"so-q-right", 0, SoQRightOption, "a number"},
    {"so-q-wrong", 0, SoQWrongOption, "a number"},
    {"fop-tau", 0, FopTauOption, "a number"},
    {"sop-freq", 0, SopFreqOption, "a number"},
    {"sop-q", 0, SopQOption, "a number"},
};

// Where each option with a positive number keeps it.
double* PositiveValue(int id, DesignOptions& options) {
    switch (id) {
        case FoTauOption:
            return &options.FoTauMicro;
        case SoFreqOption:
            return &options.SoHz;
        case SoQRightOption:
            return &options.SoQRight;
        case SoQWrongOption:
            return &options.SoQWrong;
        case FopTauOption:
            return &options.FopTauMicro;
        case SopFreqOption:
            return &options.SopHz;
        case SopQOption:
            return &options.SopQ;
        default:
            return nullptr;
    }
}

std::string OptionName(int id) {
    for (const OptionSpec& option : Options)
        if (option.Id == id) return "--" + std::string(option.Long);
    return "";
}

// A positive finite number, or a message naming the option.
bool ParsePositive(int id, const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno != 0 || !(parsed > 0.0) || parsed > 1e9) {
        std::fprintf(stderr, "phonoskew-design: %s wants a positive number, got %s\n",
                     OptionName(id).c_str(), QuotedArgument(text).c_str());
        return false;
    }
    value = parsed;
    return true;
}

// A percentage above -90 for --fo-error.
bool ParseErrorPercent(const std::string& text, double& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(parsed > -90.0 && parsed < 1000.0)) {
        std::fprintf(stderr, "phonoskew-design: --fo-error wants a percentage above -90, got %s\n",
                     QuotedArgument(text).c_str());
        return false;
    }
    value = parsed;
    return true;
}

// One option in the order given; false on a bad value, said on stderr.
bool TakeOption(const GivenOption& option, DesignOptions& options) {
    const std::string value(option.Value);
    if (option.Id == CheckOption) {
        options.Check = true;
    } else if (option.Id == OutOption) {
        options.OutDir = value;
    } else if (option.Id == SetsOption) {
        options.Sets = value;
    } else if (option.Id == FoErrorOption) {
        return ParseErrorPercent(value, options.FoErrorPercent);
    } else if (double* number = PositiveValue(option.Id, options)) {
        return ParsePositive(option.Id, value, *number);
    }
    return true;
}

// Returns 0 to go on, 1 after --help or --version, 2 on a bad command line.
int ParseOptions(int argc, const char* const* argv, DesignOptions& options) {
    const ReadCommandLine read = ReadOptions(argc, argv, Options);
    for (const GivenOption& option : read.Options) {
        if (option.Id == HelpOption) {
            std::fputs(UsageText, stdout);
            return 1;
        }
        if (option.Id == VersionOption) {
            std::fputs("phonoskew-design " PHONOSKEW_VERSION "\n", stdout);
            return 1;
        }
        if (!TakeOption(option, options)) return 2;
    }
    if (!read.Problem.empty()) {
        std::fprintf(stderr, "phonoskew-design: %s\n%s", read.Problem.c_str(), UsageText);
        return 2;
    }
    for (std::string_view file : read.Operands) options.Files.emplace_back(file);
    if (options.Check != !options.Files.empty()) {
        std::fprintf(stderr, "phonoskew-design: %s\n%s",
                     options.Check ? "--check names no file" : "files are named only with --check",
                     UsageText);
        return 2;
    }
    // The bilinear prewarp needs each turnover below the Nyquist frequency.
    for (double hz : {options.SoHz, options.SopHz}) {
        if (hz >= DesignSampleRate / 2.0) {
            std::fprintf(stderr, "phonoskew-design: frequencies must stay below 48000 Hz, got %g\n",
                         hz);
            return 2;
        }
    }
    return 0;
}

// Replaced whole through the file layer, which takes any UTF-8 name.
bool WriteTextFile(const std::string& path, const std::string& text) {
    const int error =
        ReplaceFile(path, {std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())});
    if (error != 0) {
        std::fprintf(stderr, "phonoskew-design: cannot write %s: %s\n", path.c_str(),
                     ErrorText(error).c_str());
        return false;
    }
    return true;
}

constexpr double MismatchWarningDb = 0.05;
constexpr double MismatchWarningDeg = 5.0;

void PrintReport(const ErrorModel& model, const DesignedTaps& design) {
    const double* taps = design.Taps.data();
    const ResponseReport audio = MeasureResponse(model, taps, DesignTapCount, 20.0, 20000.0);
    const ResponseReport full = MeasureResponse(model, taps, DesignTapCount, 10.0, 48000.0);
    std::printf("%s.dat  %s\n", model.Name.c_str(), model.Description.c_str());
    std::printf(
        "  exact error, 20 Hz-20 kHz: largest level change %+.3f dB at %.0f Hz, "
        "largest phase change %+.2f deg at %.0f Hz\n",
        audio.ExactDb, audio.ExactDbHz, audio.ExactDeg, audio.ExactDegHz);
    std::printf(
        "  64-tap FIR, 20 Hz-20 kHz:  largest level change %+.3f dB at %.0f Hz, "
        "largest phase change %+.2f deg at %.0f Hz\n",
        audio.FirDb, audio.FirDbHz, audio.FirDeg, audio.FirDegHz);
    std::printf(
        "  FIR against exact: within %.4f dB and %.3f deg from 20 Hz to 20 kHz; "
        "within %.3f dB and %.2f deg from 10 Hz to 48 kHz\n",
        audio.MismatchDb, audio.MismatchDeg, full.MismatchDb, full.MismatchDeg);
    std::printf(
        "  truncation to 64 taps: tail energy %.2e of the whole response, "
        "DC gain %.8f before scaling to 1\n",
        design.TailEnergyRatio, design.DcGainBeforeScaling);
    // A response much longer than 64 taps at 96 kHz (a turnover far down in
    // the bass) cannot be held by the FIR; say so rather than write a file
    // that models something else.
    if (audio.MismatchDb > MismatchWarningDb || audio.MismatchDeg > MismatchWarningDeg)
        std::printf(
            "  WARNING: 64 taps at 96 kHz cannot hold this error well: the FIR misses it by "
            "more than %.2f dB or %.0f deg in the audio band; look at %s.svg\n",
            MismatchWarningDb, MismatchWarningDeg, model.Name.c_str());
}

// The folder the files go to, made with its parents when missing.
bool MakeOutputFolder(const std::string& folder) {
    const int error = MakeFolder(folder);
    if (error == 0) return true;
    std::fprintf(stderr, "phonoskew-design: cannot make the folder %s: %s\n",
                 QuotedArgument(folder).c_str(), ErrorText(error).c_str());
    return false;
}

// ---- Checking coefficient files ----------------------------------------------------

// One file as phonoskew reads it: its taps, the notes phonoskew shows on the
// stage's line, the sum (the level at DC) and the largest gain any input can
// meet, 20 log10 of the sum of the taps' magnitudes; and its plot, whose
// subtitle carries the notes too.
struct FileCheck {
    bool Done = false;    // read, and its plot written
    std::string Verdict;  // one line: the path, then what to look at
};

FileCheck CheckFile(const std::string& path, const std::string& outDir) {
    const CoefficientLoad load = LoadCoefficients(path);
    if (!load.Opened) {
        const char* why = std::strerror(load.Error > 0 ? load.Error : ENOENT);
        std::fprintf(stderr, "phonoskew-design: cannot read %s: %s\n", path.c_str(), why);
        return {false, path + ": cannot be read: " + why};
    }
    const std::string name = PathText(FileSystemPath(path).filename());
    std::printf("%s\n  taps as read:\n", path.c_str());
    double sum = 0.0, magnitudes = 0.0;
    for (int i = 0; i < TapCount; ++i) {
        std::printf("  %4d  %.17g\n", i + 1, load.Values[i]);
        sum += load.Values[i];
        magnitudes += std::fabs(load.Values[i]);
    }
    const std::vector<std::string> notes = CoefficientNotes(load.Survey);
    std::printf("  notes: %s\n", notes.empty() ? "none" : notes[0].c_str());
    std::string noteLine = notes.empty() ? "" : "\n" + notes[0];
    for (size_t i = 1; i < notes.size(); ++i) {
        std::printf("         %s\n", notes[i].c_str());
        noteLine += "; " + notes[i];
    }
    const double gainDb = 20.0 * std::log10(magnitudes);
    std::printf("  sum of the taps: %.17g\n", sum);
    std::printf("  largest gain, 20 log10 of the sum of |taps|: %+.2f dB\n", gainDb);

    const std::string stem = PathText(FileSystemPath(path).stem());
    const std::string plot = outDir + "/" + stem + "-response.svg";
    char description[160];
    std::snprintf(description, sizeof description,
                  "the taps as phonoskew reads them: sum %.6f, largest gain %+.2f dB", sum, gainDb);
    if (!WriteTextFile(plot,
                       RenderTapsSvg(name, description + noteLine, load.Values.data(), TapCount)))
        return {false, path + ": its plot cannot be written"};
    std::printf("  response plot: %s\n", plot.c_str());
    return {true, path + ": " + CoefficientVerdict(load.Survey)};
}

}  // namespace

int main(int argc, char** commandLine) {
    // The folder in UTF-8, as the file layer takes it.
    const std::vector<std::string> arguments = ProgramArguments(argc, commandLine);
    const std::vector<const char*> argv = ArgumentWords(arguments);
    DesignOptions options;
    if (const int status = ParseOptions(argc, argv.data(), options); status != 0)
        return status == 1 ? 0 : 2;
    if (!MakeOutputFolder(options.OutDir)) return 1;
    if (options.Check) {
        SetNumericEnvironment();
        // The verdicts last, one line a file, where the eye lands.
        std::vector<FileCheck> checks;
        for (const std::string& file : options.Files)
            checks.push_back(CheckFile(file, options.OutDir));
        bool allDone = true;
        std::printf("\n");
        for (const FileCheck& check : checks) {
            std::printf("%s\n", check.Verdict.c_str());
            allDone = allDone && check.Done;
        }
        return allDone ? 0 : 1;
    }

    const ErrorModel models[] = {
        MakeFirstOrderModel(options.FoTauMicro, options.FoErrorPercent),
        MakeSecondOrderModel(options.SoHz, options.SoQRight, options.SoQWrong),
        MakeFirstOrderPhaseModel(1e6 / (2.0 * 3.14159265358979323846 * options.FopTauMicro)),
        MakeSecondOrderPhaseModel(options.SopHz, options.SopQ),
    };
    const std::string sets = "," + options.Sets + ",";
    int written = 0;
    for (int stage = 0; stage < StageCount; ++stage) {
        const ErrorModel& model = models[stage];
        if (sets.find("," + model.Name + ",") == std::string::npos) continue;
        const DesignedTaps design = DesignErrorFilter(model);
        const std::string stem = options.OutDir + "/" + model.Name;
        if (!WriteTextFile(options.OutDir + "/" + ErrorStages[stage].CoefficientFile,
                           FormatCoefficientText(design.Taps.data(), DesignTapCount)) ||
            !WriteTextFile(stem + ".svg",
                           RenderResponseSvg(model, design.Taps.data(), DesignTapCount)))
            return 1;
        PrintReport(model, design);
        ++written;
    }
    if (written == 0) {
        std::fprintf(stderr, "phonoskew-design: --sets names none of FO, SO, FOP, SOP: %s\n",
                     options.Sets.c_str());
        return 2;
    }
    return 0;
}
