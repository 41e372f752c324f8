// Opening the input for its sample bytes, and taking frames of it apart
// into the left and right channels.
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

// ---- Opening --------------------------------------------------------------------

int64_t TakeInputSamples(FileHandle file, int32_t frameCount, InputFile& input) {
    CloseInput(input);
    input.File = file;
    input.FrameCount = frameCount;
    input.Stamp = StampOf(file);
    if (input.Stamp.Length < 0) return 0;  // the system cannot tell
    const int64_t present = std::max<int64_t>(0, input.Stamp.Length - HeaderSize) / BytesPerFrame;
    return std::max<int64_t>(0, int64_t{frameCount} - present);
}

void CloseInput(InputFile& input) {
    CloseFile(input.File);
    input = InputFile{};
}
