// Loading the sample bytes of the input and splitting them into the left
// and right channels.
#include <algorithm>

#include "system/files.h"
#include "wave/wave.h"

// ---- Decoding -----------------------------------------------------------------

void SplitChannels(const uint8_t* packed, int32_t frames, int32_t* left, int32_t* right) {
    for (int32_t n = 0; n < frames; ++n) {
        left[n] = DecodeSample24(packed + BytesPerFrame * size_t(n));
        right[n] = DecodeSample24(packed + BytesPerFrame * size_t(n) + 3);
    }
}

// ---- Reading --------------------------------------------------------------------

std::string ReadSampleBytes(const std::string& inputPath, uint8_t* buffer, size_t byteCount,
                            size_t* bytesRead) {
    ReadResult read = ReadFileAt(inputPath, buffer, byteCount, HeaderSize);
    if (bytesRead) *bytesRead = read.Bytes;
    return read.Error == 0 ? "" : ErrorText(read.Error);
}

// ---- The steps, as the driver calls them --------------------------------------------

namespace {

size_t PackedBytes(int32_t frameCount) {
    return BytesPerFrame * size_t(OutputFrameCount(frameCount));
}

}  // namespace

uint64_t SampleArraysBytes(int32_t frameCount) {
    uint64_t frames = uint64_t(std::max(frameCount, 0));
    return PackedBytes(std::max(frameCount, 0)) + 2 * sizeof(int32_t) * frames;
}

bool CreateSampleArrays(int32_t frameCount, SampleArrays& arrays) {
    if (frameCount < 0) return false;
    size_t frames = size_t(frameCount);
    // Committed at once, right after the check of what is free: a second
    // job started a moment later then finds this memory taken.
    if (arrays.Packed.Allocate(PackedBytes(frameCount)) && arrays.Left.Allocate(frames) &&
        arrays.Right.Allocate(frames) && arrays.Packed.Commit() && arrays.Left.Commit() &&
        arrays.Right.Commit()) {
        return true;
    }
    arrays = SampleArrays{};
    return false;
}

SampleRead ReadInputSamples(const std::string& inputPath, int32_t frameCount,
                            SampleArrays& arrays) {
    size_t bytesRead = 0;
    std::string reason = ReadSampleBytes(inputPath, arrays.Packed.data(),
                                         BytesPerFrame * size_t(frameCount), &bytesRead);
    SampleRead read;
    if (!reason.empty())
        read.Failure = " Could not read file '" + inputPath + "':\\n " + reason + "  ";
    read.MissingFrames = int64_t{frameCount} - int64_t(bytesRead / BytesPerFrame);
    return read;
}

void ExtractChannels(SampleArrays& arrays) {
    SplitChannels(arrays.Packed.data(), int32_t(arrays.Left.size()), arrays.Left.data(),
                  arrays.Right.data());
}
