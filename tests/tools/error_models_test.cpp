// The example error filters against their exact models. The exact responses
// here are written out by hand from the models' formulas (not taken from the
// designer), and the FIR responses are summed here too.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>

#include "design/design.h"
#include "numeric/numeric.h"

namespace {

constexpr double Pi = std::numbers::pi;

// The default models of phonoskew-design.
ErrorModel DefaultModel(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::FirstOrder:
            return MakeFirstOrderModel(75.0, 5.0);
        case ErrorKind::SecondOrder:
            return MakeSecondOrderModel(15000.0, 0.7071, 0.85);
        case ErrorKind::FirstOrderPhase:
            return MakeFirstOrderPhaseModel(1e6 / (2.0 * Pi * 75.0));
        case ErrorKind::SecondOrderPhase:
            return MakeSecondOrderPhaseModel(15000.0, 0.7071);
    }
    return {};
}

// Exact level (dB) and phase (radians, modulo 2 pi) of each default model.
void HandExactResponse(ErrorKind kind, double hz, double& db, double& phase) {
    const double w = 2.0 * Pi * hz;
    switch (kind) {
        case ErrorKind::FirstOrder: {
            const double t = 75e-6, tWrong = 78.75e-6;
            db = 10.0 * std::log10((1.0 + w * w * t * t) / (1.0 + w * w * tWrong * tWrong));
            phase = std::atan(w * t) - std::atan(w * tWrong);
            return;
        }
        case ErrorKind::SecondOrder: {
            const double w0 = 2.0 * Pi * 15000.0;
            const std::complex<double> num(w0 * w0 - w * w, w * w0 / 0.7071);
            const std::complex<double> den(w0 * w0 - w * w, w * w0 / 0.85);
            db = 20.0 * std::log10(std::abs(num) / std::abs(den));
            phase = std::arg(num) - std::arg(den);
            return;
        }
        case ErrorKind::FirstOrderPhase:
            db = 0.0;
            phase = -2.0 * std::atan(w * 75e-6);
            return;
        case ErrorKind::SecondOrderPhase: {
            const double w0 = 2.0 * Pi * 15000.0;
            db = 0.0;
            phase = -2.0 * std::atan2(w * w0 / 0.7071, w0 * w0 - w * w);
            return;
        }
    }
}

std::complex<double> SumFir(const std::vector<double>& taps, double hz) {
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -2.0 * Pi * hz / 96000.0 * static_cast<double>(n));
    return sum;
}

double LogHz(double low, double high, int i, int count) {
    return low * std::pow(high / low, static_cast<double>(i) / (count - 1));
}

struct SetCase {
    ErrorKind Kind;
    const char* Name;
    double ToleranceDb;  // FIR against exact, 20 Hz to 20 kHz
    double ToleranceDeg;
};

// Tolerances: a little above what the designer reaches, far below what the
// errors themselves are (0.42 dB, 1.6 dB, 168 and 225 degrees).
const SetCase SetCases[] = {
    {ErrorKind::FirstOrder, "FO", 0.002, 0.01},
    {ErrorKind::SecondOrder, "SO", 0.02, 0.1},
    {ErrorKind::FirstOrderPhase, "FOP", 0.01, 1.6},
    {ErrorKind::SecondOrderPhase, "SOP", 0.001, 2.1},
};

}  // namespace

TEST(ErrorModels, DefaultErrorSizesAreTheStatedOnes) {
    // FO at 20 kHz: 10 log10((1 + (w 75us)^2) / (1 + (w 78.75us)^2)) = -0.4193 dB.
    EXPECT_NEAR(
        20.0 * std::log10(std::abs(ExactResponse(DefaultModel(ErrorKind::FirstOrder), 20000.0))),
        -0.4193, 0.0005);
    // SO at its resonance: 20 log10(0.85 / 0.7071) = +1.599 dB.
    EXPECT_NEAR(
        20.0 * std::log10(std::abs(ExactResponse(DefaultModel(ErrorKind::SecondOrder), 15000.0))),
        1.5991, 0.0005);
    // The all-passes: -90 degrees at 2122 Hz, -180 degrees at 15 kHz.
    EXPECT_NEAR(
        std::arg(ExactResponse(DefaultModel(ErrorKind::FirstOrderPhase), 2122.0659)) * 180.0 / Pi,
        -90.0, 1e-3);
    EXPECT_NEAR(
        std::fabs(std::arg(ExactResponse(DefaultModel(ErrorKind::SecondOrderPhase), 15000.0))) *
            180.0 / Pi,
        180.0, 1e-6);
}

TEST(ErrorModels, FirFollowsTheExactErrorOverTheAudioBand) {
    for (const SetCase& c : SetCases) {
        SCOPED_TRACE(c.Name);
        const DesignedTaps design = DesignErrorFilter(DefaultModel(c.Kind));
        ASSERT_EQ(design.Taps.size(), 64u);
        double worstDb = 0.0, worstDeg = 0.0;
        for (int i = 0; i < 500; ++i) {
            const double hz = LogHz(20.0, 20000.0, i, 500);
            double db = 0.0, phase = 0.0;
            HandExactResponse(c.Kind, hz, db, phase);
            const std::complex<double> fir = SumFir(design.Taps, hz);
            worstDb = std::fmax(worstDb, std::fabs(20.0 * std::log10(std::abs(fir)) - db));
            const double deg = std::remainder(std::arg(fir) - phase, 2.0 * Pi) * 180.0 / Pi;
            worstDeg = std::fmax(worstDeg, std::fabs(deg));
        }
        EXPECT_LT(worstDb, c.ToleranceDb);
        EXPECT_LT(worstDeg, c.ToleranceDeg);
    }
}

TEST(ErrorModels, UnityGainAtDcAndAllPassesFlatEverywhere) {
    for (const SetCase& c : SetCases) {
        SCOPED_TRACE(c.Name);
        const DesignedTaps design = DesignErrorFilter(DefaultModel(c.Kind));
        double sum = 0.0;
        for (double t : design.Taps) sum += t;
        EXPECT_NEAR(sum, 1.0, 1e-12);
        if (c.Kind == ErrorKind::FirstOrderPhase || c.Kind == ErrorKind::SecondOrderPhase) {
            for (int i = 0; i < 500; ++i) {
                const double hz = LogHz(10.0, 48000.0, i, 500);
                EXPECT_NEAR(20.0 * std::log10(std::abs(SumFir(design.Taps, hz))), 0.0, 0.005) << hz;
            }
        }
    }
}

TEST(ErrorModels, LargerErrorGivesLargerDeviation) {
    // The options really steer the filter: 10 % off gives about twice the
    // treble loss of 5 % off.
    const DesignedTaps five = DesignErrorFilter(MakeFirstOrderModel(75.0, 5.0));
    const DesignedTaps ten = DesignErrorFilter(MakeFirstOrderModel(75.0, 10.0));
    const double dbFive = 20.0 * std::log10(std::abs(SumFir(five.Taps, 16000.0)));
    const double dbTen = 20.0 * std::log10(std::abs(SumFir(ten.Taps, 16000.0)));
    EXPECT_NEAR(dbTen / dbFive, 1.95, 0.05);
}

TEST(ErrorModels, DesignIsDeterministic) {
    for (const SetCase& c : SetCases) {
        SCOPED_TRACE(c.Name);
        const ErrorModel model = DefaultModel(c.Kind);
        const DesignedTaps first = DesignErrorFilter(model);
        const DesignedTaps second = DesignErrorFilter(model);
        ASSERT_EQ(first.Taps, second.Taps);
        EXPECT_EQ(FormatCoefficientText(first.Taps.data(), 64),
                  FormatCoefficientText(second.Taps.data(), 64));
        EXPECT_EQ(RenderResponseSvg(model, first.Taps.data(), 64),
                  RenderResponseSvg(model, second.Taps.data(), 64));
    }
}

TEST(ErrorModels, CoefficientTextIsOneNumberPerCrLfLineAndRoundTrips) {
    for (const SetCase& c : SetCases) {
        SCOPED_TRACE(c.Name);
        const DesignedTaps design = DesignErrorFilter(DefaultModel(c.Kind));
        const std::string text = FormatCoefficientText(design.Taps.data(), 64);
        size_t start = 0;
        for (int n = 0; n < 64; ++n) {
            const size_t end = text.find("\r\n", start);
            ASSERT_NE(end, std::string::npos) << "line " << n;
            const std::string line = text.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n, "), std::string::npos) << line;
            EXPECT_EQ(std::strtod(line.c_str(), nullptr), design.Taps[n]) << line;
            // And the program's own reading of a field gives the same double.
            EXPECT_EQ(static_cast<double>(ParseNumber(line)), design.Taps[n]) << line;
            start = end + 2;
        }
        EXPECT_EQ(start, text.size());
    }
}

TEST(ErrorModels, CommittedExamplesAreWhatTheDefaultsMake) {
    const std::filesystem::path dir =
        std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "examples" / "coefficients";
    for (const SetCase& c : SetCases) {
        SCOPED_TRACE(c.Name);
        std::ifstream file(dir / (std::string(c.Name) + ".dat"), std::ios::binary);
        ASSERT_TRUE(file) << "missing example file";
        std::stringstream contents;
        contents << file.rdbuf();
        const DesignedTaps design = DesignErrorFilter(DefaultModel(c.Kind));
        EXPECT_EQ(contents.str(), FormatCoefficientText(design.Taps.data(), 64));
        // And the plots beside them are the ones the tool draws today.
        std::ifstream plot(dir / (std::string(c.Name) + ".svg"), std::ios::binary);
        std::stringstream plotText;
        plotText << plot.rdbuf();
        EXPECT_TRUE(plotText.str() ==
                    RenderResponseSvg(DefaultModel(c.Kind), design.Taps.data(), 64))
            << "examples/coefficients/" << c.Name << ".svg is not what phonoskew-design draws";
    }
}

TEST(ErrorModels, UnwrapRemovesJumpsOfAFullTurn) {
    struct Case {
        std::vector<double> In, Out;
    };
    const Case cases[] = {
        {{0, -90, -170, 170, 90}, {0, -90, -170, -190, -270}},
        {{170, -170}, {170, 190}},
        {{10, 20, 30}, {10, 20, 30}},
        {{-179, 179, -179}, {-179, -181, -179}},
    };
    for (const Case& c : cases) {
        std::vector<double> values = c.In;
        UnwrapDegrees(values.data(), static_cast<int>(values.size()));
        EXPECT_EQ(values, c.Out);
    }
}
