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

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "files/files.h"
#include "filters/kernels.h"
#include "wave/dither.h"

namespace {

// Output frames filtered and packed in one go: both channels' results stay
// in the first-level cache.
constexpr int64_t BlockFrames = 2048;
constexpr int MostThreads = 64;
static_assert(VectorPad >= DitherPad);

// What one part of a stage needs. Its working arrays are made before the
// threads start, so a worker never allocates.
struct StagePart {
    const int32_t* Left = nullptr;
    const int32_t* Right = nullptr;
    int64_t FrameCount = 0;
    const CoefficientSet* Coefficients = nullptr;
    uint8_t* Packed = nullptr;
    int64_t From = 0;  // output frames [From, To)
    int64_t To = 0;
    RandomSource Random;  // positioned at frame From's first draw
    bool Exact = false;
    double TieWindow = 0;  // the certificate's, for the fast form
    StageResult Result;
    // One block's outputs, samples and suspects, and its sample window.
    std::vector<double> FilteredLeft, FilteredRight, Window;
    std::vector<int32_t> SamplesLeft, SamplesRight, Suspects;
};

void RunExactBlock(StagePart& part, int64_t first, int64_t count) {
    double* left = part.FilteredLeft.data();
    double* right = part.FilteredRight.data();
    FilterBlockX87(part.Left, part.Right, part.FrameCount, *part.Coefficients, first, count, left,
                   right);
    part.Result.Clipped +=
        DitherAndPackScalar(left, right, count, part.Packed + BytesPerFrame * first, part.Random);
}

// The suspects of a block: each output computed by the model's loop and
// dithered with its own two draws.
void RecomputeSuspects(StagePart& part, int64_t first, int64_t suspectCount) {
    for (int64_t i = 0; i < suspectCount; ++i) {
        const int64_t frame = part.Suspects[i] / 2;
        const int channel = part.Suspects[i] % 2;
        const int32_t* x = channel == 0 ? part.Left : part.Right;
        double y = ExactOutput(x, part.FrameCount, *part.Coefficients, first + frame);
        RandomSource draws = part.Random.Skip(4 * uint64_t(frame) + 2 * channel);
        Extended r1 = draws.Next();
        Extended r2 = draws.Next();
        int32_t* samples = channel == 0 ? part.SamplesLeft.data() : part.SamplesRight.data();
        samples[frame] = ClipSample24(DitherSum(y, r1, r2), part.Result.Clipped);
    }
    part.Result.ExactOutputs += suspectCount;
}

void RunFastBlock(StagePart& part, int64_t first, int64_t count) {
    const double* h = part.Coefficients->data();
    FillWindow(part.Left, part.FrameCount, first, count, part.Window.data());
    FilterWindowFast(part.Window.data(), count, h, part.FilteredLeft.data());
    FillWindow(part.Right, part.FrameCount, first, count, part.Window.data());
    FilterWindowFast(part.Window.data(), count, h, part.FilteredRight.data());
    int64_t suspectCount = 0;
    part.Result.Clipped += DitherFast(
        part.FilteredLeft.data(), part.FilteredRight.data(), count, part.Random, part.TieWindow,
        part.SamplesLeft.data(), part.SamplesRight.data(), part.Suspects.data(), &suspectCount);
    RecomputeSuspects(part, first, suspectCount);
    PackFrames(part.SamplesLeft.data(), part.SamplesRight.data(), count,
               part.Packed + BytesPerFrame * first);
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

// A worker: every signal but the faults of its own code is held back, so
// stop and terminal signals reach the main thread alone, which holds them
// while an output file is written and restores the terminal.
void RunWorker(StagePart* part) {
    SetNumericEnvironment();
    RunStagePart(*part);
}

int ThreadsFromEnvironment() {
    const char* text = std::getenv("PHONOSKEW_THREADS");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    long threads = std::strtol(text, &end, 10);
    if (*end != '\0' || threads < 1) return 0;
    return int(std::min<long>(threads, MostThreads));
}

// One thread a processor the process can use (its affinity, its CPU quota).
int DefaultThreads() { return std::clamp(ProcessorsAvailable(), 1, MostThreads); }

// PHONOSKEW_KERNEL: auto (or unset), avx2, sse2, exact or x87. Another
// value counts as auto.
Kernel KernelFromEnvironment() {
    const char* text = std::getenv("PHONOSKEW_KERNEL");
    std::string_view name = text == nullptr ? "" : text;
    if (name == "avx2") return Kernel::FastUpto256;
    if (name == "sse2") return Kernel::FastUpto128;
    if (name == "exact" || name == "x87") return Kernel::Exact;
    return Kernel::Fast;
}

VectorWidth WidthOf(Kernel kernel) {
    if (kernel == Kernel::FastUpto256) return VectorWidth::Upto256;
    if (kernel == Kernel::FastUpto128) return VectorWidth::Upto128;
    return VectorWidth::Widest;
}

}  // namespace

// Each worker's stack, and the slack of aligning the arrays to huge pages.
uint64_t AddressSpaceReserve() {
    uint64_t threads = uint64_t(ChooseEngine().Threads);
    return threads * (uint64_t{8} << 20) + (uint64_t{8} << 20);
}

EngineChoice ChooseEngine() {
    EngineChoice choice;
    choice.Form = KernelFromEnvironment();
    choice.Threads = ThreadsFromEnvironment();
    if (choice.Threads == 0) choice.Threads = DefaultThreads();
    return choice;
}

StageResult FilterDitherAndPack(std::span<const int32_t> left, std::span<const int32_t> right,
                                const CoefficientSet& h, uint8_t* packed, RandomSource& random,
                                const EngineChoice& choice) {
    const int64_t frameCount = int64_t(left.size());
    const int64_t outputFrames = frameCount + FilterTail;
    // A set the certificate does not hold for takes the exact loop whole.
    const Certificate certificate = CertifyCoefficients(h);
    const bool exact = choice.Form == Kernel::Exact || !certificate.Holds;
    if (!exact) LimitVectorWidth(WidthOf(choice.Form));
    // Parts of whole blocks, at most one per thread.
    int64_t blocks = (outputFrames + BlockFrames - 1) / BlockFrames;
    int64_t partCount = std::clamp<int64_t>(choice.Threads, 1, blocks);
    std::vector<StagePart> parts;
    for (int64_t i = 0; i < partCount; ++i) {
        StagePart part;
        part.Left = left.data();
        part.Right = right.data();
        part.FrameCount = frameCount;
        part.Coefficients = &h;
        part.Packed = packed;
        part.From = std::min(outputFrames, blocks * i / partCount * BlockFrames);
        part.To = std::min(outputFrames, blocks * (i + 1) / partCount * BlockFrames);
        part.Random = random.Skip(4 * uint64_t(part.From));
        part.Exact = exact;
        part.TieWindow = certificate.Window;
        part.FilteredLeft.resize(BlockFrames + VectorPad);
        part.FilteredRight.resize(BlockFrames + VectorPad);
        if (!exact) {
            part.Window.resize(BlockFrames + WindowLead + VectorPad);
            part.SamplesLeft.resize(BlockFrames + VectorPad);
            part.SamplesRight.resize(BlockFrames + VectorPad);
            part.Suspects.resize(2 * BlockFrames);
        }
        parts.push_back(std::move(part));
    }
    {
        std::vector<std::jthread> workers;
        workers.reserve(parts.size());
        size_t started = 1;
        {
            // Workers take the mask in force when they start.
            SignalsHeld held(AllButFaultSignals());
            try {
                for (; started < parts.size(); ++started) {
                    workers.emplace_back(RunWorker, &parts[started]);
                }
            } catch (const std::system_error&) {
                // No more threads to be had: this thread does the rest.
            }
        }
        RunStagePart(parts[0]);
        for (size_t i = started; i < parts.size(); ++i) RunStagePart(parts[i]);
    }  // the workers are joined here

    StageResult result;
    result.WholeExact = exact;
    for (const StagePart& part : parts) {
        result.Clipped += part.Result.Clipped;
        result.ExactOutputs += part.Result.ExactOutputs;
    }
    random = random.Skip(4 * uint64_t(outputFrames));
    return result;
}
