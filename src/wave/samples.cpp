// Loading the sample bytes of the input and splitting them into the left
// and right channels.
#include <algorithm>
#include <new>
#include <stdexcept>

#include "files/files.h"
#include "wave/wave.h"

// ---- Decoding -----------------------------------------------------------------

void SplitChannels(const uint8_t* packed, int32_t frames, int32_t* left, int32_t* right) {
    for (int32_t n = 0; n < frames; ++n) {
        left[n] = DecodeSample24(packed + 6 * size_t(n));
        right[n] = DecodeSample24(packed + 6 * size_t(n) + 3);
    }
}

// ---- Reading --------------------------------------------------------------------

std::string ReadSampleBytes(const std::string& inputPath, uint8_t* buffer, size_t byteCount) {
    ReadResult read = ReadFileAt(inputPath, buffer, byteCount, HeaderSize);
    return read.Error == 0 ? "" : ErrorText(read.Error);
}

// ---- The steps, as the driver calls them --------------------------------------------

bool CreateSampleArrays(int32_t frameCount, SampleArrays& arrays) {
    if (frameCount < 0) return false;
    size_t frames = size_t(frameCount);
    try {
        arrays.Packed.assign(6 * frames, 0);
        arrays.Left.assign(frames, 0);
        arrays.Right.assign(frames, 0);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    arrays = SampleArrays{};
    return false;
}

std::string ReadInputSamples(const std::string& inputPath, SampleArrays& arrays) {
    std::string reason = ReadSampleBytes(inputPath, arrays.Packed.data(), arrays.Packed.size());
    if (reason.empty()) return "";
    return " Could not read file '" + inputPath + "':\\n " + reason + "  ";
}

// Releases the input bytes before the output bytes are made, so the peak
// stays at one packed buffer.
bool ExtractChannels(int64_t outputFrames, SampleArrays& arrays) {
    SplitChannels(arrays.Packed.data(), int32_t(arrays.Left.size()), arrays.Left.data(),
                  arrays.Right.data());
    std::vector<uint8_t>().swap(arrays.Packed);
    try {
        arrays.Packed.assign(6 * size_t(outputFrames), 0);
        return true;
    } catch (const std::bad_alloc&) {
    }
    arrays = SampleArrays{};
    return false;
}
