// The stage engine. Each block of output frames reads its window of the
// packed input from the input file, takes it apart, is filtered into small
// arrays of its own, dithered and packed from them at once, and written to
// the output file by its part a few blocks at a time: no stage-long array
// exists, not even of the input. The output range is split into
// one contiguous part per thread; a part starts its dither draws where the one-pass loop would have
// them (RandomSource::Skip), so the bytes never depend on the number of threads. Each block is
// filtered in float64 on the vector unit and dithered there; the few outputs the certificate cannot
// vouch for are recomputed exactly, so the bytes never depend on the vector unit either.
#include "engine/engine.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <new>
#include <thread>
#include <vector>

#include "filters/certificate.h"
#include "filters/stages.h"
#include "system/signals.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

// Output frames filtered and packed in one go: both channels' results stay
// in the first-level cache.
constexpr int64_t BlockFrames = 2048;
// Packed frames a part gathers before it writes them to the file: few
// writes, and little memory a thread.
constexpr int64_t PendingFrames = 4 * BlockFrames;
static_assert(VectorPad >= DitherPad);
// Input frames a part reads from the file at once: a few blocks' worth, so
// that the reads are few, and little memory a thread.
constexpr int64_t ReadFrames = 4 * BlockFrames + FilterTail;

// A suspect's recompute is a latency-bound chain of 64 steps, about 400 ns,
// against about 55 ns an output for the exact loop over a whole block: past
// about one output in eight (12 % as `make bench` measured it on the
// 2-core AMD EPYC), the block is cheaper on the exact loop. A block whose
// suspects pass one in ten takes it, so the fast form is never slower than
// the exact one, whatever the input. Such blocks come in runs, so the
// blocks after one take the exact loop straight away, but for every eighth,
// which tries the fast form again: the fast pass a block wastes costs about
// 7 % of its exact loop.
int64_t MostSuspects(int64_t count) { return 2 * count / 10; }
constexpr int ExactBlocksAfterOne = 7;

}  // namespace

// One part of a stage: a run of whole blocks of output frames, and the
// working arrays of one block, made before any thread starts so that a
// worker never allocates.
struct StagePart {
    StageInput Input;
    const CoefficientSet* Coefficients = nullptr;
    StageSink Sink;
    int64_t From = 0;  // output frames [From, To)
    int64_t To = 0;
    RandomSource Random;  // positioned at frame From's first draw
    bool Exact = false;
    double TieWindow = 0;      // the certificate's, for the fast form
    int ExactBlocksAhead = 0;  // blocks that take the exact loop after one full of suspects
    StageResult Result;
    // One block's input: its packed frames from input frame BlockStart, as
    // read (Read holds them when they come from the file), and taken apart
    // as integers (its channels) and as the fast filter's doubles; its
    // outputs, samples and suspects; the packed frames not yet written,
    // from output frame PendingFrom.
    std::vector<uint8_t> Read;
    int64_t ReadFrom = 0, ReadTo = 0;  // the input frames Read holds
    std::span<const uint8_t> Block;
    int64_t BlockStart = 0;
    std::vector<int32_t> InputLeft, InputRight;
    std::vector<double> WindowLeft, WindowRight, FilteredLeft, FilteredRight;
    std::vector<int32_t> SamplesLeft, SamplesRight, Suspects;
    std::vector<uint8_t> Pending;
    int64_t PendingFrom = 0;
    std::unique_ptr<std::byte[]> SignalStack;  // its thread's
};

struct StageParts {
    std::vector<StagePart> Parts;
};

// A stage under way: its parts and the threads that run them.
struct StageWork {
    std::span<StagePart> Parts;
    std::vector<std::jthread> Workers;
    std::atomic<int> Unfinished{0};  // parts not yet done
    std::function<void()> Finished;
    bool WholeExact = false;
};

namespace {

// ---- Blocks ---------------------------------------------------------------------------

// The packed input frames a block of outputs [first, first + count) uses:
// from 63 frames before its first output (or the input's start) to its
// last output (or the input's end). From the file, they come with the
// frames of the next few blocks in one read. Frames the file no longer
// holds, and a failed read, give silence.
void ReadBlockInput(StagePart& part, int64_t first, int64_t count) {
    const StageInput& input = part.Input;
    const int64_t from = std::max<int64_t>(0, first - FilterTail);
    const int64_t to = std::max(from, std::min(input.FrameCount, first + count));
    part.BlockStart = from;
    if (input.File == NoFile) {
        part.Block =
            input.Memory.subspan(size_t(BytesPerFrame * from), size_t(BytesPerFrame * (to - from)));
        return;
    }
    if (from < part.ReadFrom || to > part.ReadTo) {
        const int64_t end = std::max(to, std::min(input.FrameCount, from + ReadFrames));
        const size_t bytes = size_t(BytesPerFrame * (end - from));
        ReadResult read = ReadAt(input.File, part.Read.data(), bytes,
                                 input.Offset + uint64_t(BytesPerFrame * from));
        if (read.Error != 0 && part.Result.ReadError == 0) part.Result.ReadError = read.Error;
        std::fill(part.Read.begin() + ptrdiff_t(read.Bytes), part.Read.begin() + ptrdiff_t(bytes),
                  0);
        part.ReadFrom = from;
        part.ReadTo = end;
    }
    part.Block = std::span(part.Read).subspan(size_t(BytesPerFrame * (from - part.ReadFrom)),
                                              size_t(BytesPerFrame * (to - from)));
}

// The block's input taken apart into the part's channel arrays. Samples
// before the window are read by no output of the block, so the window's
// start counts as the input's start for the block's filter.
void DecodeInputWindow(StagePart& part) {
    const size_t frames = part.Block.size() / BytesPerFrame;
    part.InputLeft.resize(frames);
    part.InputRight.resize(frames);
    DecodeFrames(part.Block, 0, part.InputLeft, part.InputRight);
}

// Writes the packed frames gathered so far; the first failure is kept, and
// the part then stops.
void WritePending(StagePart& part) {
    if (part.Pending.empty()) return;
    const uint64_t at = BytesPerFrame * uint64_t(part.PendingFrom);
    if (part.Sink.File != NoFile) {
        int error = WriteAt(part.Sink.File, part.Pending, part.Sink.Offset + at);
        if (error != 0 && part.Result.WriteError == 0) part.Result.WriteError = error;
    } else {
        std::copy(part.Pending.begin(), part.Pending.end(), part.Sink.Memory.begin() + at);
    }
    part.PendingFrom += int64_t(part.Pending.size() / BytesPerFrame);
    part.Pending.clear();
}

// Room for `count` more packed frames, after those gathered.
std::span<uint8_t> PendingRoom(StagePart& part, int64_t count) {
    const size_t at = part.Pending.size();
    part.Pending.resize(at + size_t(BytesPerFrame * count));
    return std::span(part.Pending).subspan(at);
}

void RunExactBlock(StagePart& part, int64_t first, int64_t count) {
    DecodeInputWindow(part);
    std::span<double> left = std::span(part.FilteredLeft).first(size_t(count));
    std::span<double> right = std::span(part.FilteredRight).first(size_t(count));
    FilterBlockExact(part.InputLeft, part.InputRight, *part.Coefficients, first - part.BlockStart,
                     left, right);
    part.Result.Clipped += DitherAndPackScalar(left, right, PendingRoom(part, count), part.Random);
}

// The fast form takes the packed block straight into its windows; the
// channels are taken apart as integers only for a suspect's recompute.
void RunFastBlock(StagePart& part, int64_t first, int64_t count) {
    const CoefficientSet& h = *part.Coefficients;
    DecodeWindows(part.Block, first - WindowLead - part.BlockStart, part.WindowLeft,
                  part.WindowRight);
    FilterWindowFast(part.WindowLeft, count, h, part.FilteredLeft);
    FilterWindowFast(part.WindowRight, count, h, part.FilteredRight);
    // A suspect's exact value: the model's loop for that output.
    bool decoded = false;
    auto exactOutput = [&part, &h, &decoded, first](int64_t frame, int channel) {
        if (!decoded) DecodeInputWindow(part);
        decoded = true;
        std::span<const int32_t> x = channel == 0 ? part.InputLeft : part.InputRight;
        return ExactOutput(x, h, first - part.BlockStart + frame);
    };
    BlockDither dither = DitherBlock(
        {part.FilteredLeft, part.FilteredRight, count}, part.Random, part.TieWindow,
        {part.SamplesLeft, part.SamplesRight, part.Suspects}, exactOutput, MostSuspects(count));
    if (dither.TooManySuspects) {
        RunExactBlock(part, first, count);
        part.Result.ExactOutputs += 2 * count;
        part.ExactBlocksAhead = ExactBlocksAfterOne;
        return;
    }
    part.Result.Clipped += dither.Clipped;
    part.Result.ExactOutputs += dither.Recomputed;
    PackFrames(part.SamplesLeft, part.SamplesRight, PendingRoom(part, count));
    part.Random = part.Random.Skip(DitherDraws(count));
}

void RunStagePart(StagePart& part) {
    part.PendingFrom = part.From;
    for (int64_t first = part.From; first < part.To && part.Result.WriteError == 0;
         first += BlockFrames) {
        int64_t count = std::min(BlockFrames, part.To - first);
        ReadBlockInput(part, first, count);
        if (part.Exact) {
            RunExactBlock(part, first, count);
        } else if (part.ExactBlocksAhead > 0) {
            --part.ExactBlocksAhead;
            RunExactBlock(part, first, count);
            part.Result.ExactOutputs += 2 * count;
        } else {
            RunFastBlock(part, first, count);
        }
        if (int64_t(part.Pending.size()) >= BytesPerFrame * PendingFrames) WritePending(part);
    }
    WritePending(part);
}

// ---- Parts ------------------------------------------------------------------------------

// A part's arrays, each the size its largest block needs.
void MakePartArrays(StagePart& part) {
    part.Read.resize(size_t(BytesPerFrame * ReadFrames));
    part.InputLeft.reserve(size_t(BlockFrames + FilterTail));
    part.InputRight.reserve(size_t(BlockFrames + FilterTail));
    part.FilteredLeft.resize(size_t(OutputRoom(BlockFrames)));
    part.FilteredRight.resize(size_t(OutputRoom(BlockFrames)));
    part.Pending.reserve(size_t(BytesPerFrame * (PendingFrames + BlockFrames)));
    part.WindowLeft.resize(size_t(WindowSize(BlockFrames)));
    part.WindowRight.resize(size_t(WindowSize(BlockFrames)));
    part.SamplesLeft.resize(size_t(BlockFrames + DitherPad));
    part.SamplesRight.resize(size_t(BlockFrames + DitherPad));
    part.Suspects.resize(size_t(2 * BlockFrames));
}

// Splits the output range into `parts` runs of whole blocks and sets each
// part up for the stage.
void SetUpParts(std::span<StagePart> parts, const StageInput& input, const CoefficientSet& h,
                const StageSink& sink, const RandomSource& random, bool exact, double tieWindow) {
    const int64_t outputFrames = input.FrameCount + FilterTail;
    assert(input.File != NoFile || input.Memory.size() >= size_t(BytesPerFrame * input.FrameCount));
    assert(sink.File != NoFile || sink.Memory.size() >= size_t(BytesPerFrame * outputFrames));
    const int64_t blocks = (outputFrames + BlockFrames - 1) / BlockFrames;
    const int64_t count = int64_t(parts.size());
    for (int64_t i = 0; i < count; ++i) {
        StagePart& part = parts[size_t(i)];
        part.Input = input;
        part.Coefficients = &h;
        part.Sink = sink;
        part.From = std::min(outputFrames, blocks * i / count * BlockFrames);
        part.To = std::min(outputFrames, blocks * (i + 1) / count * BlockFrames);
        part.Random = random.Skip(DitherDraws(part.From));
        part.Exact = exact;
        part.TieWindow = tieWindow;
        part.ExactBlocksAhead = 0;
        part.Result = StageResult{};
        part.Pending.clear();
        part.ReadFrom = part.ReadTo = 0;
    }
}

// A worker computes in the model's numeric environment, and the last part
// to finish says so.
void RunWorker(StagePart* part, StageWork* work) {
    SetNumericEnvironment();
    RunStagePart(*part);
    if (work->Unfinished.fetch_sub(1) == 1 && work->Finished) work->Finished();
}

VectorWidth WidthOf(Kernel kernel) {
    if (kernel == Kernel::FastUpto256) return VectorWidth::Upto256;
    if (kernel == Kernel::FastUpto128) return VectorWidth::Upto128;
    return VectorWidth::Widest;
}

}  // namespace

// ---- The stage ----------------------------------------------------------------------------

void SetUpEngine(const EngineChoice& choice) { LimitVectorWidth(WidthOf(choice.Form)); }

StageInput InputInMemory(std::span<const uint8_t> packed) {
    return {NoFile, 0, packed, int64_t(packed.size() / BytesPerFrame)};
}

StageWorkspace MakeStageWorkspace(int threads, const SignalStackMaker& makeStack) {
    StageWorkspace workspace;
    workspace.Parts = std::make_shared<StageParts>();
    std::vector<StagePart>& parts = workspace.Parts->Parts;
    const int most = std::clamp(threads, 1, MostThreads);
    try {
        parts.reserve(size_t(most));
        while (int(parts.size()) < most) {
            StagePart part;
            MakePartArrays(part);
            // Without a stack, only a stage of one part, which runs on the
            // calling thread, can use it.
            part.SignalStack = makeStack();
            if (!part.SignalStack && !parts.empty()) break;
            parts.push_back(std::move(part));
            if (!parts.back().SignalStack) break;
        }
    } catch (const std::bad_alloc&) {
    }
    workspace.Threads = int(parts.size());
    return workspace;
}

StageWorkspace MakeStageWorkspace(int threads) {
    return MakeStageWorkspace(threads, MakeSignalStack);
}

StageRun StartStage(const StageInput& input, const CoefficientSet& h, const StageSink& sink,
                    RandomSource& random, const EngineChoice& choice, StageWorkspace& workspace,
                    std::function<void()> finished) {
    // A set the certificate does not hold for takes the exact loop whole.
    const Certificate certificate = CertifyCoefficients(h);
    StageRun run{std::make_shared<StageWork>()};
    StageWork& work = *run.Work;
    work.WholeExact = choice.Form == Kernel::Exact || !certificate.Holds;
    const int64_t blocks = (input.FrameCount + FilterTail + BlockFrames - 1) / BlockFrames;
    const int64_t parts = std::clamp<int64_t>(std::min(choice.Threads, workspace.Threads), 1,
                                              std::max<int64_t>(blocks, 1));
    assert(workspace.Threads >= 1);
    work.Parts = std::span(workspace.Parts->Parts).first(size_t(parts));
    SetUpParts(work.Parts, input, h, sink, random, work.WholeExact, certificate.Window);
    random = random.Skip(StageDraws(input.FrameCount));
    // A stage of one part runs on this thread: no thread to start or join.
    if (parts == 1) {
        RunStagePart(work.Parts[0]);
        return run;
    }
    work.Finished = std::move(finished);
    work.Unfinished.store(int(parts));
    work.Workers.resize(size_t(parts));
    for (size_t i = 0; i < size_t(parts); ++i) {
        StagePart* part = &work.Parts[i];
        std::shared_ptr<StageWork> state = run.Work;  // outlives a worker let go unjoined
        StartHelperThread(
            work.Workers[i], [part, state] { RunWorker(part, state.get()); },
            part->SignalStack.get());
    }
    return run;
}

bool StageFinished(const StageRun& run) { return run.Work->Unfinished.load() == 0; }

StageResult EndStage(StageRun& run) {
    StageWork& work = *run.Work;
    // Each joins, from the thread that started them. Where the thread
    // library takes a finished worker for this thread, its record of the
    // worker is not to be trusted, neither to join nor to detach: the worker,
    // which has said it is done, is left to end on its own, its handle kept.
    for (std::jthread& worker : work.Workers) {
        if (!worker.joinable()) continue;
        if (worker.get_id() == std::this_thread::get_id()) {
            new std::jthread(std::move(worker));
        } else {
            worker.join();
        }
    }
    work.Workers.clear();
    StageResult result;
    result.WholeExact = work.WholeExact;
    for (const StagePart& part : work.Parts) {
        result.Clipped += part.Result.Clipped;
        result.ExactOutputs += part.Result.ExactOutputs;
        if (result.WriteError == 0) result.WriteError = part.Result.WriteError;
        if (result.ReadError == 0) result.ReadError = part.Result.ReadError;
    }
    return result;
}

StageResult FilterDitherAndPack(const StageInput& input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice) {
    StageWorkspace workspace = MakeStageWorkspace(choice.Threads);
    if (workspace.Threads == 0) throw std::bad_alloc();
    StageRun run = StartStage(input, h, sink, random, choice, workspace);
    return EndStage(run);
}

StageResult FilterDitherAndPack(std::span<const uint8_t> input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice) {
    return FilterDitherAndPack(InputInMemory(input), h, sink, random, choice);
}
