// The stage engine. Each block of output frames is filtered into small
// arrays of its own and dithered and packed from them at once, so no
// stage-long accumulator arrays exist. The output range is split into one
// contiguous part per thread; a part starts its dither draws where the
// one-pass loop would have them (RandomSource::Skip), so the bytes never
// depend on the number of threads.
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

namespace {

// Output frames filtered and packed in one go: both channels' results stay
// in the first-level cache.
constexpr int64_t BlockFrames = 2048;
constexpr int MostThreads = 64;

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
    EngineChoice Choice;
    int64_t Clipped = 0;
    std::vector<double> FilteredLeft, FilteredRight;  // one block's outputs
    std::vector<double> Window;                       // one block's samples, for the vector kernel
};

// Outputs [first, first + count) of both channels into the part's arrays.
void FilterBlock(StagePart& part, int64_t first, int64_t count) {
    if (!part.Choice.VectorFilter) {
        FilterBlockX87(part.Left, part.Right, part.FrameCount, *part.Coefficients, first, count,
                       part.FilteredLeft.data(), part.FilteredRight.data());
        return;
    }
    // Where a test asks for the vector form on a CPU without AVX-512, the
    // same algorithm runs through its portable build.
    auto filterWindow = CpuHasAvx512() ? FilterWindowAvx512 : FilterWindowEmulated;
    const double* h = part.Coefficients->data();
    FillWindow(part.Left, part.FrameCount, first, count, part.Window.data());
    filterWindow(part.Window.data(), count, h, part.FilteredLeft.data());
    FillWindow(part.Right, part.FrameCount, first, count, part.Window.data());
    filterWindow(part.Window.data(), count, h, part.FilteredRight.data());
}

void RunStagePart(StagePart& part) {
    double* left = part.FilteredLeft.data();
    double* right = part.FilteredRight.data();
    for (int64_t first = part.From; first < part.To; first += BlockFrames) {
        int64_t count = std::min(BlockFrames, part.To - first);
        FilterBlock(part, first, count);
        uint8_t* packed = part.Packed + 6 * first;
        part.Clipped += part.Choice.VectorDither
                            ? DitherAndPackAvx2(left, right, count, packed, part.Random)
                            : DitherAndPackScalar(left, right, count, packed, part.Random);
    }
}

// A worker: every signal but the faults of its own code is held back, so
// stop and terminal signals reach the main thread alone, which holds them
// while an output file is written and restores the terminal.
void RunWorker(StagePart* part) {
    SetNumericEnvironment();
    RunStagePart(*part);
}

sigset_t WorkerSignalMask() {
    sigset_t mask;
    sigfillset(&mask);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigdelset(&mask, fault);
    return mask;
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

bool X87Forced() {
    const char* text = std::getenv("PHONOSKEW_KERNEL");
    return text != nullptr && std::string_view(text) == "x87";
}

}  // namespace

// Each worker's stack, and the slack of aligning the arrays to huge pages.
uint64_t AddressSpaceReserve() {
    uint64_t threads = uint64_t(ChooseEngine(CoefficientSet{}).Threads);
    return threads * (uint64_t{8} << 20) + (uint64_t{8} << 20);
}

const char* EngineFilterName(const EngineChoice& choice) {
    return choice.VectorFilter ? "AVX-512" : "the x87 unit";
}

EngineChoice ChooseEngine(const CoefficientSet& h) {
    EngineChoice choice;
    bool forced = X87Forced();
    choice.VectorDither = !forced && CpuHasAvx2();
    choice.VectorFilter = !forced && CpuHasAvx512() && VectorKernelTakes(h.data());
    choice.Threads = ThreadsFromEnvironment();
    if (choice.Threads == 0) choice.Threads = DefaultThreads();
    return choice;
}

int64_t FilterDitherAndPack(std::span<const int32_t> left, std::span<const int32_t> right,
                            const CoefficientSet& h, uint8_t* packed, RandomSource& random,
                            const EngineChoice& choice) {
    const int64_t frameCount = int64_t(left.size());
    const int64_t outputFrames = frameCount + FilterTail;
    // Parts of whole blocks, at most one per thread.
    int64_t blocks = (outputFrames + BlockFrames - 1) / BlockFrames;
    int64_t partCount = std::clamp<int64_t>(choice.Threads, 1, blocks);
    std::vector<StagePart> parts;
    for (int64_t i = 0; i < partCount; ++i) {
        int64_t from = std::min(outputFrames, blocks * i / partCount * BlockFrames);
        int64_t to = std::min(outputFrames, blocks * (i + 1) / partCount * BlockFrames);
        StagePart part;
        part.Left = left.data();
        part.Right = right.data();
        part.FrameCount = frameCount;
        part.Coefficients = &h;
        part.Packed = packed;
        part.From = from;
        part.To = to;
        part.Random = random.Skip(4 * uint64_t(from));
        part.Choice = choice;
        // A set outside the vector kernel's range always takes the x87 unit.
        part.Choice.VectorFilter = choice.VectorFilter && VectorKernelTakes(h.data());
        part.FilteredLeft.resize(BlockFrames);
        part.FilteredRight.resize(BlockFrames);
        if (choice.VectorFilter) part.Window.resize(BlockFrames + WindowLead);
        parts.push_back(std::move(part));
    }

    {
        std::vector<std::jthread> workers;
        workers.reserve(parts.size());
        // Workers take the mask in force when they start.
        sigset_t workerMask = WorkerSignalMask(), previous;
        pthread_sigmask(SIG_BLOCK, &workerMask, &previous);
        size_t started = 1;
        try {
            for (; started < parts.size(); ++started) {
                workers.emplace_back(RunWorker, &parts[started]);
            }
        } catch (const std::system_error&) {
            // No more threads to be had: this thread does the rest.
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        RunStagePart(parts[0]);
        for (size_t i = started; i < parts.size(); ++i) RunStagePart(parts[i]);
    }  // the workers are joined here

    int64_t clipped = 0;
    for (const StagePart& part : parts) clipped += part.Clipped;
    random = random.Skip(4 * uint64_t(outputFrames));
    return clipped;
}
