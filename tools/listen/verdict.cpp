// The trials' draws of X, the binomial verdict and the listening log's
// lines.
#include <cmath>
#include <cstdio>

#include "listen/listen.h"

std::vector<Side> DrawTrials(uint32_t seed, int trials) {
    RandomSource random{seed};
    std::vector<Side> draws;
    for (int trial = 0; trial < trials; ++trial)
        draws.push_back(random.Next() < Extended(0.5) ? Side::A : Side::B);
    return draws;
}

double BinomialPValue(int right, int trials) {
    // The sum of C(trials, k) / 2^trials for k = right..trials, each term
    // through logarithms so that a thousand trials stay in range.
    double p = 0.0;
    for (int k = std::max(right, 0); k <= trials; ++k)
        p += std::exp(std::lgamma(trials + 1.0) - std::lgamma(k + 1.0) -
                      std::lgamma(trials - k + 1.0) - trials * std::log(2.0));
    return std::min(p, 1.0);
}

std::string VerdictSentence(int right, int trials) {
    const double p = BinomialPValue(right, trials);
    char text[160];
    std::snprintf(text, sizeof text, "%d of %d right: p = %.3f, %s", right, trials, p,
                  p < 0.05 ? "unlikely to be chance" : "could well be chance");
    return text;
}

namespace {
const char* SideName(Side side) { return side == Side::A ? "A" : side == Side::B ? "B" : "-"; }
}  // namespace

std::string LogLine(const std::string& when, const TrialRecord& record) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s output %d gains A %+.3f dB B %+.3f dB trial %d X %s answer %s %s "
                  "plays A %d B %d X %d time %.1f s",
                  when.c_str(), record.Output, record.Gains.ADb, record.Gains.BDb, record.Trial,
                  SideName(record.X), SideName(record.Answer),
                  record.X == record.Answer ? "right" : "wrong", record.Plays[0], record.Plays[1],
                  record.Plays[2], record.Seconds);
    return text;
}
