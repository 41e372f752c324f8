#include "e2e/fixtures.h"

#include <cstdio>
#include <random>

const char* const CoefficientFileNames[4] = {"FO.dat", "SO.dat", "FOP.dat", "SOP.dat"};

namespace {

// A multiple of 1/1024 is exact both in binary and in ten decimal places.
std::string ExactText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10f", value);
    return text;
}

double RandomTap(std::mt19937& random, int range) {
    return static_cast<double>(std::uniform_int_distribution<int>(-range, range)(random)) / 1024.0;
}

}  // namespace

JobFixture MakeJobFixture(int frames) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    JobFixture f;
    for (int n = 0; n < frames; ++n) {
        f.left.push_back(sample(random) / 4);
        f.right.push_back(sample(random) / 4);
    }
    if (frames > 3) {
        f.left[1] = 8388607;
        f.right[2] = -8388608;
        f.left[3] = 0;
    }
    f.sets[0].assign(64, 0.0);
    f.sets[0][0] = 1.0;
    for (int k = 1; k < 64; k += 7) f.sets[0][k] = RandomTap(random, 40);
    f.sets[1].resize(64);
    for (double& h : f.sets[1]) h = RandomTap(random, 300);
    f.sets[2].assign(64, 0.0);
    f.sets[2][63] = 1.0;
    f.sets[3].resize(64);
    for (double& h : f.sets[3]) h = RandomTap(random, 2048);
    return f;
}

void WriteJobFiles(const fs::path& dir, const JobFixture& fixture) {
    WriteFileBytes(dir / "take1.wav", MakeWave(fixture.left, fixture.right));
    for (int stage = 0; stage < 4; ++stage) {
        std::vector<std::string> fields;
        for (double h : fixture.sets[stage]) fields.push_back(ExactText(h));
        WriteFileBytes(dir / CoefficientFileNames[stage], CoefficientText(fields));
    }
}
