// The output writer: triangular dither, 24-bit packing, the 44-byte header,
// and a write that either replaces the output file whole or leaves it alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "console/console.h"
#include "console/screen_script.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

// ---- Dither and packing -----------------------------------------------------------

int64_t DitherSample(double value) {
    Extended r1 = NextRandom();
    Extended sum = r1 + Extended(value);
    Extended r2 = NextRandom();
    sum = sum + r2;
    sum = sum - 1;
    return RoundToInt64(sum);
}

// No clipping: a value beyond the 24-bit range keeps only its low 24 bits.
void DitherAndPack(const double* left, const double* right, int32_t frames, uint8_t* packed) {
    for (int32_t n = 0; n < frames; ++n) {
        uint8_t* frame = packed + 6 * size_t(n);
        StoreSample24(DitherSample(left[n]), frame);
        StoreSample24(DitherSample(right[n]), frame + 3);
    }
}

// ---- Header ---------------------------------------------------------------------

namespace {

void PutTag(uint8_t* at, const char* tag) { std::memcpy(at, tag, 4); }

void PutU16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> 8 * i);
}

}  // namespace

std::array<uint8_t, HeaderSize> MakeOutputHeader(const WaveInfo& info, uint32_t outputDataSize) {
    std::array<uint8_t, HeaderSize> header{};
    uint8_t* h = header.data();
    PutTag(h + 0, "RIFF");
    PutU32(h + 4, outputDataSize + 36u);  // wraps as the 32-bit field does
    PutTag(h + 8, "WAVE");
    PutTag(h + 12, "fmt ");
    PutU32(h + 16, 16);
    PutU16(h + 20, 1);
    PutU16(h + 22, uint16_t(info.Channels));
    PutU32(h + 24, uint32_t(info.SampleRate));
    PutU32(h + 28, uint32_t(info.ByteRate));
    PutU16(h + 32, uint16_t(info.BlockAlign));
    PutU16(h + 34, uint16_t(info.BitsPerSample));
    PutTag(h + 36, "data");
    PutU32(h + 40, outputDataSize);
    return header;
}

// ---- Writing the file -------------------------------------------------------------

namespace {

// Template for the temporary file: beside the output, named after it when
// that still fits a file name, else a short hidden name in the same folder.
std::string MakeTempTemplate(const std::string& outputName) {
    size_t slash = outputName.rfind('/');
    size_t baseLength = slash == std::string::npos ? outputName.size()
                                                   : outputName.size() - slash - 1;
    if (baseLength + 7 <= NAME_MAX) return outputName + ".XXXXXX";
    std::string folder = slash == std::string::npos ? "" : outputName.substr(0, slash + 1);
    return folder + ".phonoskew.XXXXXX";
}

// The permissions a newly created file would get (mkstemp makes it 0600).
mode_t NewFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes all `size` bytes, carrying on after partial writes and interrupts.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        data += put;
        size -= size_t(put);
    }
    return true;
}

// While a temporary file exists, a request to stop (from the terminal or
// kill) waits until it has been renamed or removed, so stopping the
// program never leaves a stray temporary file beside the outputs.
struct StopSignalsHeld {
    sigset_t previous;
    StopSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &previous);
    }
    ~StopSignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
};

}  // namespace

std::string WriteWaveFile(const std::string& outputName, const uint8_t* header, size_t headerSize,
                          const uint8_t* samples, size_t sampleSize) {
    StopSignalsHeld held;
    std::string tempName = MakeTempTemplate(outputName);
    int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);

    bool written = fchmod(fd, NewFileMode()) == 0 && WriteAll(fd, header, headerSize) &&
                   WriteAll(fd, samples, sampleSize);
    int savedErrno = errno;
    if (close(fd) != 0 && written) {
        written = false;
        savedErrno = errno;
    }
    if (written && rename(tempName.c_str(), outputName.c_str()) == 0) return "";
    if (written) savedErrno = errno;
    unlink(tempName.c_str());
    return std::strerror(savedErrno);
}

// ---- One stage's output, as the driver calls it ----------------------------------------

bool WriteStageOutput(int stageNumber, const std::string& outputName, JobArrays& arrays,
                      const WaveInfo& info, uint32_t outputDataSize) {
    ShowWritingFile(outputName);
    auto frames = int32_t(arrays.FilteredLeft.size());
    DitherAndPack(arrays.FilteredLeft.data(), arrays.FilteredRight.data(), frames,
                  arrays.PackedSamples.data());
    // The next stage accumulates from zero; after the last one nothing does.
    if (stageNumber < 4) {
        std::fill(arrays.FilteredLeft.begin(), arrays.FilteredLeft.end(), 0.0);
        std::fill(arrays.FilteredRight.begin(), arrays.FilteredRight.end(), 0.0);
    }

    std::array<uint8_t, HeaderSize> header = MakeOutputHeader(info, outputDataSize);
    for (;;) {
        std::string reason = WriteWaveFile(outputName, header.data(), header.size(),
                                           arrays.PackedSamples.data(), arrays.PackedSamples.size());
        if (reason.empty()) break;
        Beep();
        std::string message = " Could not write file '" + outputName + "':\\n " + reason +
                              ".\\n Enter tries again, Esc skips this file  ";
        if (ConsoleMessageBox(message, " ERROR") == BoxKey::Escape) return false;
    }
    ShowDone(stageNumber < 4 ? 1 : 3);
    return true;
}
