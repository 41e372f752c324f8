// The stage engine. Each block of output frames is filtered into small
// arrays of its own and dithered and packed from them at once, so no
// stage-long accumulator arrays exist. The output range is split into one
// contiguous part per thread; a part starts its dither draws where the
// one-pass loop would have them (RandomSource::Skip), so the bytes never
// depend on the number of threads. Each block is filtered in float64 on
// the vector unit and dithered there; the few outputs the certificate
// cannot vouch for are recomputed exactly, so the bytes never depend on the
// vector unit either.
#include "engine/engine.h"

#include <algorithm>
#include <cassert>

#include "filters/certificate.h"
#include "system/signals.h"
#include "system/terminal_device.h"
#include "wave/dither.h"

namespace {

// Output frames filtered and packed in one go: both channels' results stay
// in the first-level cache.
constexpr int64_t BlockFrames = 2048;
static_assert(VectorPad >= DitherPad);

// ---- Blocks ---------------------------------------------------------------------------

std::span<uint8_t> PackedFrames(const StagePart& part, int64_t first, int64_t count) {
    return part.Packed.subspan(size_t(BytesPerFrame * first), size_t(BytesPerFrame * count));
}

void RunExactBlock(StagePart& part, int64_t first, int64_t count) {
    std::span<double> left = std::span(part.FilteredLeft).first(size_t(count));
    std::span<double> right = std::span(part.FilteredRight).first(size_t(count));
    FilterBlockExact(part.Left, part.Right, *part.Coefficients, first, left, right);
    part.Result.Clipped += DitherAndPackScalar(
        left.data(), right.data(), count, PackedFrames(part, first, count).data(), part.Random);
}

void RunFastBlock(StagePart& part, int64_t first, int64_t count) {
    const CoefficientSet& h = *part.Coefficients;
    FillWindow(part.Left, first, count, part.Window);
    FilterWindowFast(part.Window, count, h, part.FilteredLeft);
    FillWindow(part.Right, first, count, part.Window);
    FilterWindowFast(part.Window, count, h, part.FilteredRight);
    // A suspect's exact value: the model's loop for that output.
    auto exactOutput = [&part, &h, first](int64_t frame, int channel) {
        return ExactOutput(channel == 0 ? part.Left : part.Right, h, first + frame);
    };
    BlockDither dither =
        DitherBlock({part.FilteredLeft, part.FilteredRight, count}, part.Random, part.TieWindow,
                    {part.SamplesLeft, part.SamplesRight, part.Suspects}, exactOutput);
    part.Result.Clipped += dither.Clipped;
    part.Result.ExactOutputs += dither.Recomputed;
    PackFrames(part.SamplesLeft, part.SamplesRight, PackedFrames(part, first, count));
    part.Random = part.Random.Skip(4 * uint64_t(count));
}

void RunStagePart(StagePart& part) {
    for (int64_t first = part.From; first < part.To; first += BlockFrames) {
        int64_t count = std::min(BlockFrames, part.To - first);
        if (part.Exact) {
            RunExactBlock(part, first, count);
        } else {
            RunFastBlock(part, first, count);
        }
    }
}

// ---- Parts ------------------------------------------------------------------------------

// Parts of whole blocks, at most one a thread, each with its working arrays.
std::vector<StagePart> MakeStageParts(std::span<const int32_t> left, std::span<const int32_t> right,
                                      const CoefficientSet& h, std::span<uint8_t> packed,
                                      const RandomSource& random, int threads, bool exact,
                                      double tieWindow) {
    const int64_t outputFrames = int64_t(left.size()) + FilterTail;
    assert(right.size() == left.size());
    assert(packed.size() >= size_t(BytesPerFrame * outputFrames));
    const int64_t blocks = (outputFrames + BlockFrames - 1) / BlockFrames;
    const int64_t partCount = std::clamp<int64_t>(threads, 1, std::max<int64_t>(blocks, 1));
    std::vector<StagePart> parts(static_cast<size_t>(partCount));
    for (int64_t i = 0; i < partCount; ++i) {
        StagePart& part = parts[size_t(i)];
        part.Left = left;
        part.Right = right;
        part.Coefficients = &h;
        part.Packed = packed;
        part.From = std::min(outputFrames, blocks * i / partCount * BlockFrames);
        part.To = std::min(outputFrames, blocks * (i + 1) / partCount * BlockFrames);
        part.Random = random.Skip(4 * uint64_t(part.From));
        part.Exact = exact;
        part.TieWindow = tieWindow;
        part.FilteredLeft.resize(size_t(OutputRoom(BlockFrames)));
        part.FilteredRight.resize(size_t(OutputRoom(BlockFrames)));
        if (!exact) {
            part.Window.resize(size_t(WindowSize(BlockFrames)));
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

StageRun StartStage(std::span<const int32_t> left, std::span<const int32_t> right,
                    const CoefficientSet& h, std::span<uint8_t> packed, RandomSource& random,
                    const EngineChoice& choice) {
    // A set the certificate does not hold for takes the exact loop whole.
    const Certificate certificate = CertifyCoefficients(h);
    StageRun run;
    run.WholeExact = choice.Form == Kernel::Exact || !certificate.Holds;
    run.Parts = MakeStageParts(left, right, h, packed, random, choice.Threads, run.WholeExact,
                               certificate.Window);
    random = random.Skip(4 * uint64_t(int64_t(left.size()) + FilterTail));
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
    }
    return result;
}

StageResult FilterDitherAndPack(std::span<const int32_t> left, std::span<const int32_t> right,
                                const CoefficientSet& h, std::span<uint8_t> packed,
                                RandomSource& random, const EngineChoice& choice) {
    StageRun run = StartStage(left, right, h, packed, random, choice);
    return EndStage(run);
}
