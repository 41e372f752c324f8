// phonoskew-bench: speed and memory figures for the job's hot loops and for
// a whole run. It prints figures only; nothing here passes or fails, so a
// busy machine can never turn it into a flaky test.
//
//   phonoskew-bench [PHONOSKEW_BINARY] [--seconds S]
//
// Loops: the 24-bit decode and channel split, the 64-tap filter over both
// channels, and the dither-and-pack, each over S seconds of 96 kHz stereo
// (default 10), timed as the best of three passes. Whole run: the given
// phonoskew binary runs on the demo recording in a scratch folder through
// pipes; its wall time and peak resident memory are reported, the latter
// also per frame (the job needs about 30 bytes a frame).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "design/design.h"
#include "filters/filters.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Best of three passes of `pass`, in seconds.
template <typename Pass>
double BestOfThree(Pass pass) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        pass();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void Report(const char* name, double seconds, int32_t frames) {
    std::printf("  %-22s %8.1f ms   %7.2f ns/frame   %6.1f x real time\n", name, seconds * 1e3,
                seconds * 1e9 / frames, frames / 96000.0 / seconds);
}

void BenchLoops(const std::vector<uint8_t>& wave, int32_t frames) {
    std::printf("Hot loops over %d frames (%.1f s of 96 kHz stereo), best of three:\n", frames,
                frames / 96000.0);
    std::vector<int32_t> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    const uint8_t* samples = wave.data() + HeaderSize;
    Report("decode and split",
           BestOfThree([&] { SplitChannels(samples, frames, left.data(), right.data()); }), frames);

    CoefficientSet h{};
    for (int k = 0; k < TapCount; ++k) h[size_t(k)] = (k == 0 ? 0.9 : 0.1 / (k + 1));
    size_t outputFrames = size_t(frames) + FilterTail;
    std::vector<double> outLeft(outputFrames), outRight(outputFrames);
    Report("filter, 64 taps", BestOfThree([&] {
               std::fill(outLeft.begin(), outLeft.end(), 0.0);
               std::fill(outRight.begin(), outRight.end(), 0.0);
               FilterChannels(left, right, h, outLeft, outRight);
           }),
           frames);

    std::vector<uint8_t> packed(6 * outputFrames);
    RandomSource random;
    Report("dither and pack", BestOfThree([&] {
               DitherAndPack(outLeft.data(), outRight.data(), int64_t(outputFrames), packed.data(),
                             random);
           }),
           frames);
}

// The peak memory of a child counts what it held before exec too, so the
// recording is written and freed before the fork: the child then starts
// from this process's small footprint.
void BenchWholeRun(const std::string& binary, double recordingSeconds,
                   const fs::path& coefficients) {
    char name[] = "/tmp/phonoskew-bench-XXXXXX";
    fs::path dir = mkdtemp(name);
    int32_t frames = 0;
    {
        std::vector<int32_t> signal = MakeDemoSignal(recordingSeconds);
        std::vector<uint8_t> wave = MakeWaveFile(signal);
        frames = int32_t(signal.size() / 2);
        std::ofstream(dir / "bench.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(wave.data()), std::streamsize(wave.size()));
    }
    for (const char* file : {"FO.dat", "SO.dat", "FOP.dat", "SOP.dat"}) {
        fs::copy_file(coefficients / file, dir / file);
    }
    int input[2];
    if (pipe(input) != 0) return;
    std::fflush(stdout);  // the child must not print our buffered lines again
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], 0);
        close(input[0]);
        close(input[1]);
        if (!freopen("/dev/null", "w", stdout) || chdir(dir.c_str()) != 0) _exit(126);
        execl(binary.c_str(), "phonoskew", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    const char keys[] = "bench.wav\r";
    ssize_t ignored = write(input[1], keys, sizeof keys - 1);
    (void)ignored;
    close(input[1]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    fs::remove_all(dir);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("Whole run: %s did not finish cleanly (status %d)\n", binary.c_str(), status);
        return;
    }
    double peakBytes = double(usage.ru_maxrss) * 1024.0;
    std::printf("Whole run of %s (four stages, four files):\n", binary.c_str());
    std::printf("  wall time              %8.2f s      %6.1f x real time\n", seconds,
                frames / 96000.0 / seconds);
    std::printf("  peak resident memory   %8.1f MiB    %6.1f bytes/frame\n", peakBytes / 1048576.0,
                peakBytes / frames);
}

}  // namespace

int main(int argc, char** argv) {
    SetNumericEnvironment();
    std::string binary;
    double seconds = 10.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else
            binary = fs::absolute(argv[i]).string();
    }
    if (!binary.empty()) {
        fs::path source = fs::path(PHONOSKEW_SOURCE_DIR) / "examples" / "coefficients";
        BenchWholeRun(binary, seconds, source);
    }
    std::vector<int32_t> signal = MakeDemoSignal(seconds);
    std::vector<uint8_t> wave = MakeWaveFile(signal);
    BenchLoops(wave, int32_t(signal.size() / 2));
    return 0;
}
