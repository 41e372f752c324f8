// The stage engine against the model: the filter written out plainly, then
// the one-sample-at-a-time dither in frame order. Every kernel, 1 to 4
// threads, lengths around the block and part edges, and outputs aimed at
// the rounding boundaries the certificate guards must give the same bytes,
// clip count and end state.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/model.h"
#include "support/scratch.h"
#include "system/signals.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

struct Expected {
    std::vector<uint8_t> Packed;
    int64_t Clipped = 0;
};

Expected ModelStage(const std::vector<int32_t>& left, const std::vector<int32_t>& right,
                    const CoefficientSet& h, RandomSource random) {
    std::vector<double> filteredLeft = ModelChannel(left, h);
    std::vector<double> filteredRight = ModelChannel(right, h);
    Expected expected;
    expected.Packed.resize(6 * filteredLeft.size());
    expected.Clipped = DitherAndPackScalar(filteredLeft, filteredRight, expected.Packed, random);
    return expected;
}

// Up to 4 threads, or fewer where PHONOSKEW_THREADS says so (a machine or
// emulator that cannot start threads).
int ThreadsToTry() {
    const char* text = std::getenv("PHONOSKEW_THREADS");
    int threads = text ? std::atoi(text) : 0;
    return threads >= 1 && threads < 4 ? threads : 4;
}

constexpr Kernel Kernels[] = {Kernel::Fast, Kernel::FastUpto256, Kernel::FastUpto128,
                              Kernel::Exact};
constexpr const char* KernelNames[] = {"fast", "fast, 256 bits", "fast, 128 bits", "exact"};

// The two channels as an input file holds them.
std::vector<uint8_t> PackedInput(const std::vector<int32_t>& left,
                                 const std::vector<int32_t>& right) {
    std::vector<uint8_t> packed(6 * left.size());
    for (size_t n = 0; n < left.size(); ++n) {
        StoreSample24(left[n], &packed[6 * n]);
        StoreSample24(right[n], &packed[6 * n + 3]);
    }
    return packed;
}

// The stage's output as its parts write it to a file, after a header's room.
std::vector<uint8_t> StageThroughFile(const std::vector<uint8_t>& input, const CoefficientSet& h,
                                      RandomSource random, const EngineChoice& choice) {
    ScratchDir dir;
    OutputFile file = CreateOutputFile(dir.File("out.wav"));
    EXPECT_EQ(FilterDitherAndPack(input, h, {file.File, 44, {}}, random, choice).WriteError, 0);
    EXPECT_EQ(NameOutputFile(file), 0);
    std::string bytes = ReadFileBytes(dir.path / "out.wav");
    return std::vector<uint8_t>(bytes.begin() + std::min<size_t>(44, bytes.size()), bytes.end());
}

// Runs the stage with `choice` and compares it with the model's.
StageResult ExpectModelBytes(const std::vector<int32_t>& left, const std::vector<int32_t>& right,
                             const CoefficientSet& h, RandomSource start, EngineChoice choice,
                             const Expected& expected) {
    std::vector<uint8_t> packed(expected.Packed.size(), 0xEE);
    RandomSource random = start;
    SetUpEngine(choice);  // the vector width, as a run sets it
    const std::vector<uint8_t> input = PackedInput(left, right);
    StageResult result = FilterDitherAndPack(input, h, {NoFile, 0, packed}, random, choice);
    SCOPED_TRACE(testing::Message() << left.size() << " frames, " << choice.Threads << " threads, "
                                    << KernelNames[int(choice.Form)]);
    size_t differ = 0;
    while (differ < packed.size() && packed[differ] == expected.Packed[differ]) ++differ;
    EXPECT_EQ(differ, packed.size()) << "first difference in output frame " << differ / 6;
    EXPECT_EQ(result.Clipped, expected.Clipped);
    EXPECT_EQ(random.State, start.Skip(4 * uint64_t(left.size() + FilterTail)).State);
    // Two threads writing their parts to one file give the same bytes.
    if (choice.Threads == 2) {
        EXPECT_TRUE(StageThroughFile(input, h, start, choice) == expected.Packed);
    }
    return result;
}

TEST(FilterDitherAndPack, SameBytesForEveryKernelAndThreadCount) {
    std::mt19937_64 generator(77);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    std::uniform_real_distribution<double> tap(-1.0, 1.0);
    CoefficientSet loud;  // gains large enough to clip often
    for (double& h : loud) h = 4 * tap(generator);
    CoefficientSet quiet;
    for (double& h : quiet) h = tap(generator) / 16;
    CoefficientSet infinite = quiet;  // outside the certificate's range
    infinite[40] = INFINITY;
    CoefficientSet huge = quiet;  // so is a sum of |h| above 2^16
    huge[7] = 70000;
    const RandomSource start = RandomSource{}.Skip(12345);

    // Around one block (2048 output frames), a few blocks, and tiny inputs.
    for (int64_t frames : {0, 1, 2, 5, 1985, 1986, 2048, 4033, 4097, 6200}) {
        std::vector<int32_t> left(frames), right(frames);
        for (int64_t n = 0; n < frames; ++n) {
            left[n] = sample(generator);
            right[n] = sample(generator) / 64;
        }
        for (const CoefficientSet* h : {&loud, &quiet, &infinite, &huge}) {
            Expected expected = ModelStage(left, right, *h, start);
            for (int threads = 1; threads <= ThreadsToTry(); ++threads) {
                for (Kernel kernel : Kernels) {
                    StageResult result =
                        ExpectModelBytes(left, right, *h, start, {kernel, threads}, expected);
                    bool outside = h == &infinite || h == &huge;
                    EXPECT_EQ(result.WholeExact, kernel == Kernel::Exact || outside);
                }
            }
        }
    }
}

// ---- Outputs aimed at the rounding boundaries ---------------------------------------
//
// Output m of an aimed case sums, oldest first, a few terms on which the
// model and a plain float64 sum part by at least one unit in the last place
// (the family), then three exact terms that land the model's dithered sum
// on a half-integer, or one step beside it, so that the float64 value lies
// across the boundary. Taps: h[0] = 2^-31, h[1] = 2^-23, h[2] = 1 carry
// the landing; the family's taps sit at h[3] and h[4].

struct Term {
    double H;
    int32_t X;
};

double ModelSum(const std::vector<Term>& terms) {
    double sum = 0.0;
    for (const Term& t : terms) sum = static_cast<double>(Extended(sum) + Extended(t.H) * t.X);
    return sum;
}

double FastSum(const std::vector<Term>& terms) {
    double sum = 0.0;
    for (const Term& t : terms) sum = std::fma(t.H, double(t.X), sum);
    return sum;
}

using Rng = std::mt19937_64;

int32_t Clamp24(double x) { return int32_t(std::clamp(x, -8388608.0, 8388607.0)); }

double Uniform(Rng& rng, double from, double to) {
    return std::uniform_real_distribution<double>(from, to)(rng);
}

// The families: terms near `target` on which the model and float64 part.
// A 64-bit product tie: the model's product rounds onto a 53-bit tie.
std::vector<Term> ProductTie(double target, Rng& rng) {
    double h = Uniform(rng, 1.05, 1.9);
    return {{h, Clamp24(target / h + Uniform(rng, -0x1p18, 0x1p18))}};
}
// A sum a hair beside a 64-bit tie: a large integer plus a small product.
std::vector<Term> SumTie(double target, Rng& rng) {
    return {{1.0, Clamp24(target + Uniform(rng, -0x1p18, 0x1p18))},
            {Uniform(rng, 1e-3, 1e-2), Clamp24(Uniform(rng, -8e6, 8e6))}};
}
// A product just below a power of two, where the unit of the last place
// doubles.
std::vector<Term> BelowPowerOfTwo(double target, Rng& rng) {
    double power = std::copysign(0x1p22, target);
    int32_t x = Clamp24(std::copysign(Uniform(rng, 0x1p22, 0x1p23), target));
    double h = std::nextafter(power / x, 0.0);
    for (int steps = int(rng() % 4); steps > 0; --steps) h = std::nextafter(h, 0.0);
    return {{h, x}};
}
// Cancellation of large taps: a product near 2^33 that the model rounds
// differently, then an exact one that takes it back near the target.
std::vector<Term> Cancellation(double target, Rng& rng) {
    double h = Uniform(rng, 500, 1000);
    int32_t x = Clamp24(Uniform(rng, -8e6, 8e6));
    double first = ModelSum({{h, x}});
    return {{h, x}, {-1024.0, Clamp24(std::round((first - target) / 1024))}};
}

using FamilySearch = std::vector<Term> (*)(double, Rng&);

struct AimedCase {
    bool Found = false;
    CoefficientSet Taps{};
    int32_t Samples[5] = {};  // x[m - 4] .. x[m]
};

// A case for output m whose dither is `dither`, with the boundary t near
// `target` (a half-integer): the model rounds one way, float64 the other.
AimedCase FindCase(FamilySearch family, double target, double dither, Rng& rng) {
    const double grid = std::fabs(target) < 0x1p22 ? 0x1p-31 : 0x1p-30;
    for (int attempt = 0; attempt < 200000; ++attempt) {
        std::vector<Term> terms = family(target - dither, rng);
        const double model = ModelSum(terms), fast = FastSum(terms);
        if (model == fast) continue;
        // Land X = y + dither on the boundary t, or one step beside it on
        // the side away from the float64 value.
        long double landed = (long double)target - dither;  // exact
        const bool onGrid = std::fmod(landed, (long double)grid) == 0;
        if (!onGrid) landed -= std::copysign(0x1p-31L, fast - model);
        // On the tie, its even neighbour must lie away from the float64 value.
        if (onGrid && (std::nearbyint(target) > target) == (fast > model)) continue;
        const long double shift = (landed - model) * 0x1p31L;  // whole
        if (std::fabs(shift) >= 0x1p53L || shift != std::floor(shift)) continue;
        const int64_t units = int64_t(shift);
        const int64_t whole = units >= 0 ? units >> 31 : -((-units + 0x7FFFFFFF) >> 31);
        const int64_t rest = units - whole * (int64_t{1} << 31);  // 0 .. 2^31 - 1
        if (std::abs(whole) >= 8388608) continue;
        AimedCase found;
        found.Found = true;
        found.Taps[0] = 0x1p-31;
        found.Taps[1] = 0x1p-23;
        found.Taps[2] = 1.0;
        for (size_t i = 0; i < terms.size(); ++i) {
            found.Taps[2 + terms.size() - i] = terms[i].H;
            found.Samples[4 - 2 - int(terms.size()) + int(i)] = terms[i].X;
        }
        found.Samples[2] = int32_t(whole);
        found.Samples[3] = int32_t(rest >> 8);
        found.Samples[4] = int32_t(rest & 255);
        return found;
    }
    return {};
}

// The x87 unit's precision control (bits 8-9 of its control word): what a
// thread computes with, and what some systems start a thread with (Windows
// may start one at 53 bits, which rounds like float64).
#if defined(__x86_64__) || defined(__i386__)
constexpr bool HasX87 = true;
unsigned short X87Control() {
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    return control;
}
void SetX87Control(unsigned short control) { __asm__ volatile("fldcw %0" : : "m"(control)); }
#else
constexpr bool HasX87 = false;
unsigned short X87Control() { return 0; }
void SetX87Control(unsigned short) {}
#endif

// The sample a dither gives: model value against float64 value.
int64_t Dithered(double y, RandomSource draws, int64_t& clipped) {
    Extended r1 = draws.Next();
    Extended r2 = draws.Next();
    return ClipSample24(DitherSum(y, r1, r2), clipped);
}

TEST(FilterDitherAndPack, AimedOutputsOnRoundingBoundariesGiveTheModelsBytes) {
    const FamilySearch families[] = {ProductTie, SumTie, BelowPowerOfTwo, Cancellation};
    const char* const familyNames[] = {"product tie", "sum beside a tie", "below 2^22",
                                       "cancellation"};
    // Boundaries in the middle of the range, both signs, and at both rails.
    const double targets[] = {2500000.5, -2600000.5, 3100000.5,  -3300000.5,
                              8388606.5, 8388607.5,  -8388607.5, -8388608.5};
    const RandomSource start = RandomSource{}.Skip(999);
    Rng rng(4242);
    int cases = 0, biting = 0;
    for (int f = 0; f < 4; ++f) {
        for (int i = 0; i < 24; ++i) {
            // Every lane position of the widest vectors, and the block edge.
            const int64_t m = i < 16 ? 64 + i * 9 : 2040 + i;
            const int channel = i % 2;
            double target = targets[i % 8];
            const RandomSource draws = start.Skip(4 * uint64_t(m) + 2 * channel);
            RandomSource copy = draws;
            Extended r1 = copy.Next();
            Extended r2 = copy.Next();
            const double dither = double(r1 + r2 - 1);
            // Near the rails the landed value must stay below 2^23.
            if (std::fabs(target - dither) >= 0x1p23) {
                target -= std::copysign(2.0, target);
            }
            AimedCase aimed = FindCase(families[f], target, dither, rng);
            ASSERT_TRUE(aimed.Found) << familyNames[f] << ", case " << i;

            std::vector<int32_t> aimedChannel(size_t(m + 1 + i % 5)), other(aimedChannel.size());
            for (int k = 0; k < 5; ++k) aimedChannel[size_t(m - 4 + k)] = aimed.Samples[k];
            for (size_t n = 0; n < other.size(); ++n) other[n] = int32_t(n * 7919 % 20000) - 10000;
            const std::vector<int32_t>& left = channel == 0 ? aimedChannel : other;
            const std::vector<int32_t>& right = channel == 0 ? other : aimedChannel;

            // The aim holds: the float64 value dithers to another sample or
            // clip count than the model's.
            int64_t modelClipped = 0, fastClipped = 0;
            const double y = ModelOutput(aimedChannel, aimed.Taps, m);
            std::vector<Term> all;
            for (int k = 4; k >= 0; --k)
                all.push_back({aimed.Taps[k], aimedChannel[size_t(m - k)]});
            int64_t model = Dithered(y, draws, modelClipped);
            int64_t fast = Dithered(FastSum(all), draws, fastClipped);
            ++cases;
            if (model != fast || modelClipped != fastClipped) ++biting;

            SCOPED_TRACE(testing::Message() << familyNames[f] << ", output " << m << ", channel "
                                            << channel << ", boundary " << target);
            Expected expected = ModelStage(left, right, aimed.Taps, start);
            for (Kernel kernel : Kernels) {
                StageResult result = ExpectModelBytes(left, right, aimed.Taps, start,
                                                      {kernel, 1 + i % ThreadsToTry()}, expected);
                if (kernel != Kernel::Exact) {
                    EXPECT_GE(result.ExactOutputs, 1);
                }
            }
        }
    }
    // Nearly every case must reach a boundary, or the test proves little.
    EXPECT_GE(biting, cases * 9 / 10) << biting << " of " << cases << " cases bite";
    std::printf("%d of %d cases bite\n", biting, cases);
}

// Started by a thread at 53-bit precision, the workers still compute at 64
// bits: each sets its own precision, whatever it started with.
TEST(FilterDitherAndPack, WorkersSetTheirOwnPrecision) {
    if (!HasX87 || ThreadsToTry() < 2) GTEST_SKIP() << "no x87 unit or one thread";
    std::mt19937_64 generator(5);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    std::vector<int32_t> left(3000), right(3000);
    for (size_t n = 0; n < left.size(); ++n) left[n] = sample(generator), right[n] = -left[n] / 3;
    CoefficientSet h{};
    for (int k = 0; k < TapCount; ++k) h[size_t(k)] = 1.0 / (3 + k);
    const std::vector<uint8_t> input = PackedInput(left, right);
    std::vector<uint8_t> reference(BytesPerFrame * (left.size() + FilterTail)), packed = reference;
    RandomSource random;
    FilterDitherAndPack(input, h, {NoFile, 0, reference}, random, {Kernel::Exact, 1});
    const unsigned short control = X87Control();
    SetX87Control(static_cast<unsigned short>((control & ~0x0300) | 0x0200));
    random = RandomSource{};
    FilterDitherAndPack(input, h, {NoFile, 0, packed}, random, {Kernel::Exact, 2});
    SetX87Control(control);
    EXPECT_TRUE(packed == reference);
}

// A signal stack that cannot be had means fewer threads, never a failed
// stage: four stages in a row on what the workspace holds give the bytes of
// one thread.
TEST(MakeStageWorkspace, StacksThatCannotBeHadMeanFewerThreads) {
    int stacksLeft = 2;
    auto scarce = [&stacksLeft]() -> std::unique_ptr<std::byte[]> {
        return stacksLeft-- > 0 ? MakeSignalStack() : nullptr;
    };
    StageWorkspace workspace = MakeStageWorkspace(8, scarce);
    EXPECT_EQ(workspace.Threads, 2);
    stacksLeft = 0;
    EXPECT_EQ(MakeStageWorkspace(8, scarce).Threads, 1);

    std::vector<int32_t> left(9000), right(9000);
    for (size_t n = 0; n < left.size(); ++n)
        left[n] = int32_t(n * 7919 % 100000), right[n] = -left[n];
    const std::vector<uint8_t> input = PackedInput(left, right);
    CoefficientSet h{};
    h[0] = 0.75, h[5] = -0.25;
    RandomSource oneThread, shared;
    for (int stage = 0; stage < 4; ++stage) {
        std::vector<uint8_t> reference(BytesPerFrame * (left.size() + FilterTail)),
            packed = reference;
        FilterDitherAndPack(input, h, {NoFile, 0, reference}, oneThread, {Kernel::Fast, 1});
        StageRun run = StartStage(InputInMemory(input), h, {NoFile, 0, packed}, shared,
                                  {Kernel::Fast, 8}, workspace);
        EndStage(run);
        EXPECT_TRUE(packed == reference) << "stage " << stage + 1;
    }
    EXPECT_EQ(shared.State, oneThread.State);
}

// A stage reading the input file gives silence for the frames the file
// does not hold, as for those it holds in memory as zeros.
TEST(FilterDitherAndPack, FramesMissingFromTheFileReadAsSilence) {
    ScratchDir dir;
    std::vector<int32_t> left(30000, 0), right(30000, 0);
    for (size_t n = 0; n < 17000; ++n) left[n] = int32_t(n), right[n] = -int32_t(n);
    std::vector<uint8_t> input = PackedInput(left, right);
    const std::string path = WriteSampleFile(
        dir, {reinterpret_cast<const char*>(input.data()), size_t(BytesPerFrame) * 17000 + 4});
    // The last partial frame's four bytes, and nothing after them.
    std::fill(input.begin() + BytesPerFrame * 17000 + 4, input.end(), 0);
    CoefficientSet h{};
    h[1] = 1.5;
    OpenResult file = OpenForReading(path);
    for (int threads : {1, 3}) {
        std::vector<uint8_t> reference(BytesPerFrame * (left.size() + FilterTail)),
            packed = reference;
        RandomSource a, b;
        FilterDitherAndPack(input, h, {NoFile, 0, reference}, a, {Kernel::Fast, threads});
        StageResult result = FilterDitherAndPack({file.File, 44, {}, 30000}, h, {NoFile, 0, packed},
                                                 b, {Kernel::Fast, threads});
        EXPECT_EQ(result.ReadError, 0);
        EXPECT_TRUE(packed == reference) << threads << " threads";
    }
    CloseFile(file.File);
}

// Half of all outputs placed within 2^-24 of a dither rounding boundary
// (every other sample, through a tap of 2^-23, while two taps near 2^15
// widen the window and meet only zeros or clip): each block passes the
// share of suspects past which the exact loop is cheaper, takes that loop
// whole, and still gives the model's bytes and draws.
TEST(FilterDitherAndPack, BlocksOfMostlySuspectsTakeTheExactLoop) {
    CoefficientSet h{};
    h[0] = 0x1p-23;
    h[1] = 0x1p15;
    h[3] = 0x1p15 - 2;
    const int64_t frames = 5000;
    const RandomSource start;
    std::vector<int32_t> left(frames), right(frames);
    RandomSource draws = start;
    for (int64_t n = 0; n < frames; ++n) {
        for (std::vector<int32_t>* x : {&left, &right}) {
            Extended r1 = draws.Next();
            Extended r2 = draws.Next();
            const double dither = double(r1 + r2 - 1);
            if (n % 2 == 0)
                (*x)[n] = int32_t(std::llround((std::floor(dither) + 0.5 - dither) * 0x1p23));
        }
    }
    Expected expected = ModelStage(left, right, h, start);
    for (int threads = 1; threads <= ThreadsToTry(); ++threads) {
        StageResult result =
            ExpectModelBytes(left, right, h, start, {Kernel::Fast, threads}, expected);
        EXPECT_FALSE(result.WholeExact);
        EXPECT_EQ(result.ExactOutputs, 2 * (frames + FilterTail));  // every block, whole
    }
}

}  // namespace
