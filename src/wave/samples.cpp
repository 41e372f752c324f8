// Loading the sample bytes of the input, and taking frames of it apart into
// the left and right channels.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

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

void DecodeWindows(std::span<const uint8_t> packed, int64_t start, std::span<double> left,
                   std::span<double> right) {
    assert(left.size() == right.size());
    const int64_t size = int64_t(left.size());
    const int64_t frameCount = int64_t(packed.size() / BytesPerFrame);
    // Window entries [from, to) hold frames; the rest are outside the input.
    const int64_t from = std::clamp<int64_t>(-start, 0, size);
    const int64_t to = std::clamp<int64_t>(frameCount - start, from, size);
    std::fill(left.begin(), left.begin() + from, 0.0);
    std::fill(right.begin(), right.begin() + from, 0.0);
    const uint8_t* frame = packed.data() + BytesPerFrame * (start + from);
    // On a little-endian machine a frame's six bytes come in one 8-byte
    // load, where the frame after it holds the two bytes the load reads
    // beyond; the last frame, and every frame elsewhere, bytewise.
    const bool littleEndian = std::endian::native == std::endian::little;
    const int64_t wholeLoads = littleEndian ? std::min(to, frameCount - 1 - start) : from;
    int64_t i = from;
    for (; i < wholeLoads; ++i, frame += BytesPerFrame) {
        uint64_t bits = 0;
        std::memcpy(&bits, frame, sizeof bits);
        left[size_t(i)] = double(int32_t(uint32_t(bits) << 8) >> 8);
        right[size_t(i)] = double(int32_t(uint32_t(bits >> 24) << 8) >> 8);
    }
    for (; i < to; ++i, frame += BytesPerFrame) {
        left[size_t(i)] = double(DecodeSample24(frame));
        right[size_t(i)] = double(DecodeSample24(frame + 3));
    }
    std::fill(left.begin() + to, left.end(), 0.0);
    std::fill(right.begin() + to, right.end(), 0.0);
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
