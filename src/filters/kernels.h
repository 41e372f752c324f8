// Exact vector filter kernels. Each computes outputs of the scatter loop in
// fir.cpp bit for bit, one output at a time (gather form), so that a run may
// use the fastest exact kernel the CPU offers; the x87 block form
// (FilterBlockX87 in filters.h) takes any coefficients on any CPU. This
// header owns the zero-padded sample window the vector kernels read, the
// choice between kernels (CpuHasAvx512, VectorKernelTakes), and the
// round-to-odd vector kernel in two builds of one step: AVX-512
// instructions, and exact portable emulations of the same instructions,
// which prove the algorithm on CPUs without AVX-512.
//
// Output m of a channel with frameCount samples x and taps h is
//   acc = +0.0; for k = min(63, m) down to max(0, m - frameCount + 1):
//     acc = double(Extended(acc) + Extended(h[k]) * Extended(x[m - k]));
// for 0 <= m < frameCount + 63. The vector kernels need round to nearest,
// flush-to-zero and denormals-are-zero off in MXCSR (SetNumericEnvironment).
#pragma once

#include <cstdint>

#include "filters/filters.h"

// Samples a window holds before its first output.
constexpr int64_t WindowLead = TapCount - 1;

// window[i] = x[first - WindowLead + i] as a double, 0 outside the input, for
// i < count + WindowLead: what the vector kernels read for outputs
// first .. first + count - 1.
void FillWindow(const int32_t* x, int64_t frameCount, int64_t first, int64_t count, double* window);

// True when the CPU has AVX-512 F, DQ and VL and the OS saves the ZMM and
// mask registers. Decided once.
bool CpuHasAvx512();

// True when the vector kernels are exact for this coefficient set: every tap
// finite, each nonzero |h| at least 2^-900, sum |h| below 2^960. These bounds
// keep every intermediate of the emulation a normal double far from
// overflow; other sets must use FilterBlockX87.
bool VectorKernelTakes(const double* h);

// out[j] = output j of the window's span, j < count, from a window made by
// FillWindow (count + WindowLead values; nothing outside is read). Exact for
// sets that VectorKernelTakes. The AVX-512 build needs CpuHasAvx512().
void FilterWindowAvx512(const double* window, int64_t count, const double* h, double* out);
void FilterWindowEmulated(const double* window, int64_t count, const double* h, double* out);

// One filter step on 8 lanes: acc[i] = double(Extended(acc[i]) +
// Extended(h[i]) * Extended(x[i])), for x[i] integers of at most 31 bits and
// values inside the range VectorKernelTakes allows. For tests.
constexpr int StepLanes = 8;
void StepAvx512(double* acc, const double* h, const double* x);
void StepEmulated(double* acc, const double* h, const double* x);
