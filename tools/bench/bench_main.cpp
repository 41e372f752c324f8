// phonoskew-bench: speed and memory figures of the whole job. It prints
// figures only; nothing here passes or fails, so a busy machine can never
// turn it into a flaky test.
//
//   phonoskew-bench [PHONOSKEW_BINARY] [--seconds S] [--repeats N]
//   phonoskew-bench --help | --version
//
// On a deterministic recording of S seconds (default 60) of 96 kHz stereo
// with the example error filters:
//  - each step of the job, run in this process as the program runs it
//    (median of N passes, default 5), with its share of the whole, and how
//    many outputs each stage recomputed exactly;
//  - the given program as a user runs it, through pipes, with each
//    PHONOSKEW_KERNEL (auto, avx2, sse4, exact): wall time, input frames per
//    second and peak resident memory, median of N runs;
//  - where `sox` is installed, four SoX runs (FIR filter and dither, one an
//    output) measured alternately with the program, and the ratio.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "design/design.h"
#include "engine/engine.h"
#include "filters/certificate.h"
#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"
#include "system/options.h"
#include "system/processors.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The program's default: the widest vector unit, one thread a processor.
EngineChoice EngineOfThisMachine() {
    return {Kernel::Fast, std::clamp(ProcessorsAvailable(), 1, MostThreads)};
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string CpuName() {
    TextResult info = ReadSmallFile("/proc/cpuinfo", 1 << 20);
    size_t at = info.Text.find("model name");
    if (at == std::string::npos) return "unknown CPU";
    size_t colon = info.Text.find(':', at);
    size_t end = info.Text.find('\n', at);
    return info.Text.substr(colon + 2, end - colon - 2);
}

// ---- The steps, in this process ---------------------------------------------------

struct StepTimes {
    std::vector<double> Read, Stage[4], Name[4], Floor;
    int64_t ExactOutputs[4] = {};  // of the last pass
    int64_t Outputs = 0;           // a stage's, both channels
};

// The output file as the program makes it: header, then the frames.
OutputFile StartOutput(const fs::path& path, int32_t frames) {
    OutputFile output = CreateOutputFile(path.string());
    WaveInfo info = ConsistentWaveInfo();
    info.FrameCount = frames;
    auto header = MakeOutputHeader(info, OutputDataSize(info));
    if (output.Error == 0) output.Error = WriteAt(output.File, header, 0);
    return output;
}

void TimeSteps(const fs::path& dir, int32_t frames, StepTimes& times) {
    InputFile input;
    auto start = Clock::now();
    TakeInputSamples(OpenForReading((dir / "bench.wav").string()).File, frames, input);
    times.Read.push_back(SecondsSince(start));
    const StageInput samples{input.File, HeaderSize, {}, frames};

    RandomSource random;
    for (int stage = 0; stage < StageCount; ++stage) {
        start = Clock::now();
        CoefficientLoad load =
            LoadCoefficients((dir / ErrorStages[stage].CoefficientFile).string());
        OutputFile output = StartOutput(dir / ("out" + std::to_string(stage + 1) + ".wav"), frames);
        StageResult result = FilterDitherAndPack(
            samples, load.Values, {output.File, HeaderSize, {}}, random, EngineOfThisMachine());
        times.Stage[stage].push_back(SecondsSince(start));
        times.ExactOutputs[stage] = result.WholeExact ? -1 : result.ExactOutputs;
        times.Outputs = 2 * (int64_t{frames} + FilterTail);
        start = Clock::now();
        NameOutputFile(output);
        times.Name[stage].push_back(SecondsSince(start));
    }
    CloseInput(input);
}

// The I/O floor: what the job cannot go below, done the way the program
// does it. Read the input once, then write four files of the output's
// size, each by one thread a processor in parts, a few blocks a write, and
// name them. Nothing is computed.
void TimeIoFloor(const fs::path& dir, int32_t frames, StepTimes& times) {
    auto start = Clock::now();
    {
        OpenResult input = OpenForReading((dir / "bench.wav").string());
        std::vector<uint8_t> buffer(size_t(BytesPerFrame) << 16);
        for (uint64_t at = HeaderSize;
             ReadAt(input.File, buffer.data(), buffer.size(), at).Bytes > 0; at += buffer.size()) {
        }
        CloseFile(input.File);
    }
    const int threads = EngineOfThisMachine().Threads;
    const int64_t outputBytes = BytesPerFrame * (int64_t{frames} + FilterTail);
    const int64_t chunk = BytesPerFrame * 8192;
    std::vector<uint8_t> bytes(size_t(chunk), 0x55);
    for (int stage = 0; stage < 4; ++stage) {
        OutputFile output =
            StartOutput(dir / ("floor" + std::to_string(stage + 1) + ".wav"), frames);
        std::vector<std::jthread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&, t] {
                const int64_t from = outputBytes * t / threads,
                              to = outputBytes * (t + 1) / threads;
                for (int64_t at = from; at < to; at += chunk) {
                    std::span<const uint8_t> piece(bytes.data(), size_t(std::min(chunk, to - at)));
                    WriteAt(output.File, piece, HeaderSize + uint64_t(at));
                }
            });
        }
        writers.clear();
        NameOutputFile(output);
    }
    times.Floor.push_back(SecondsSince(start));
}

double StepsTotal(const StepTimes& times) {
    double total = Median(times.Read);
    for (int stage = 0; stage < 4; ++stage)
        total += Median(times.Stage[stage]) + Median(times.Name[stage]);
    return total;
}

void PrintSteps(const StepTimes& times, int32_t frames) {
    struct Row {
        std::string Name;
        double Seconds;
    };
    std::vector<Row> rows = {{"open the input", Median(times.Read)}};
    for (int stage = 0; stage < 4; ++stage) {
        rows.push_back({"stage " + std::to_string(stage + 1) + ": filter, dither, pack, write",
                        Median(times.Stage[stage])});
        rows.push_back(
            {"stage " + std::to_string(stage + 1) + ": name the file", Median(times.Name[stage])});
    }
    const double total = StepsTotal(times);
    std::printf("\nSteps, in this process (median of %zu):\n\n", times.Read.size());
    std::printf("| step | ms | ns a frame | share |\n|---|---|---|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %.1f | %.1f | %.0f %% |\n", row.Name.c_str(), row.Seconds * 1e3,
                    row.Seconds * 1e9 / frames, 100 * row.Seconds / total);
    }
    std::printf("| all steps | %.1f | %.1f | |\n", total * 1e3, total * 1e9 / frames);
    const double floor = Median(times.Floor);
    std::printf("| I/O floor: read, write four outputs | %.1f | %.1f | %.2fx of it |\n",
                floor * 1e3, floor * 1e9 / frames, total / floor);
    std::printf("\nOutputs recomputed exactly, of %lld a stage:", (long long)times.Outputs);
    for (int64_t count : times.ExactOutputs) {
        if (count < 0) std::printf(" all (exact loop)");
        if (count >= 0) std::printf(" %lld", (long long)count);
    }
    std::printf("\n");
}

// ---- The hot loops on one thread ---------------------------------------------------

template <typename Pass>
double BestOfFive(Pass pass) {
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        auto start = Clock::now();
        pass();
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

// Each filter and dither form, and each vector width, on one thread, over
// one second of the recording.
void BenchLoops(const fs::path& dir) {
    const int32_t frames = 96000;
    std::vector<uint8_t> input(size_t(BytesPerFrame) * frames);
    ReadFileAt((dir / "bench.wav").string(), input.data(), input.size(), HeaderSize);
    std::vector<int32_t> inputLeft(frames), inputRight(frames);
    DecodeFrames(input, 0, inputLeft, inputRight);
    CoefficientLoad load = LoadCoefficients((dir / ErrorStages[1].CoefficientFile).string());
    const int64_t outputs = frames + FilterTail;
    std::vector<double> left(OutputRoom(outputs)), right(OutputRoom(outputs));
    std::vector<double> window(WindowSize(outputs));
    const double multiplyAdds = 2.0 * TapCount * frames;

    std::printf("\nHot loops, one thread, best of five:\n\n| loop | ns |\n|---|---|\n");
    double exact = BestOfFive([&] {
        FilterBlockExact(inputLeft, inputRight, load.Values, 0, std::span(left).first(outputs),
                         std::span(right).first(outputs));
    });
    std::printf("| exact filter (x87 unit), a multiply-add | %.3f |\n", exact * 1e9 / multiplyAdds);
    for (VectorWidth width : {VectorWidth::Widest, VectorWidth::Upto256, VectorWidth::Upto128}) {
        LimitVectorWidth(width);
        double fast = BestOfFive([&] {
            FillWindow(inputLeft, 0, outputs, window);
            FilterWindowFast(window, outputs, load.Values, left);
            FillWindow(inputRight, 0, outputs, window);
            FilterWindowFast(window, outputs, load.Values, right);
        });
        std::printf("| fast filter (%s), a multiply-add | %.3f |\n", VectorUnitName(),
                    fast * 1e9 / multiplyAdds);
    }
    LimitVectorWidth(VectorWidth::Widest);
    std::vector<uint8_t> packed(BytesPerFrame * outputs);
    RandomSource random;
    double scalar = BestOfFive([&] {
        DitherAndPackScalar(std::span(left).first(size_t(outputs)),
                            std::span(right).first(size_t(outputs)), packed, random);
    });
    std::printf("| exact dither and pack (x87 unit), a frame | %.2f |\n", scalar * 1e9 / outputs);
    std::vector<int32_t> samplesLeft(outputs + DitherPad), samplesRight(outputs + DitherPad);
    std::vector<int32_t> suspects(2 * outputs);
    const double tieWindow = CertifyCoefficients(load.Values).Window;
    double vector = BestOfFive([&] {
        DitherFast({left, right, outputs}, random, tieWindow,
                   {samplesLeft, samplesRight, suspects});
        PackFrames(samplesLeft, samplesRight, packed);
    });
    std::printf("| fast dither and pack (%s), a frame | %.2f |\n", VectorUnitName(),
                vector * 1e9 / outputs);
}

// A stage that makes half of all outputs suspects: every other sample
// places its output, through a tap of 2^-23, within 2^-24 of a dither
// rounding boundary, while two taps near 2^15 (which the other samples,
// all zero, meet) widen the certificate's window to about 1/60. The other
// outputs clip.
struct CraftedStage {
    std::vector<uint8_t> Input;
    CoefficientSet Taps{};
};

CraftedStage CraftSuspects(int32_t frames) {
    CraftedStage crafted;
    crafted.Taps[0] = 0x1p-23;
    crafted.Taps[1] = 0x1p15;
    crafted.Taps[3] = 0x1p15 - 2;
    crafted.Input.assign(size_t(BytesPerFrame) * frames, 0);
    RandomSource draws;
    for (int32_t n = 0; n < frames; ++n) {
        for (int channel = 0; channel < 2; ++channel) {
            Extended r1 = draws.Next();
            Extended r2 = draws.Next();
            if (n % 2) continue;
            const double dither = double(r1 + r2 - 1);
            const double boundary = std::floor(dither) + 0.5;
            const int64_t sample = std::llround((boundary - dither) * 0x1p23);
            StoreSample24(sample, &crafted.Input[size_t(BytesPerFrame) * n + 3 * channel]);
        }
    }
    return crafted;
}

// The crossover: the share of a block's outputs at which recomputing its
// suspects one by one costs as much as the exact loop over the whole block,
// measured on one block of the crafted stage.
void BenchCrossover() {
    const int64_t frames = 2048;
    const CraftedStage crafted = CraftSuspects(int32_t(frames));
    std::vector<int32_t> left(frames), right(frames);
    DecodeFrames(crafted.Input, 0, left, right);
    std::vector<double> window(WindowSize(frames)), outLeft(OutputRoom(frames)),
        outRight(OutputRoom(frames));
    FillWindow(left, 0, frames, window);
    FilterWindowFast(window, frames, crafted.Taps, outLeft);
    FillWindow(right, 0, frames, window);
    FilterWindowFast(window, frames, crafted.Taps, outRight);
    std::vector<int32_t> samplesLeft(frames + DitherPad), samplesRight(frames + DitherPad),
        suspects(2 * frames);
    const double tieWindow = CertifyCoefficients(crafted.Taps).Window;
    const FilteredBlock block{outLeft, outRight, frames};
    const DitheredBlock out{samplesLeft, samplesRight, suspects};
    BlockDither dither;
    const double withSuspects = BestOfFive([&] {
        dither = DitherBlock(block, RandomSource{}, tieWindow, out, [&](int64_t m, int channel) {
            return ExactOutput(channel == 0 ? left : right, crafted.Taps, m);
        });
    });
    const double alone = BestOfFive([&] { DitherFast(block, RandomSource{}, tieWindow, out); });
    const double perSuspect = (withSuspects - alone) / double(dither.Recomputed);
    std::vector<uint8_t> packed(BytesPerFrame * frames);
    const double exactBlock = BestOfFive([&] {
        RandomSource random;
        FilterBlockExact(left, right, crafted.Taps, 0, std::span(outLeft).first(frames),
                         std::span(outRight).first(frames));
        DitherAndPackScalar(std::span(outLeft).first(size_t(frames)),
                            std::span(outRight).first(size_t(frames)), packed, random);
    });
    std::printf(
        "\nA suspect's exact recompute and dither: %.0f ns; the exact loop: %.0f ns an "
        "output.\nThe exact loop is cheaper once more than %.1f %% of a block's outputs "
        "are suspects.\n",
        perSuspect * 1e9, exactBlock * 1e9 / (2 * frames),
        100 * exactBlock / (2 * frames) / perSuspect);
}

void BenchCraftedSuspects(int32_t frames) {
    const CraftedStage crafted = CraftSuspects(frames);
    std::vector<uint8_t> packed(size_t(BytesPerFrame) * (frames + FilterTail));
    std::printf("\nA crafted stage, half of its outputs suspects, one thread, best of five:\n\n");
    std::printf("| kernel | ms | outputs recomputed exactly |\n|---|---|---|\n");
    for (Kernel kernel : {Kernel::Fast, Kernel::Exact}) {
        StageResult result;
        double seconds = BestOfFive([&] {
            RandomSource random;
            result = FilterDitherAndPack(crafted.Input, crafted.Taps, {NoFile, 0, packed}, random,
                                         {kernel, 1});
        });
        std::printf(
            "| %s | %.1f | %s |\n", kernel == Kernel::Fast ? "auto" : "exact", seconds * 1e3,
            result.WholeExact ? "all (exact loop)" : std::to_string(result.ExactOutputs).c_str());
    }
}

// ---- Whole runs as a user runs them --------------------------------------------------

struct RunFigures {
    double Seconds = 0;
    double PeakBytes = 0;
    bool Clean = false;
};

// Runs `argv` in `dir` with `input` on standard input and standard output
// discarded; the peak memory is the child's own.
RunFigures RunChild(const fs::path& dir, const std::vector<std::string>& argv,
                    const std::string& input, const char* kernel = nullptr) {
    int pipeFds[2];
    RunFigures figures;
    if (pipe(pipeFds) != 0) return figures;
    std::fflush(stdout);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[0], 0);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr) ||
            chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        if (kernel != nullptr) setenv("PHONOSKEW_KERNEL", kernel, 1);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[0]);
    ssize_t ignored = write(pipeFds[1], input.data(), input.size());
    (void)ignored;
    close(pipeFds[1]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    figures.Seconds = SecondsSince(start);
    figures.PeakBytes = double(usage.ru_maxrss) * 1024.0;
    figures.Clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

bool SoxInstalled() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

// Four SoX runs: each the whole recording through one FIR filter and dither
// to a 24-bit file, the job Phonoskew does in one run.
RunFigures RunSox(const fs::path& dir) {
    RunFigures total{0, 0, true};
    for (int stage = 0; stage < StageCount; ++stage) {
        RunFigures one =
            RunChild(dir,
                     {"sox", "bench.wav", "-b", "24", "sox" + std::to_string(stage + 1) + ".wav",
                      "fir", ErrorStages[stage].CoefficientFile, "dither"},
                     "");
        total.Seconds += one.Seconds;
        total.PeakBytes = std::max(total.PeakBytes, one.PeakBytes);
        total.Clean = total.Clean && one.Clean;
    }
    return total;
}

// Each kernel of the program and SoX, in turn, `repeats` times over.
// Returns the default kernel's median wall time.
double BenchWholeRuns(const fs::path& dir, const std::string& binary, int32_t frames, int repeats) {
    const char* const kernels[] = {"auto", "avx2", "sse4", "exact"};
    bool withSox = SoxInstalled();
    std::vector<double> ours[4], sox;
    double peak = 0;
    for (int i = 0; i < repeats; ++i) {
        for (int k = 0; k < 4; ++k) {
            RunFigures run = RunChild(dir, {binary}, "bench.wav\r", kernels[k]);
            if (!run.Clean) {
                std::printf("\n%s did not finish cleanly\n", binary.c_str());
                return 0;
            }
            ours[k].push_back(run.Seconds);
            if (k == 0) peak = std::max(peak, run.PeakBytes);
        }
        if (withSox) {
            RunFigures soxRun = RunSox(dir);
            if (!soxRun.Clean) withSox = false;
            sox.push_back(soxRun.Seconds);
        }
    }
    const double soxSeconds = withSox ? Median(sox) : 0;
    std::printf("\nWhole run of %s, through pipes (median of %d, rows in turn):\n\n",
                binary.c_str(), repeats);
    std::printf("| row | wall s | input frames/s | x SoX |\n|---|---|---|---|\n");
    for (int k = 0; k < 4; ++k) {
        double seconds = Median(ours[k]);
        std::printf("| Phonoskew, PHONOSKEW_KERNEL=%s | %.3f | %.2f M |", kernels[k], seconds,
                    frames / seconds / 1e6);
        if (withSox) std::printf(" %.2f |\n", soxSeconds / seconds);
        if (!withSox) std::printf(" |\n");
    }
    if (withSox) {
        std::printf("| SoX fir + dither, four runs | %.3f | %.2f M | 1.00 |\n", soxSeconds,
                    frames / soxSeconds / 1e6);
    } else {
        std::printf("\n(sox is not installed: no SoX row.)\n");
    }
    std::printf("\nPeak resident memory (auto): %.1f MiB.\n", peak / 1048576.0);
    return Median(ours[0]);
}

// phonoskew-prepare beside SoX on the same conversion: the recording as a
// 16-bit 44.1 kHz FLAC (made by SoX) to 24-bit 96 kHz, `repeats` times in
// turn; prepare as a user runs it (headroom on true peaks) and with the gain
// given (no measuring).
void BenchPrepare(const fs::path& dir, const std::string& prepare, int32_t frames, int repeats) {
    if (!SoxInstalled()) {
        std::printf("\n(sox is not installed: no phonoskew-prepare rows.)\n");
        return;
    }
    if (!RunChild(dir, {"sox", "bench.wav", "-b", "16", "-r", "44100", "prepare.flac"}, "").Clean) {
        std::printf("\n(sox could not make the FLAC: no phonoskew-prepare rows.)\n");
        return;
    }
    const std::vector<std::vector<std::string>> rows = {
        {prepare, "prepare.flac", "prepared.wav"},
        {prepare, "--gain", "0", "prepare.flac", "prepared.wav"},
        {"sox", "prepare.flac", "-b", "24", "sox.wav", "rate", "-v", "96k"},
    };
    const char* names[] = {"phonoskew-prepare (true-peak headroom)", "phonoskew-prepare --gain 0",
                           "sox IN -b 24 OUT rate -v 96k"};
    std::vector<double> seconds[3], peaks[3];
    for (int i = 0; i < repeats; ++i) {
        for (size_t row = 0; row < rows.size(); ++row) {
            const RunFigures run = RunChild(dir, rows[row], "");
            if (!run.Clean) {
                std::printf("\n%s did not finish cleanly\n", rows[row][0].c_str());
                return;
            }
            seconds[row].push_back(run.Seconds);
            peaks[row].push_back(run.PeakBytes);
        }
    }
    std::printf(
        "\nA 44.1 kHz 16-bit FLAC of %.0f s to 24-bit 96 kHz (median of %d, rows in turn):\n\n",
        frames / 96000.0, repeats);
    std::printf("| row | wall s | peak MiB | x SoX's time |\n|---|---|---|---|\n");
    const double sox = Median(seconds[2]);
    for (int row = 0; row < 3; ++row) {
        std::printf("| %s | %.3f | %.1f | %.2f |\n", names[row], Median(seconds[row]),
                    Median(peaks[row]) / 1048576.0, Median(seconds[row]) / sox);
    }
}

constexpr const char* UsageText =
    "usage: phonoskew-bench [PHONOSKEW_BINARY] [--prepare PREPARE_BINARY] [--seconds S]\n"
    "                       [--repeats N]\n"
    "Prints speed and memory figures of the whole job on S seconds (default 60)\n"
    "of a deterministic 96 kHz stereo recording with the example error filters:\n"
    "each step run in this process (median of N passes, default 5), the given\n"
    "program run as a user runs it with each PHONOSKEW_KERNEL, and SoX where it\n"
    "is installed. Figures only: nothing passes or fails.\n"
    "\n"
    "  --prepare P   phonoskew-prepare beside SoX on the recording as a 44.1 kHz FLAC\n"
    "  --seconds S   length of the recording in seconds (default 60)\n"
    "  --repeats N   runs of each measurement (default 5)\n"
    "  --help        this text\n"
    "  --version     the version of Phonoskew it belongs to\n";

struct BenchOptions {
    std::string Binary, Prepare;
    double Seconds = 60.0;
    int Repeats = 5;
};

enum OptionId { HelpOption = 1, VersionOption, SecondsOption, PrepareOption, RepeatsOption };

constexpr OptionSpec Options[] = {
    {"help", 'h', HelpOption},
    {"version", 0, VersionOption},
    {"seconds", 0, SecondsOption, "a number of seconds"},
    {"prepare", 0, PrepareOption, "a program"},
    {"repeats", 0, RepeatsOption, "a number"},
};

// -1 to go on; else the exit status, after the text or the problem.
int ParseBenchOptions(int argc, char** argv, BenchOptions& options) {
    const ReadCommandLine read = ReadOptions(argc, argv, Options);
    for (const GivenOption& option : read.Options) {
        const std::string value(option.Value);
        if (option.Id == HelpOption || option.Id == VersionOption) {
            std::fputs(
                option.Id == HelpOption ? UsageText : "phonoskew-bench " PHONOSKEW_VERSION "\n",
                stdout);
            return 0;
        }
        if (option.Id == SecondsOption) options.Seconds = std::atof(value.c_str());
        if (option.Id == PrepareOption) options.Prepare = fs::absolute(value).string();
        if (option.Id == RepeatsOption) options.Repeats = std::max(1, std::atoi(value.c_str()));
    }
    if (!read.Problem.empty() || read.Operands.size() > 1) {
        std::fprintf(stderr, "phonoskew-bench: %s\n%s",
                     read.Problem.empty() ? "more than one program" : read.Problem.c_str(),
                     UsageText);
        return 2;
    }
    if (!read.Operands.empty()) options.Binary = fs::absolute(read.Operands[0]).string();
    if (!(options.Seconds >= 0.1 && options.Seconds <= 3600.0)) {
        std::fprintf(stderr, "phonoskew-bench: --seconds wants 0.1 to 3600\n");
        return 2;
    }
    return -1;
}

// A scratch folder with the recording and the example sets; its frames.
int32_t MakeBenchFolder(const fs::path& dir, double seconds) {
    const std::vector<int32_t> signal = MakeDemoSignal(seconds);
    WriteDemoFile(dir / "bench.wav", signal);
    const fs::path examples = fs::path(PHONOSKEW_SOURCE_DIR) / "examples" / "coefficients";
    for (const ErrorStage& stage : ErrorStages)
        fs::copy_file(examples / stage.CoefficientFile, dir / stage.CoefficientFile);
    return int32_t(signal.size() / 2);
}

}  // namespace

int main(int argc, char** argv) {
    SetNumericEnvironment();
    BenchOptions options;
    if (const int status = ParseBenchOptions(argc, argv, options); status >= 0) return status;
    const std::string& binary = options.Binary;
    const double seconds = options.Seconds;
    const int repeats = options.Repeats;
    char name[] = "/tmp/phonoskew-bench-XXXXXX";
    fs::path dir = mkdtemp(name);
    const int32_t frames = MakeBenchFolder(dir, seconds);

    EngineChoice choice = EngineOfThisMachine();
    std::printf("Phonoskew benchmark: %g s of 96 kHz stereo (%d frames), four stages\n", seconds,
                frames);
    std::printf("Machine: %s, %u cores; vector unit %s, %d threads\n", CpuName().c_str(),
                std::thread::hardware_concurrency(), VectorUnitName(), choice.Threads);

    // The program's runs first: each starts from this process's small
    // footprint, since the child's peak memory counts what it held at fork.
    const double whole = binary.empty() ? 0 : BenchWholeRuns(dir, binary, frames, repeats);
    if (!options.Prepare.empty()) BenchPrepare(dir, options.Prepare, frames, repeats);
    StepTimes times;
    for (int i = 0; i < repeats; ++i) {
        TimeSteps(dir, frames, times);
        TimeIoFloor(dir, frames, times);
    }
    PrintSteps(times, frames);
    BenchCraftedSuspects(frames);
    BenchCrossover();
    if (whole > 0) {
        std::printf("\nWhole run (auto) against the I/O floor: %.3f s / %.3f s = %.2fx\n", whole,
                    Median(times.Floor), whole / Median(times.Floor));
    }
    BenchLoops(dir);
    fs::remove_all(dir);
    return 0;
}
