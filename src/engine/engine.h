// The stage engine: one stage's filter, dither and pack in one pass over
// blocks of output frames, on every core, giving the bytes of the plain
// loops (scatter filter over the whole input, then the dither frame by
// frame) whatever the number of threads or the vector units used.
#pragma once

#include <cstdint>
#include <span>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

// How a stage's filter and dither run, chosen once per coefficient set.
struct EngineChoice {
    bool VectorDither = false;  // AVX2; else the x87 unit
    int Threads = 1;
    // The AVX-512 kernel, for sets it takes; else the x87 unit. (On a CPU
    // without AVX-512 the same algorithm's portable build, for tests.)
    bool VectorFilter = false;
};

// "AVX-512" or "the x87 unit", for people.
const char* EngineFilterName(const EngineChoice& choice);

// From the CPU and the environment: PHONOSKEW_KERNEL=x87 keeps every step on
// the x87 unit, PHONOSKEW_THREADS=N sets the number of threads (else one a
// core). The bytes written are the same whatever is chosen.
EngineChoice ChooseEngine(const CoefficientSet& h);

// Filters both channels with h, dithers and packs all frameCount + 63
// output frames into `packed`, drawing from `random` as one pass in frame
// order would; `random` ends 4 x (frameCount + 63) draws on. Returns the
// number of samples clipped to the 24-bit range.
int64_t FilterDitherAndPack(std::span<const int32_t> left, std::span<const int32_t> right,
                            const CoefficientSet& h, uint8_t* packed, RandomSource& random,
                            const EngineChoice& choice);

// The address space the engine's threads take beyond the job's arrays.
uint64_t AddressSpaceReserve();
