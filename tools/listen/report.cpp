// What each error did to the recording: level, loudness and peak changes,
// octave-band level changes measured on the recording, the null depth, and
// a plot of the band changes over the error filter's own response.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "design/design.h"
#include "listen/listen.h"
#include "system/files.h"
#include "system/quoting.h"

double OctaveBandHz(int band) { return 1000.0 * std::pow(2.0, band - 5); }

namespace {

// The bands' nominal names (their centres are 1 kHz times powers of two).
constexpr const char* BandNames[OctaveBands] = {"31.5 Hz", "63 Hz",  "125 Hz", "250 Hz",
                                                "500 Hz",  "1 kHz",  "2 kHz",  "4 kHz",
                                                "8 kHz",   "16 kHz", "32 kHz"};

// A band-pass biquad of one octave's width, 0 dB at its centre (the audio
// cookbook's form, Q = sqrt(2)); two in a row make the band's skirts.
struct Biquad {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double Step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        return y;
    }
};

Biquad OctaveBandPass(double hz, double rate) {
    const double w0 = 2.0 * std::numbers::pi * hz / rate;
    const double alpha = std::sin(w0) / (2.0 * std::numbers::sqrt2);
    const double a0 = 1.0 + alpha;
    Biquad biquad;
    biquad.b0 = alpha / a0;
    biquad.b2 = -alpha / a0;
    biquad.a1 = -2.0 * std::cos(w0) / a0;
    biquad.a2 = (1.0 - alpha) / a0;
    return biquad;
}

double Db(double ratio) { return 10.0 * std::log10(ratio); }

}  // namespace

std::array<double, OctaveBands> BandPowers(const std::vector<float>& side) {
    std::array<double, OctaveBands> powers{};
    const size_t frames = side.size() / 2;
    for (int band = 0; band < OctaveBands; ++band) {
        double sum = 0.0;
        for (int channel = 0; channel < 2; ++channel) {
            Biquad first = OctaveBandPass(OctaveBandHz(band), 96000.0), second = first;
            for (size_t n = 0; n < frames; ++n) {
                const double y = second.Step(first.Step(side[2 * n + size_t(channel)]));
                sum += y * y;
            }
        }
        powers[size_t(band)] = frames ? sum / double(2 * frames) : 0.0;
    }
    return powers;
}

double NullDepthDb(const std::vector<float>& a, const std::vector<float>& b) {
    double difference = 0.0, power = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const double d = double(b[i]) - double(a[i]);
        difference += d * d;
        power += double(a[i]) * double(a[i]);
    }
    return Db(difference / power);
}

OutputReport ReportOutput(int n, const std::vector<float>& reference,
                          const std::vector<float>& error) {
    OutputReport report;
    report.Output = n;
    report.Reference = MeasureLevels(reference, 96000.0, true);
    report.Error = MeasureLevels(error, 96000.0, true);
    const auto before = BandPowers(reference), after = BandPowers(error);
    for (int band = 0; band < OctaveBands; ++band)
        report.BandChangeDb[size_t(band)] = Db(after[size_t(band)] / before[size_t(band)]);
    report.NullDb = NullDepthDb(reference, error);
    return report;
}

std::string ReportTable(const std::vector<OutputReport>& reports) {
    std::string text =
        "\nChange of each output against its reference (dB; the null: the difference\n"
        "below the reference)\n\n            ";
    char cell[64];
    for (const OutputReport& report : reports) {
        std::snprintf(cell, sizeof cell, "%10s %d", "output", report.Output);
        text += cell;
    }
    text += "\n";
    auto row = [&](const char* name, auto value) {
        text += name;
        for (const OutputReport& report : reports) {
            // A change that rounds to nothing is shown without a sign.
            const double shown = std::fabs(value(report)) < 0.0005 ? 0.0 : value(report);
            std::snprintf(cell, sizeof cell, "%12.3f", shown);
            text += cell;
        }
        text += "\n";
    };
    row("Loudness    ",
        [](const OutputReport& r) { return r.Error.LoudnessLufs - r.Reference.LoudnessLufs; });
    row("RMS         ", [](const OutputReport& r) { return r.Error.RmsDb - r.Reference.RmsDb; });
    row("Sample peak ",
        [](const OutputReport& r) { return r.Error.SamplePeakDb - r.Reference.SamplePeakDb; });
    row("True peak   ",
        [](const OutputReport& r) { return r.Error.TruePeakDb - r.Reference.TruePeakDb; });
    for (int band = 0; band < OctaveBands; ++band) {
        char name[32];
        std::snprintf(name, sizeof name, "%-12s", BandNames[band]);
        row(name, [band](const OutputReport& r) { return r.BandChangeDb[size_t(band)]; });
    }
    row("Null depth  ", [](const OutputReport& r) { return r.NullDb; });
    return text;
}

std::string ReportSvg(const OutputReport& report, const CoefficientSet* taps,
                      const std::string& title) {
    MeasuredPoints points;
    points.Name = "octave-band change on the recording";
    for (int band = 0; band < OctaveBands; ++band) {
        points.Hz.push_back(OctaveBandHz(band));
        points.Db.push_back(report.BandChangeDb[size_t(band)]);
    }
    CoefficientSet identity{};
    identity[0] = 1.0;
    const std::string description =
        taps ? "The error filter's response, and what it changed in each octave band of the "
               "recording"
             : "Octave-band changes on the recording (the error filter's set was not found)";
    return RenderTapsWithPointsSvg(title, description, (taps ? *taps : identity).data(), TapCount,
                                   points);
}

namespace {

// Output n's coefficient set, as the run that made it read it: from the
// current folder, else from the recording's.
bool FindStageSet(const std::string& recording, int n, CoefficientSet& taps) {
    const std::string name = ErrorStages[n - 1].CoefficientFile;
    const std::string folder = PathText(FileSystemPath(recording).parent_path());
    for (const std::string& path : {name, folder.empty() ? name : NameInFolder(folder, name)}) {
        const CoefficientLoad load = LoadCoefficients(path);
        if (load.Opened) {
            taps = load.Values;
            return true;
        }
    }
    return false;
}

}  // namespace

OutputReport WriteReport(const Recording& recording, const std::vector<float>& reference,
                         const std::vector<float>& error, int n, std::string& note) {
    const OutputReport report = ReportOutput(n, reference, error);
    CoefficientSet taps{};
    const bool found = FindStageSet(recording.Path, n, taps);
    const std::string reportName = ReferenceOutputName(recording.Path, n);
    const std::string path =
        reportName.substr(0, reportName.size() - std::string(" reference 1.wav").size()) +
        " report " + std::to_string(n) + ".svg";
    const std::string title =
        PathText(FileSystemPath(ErrorOutputName(recording.Path, n)).filename());
    const std::string svg = ReportSvg(report, found ? &taps : nullptr, title);
    if (const OpenResult open = OpenForReading(path); open.Error != ENOENT) {
        CloseFile(open.File);
        note = "  Plot: " + QuotedArgument(path) + " exists: left as it is";
        return report;
    }
    const int failure =
        ReplaceFile(path, {std::span(reinterpret_cast<const uint8_t*>(svg.data()), svg.size())});
    note = failure ? "  Plot: " + QuotedArgument(path) + ": " + ErrorText(failure)
                   : "  Plot: " + QuotedArgument(path);
    return report;
}
