// The fast filter and its certificate. A stage's outputs are first computed
// in plain float64 (one multiply-add per tap, vector lanes over the
// outputs); a per-set bound on how far that value can lie from the exact
// model's tells the dither which outputs it may take as they are and which
// it must recompute with ExactOutput. The exact block form (FilterBlockExact
// in filters.h) takes every set the certificate does not hold for.
//
// Output m of a channel with frameCount samples x and taps h, in the model:
//   acc = +0.0; for k = min(63, m) down to max(0, m - frameCount + 1):
//     acc = double(Extended(acc) + Extended(h[k]) * Extended(x[m - k]));
// for 0 <= m < frameCount + 63.
#pragma once

#include <cstdint>
#include <span>

#include "filters/filters.h"

// Samples a window holds before its first output.
constexpr int64_t WindowLead = TapCount - 1;
// Outputs the fast filter may compute beyond those asked for (it works in
// whole groups of vectors): the output array needs this much room more, and
// the window this many samples more.
constexpr int64_t VectorPad = 512;

// The samples a window for `count` outputs holds, and the outputs' room.
constexpr int64_t WindowSize(int64_t count) { return count + WindowLead + VectorPad; }
constexpr int64_t OutputRoom(int64_t count) { return count + VectorPad; }

// window[i] = x[first - WindowLead + i] as a double, 0 outside the input x,
// for i < WindowSize(count): what FilterWindowFast reads for outputs first
// .. first + count - 1.
void FillWindow(std::span<const int32_t> x, int64_t first, int64_t count, std::span<double> window);

// out[j], j < count: the outputs of a window made by FillWindow, summed in
// float64 with a multiply-add per tap (in an order of its own: the bound
// holds for any), on the widest vector unit the CPU offers (capped by
// LimitVectorWidth). `out` has OutputRoom(count) values.
void FilterWindowFast(std::span<const double> window, int64_t count, const CoefficientSet& h,
                      std::span<double> out);

// The vector widths a run may use: the widest the CPU has, or at most 256
// or 128 bits (for measurements and tests; the bytes are the same).
enum class VectorWidth { Widest, Upto256, Upto128 };
// Takes effect for every later vector call: set once, before the first
// stage. The caps are ranges of units (every x86 unit wider than AVX2, or
// than SSE4), so they keep their meaning as Highway adds units.
void LimitVectorWidth(VectorWidth width);
// The vector unit the fast loops run on now ("AVX3" is AVX-512, "AVX2",
// "SSE4", ...).
const char* VectorUnitName();

// The certificate of a coefficient set: whether it holds, and the window
// around each rounding boundary of the dither inside which a fast output
// must be recomputed exactly.
struct Certificate {
    bool Holds = false;  // false: every output of this set takes the exact loop
    double Bound = 0;    // |fast output - model output| never exceeds it
    double Window = 0;   // see CertifyCoefficients
};
Certificate CertifyCoefficients(const CoefficientSet& h);

// Output m of the channel x as the model computes it: the 64-step loop,
// oldest sample first.
double ExactOutput(std::span<const int32_t> x, const CoefficientSet& h, int64_t m);
