// WAVE files: reading and checking the input header, loading the samples and
// splitting the channels, and dithering, packing and writing the four output
// files. This folder also owns the job's working arrays (`JobArrays`), all
// created once when the samples are loaded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Number of taps of every error filter, and the tail it adds to each output.
constexpr int TapCount = 64;
constexpr int FilterTail = TapCount - 1;

// The values kept from an accepted input header.
struct WaveInfo {
    int16_t Channels = 0;
    int32_t SampleRate = 0;
    int32_t ByteRate = 0;
    int16_t BlockAlign = 0;
    int16_t BitsPerSample = 0;
    int32_t DataSize = 0;
    int32_t FrameCount = 0;
    double Duration = 0.0;
};

// Output name n belongs to stage n (1 FO, 2 SO, 3 FOP, 4 SOP); index n - 1.
using OutputNames = std::array<std::string, 4>;

// Every array of one job. Created by LoadSamples, sized from FrameCount.
struct JobArrays {
    std::vector<int32_t> LeftSamples;     // FrameCount, read-only after the split
    std::vector<int32_t> RightSamples;    // FrameCount
    std::vector<double> FilteredLeft;     // FrameCount + 63 accumulators
    std::vector<double> FilteredRight;    // FrameCount + 63
    std::array<double, TapCount> Coefficients{};
    std::vector<uint8_t> PackedSamples;   // 3 bytes a sample, two samples a frame
};

// Reads and checks the input header. On acceptance fills `info` and `names`
// and returns true; on refusal has sounded the beep and shown the box, and
// returns false so the caller goes back to the prompt.
bool CheckInputHeader(const std::string& inputPath, WaveInfo& info, OutputNames& names);

// Creates the job's arrays and loads and splits the samples, printing its
// progress lines. Returns false, after a beep and a box, when the arrays
// cannot be allocated or the input cannot be read; the caller then goes back
// to the prompt and no output is made.
bool LoadSamples(const std::string& inputPath, int32_t frameCount, JobArrays& arrays);

// Dithers, packs and writes the output file of stage `stageNumber` (1 to 4),
// printing its lines; after stages 1 to 3 it resets the filtered channels.
// Returns false when the user gave up a file that could not be written.
bool WriteStageOutput(int stageNumber, const std::string& outputName, JobArrays& arrays,
                      const WaveInfo& info, uint32_t outputDataSize);

// ---- Lower-level parts: pure steps of the above, also used by the tests -------

// Message shown when an input is too large for this program: a data chunk
// size of 2^31 or more, or arrays that cannot be allocated.
extern const char* const TooLargeMessage;

// The header fields as read from the first 44 bytes of an input file. Text
// fields hold only the bytes the file had (fewer than 4 when it ends inside
// them); numeric fields count missing bytes as zero.
struct HeaderFields {
    std::string FormType;        // offset 8
    int32_t FormatChunkSize = 0; // offset 16
    int16_t FormatTag = 0;       // offset 20
    uint8_t Channels = 0;        // offset 22, low byte only
    int32_t SampleRate = 0;      // offset 24
    int32_t ByteRate = 0;        // offset 28
    int16_t BlockAlign = 0;      // offset 32
    int16_t BitsPerSample = 0;   // offset 34
    std::string DataChunkId;     // offset 36
    int32_t DataSize = 0;        // offset 40
};

// Size of the fixed header every accepted input has; samples start here.
constexpr int HeaderSize = 44;

// Little-endian field reads from `bytes` (of which `count` are valid); the
// bytes beyond `count` count as zero and are never touched.
uint16_t ReadU16LE(const uint8_t* bytes, size_t count, size_t offset);
uint32_t ReadU32LE(const uint8_t* bytes, size_t count, size_t offset);

// The header reads in their order, from the `count` bytes of a file's start.
HeaderFields ReadHeaderFields(const uint8_t* bytes, size_t count);

// The message of the first failing header check, or "" when all pass. After
// the seven format checks, a DataSize of 2^31 or more (read as negative) is
// refused as too large.
std::string FindHeaderFault(const HeaderFields& fields);

// DataSize x 8 / (BitsPerSample x Channels) at extended precision, rounded
// to nearest with ties to even.
int32_t ComputeFrameCount(int32_t dataSize, int16_t bitsPerSample, int16_t channels);

// The input path less its last 4 characters (whole when shorter), followed by
// " RIAA error 1.wav" to " RIAA error 4.wav".
OutputNames MakeOutputNames(const std::string& inputPath);

// One 24-bit little-endian two's-complement sample, sign-extended.
inline int32_t DecodeSample24(const uint8_t* bytes) {
    int32_t v = bytes[0] | bytes[1] << 8 | bytes[2] << 16;  // 0 to 16777215
    return v > 8388607 ? v - 16777216 : v;
}

// Decodes `frames` stereo frames (6 bytes each, left first) into two arrays.
void SplitChannels(const uint8_t* packed, int32_t frames, int32_t* left, int32_t* right);

// Reads up to `byteCount` bytes from offset 44 of `inputPath` into `buffer`.
// A file that ends early is not an error (the rest of the buffer is left as
// it was). Returns "" or the system's reason for a failed open or read.
std::string ReadSampleBytes(const std::string& inputPath, uint8_t* buffer, size_t byteCount);

// The 44-byte header of every output file.
std::array<uint8_t, HeaderSize> MakeOutputHeader(const WaveInfo& info, uint32_t outputDataSize);

// One dithered sample: ((r1 + y) + r2) - 1 at extended precision with two
// fresh draws, rounded to nearest with ties to even (NaN or out of range: -2^63).
int64_t DitherSample(double value);

// Stores the low 24 bits of `value`, least significant byte first.
inline void StoreSample24(int64_t value, uint8_t* bytes) {
    auto bits = static_cast<uint64_t>(value);
    bytes[0] = static_cast<uint8_t>(bits);
    bytes[1] = static_cast<uint8_t>(bits >> 8);
    bytes[2] = static_cast<uint8_t>(bits >> 16);
}

// Dithers and packs `frames` frames, drawing left, left, right, right per frame.
void DitherAndPack(const double* left, const double* right, int32_t frames, uint8_t* packed);

// Writes header and samples to a temporary file beside `outputName` and
// renames it over that name, so the name never holds a half-written file.
// Returns "" or the system's reason for the failure (nothing is left behind).
std::string WriteWaveFile(const std::string& outputName, const uint8_t* header, size_t headerSize,
                          const uint8_t* samples, size_t sampleSize);
