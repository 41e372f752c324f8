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

// How a stage's outputs are computed. The fast forms filter in float64 on
// the vector unit (the widest, or at most 256 or 128 bits wide) and
// recompute exactly the rare outputs the certificate cannot vouch for;
// Exact runs the 64-bit-significand loop for every output. All give the
// same bytes.
enum class Kernel { Fast, FastUpto256, FastUpto128, Exact };

struct EngineChoice {
    Kernel Form = Kernel::Fast;
    int Threads = 1;
};

// From the environment: PHONOSKEW_KERNEL (auto, avx2, sse2, or exact and
// its other name x87) and PHONOSKEW_THREADS=N (else one thread a core).
EngineChoice ChooseEngine();

// What a stage did.
struct StageResult {
    int64_t Clipped = 0;       // samples clipped to the 24-bit range
    int64_t ExactOutputs = 0;  // outputs of the fast forms recomputed exactly
    bool WholeExact = false;   // the set took the exact loop for every output
};

// Filters both channels with h, dithers and packs all frameCount + 63
// output frames into `packed`, drawing from `random` as one pass in frame
// order would; `random` ends 4 x (frameCount + 63) draws on.
StageResult FilterDitherAndPack(std::span<const int32_t> left, std::span<const int32_t> right,
                                const CoefficientSet& h, uint8_t* packed, RandomSource& random,
                                const EngineChoice& choice);

// The address space the engine's threads take beyond the job's arrays.
uint64_t AddressSpaceReserve();
