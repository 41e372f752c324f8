// The four error models, their bilinear discretisation, the 64-tap FIR
// design, the measurements printed with each set, and the coefficient text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>

#include "design/design.h"
#include "filters/stages.h"

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;

long double AngularFrequency(double hz) { return 2.0L * Pi * hz; }

// A log-spaced grid point: index i of count points from lowHz to highHz.
double LogGridHz(double lowHz, double highHz, int i, int count) {
    return lowHz * std::pow(highHz / lowHz, static_cast<double>(i) / (count - 1));
}

long double ToDb(long double magnitude) { return 20.0L * std::log10(magnitude); }
long double ToDegrees(long double radians) { return radians * 180.0L / Pi; }

}  // namespace

// ---- Error models -----------------------------------------------------------------

ErrorModel MakeFirstOrderModel(double t3Micro, double errorPercent) {
    const long double t3 = t3Micro * 1e-6L;
    const long double t3Wrong = t3 * (1.0L + errorPercent / 100.0L);
    char text[160];
    std::snprintf(text, sizeof text, "first-order: the %g us time constant off by %+g %% (%.4g us)",
                  t3Micro, errorPercent, static_cast<double>(t3Wrong * 1e6L));
    ErrorModel model{ErrorKind::FirstOrder, ErrorStages[0].Name,   text,
                     {1.0L, t3, 0.0L},      {1.0L, t3Wrong, 0.0L}, 0.0};
    // Prewarp at the middle of the shelf, between its zero and its pole.
    model.PrewarpHz = static_cast<double>(1.0L / (2.0L * Pi * std::sqrt(t3 * t3Wrong)));
    return model;
}

ErrorModel MakeSecondOrderModel(double f0, double qRight, double qWrong) {
    const long double w0 = AngularFrequency(f0);
    char text[160];
    std::snprintf(text, sizeof text,
                  "second-order: the %g Hz resonance damped to Q %g instead of %g", f0, qWrong,
                  qRight);
    return {ErrorKind::SecondOrder,       ErrorStages[1].Name,          text,
            {w0 * w0, w0 / qRight, 1.0L}, {w0 * w0, w0 / qWrong, 1.0L}, f0};
}

ErrorModel MakeFirstOrderPhaseModel(double cornerHz) {
    const long double tau = 1.0L / AngularFrequency(cornerHz);
    char text[160];
    std::snprintf(text, sizeof text, "first-order phase shift: all-pass, -90 degrees at %g Hz",
                  cornerHz);
    return {ErrorKind::FirstOrderPhase, ErrorStages[2].Name, text,
            {1.0L, -tau, 0.0L},         {1.0L, tau, 0.0L},   cornerHz};
}

ErrorModel MakeSecondOrderPhaseModel(double f0, double q) {
    const long double w0 = AngularFrequency(f0);
    char text[160];
    std::snprintf(text, sizeof text,
                  "second-order phase shift: all-pass, -180 degrees at %g Hz, Q %g", f0, q);
    return {ErrorKind::SecondOrderPhase, ErrorStages[3].Name,     text,
            {w0 * w0, -w0 / q, 1.0L},    {w0 * w0, w0 / q, 1.0L}, f0};
}

std::complex<long double> ExactResponse(const ErrorModel& model, double hz) {
    const std::complex<long double> s(0.0L, AngularFrequency(hz));
    const auto num = model.B[0] + s * (model.B[1] + s * model.B[2]);
    const auto den = model.A[0] + s * (model.A[1] + s * model.A[2]);
    return num / den;
}

// ---- FIR design -------------------------------------------------------------------

// s = K (1 - z^-1) / (1 + z^-1) with K chosen so that the digital response at
// PrewarpHz equals the analogue one there. Multiplying through by (1 + z^-1)^2
// gives the biquad's coefficients directly.
DigitalBiquad DiscretiseModel(const ErrorModel& model, double sampleRate) {
    const long double w = AngularFrequency(model.PrewarpHz);
    const long double k = w / std::tan(w / (2.0L * sampleRate));
    const long double k2 = k * k;
    const auto map = [&](const long double* c, long double* out) {
        out[0] = c[0] + c[1] * k + c[2] * k2;
        out[1] = 2.0L * c[0] - 2.0L * c[2] * k2;
        out[2] = c[0] - c[1] * k + c[2] * k2;
    };
    DigitalBiquad biquad{};
    map(model.B, biquad.B);
    map(model.A, biquad.A);
    const long double a0 = biquad.A[0];
    for (int i = 0; i < 3; ++i) {
        biquad.B[i] /= a0;
        biquad.A[i] /= a0;
    }
    return biquad;
}

void ComputeImpulseResponse(const DigitalBiquad& biquad, long double* out, int count) {
    // Direct form I on a unit impulse.
    long double x1 = 0.0L, x2 = 0.0L, y1 = 0.0L, y2 = 0.0L;
    for (int n = 0; n < count; ++n) {
        const long double x = (n == 0) ? 1.0L : 0.0L;
        const long double y = biquad.B[0] * x + biquad.B[1] * x1 + biquad.B[2] * x2 -
                              biquad.A[1] * y1 - biquad.A[2] * y2;
        out[n] = y;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
}

namespace {

// Solves the symmetric positive definite system m x = v (n x n, row-major)
// by Gaussian elimination with partial pivoting, in place.
void SolveLinearSystem(std::vector<long double>& m, std::vector<long double>& v, int n) {
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int row = col + 1; row < n; ++row)
            if (std::fabs(m[row * n + col]) > std::fabs(m[pivot * n + col])) pivot = row;
        if (pivot != col) {
            for (int k = 0; k < n; ++k) std::swap(m[col * n + k], m[pivot * n + k]);
            std::swap(v[col], v[pivot]);
        }
        for (int row = col + 1; row < n; ++row) {
            const long double f = m[row * n + col] / m[col * n + col];
            for (int k = col; k < n; ++k) m[row * n + k] -= f * m[col * n + k];
            v[row] -= f * v[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        long double sum = v[row];
        for (int k = row + 1; k < n; ++k) sum -= m[row * n + k] * v[k];
        v[row] = sum / m[row * n + row];
    }
}

// Energy of the model's digital impulse response beyond the taps, as a share
// of the whole: whether 64 taps can hold this error at all.
long double TailEnergyRatio(const std::vector<long double>& response, int taps) {
    long double kept = 0.0L, total = 0.0L;
    for (size_t k = 0; k < response.size(); ++k) {
        total += response[k] * response[k];
        if (static_cast<int>(k) < taps) kept += response[k] * response[k];
    }
    return (total - kept) / total;
}

// The taps minimise the weighted squared distance between the FIR's complex
// response and the exact analogue error on a dense grid from DC to 48 kHz:
// full weight up to 20 kHz, where the error is heard, a small weight above
// (no digital filter follows an analogue response right up to the Nyquist
// frequency), and a heavy weight at DC, where every model has zero error.
// Fitting the complex response, not the magnitude alone, keeps the FIR's
// phase that of the model, so no delay is added.
void FitTapsToModel(const ErrorModel& model, long double* taps, int n) {
    constexpr int GridPoints = 4096;
    constexpr double AudioBandHz = 20000.0;
    constexpr long double AboveBandWeight = 0.001L;
    constexpr long double DcWeight = 100.0L;
    std::vector<long double> normal(n * n, 0.0L), rhs(n, 0.0L);
    std::vector<long double> cosSum(n, 0.0L);  // the normal matrix is Toeplitz
    for (int g = 0; g < GridPoints; ++g) {
        const double hz = (DesignSampleRate / 2.0) * g / (GridPoints - 1);
        const long double weight = g == 0 ? DcWeight : (hz <= AudioBandHz ? 1.0L : AboveBandWeight);
        const long double w = AngularFrequency(hz) / DesignSampleRate;
        const std::complex<long double> target = ExactResponse(model, hz);
        for (int k = 0; k < n; ++k) {
            cosSum[k] += weight * std::cos(w * k);
            // Re(target e^{jwk}): the target's projection on tap k.
            rhs[k] += weight * (target.real() * std::cos(w * k) - target.imag() * std::sin(w * k));
        }
    }
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) normal[r * n + c] = cosSum[r > c ? r - c : c - r];
    SolveLinearSystem(normal, rhs, n);
    for (int k = 0; k < n; ++k) taps[k] = rhs[k];
}

// Response of a digital biquad at a frequency in Hz.
std::complex<long double> BiquadResponse(const DigitalBiquad& biquad, double hz) {
    const std::complex<long double> z1 = std::polar(1.0L, -AngularFrequency(hz) / DesignSampleRate);
    return (biquad.B[0] + z1 * (biquad.B[1] + z1 * biquad.B[2])) /
           (biquad.A[0] + z1 * (biquad.A[1] + z1 * biquad.A[2]));
}

// An all-pass model with its prewarp frequency and its damping (the s
// coefficients) scaled: the two free choices of a digital all-pass.
ErrorModel AdjustAllPass(const ErrorModel& model, long double prewarpScale,
                         long double dampingScale) {
    ErrorModel adjusted = model;
    adjusted.PrewarpHz = static_cast<double>(model.PrewarpHz * prewarpScale);
    adjusted.B[1] *= dampingScale;
    adjusted.A[1] *= dampingScale;
    return adjusted;
}

// Largest phase difference between the digital and the analogue all-pass
// over the audio band, in radians.
long double AllPassPhaseError(const ErrorModel& exact, const ErrorModel& digital) {
    constexpr int Points = 200;
    const DigitalBiquad biquad = DiscretiseModel(digital, DesignSampleRate);
    long double worst = 0.0L;
    for (int i = 0; i < Points; ++i) {
        const double hz = LogGridHz(20.0, 20000.0, i, Points);
        worst = std::max(
            worst, std::fabs(std::arg(BiquadResponse(biquad, hz) / ExactResponse(exact, hz))));
    }
    return worst;
}

// The bilinear transform bends the frequency axis, so a digital all-pass
// made from the analogue one by it drifts in phase towards 20 kHz. A digital
// all-pass stays an exact all-pass whatever its coefficients, so its two
// free choices (where it is prewarped, and its damping) are tuned here to
// keep its phase closest to the analogue one over 20 Hz to 20 kHz: a
// coordinate search on their logarithms with halving steps. A first-order
// all-pass has one free choice only, so its damping stays as it is.
ErrorModel MatchAllPassPhase(const ErrorModel& model) {
    const bool secondOrder = model.Kind == ErrorKind::SecondOrderPhase;
    long double logPrewarp = 0.0L, logDamping = 0.0L;
    long double best = AllPassPhaseError(model, model);
    for (long double step = 0.25L; step > 1e-7L; step /= 2.0L) {
        bool improved = true;
        while (improved) {
            improved = false;
            for (int axis = 0; axis < (secondOrder ? 2 : 1); ++axis) {
                for (long double sign : {1.0L, -1.0L}) {
                    long double p = logPrewarp, d = logDamping;
                    (axis == 0 ? p : d) += sign * step;
                    // The prewarp frequency must stay below the Nyquist frequency.
                    if (model.PrewarpHz * std::exp(p) >= 0.49 * DesignSampleRate) continue;
                    const long double error =
                        AllPassPhaseError(model, AdjustAllPass(model, std::exp(p), std::exp(d)));
                    if (error < best) {
                        best = error;
                        logPrewarp = p;
                        logDamping = d;
                        improved = true;
                    }
                }
            }
        }
    }
    return AdjustAllPass(model, std::exp(logPrewarp), std::exp(logDamping));
}

}  // namespace

DesignedTaps DesignErrorFilter(const ErrorModel& model) {
    // Level errors (FO, SO) start from the plain bilinear model; all-passes
    // from the one whose phase follows the analogue one best.
    const bool phaseOnly =
        model.Kind == ErrorKind::FirstOrderPhase || model.Kind == ErrorKind::SecondOrderPhase;
    const ErrorModel digital = phaseOnly ? MatchAllPassPhase(model) : model;
    constexpr int LongCount = 16384;
    std::vector<long double> response(LongCount);
    ComputeImpulseResponse(DiscretiseModel(digital, DesignSampleRate), response.data(), LongCount);

    // Level errors (FO, SO) are fitted to the analogue response, which keeps
    // the bell and the shelf exact up to 20 kHz. Phase errors (FOP, SOP) keep
    // the digital all-pass's own impulse response: its magnitude is 1 at
    // every frequency, which is the whole point of a phase-only error, and
    // its tail beyond 64 taps is negligible.
    std::vector<long double> taps(DesignTapCount);
    if (!phaseOnly)
        FitTapsToModel(model, taps.data(), DesignTapCount);
    else
        std::copy(response.begin(), response.begin() + DesignTapCount, taps.begin());

    // Every model has zero error at DC: the taps are scaled to sum to exactly
    // 1, so the filter passes DC unchanged.
    long double sum = 0.0L;
    for (long double t : taps) sum += t;
    DesignedTaps result;
    result.Taps.resize(DesignTapCount);
    for (int k = 0; k < DesignTapCount; ++k) result.Taps[k] = static_cast<double>(taps[k] / sum);
    result.DcGainBeforeScaling = static_cast<double>(sum);
    result.TailEnergyRatio = static_cast<double>(TailEnergyRatio(response, DesignTapCount));
    return result;
}

std::complex<long double> FirResponse(const double* taps, int count, double hz, double sampleRate) {
    const long double w = AngularFrequency(hz) / sampleRate;
    std::complex<long double> sum(0.0L, 0.0L);
    for (int n = 0; n < count; ++n)
        sum += static_cast<long double>(taps[n]) * std::polar(1.0L, -w * n);
    return sum;
}

// ---- Measurements -----------------------------------------------------------------

void UnwrapDegrees(double* degrees, int count) {
    double offset = 0.0;
    for (int i = 1; i < count; ++i) {
        const double raw = degrees[i] + offset;
        double step = raw - degrees[i - 1];
        while (step > 180.0) {
            offset -= 360.0;
            step -= 360.0;
        }
        while (step < -180.0) {
            offset += 360.0;
            step += 360.0;
        }
        degrees[i] = degrees[i - 1] + step;
    }
}

ResponseReport MeasureResponse(const ErrorModel& model, const double* taps, int count, double lowHz,
                               double highHz) {
    constexpr int Points = 4000;
    std::vector<double> exactDeg(Points), firDeg(Points), hz(Points);
    ResponseReport report{};
    for (int i = 0; i < Points; ++i) {
        hz[i] = LogGridHz(lowHz, highHz, i, Points);
        const auto exact = ExactResponse(model, hz[i]);
        const auto fir = FirResponse(taps, count, hz[i], DesignSampleRate);
        const double exactDb = static_cast<double>(ToDb(std::abs(exact)));
        const double firDb = static_cast<double>(ToDb(std::abs(fir)));
        exactDeg[i] = static_cast<double>(ToDegrees(std::arg(exact)));
        firDeg[i] = static_cast<double>(ToDegrees(std::arg(fir)));
        if (std::fabs(exactDb) > std::fabs(report.ExactDb)) {
            report.ExactDb = exactDb;
            report.ExactDbHz = hz[i];
        }
        if (std::fabs(firDb) > std::fabs(report.FirDb)) {
            report.FirDb = firDb;
            report.FirDbHz = hz[i];
        }
        report.MismatchDb = std::fmax(report.MismatchDb, std::fabs(firDb - exactDb));
        const double mismatchDeg = static_cast<double>(ToDegrees(std::arg(fir / exact)));
        report.MismatchDeg = std::fmax(report.MismatchDeg, std::fabs(mismatchDeg));
    }
    UnwrapDegrees(exactDeg.data(), Points);
    UnwrapDegrees(firDeg.data(), Points);
    for (int i = 0; i < Points; ++i) {
        if (std::fabs(exactDeg[i]) > std::fabs(report.ExactDeg)) {
            report.ExactDeg = exactDeg[i];
            report.ExactDegHz = hz[i];
        }
        if (std::fabs(firDeg[i]) > std::fabs(report.FirDeg)) {
            report.FirDeg = firDeg[i];
            report.FirDegHz = hz[i];
        }
    }
    return report;
}

// ---- Files --------------------------------------------------------------------------

std::string FormatCoefficientText(const double* taps, int count) {
    std::string text;
    char line[48];
    for (int n = 0; n < count; ++n) {
        std::snprintf(line, sizeof line, "%.17g\r\n", taps[n]);
        text += line;
    }
    return text;
}
