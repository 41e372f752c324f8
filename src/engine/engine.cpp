// The stage engine. Each block of output frames takes its window of the
// packed input apart, is filtered into small arrays of its own, dithered
// and packed from them at once, and written to the output file by its part
// a few blocks at a time: no stage-long array exists but the input. The output range is split into
// one contiguous part per thread; a part starts its dither draws where the one-pass loop would have
// them (RandomSource::Skip), so the bytes never depend on the number of threads. Each block is
// filtered in float64 on the vector unit and dithered there; the few outputs the certificate cannot
// vouch for are recomputed exactly, so the bytes never depend on the vector unit either.
#include "engine/engine.h"

#include <algorithm>
#include <cassert>

#include "filters/certificate.h"
#include "filters/stages.h"
#include "system/signals.h"
#include "system/terminal_device.h"
#include "wave/dither.h"

namespace {

// Output frames filtered and packed in one go: both channels' results stay
// in the first-level cache.
constexpr int64_t BlockFrames = 2048;
// Packed frames a part gathers before it writes them to the file: few
// writes, and little memory a thread.
constexpr int64_t PendingFrames = 4 * BlockFrames;
static_assert(VectorPad >= DitherPad);

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

// ---- Blocks ---------------------------------------------------------------------------

// The input frames a block of outputs [first, first + count) reads, taken
// apart into the part's channel arrays: from 63 frames before its first
// output (or the input's start) to its last output (or the input's end).
// Samples before the window are read by no output of the block, so the
// window's start counts as the input's start for the block's filter.
void DecodeInputWindow(StagePart& part, int64_t first, int64_t count) {
    const int64_t frameCount = int64_t(part.Input.size() / BytesPerFrame);
    const int64_t from = std::max<int64_t>(0, first - FilterTail);
    const int64_t to = std::min(frameCount, first + count);
    const size_t frames = size_t(std::max<int64_t>(0, to - from));
    part.WindowStart = from;
    part.InputLeft.resize(frames);
    part.InputRight.resize(frames);
    DecodeFrames(part.Input, from, part.InputLeft, part.InputRight);
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
    DecodeInputWindow(part, first, count);
    std::span<double> left = std::span(part.FilteredLeft).first(size_t(count));
    std::span<double> right = std::span(part.FilteredRight).first(size_t(count));
    FilterBlockExact(part.InputLeft, part.InputRight, *part.Coefficients, first - part.WindowStart,
                     left, right);
    part.Result.Clipped += DitherAndPackScalar(left.data(), right.data(), count,
                                               PendingRoom(part, count).data(), part.Random);
}

// The fast form reads the packed input straight into its windows; the
// channels are taken apart as integers only for a suspect's recompute.
void RunFastBlock(StagePart& part, int64_t first, int64_t count) {
    const CoefficientSet& h = *part.Coefficients;
    DecodeWindows(part.Input, first - WindowLead, part.WindowLeft, part.WindowRight);
    FilterWindowFast(part.WindowLeft, count, h, part.FilteredLeft);
    FilterWindowFast(part.WindowRight, count, h, part.FilteredRight);
    // A suspect's exact value: the model's loop for that output.
    bool decoded = false;
    auto exactOutput = [&part, &h, &decoded, first, count](int64_t frame, int channel) {
        if (!decoded) DecodeInputWindow(part, first, count);
        decoded = true;
        std::span<const int32_t> x = channel == 0 ? part.InputLeft : part.InputRight;
        return ExactOutput(x, h, first - part.WindowStart + frame);
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
    part.Random = part.Random.Skip(4 * uint64_t(count));
}

void RunStagePart(StagePart& part) {
    part.PendingFrom = part.From;
    for (int64_t first = part.From; first < part.To && part.Result.WriteError == 0;
         first += BlockFrames) {
        int64_t count = std::min(BlockFrames, part.To - first);
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

// Parts of whole blocks, at most one a thread, each with its working arrays.
std::vector<StagePart> MakeStageParts(std::span<const uint8_t> input, const CoefficientSet& h,
                                      const StageSink& sink, const RandomSource& random,
                                      int threads, bool exact, double tieWindow) {
    const int64_t outputFrames = int64_t(input.size() / BytesPerFrame) + FilterTail;
    assert(input.size() % BytesPerFrame == 0);
    assert(sink.File != NoFile || sink.Memory.size() >= size_t(BytesPerFrame * outputFrames));
    const int64_t blocks = (outputFrames + BlockFrames - 1) / BlockFrames;
    const int64_t partCount = std::clamp<int64_t>(threads, 1, std::max<int64_t>(blocks, 1));
    std::vector<StagePart> parts(static_cast<size_t>(partCount));
    for (int64_t i = 0; i < partCount; ++i) {
        StagePart& part = parts[size_t(i)];
        part.Input = input;
        part.Coefficients = &h;
        part.Sink = sink;
        part.From = std::min(outputFrames, blocks * i / partCount * BlockFrames);
        part.To = std::min(outputFrames, blocks * (i + 1) / partCount * BlockFrames);
        part.Random = random.Skip(4 * uint64_t(part.From));
        part.Exact = exact;
        part.TieWindow = tieWindow;
        part.InputLeft.reserve(size_t(BlockFrames + FilterTail));
        part.InputRight.reserve(size_t(BlockFrames + FilterTail));
        part.FilteredLeft.resize(size_t(OutputRoom(BlockFrames)));
        part.FilteredRight.resize(size_t(OutputRoom(BlockFrames)));
        part.Pending.reserve(size_t(BytesPerFrame * (PendingFrames + BlockFrames)));
        if (!exact) {
            part.WindowLeft.resize(size_t(WindowSize(BlockFrames)));
            part.WindowRight.resize(size_t(WindowSize(BlockFrames)));
            part.SamplesLeft.resize(size_t(BlockFrames + DitherPad));
            part.SamplesRight.resize(size_t(BlockFrames + DitherPad));
            part.Suspects.resize(size_t(2 * BlockFrames));
        }
    }
    return parts;
}

// A worker computes in the model's numeric environment, and the last part
// to finish wakes the main thread, which serves the terminal meanwhile.
void RunWorker(StagePart* part, std::atomic<int>* unfinished) {
    SetNumericEnvironment();
    RunStagePart(*part);
    if (unfinished->fetch_sub(1) == 1) WakeTerminalWait();
}

VectorWidth WidthOf(Kernel kernel) {
    if (kernel == Kernel::FastUpto256) return VectorWidth::Upto256;
    if (kernel == Kernel::FastUpto128) return VectorWidth::Upto128;
    return VectorWidth::Widest;
}

}  // namespace

// ---- The stage ----------------------------------------------------------------------------

void SetUpEngine(const EngineChoice& choice) { LimitVectorWidth(WidthOf(choice.Form)); }

uint64_t AddressSpaceReserve(int threads) {
    return uint64_t(std::max(threads, 1)) * (uint64_t{8} << 20) + (uint64_t{8} << 20);
}

StageRun StartStage(std::span<const uint8_t> input, const CoefficientSet& h, const StageSink& sink,
                    RandomSource& random, const EngineChoice& choice) {
    // A set the certificate does not hold for takes the exact loop whole.
    const Certificate certificate = CertifyCoefficients(h);
    StageRun run;
    run.WholeExact = choice.Form == Kernel::Exact || !certificate.Holds;
    run.Parts =
        MakeStageParts(input, h, sink, random, choice.Threads, run.WholeExact, certificate.Window);
    random = random.Skip(StageDraws(int32_t(input.size() / BytesPerFrame)));
    run.Unfinished = std::make_unique<std::atomic<int>>(int(run.Parts.size()));
    // With one thread asked for, everything runs on this one.
    if (choice.Threads <= 1) {
        for (StagePart& part : run.Parts) RunStagePart(part);
        run.Unfinished->store(0);
        return run;
    }
    run.Workers.resize(run.Parts.size());
    for (size_t i = 0; i < run.Parts.size(); ++i) {
        StagePart* part = &run.Parts[i];
        std::atomic<int>* unfinished = run.Unfinished.get();
        StartHelperThread(run.Workers[i], [part, unfinished] { RunWorker(part, unfinished); });
    }
    return run;
}

bool StageFinished(const StageRun& run) { return !run.Unfinished || run.Unfinished->load() == 0; }

StageResult EndStage(StageRun& run) {
    run.Workers.clear();  // each joins
    StageResult result;
    result.WholeExact = run.WholeExact;
    for (const StagePart& part : run.Parts) {
        result.Clipped += part.Result.Clipped;
        result.ExactOutputs += part.Result.ExactOutputs;
        if (result.WriteError == 0) result.WriteError = part.Result.WriteError;
    }
    return result;
}

StageResult FilterDitherAndPack(std::span<const uint8_t> input, const CoefficientSet& h,
                                const StageSink& sink, RandomSource& random,
                                const EngineChoice& choice) {
    StageRun run = StartStage(input, h, sink, random, choice);
    return EndStage(run);
}

// Each part's arrays: its input window, block outputs, sample window,
// samples, suspects and gathered frames.
uint64_t StageWorkingBytes(int threads) {
    const uint64_t part = 2 * sizeof(int32_t) * (BlockFrames + FilterTail) +
                          4 * sizeof(double) * WindowSize(BlockFrames) +
                          2 * sizeof(int32_t) * (BlockFrames + DitherPad) +
                          sizeof(int32_t) * 2 * BlockFrames +
                          BytesPerFrame * (PendingFrames + BlockFrames);
    return uint64_t(std::max(threads, 1)) * part;
}
