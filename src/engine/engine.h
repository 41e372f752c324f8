// The stage engine: one stage's filter, dither and pack in one pass over
// blocks of output frames, on every core, giving the bytes of the plain
// loops (scatter filter over the whole input, then the dither frame by
// frame) whatever the number of threads or the vector units used. The
// engine owns the stage's threads: StartStage starts them from the caller's
// thread, which is then free to serve the terminal until StageFinished,
// and EndStage completes the stage.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"
#include "wave/wave.h"

// How a stage's outputs are computed. The fast forms filter in float64 on
// the vector unit (the widest, or at most 256 or 128 bits wide) and
// recompute exactly the rare outputs the certificate cannot vouch for;
// Exact runs the 64-bit-significand loop for every output. All give the
// same bytes.
enum class Kernel { Fast, FastUpto256, FastUpto128, Exact };

// The most threads a stage runs on.
constexpr int MostThreads = 64;

struct EngineChoice {
    Kernel Form = Kernel::Fast;
    int Threads = 1;  // 1 to MostThreads
};

// Sets the vector width the fast forms may use, once, before the first stage.
void SetUpEngine(const EngineChoice& choice);

// The address space `threads` engine threads take beyond the job's arrays:
// their stacks, and the slack of aligning the arrays to huge pages.
uint64_t AddressSpaceReserve(int threads);

// What a stage did.
struct StageResult {
    int64_t Clipped = 0;       // samples clipped to the 24-bit range
    int64_t ExactOutputs = 0;  // outputs of the fast forms recomputed exactly
    bool WholeExact = false;   // the set took the exact loop for every output
    int WriteError = 0;        // the first failed write to the output file, or 0
};

// Where a stage's output frames go: written to a file, frame 0 at byte
// `Offset`, each part writing its own frames as it goes; or, with no file,
// into `Memory`, which holds them all (for tools and tests).
struct StageSink {
    FileHandle File = NoFile;
    uint64_t Offset = 0;
    std::span<uint8_t> Memory;
};

// One part of a stage: a run of whole blocks of output frames, and the
// working arrays of one block, made before the threads start so that a
// worker never allocates.
struct StagePart {
    std::span<const uint8_t> Input;  // the packed input, whole
    const CoefficientSet* Coefficients = nullptr;
    StageSink Sink;
    int64_t From = 0;  // output frames [From, To)
    int64_t To = 0;
    RandomSource Random;  // positioned at frame From's first draw
    bool Exact = false;
    double TieWindow = 0;      // the certificate's, for the fast form
    int ExactBlocksAhead = 0;  // blocks that take the exact loop after one full of suspects
    StageResult Result;
    // One block's input window as integers (its channels, from input frame
    // WindowStart) and as the fast filter's doubles, outputs, samples and
    // suspects; the packed frames not yet written, from output frame
    // PendingFrom.
    std::vector<int32_t> InputLeft, InputRight;
    int64_t WindowStart = 0;
    std::vector<double> WindowLeft, WindowRight, FilteredLeft, FilteredRight;
    std::vector<int32_t> SamplesLeft, SamplesRight, Suspects;
    std::vector<uint8_t> Pending;
    int64_t PendingFrom = 0;
};

// A stage under way: its parts and the threads that run them.
struct StageRun {
    std::vector<StagePart> Parts;
    std::vector<std::jthread> Workers;
    std::unique_ptr<std::atomic<int>> Unfinished;  // parts not yet done
    bool WholeExact = false;
};

// Starts filtering both channels of the packed input (BytesPerFrame a
// frame) with h, dithering and packing all frameCount + 63 output frames
// into `sink`, drawing from `random` as one pass in frame order would;
// `random` moves on 4 x (frameCount + 63) draws at once. With one thread,
// the whole stage runs here before this returns; else every part runs on a
// thread of its own, and the last to finish wakes the terminal's wait
// (WaitServingTerminal).
StageRun StartStage(std::span<const uint8_t> input, const CoefficientSet& h, const StageSink& sink,
                    RandomSource& random, const EngineChoice& choice);
bool StageFinished(const StageRun& run);
// Waits for every part and says what the stage did.
StageResult EndStage(StageRun& run);

// StartStage and EndStage in one call, for tools and tests.
StageResult FilterDitherAndPack(std::span<const uint8_t> input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice);

// The working bytes of a stage on `threads` threads, beside the input.
uint64_t StageWorkingBytes(int threads);
