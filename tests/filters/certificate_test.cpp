// The fast filter's certificate: the bound holds between the float64 sums
// and the model on every vector unit, and the sets it refuses.
#include "filters/certificate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "support/model.h"
#include "support/vector_targets.h"

namespace {

// The fast outputs of all of x, as the engine's blocks compute them.
std::vector<double> FastChannel(const std::vector<int32_t>& x, const CoefficientSet& h) {
    const int64_t outputs = int64_t(x.size()) + FilterTail;
    std::vector<double> window(size_t(WindowSize(outputs)));
    std::vector<double> out(size_t(OutputRoom(outputs)));
    FillWindow(x, 0, outputs, window);
    FilterWindowFast(window, outputs, h, out);
    out.resize(size_t(outputs));
    return out;
}

// Sets of full mantissas at several scales, and sets of large taps that
// cancel, on loud samples that reach both rails.
TEST(Certificate, BoundHoldsOnEveryVectorUnit) {
    std::mt19937_64 generator(31337);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<int32_t> x(3000);
    for (size_t n = 0; n < x.size(); ++n) {
        x[n] = n % 7 == 0 ? (n % 2 ? 8388607 : -8388608) : int32_t(unit(generator) * 8388607);
    }
    std::vector<CoefficientSet> sets;
    for (double scale : {0x1p-20, 0x1p-3, 1.0, 0x1p5, 0x1p9}) {
        CoefficientSet h;
        for (double& tap : h) tap = unit(generator) * scale;
        sets.push_back(h);
    }
    CoefficientSet cancelling;  // +-big in turn: partial sums far above the result
    for (int k = 0; k < TapCount; ++k) cancelling[k] = (k % 2 ? -1000.0 : 1000.0) + unit(generator);
    sets.push_back(cancelling);

    double worst = 0;
    ForEachVectorTarget([&] {
        for (const CoefficientSet& h : sets) {
            const Certificate certificate = CertifyCoefficients(h);
            ASSERT_TRUE(certificate.Holds);
            const std::vector<double> model = ModelChannel(x, h), fast = FastChannel(x, h);
            for (size_t m = 0; m < model.size(); ++m) {
                const double error = std::fabs(fast[m] - model[m]);
                ASSERT_LE(error, certificate.Bound) << VectorUnitName() << ", output " << m;
                worst = std::max(worst, error / certificate.Bound);
            }
        }
    });
    std::printf("worst |fast - model| / bound: %.4f\n", worst);
}

TEST(Certificate, RefusesSetsOutsideItsRange) {
    const struct {
        const char* Name;
        int At;
        double Tap;
        bool Holds;
    } cases[] = {
        {"all zero", 0, 0.0, true},
        {"sum of |h| at 2^16", 5, -0x1p16, true},
        {"sum of |h| above 2^16", 5, std::nextafter(0x1p16, INFINITY), false},
        {"infinite tap", 63, -INFINITY, false},
        {"NaN tap", 0, NAN, false},
        {"largest double", 9, 1.7e308, false},
    };
    for (const auto& c : cases) {
        CoefficientSet h{};
        h[c.At] = c.Tap;
        const Certificate certificate = CertifyCoefficients(h);
        EXPECT_EQ(certificate.Holds, c.Holds) << c.Name;
        if (c.Holds) {
            EXPECT_LT(certificate.Window, 0.25) << c.Name;
        }
    }
}

}  // namespace
