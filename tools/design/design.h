// Design tools: the error filters that the example coefficient files hold,
// their response plots, and the demo recording.
//
// Each error filter models one departure of a phono playback chain from the
// RIAA curve as an exact analogue transfer function E(s) of at most second
// order: the wrong response divided by the right one (FO, SO), or an
// all-pass (FOP, SOP). Every such E(s) is causal and minimum phase or
// all-pass, so its impulse response starts at t = 0 and needs no extra delay.
// The level errors are fitted tap by tap to E(j w) up to 20 kHz (complex
// least squares, so the phase is kept too); the phase errors keep the first
// 64 samples of a digital all-pass whose phase follows E's over the audio
// band, so their magnitude stays 1. Either way the taps are scaled to a DC
// gain of exactly 1 (every model has zero error at DC). Everything here is
// deterministic: the same options give the same bytes on every run.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

constexpr int DesignTapCount = 64;
constexpr double DesignSampleRate = 96000.0;

// ---- Error models -------------------------------------------------------------

enum class ErrorKind { FirstOrder, SecondOrder, FirstOrderPhase, SecondOrderPhase };

// E(s) = (b0 + b1 s + b2 s^2) / (a0 + a1 s + a2 s^2), s in rad/s.
struct ErrorModel {
    ErrorKind Kind;
    std::string Name;         // "FO", "SO", "FOP", "SOP": also the file stem
    std::string Description;  // one line for the plot title and the report
    long double B[3];
    long double A[3];
    double PrewarpHz;  // bilinear transform exact at this frequency
};

// The 75 us treble time constant realised as t3Micro x (1 + errorPercent/100):
// E(s) = (1 + s T3) / (1 + s T3'), a treble shelf, unity at DC.
ErrorModel MakeFirstOrderModel(double t3Micro, double errorPercent);

// A second-order resonance at f0 damped to qWrong instead of qRight:
// E(s) = (s^2 + s w0/qRight + w0^2) / (s^2 + s w0/qWrong + w0^2), a bell of
// qWrong/qRight at f0, unity at DC and at high frequencies.
ErrorModel MakeSecondOrderModel(double f0, double qRight, double qWrong);

// First-order all-pass (1 - s tau) / (1 + s tau) with its -90 degree point
// at cornerHz.
ErrorModel MakeFirstOrderPhaseModel(double cornerHz);

// Second-order all-pass (s^2 - s w0/q + w0^2) / (s^2 + s w0/q + w0^2) with
// its -180 degree point at f0.
ErrorModel MakeSecondOrderPhaseModel(double f0, double q);

// The exact analogue error at a frequency in Hz.
std::complex<long double> ExactResponse(const ErrorModel& model, double hz);

// ---- FIR design -----------------------------------------------------------------

// Digital biquad from the bilinear transform of the model (z^-1 powers).
struct DigitalBiquad {
    long double B[3];
    long double A[3];  // A[0] == 1
};

DigitalBiquad DiscretiseModel(const ErrorModel& model, double sampleRate);

// The first `count` samples of the biquad's impulse response.
void ComputeImpulseResponse(const DigitalBiquad& biquad, long double* out, int count);

struct DesignedTaps {
    std::vector<double> Taps;    // DesignTapCount coefficients
    double TailEnergyRatio;      // energy beyond the taps / total energy
    double DcGainBeforeScaling;  // sum of the truncated taps before scaling
};

// The 64-tap FIR of a model at DesignSampleRate.
DesignedTaps DesignErrorFilter(const ErrorModel& model);

// Frequency response of an FIR at a frequency in Hz.
std::complex<long double> FirResponse(const double* taps, int count, double hz, double sampleRate);

// ---- Measurements ------------------------------------------------------------

// Largest deviations over a log-spaced frequency range. "Signed" values are
// the ones of largest magnitude, with their sign; phases are unwrapped from
// the low end of the range.
struct ResponseReport {
    double ExactDb, ExactDbHz;    // the exact error's largest level change
    double ExactDeg, ExactDegHz;  // and its largest phase change
    double FirDb, FirDbHz;        // the same for the FIR
    double FirDeg, FirDegHz;
    double MismatchDb;   // max |FIR dB - exact dB|
    double MismatchDeg;  // max |arg(FIR / exact)| in degrees
};

ResponseReport MeasureResponse(const ErrorModel& model, const double* taps, int count, double lowHz,
                               double highHz);

// Unwraps a sequence of phases in degrees in place, so that neighbours
// never differ by more than 180 degrees.
void UnwrapDegrees(double* degrees, int count);

// ---- Files ---------------------------------------------------------------------

// One coefficient per line, CR LF line ends, 17 significant digits so that
// the text reads back to the same double.
std::string FormatCoefficientText(const double* taps, int count);

// A hand-written SVG plot: magnitude (dB) and phase (degrees) of the FIR
// against the exact error, 10 Hz to 48 kHz on a log axis.
std::string RenderResponseSvg(const ErrorModel& model, const double* taps, int count);

// The same plot of any taps alone, headed by `title` and `description`
// (one line, or two apart by a line feed).
std::string RenderTapsSvg(const std::string& title, const std::string& description,
                          const double* taps, int count);

// Levels measured elsewhere (dB at frequencies in Hz), drawn as labelled
// dots on the level panel of a taps plot, named `Name` in the legend.
struct MeasuredPoints {
    std::vector<double> Hz, Db;
    std::string Name;
};
std::string RenderTapsWithPointsSvg(const std::string& title, const std::string& description,
                                    const double* taps, int count, const MeasuredPoints& points);

// ---- Demo recording --------------------------------------------------------------

constexpr int DemoSampleRate = 96000;

// The demo signal: plucked notes with decaying envelopes over quiet pink
// noise, stereo, interleaved left/right, as signed 24-bit integers with the
// peak at -6 dBFS.
std::vector<int32_t> MakeDemoSignal(double seconds);

// The samples of whole frames as a WAVE file holds them: 3 bytes each,
// little-endian, left first.
std::vector<uint8_t> PackDemoSamples(const std::vector<int32_t>& interleaved);

// Writes the samples as a stereo 24-bit 96 kHz WAVE file with the canonical
// 44-byte header, replacing `path` whole. Returns "" or the system's reason.
std::string WriteDemoFile(const std::string& path, const std::vector<int32_t>& interleaved);

// The demo's own random source (xorshift64*), so that the recording never
// depends on the library's generator.
uint64_t NextDemoRandom(uint64_t& state);
