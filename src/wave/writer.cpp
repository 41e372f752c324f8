// The output writer: the 44-byte header, and a write that either replaces the
// output file whole or leaves it alone.
#include <cstring>

#include "numeric/numeric.h"
#include "system/files.h"
#include "wave/wave.h"

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

WaveInfo ConsistentWaveInfo() {
    WaveInfo info;
    info.Channels = 2;
    info.SampleRate = 96000;
    info.ByteRate = 576000;
    info.BlockAlign = BytesPerFrame;
    info.BitsPerSample = 24;
    return info;
}

// The output's frames are counted in whatever the stored block align says,
// so a header that disagrees with itself stays as it was.
uint32_t OutputDataSize(const WaveInfo& info) {
    return static_cast<uint32_t>(int64_t{info.BlockAlign} * OutputFrameCount(info.FrameCount));
}

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

std::string WriteWaveFile(const std::string& outputName, std::span<const uint8_t> header,
                          std::span<const uint8_t> samples) {
    int error = ReplaceFile(outputName, {header, samples});
    return error == 0 ? "" : ErrorText(error);
}
