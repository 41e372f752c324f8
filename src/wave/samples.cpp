// Loading the sample bytes of the input, and taking frames of it apart into
// the left and right channels.
#include <algorithm>
#include <cassert>

#include "system/files.h"
#include "wave/wave.h"

// ---- Decoding -----------------------------------------------------------------

void DecodeFrames(std::span<const uint8_t> packed, int64_t first, std::span<int32_t> left,
                  std::span<int32_t> right) {
    assert(left.size() == right.size() && first >= 0);
    assert(packed.size() >= BytesPerFrame * (size_t(first) + left.size()));
    const uint8_t* frame = packed.data() + BytesPerFrame * size_t(first);
    for (size_t n = 0; n < left.size(); ++n, frame += BytesPerFrame) {
        left[n] = DecodeSample24(frame);
        right[n] = DecodeSample24(frame + 3);
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

uint64_t InputSamplesBytes(int32_t frameCount) {
    return BytesPerFrame * uint64_t(std::max(frameCount, 0));
}

bool CreateInputSamples(int32_t frameCount, InputSamples& input) {
    input = InputSamples{};
    if (frameCount < 0) return false;
    // Committed at once, right after the check of what is free: a second
    // job started a moment later then finds this memory taken.
    if (!input.Packed.Allocate(size_t(InputSamplesBytes(frameCount))) || !input.Packed.Commit()) {
        input = InputSamples{};
        return false;
    }
    input.FrameCount = frameCount;
    return true;
}

SampleRead ReadInputSamples(const std::string& inputPath, InputSamples& input) {
    size_t bytesRead = 0;
    std::string reason =
        ReadSampleBytes(inputPath, input.Packed.data(), input.Packed.size(), &bytesRead);
    SampleRead read;
    if (!reason.empty())
        read.Failure = " Could not read file '" + inputPath + "':\\n " + reason + "  ";
    read.MissingFrames = int64_t{input.FrameCount} - int64_t(bytesRead / BytesPerFrame);
    return read;
}
