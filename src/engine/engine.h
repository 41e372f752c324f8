// The stage engine: one stage's filter, dither and pack in one pass over
// blocks of output frames, on every core, giving the bytes of the plain
// loops (scatter filter over the whole input, then the dither frame by
// frame) whatever the number of threads or the vector units used. Each part
// of a stage reads the input's frames it needs from the open input file as
// it goes, so the job's memory does not grow with the recording. The engine
// owns the stage's threads: StartStage starts them from the caller's
// thread, which is then free to serve the terminal until StageFinished,
// and EndStage completes the stage.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"

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

// What a stage did.
struct StageResult {
    int64_t Clipped = 0;       // samples clipped to the 24-bit range
    int64_t ExactOutputs = 0;  // outputs of the fast forms recomputed exactly
    bool WholeExact = false;   // the set took the exact loop for every output
    int WriteError = 0;        // the first failed write to the output file, or 0
    int ReadError = 0;         // the first failed read of the input, or 0 (read as silence)
};

// Where a stage reads its input, packed as stored (two 24-bit samples a
// frame, left first): `FrameCount` frames of the open file `File` from byte
// `Offset`, where frames the file no longer holds read as silence; or, with
// no file, all of them in `Memory` (for tools and tests).
struct StageInput {
    FileHandle File = NoFile;
    uint64_t Offset = 0;
    std::span<const uint8_t> Memory;
    int64_t FrameCount = 0;
};

// The input held in memory.
StageInput InputInMemory(std::span<const uint8_t> packed);

// Where a stage's output frames go: written to a file, frame 0 at byte
// `Offset`, each part writing its own frames as it goes; or, with no file,
// into `Memory`, which holds them all (for tools and tests).
struct StageSink {
    FileHandle File = NoFile;
    uint64_t Offset = 0;
    std::span<uint8_t> Memory;
};

// The working arrays of a stage's parts, one part a thread, each with its
// thread's signal stack: made once, before the first stage, and used by
// every stage, so that nothing is allocated once threads run.
struct StageParts;
struct StageWorkspace {
    std::shared_ptr<StageParts> Parts;
    int Threads = 0;  // the parts made: 0 when not even one could be had
};

// A signal stack, or nullptr when it cannot be had.
using SignalStackMaker = std::function<std::unique_ptr<std::byte[]>()>;

// The arrays for up to `threads` parts (at least one); where memory runs
// short, for fewer. `makeStack` gives each part's signal stack.
StageWorkspace MakeStageWorkspace(int threads, const SignalStackMaker& makeStack);
StageWorkspace MakeStageWorkspace(int threads);

// A stage under way.
struct StageWork;
struct StageRun {
    std::shared_ptr<StageWork> Work;
};

// Starts filtering both channels of the input with h, dithering and packing
// all frameCount + 63 output frames into `sink`, drawing from `random` as
// one pass in frame order would; `random` moves on StageDraws at once. The
// form and the number of parts come from `choice`, at most the workspace's
// threads. A stage of one part runs here before this returns; else every
// part runs on a thread of its own, and the last to finish calls
// `finished` (on its thread).
StageRun StartStage(const StageInput& input, const CoefficientSet& h, const StageSink& sink,
                    RandomSource& random, const EngineChoice& choice, StageWorkspace& workspace,
                    std::function<void()> finished = {});
bool StageFinished(const StageRun& run);
// Waits for every part and says what the stage did.
StageResult EndStage(StageRun& run);

// A whole stage in one call, with a workspace of its own, for tools and tests.
StageResult FilterDitherAndPack(const StageInput& input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice);
StageResult FilterDitherAndPack(std::span<const uint8_t> input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice);
