// Loading the sample bytes of the input and splitting them into the left
// and right channels; every working array of the job is created here.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "console/console.h"
#include "console/screen_script.h"
#include "wave/wave.h"

// ---- Decoding -----------------------------------------------------------------

void SplitChannels(const uint8_t* packed, int32_t frames, int32_t* left, int32_t* right) {
    for (int32_t n = 0; n < frames; ++n) {
        left[n] = DecodeSample24(packed + 6 * size_t(n));
        right[n] = DecodeSample24(packed + 6 * size_t(n) + 3);
    }
}

// ---- Reading --------------------------------------------------------------------

// One logical read of the whole block; the loop only carries on where the
// system returned less than asked (it caps single reads near 2 GiB), and
// stops quietly at the end of the file.
std::string ReadSampleBytes(const std::string& inputPath, uint8_t* buffer, size_t byteCount) {
    int fd = open(inputPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    size_t done = 0;
    while (done < byteCount) {
        ssize_t got = pread(fd, buffer + done, byteCount - done, off_t(HeaderSize + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::string reason = std::strerror(errno);
            close(fd);
            return reason;
        }
        if (got == 0) break;
        done += size_t(got);
    }
    close(fd);
    return "";
}

// ---- Loading, as the driver calls it ------------------------------------------------

namespace {

// Every array of the job, zero-filled: the input form of the packed samples,
// both channels, both accumulators, the coefficients. About 30 bytes a frame.
void CreateArrays(int32_t frameCount, JobArrays& arrays) {
    size_t frames = size_t(frameCount);
    arrays.PackedSamples.assign(6 * frames, 0);
    arrays.LeftSamples.assign(frames, 0);
    arrays.RightSamples.assign(frames, 0);
    arrays.FilteredLeft.assign(frames + FilterTail, 0.0);
    arrays.FilteredRight.assign(frames + FilterTail, 0.0);
    arrays.Coefficients.fill(0.0);
}

// Releases the input bytes before the output bytes are made, so the peak
// stays at one packed buffer.
void SwapToOutputForm(int32_t frameCount, JobArrays& arrays) {
    std::vector<uint8_t>().swap(arrays.PackedSamples);
    arrays.PackedSamples.assign(6 * (size_t(frameCount) + FilterTail), 0);
}

bool GiveUp(const std::string& message, JobArrays& arrays) {
    arrays = JobArrays{};
    Beep();
    ConsoleMessageBox(message, " ERROR");
    return false;
}

}  // namespace

bool LoadSamples(const std::string& inputPath, int32_t frameCount, JobArrays& arrays) {
    ShowStepTitle("   Reading file data...");
    if (frameCount < 0) return GiveUp(TooLargeMessage, arrays);
    try {
        CreateArrays(frameCount, arrays);
    } catch (const std::bad_alloc&) {
        return GiveUp(TooLargeMessage, arrays);
    } catch (const std::length_error&) {
        return GiveUp(TooLargeMessage, arrays);
    }

    std::string reason = ReadSampleBytes(inputPath, arrays.PackedSamples.data(),
                                         arrays.PackedSamples.size());
    if (!reason.empty()) {
        return GiveUp(" Could not read file '" + inputPath + "':\\n " + reason + "  ", arrays);
    }
    ShowDone(1);

    ShowStepTitle("   Extracting channels...");
    SplitChannels(arrays.PackedSamples.data(), frameCount, arrays.LeftSamples.data(),
                  arrays.RightSamples.data());
    try {
        SwapToOutputForm(frameCount, arrays);
    } catch (const std::bad_alloc&) {
        return GiveUp(TooLargeMessage, arrays);
    }
    ShowDone(1);
    return true;
}
