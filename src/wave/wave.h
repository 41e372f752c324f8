// WAVE files: reading and checking the input header, loading the samples and
// splitting the channels, and dithering, packing and writing the output
// files. Every step takes plain values and gives back a result or the
// reason it failed; nothing here prints or waits for the user.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filters/filters.h"
#include "filters/stages.h"
#include "numeric/numeric.h"
#include "system/files.h"

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

// The values of an accepted file whose byte rate and block align agree with
// its format (576000 and 6): what the demo-signal tool and the benchmark write.
WaveInfo ConsistentWaveInfo();

// Two 24-bit samples a frame, left first.
constexpr int BytesPerFrame = 6;

// The largest data chunk a job takes: a stored size of 2^31 bytes or more
// reads as negative and is refused as too large. Its whole frames.
constexpr int64_t MostDataBytes = (int64_t{1} << 31) - 1;
constexpr int64_t MostFrames = MostDataBytes / BytesPerFrame;

// Every output is the filter's tail longer than its input.
inline int64_t OutputFrameCount(int32_t frameCount) { return int64_t{frameCount} + FilterTail; }

// The output's data size: the input's block align as stored times the
// output frames, wrapped to 32 bits as the header field is.
uint32_t OutputDataSize(const WaveInfo& info);

// Output name n belongs to stage n (ErrorStages); index n - 1.
using OutputNames = std::array<std::string, StageCount>;

// The outcome of the header check: accepted when `Refusal` is empty.
struct HeaderCheck {
    std::string Refusal;  // the message of the first failing check
    // After a refusal by a format check: what the file is, every way it
    // differs from the accepted format, and the commands that convert it:
    // phonoskew-prepare, or SoX.
    std::string Remedy;
    WaveInfo Info;
    OutputNames Names;
};

// Reads the header of the open input `file`, named `inputPath`, and runs
// the checks in their fixed order.
HeaderCheck CheckInputHeader(const std::string& inputPath, FileHandle file);
// The same for the file at `inputPath`, opened for the check alone.
HeaderCheck CheckInputHeader(const std::string& inputPath);

// The job's input: its file, open for the whole job, from which every stage
// reads the frames it needs as it goes (a file removed meanwhile is still
// read through it), and its stamp as opened, to tell a change.
struct InputFile {
    FileHandle File = NoFile;
    int32_t FrameCount = 0;
    FileStamp Stamp;
};

// Takes the open `file` as the input of `frameCount` frames from offset 44
// on; says how many whole frames the file lacks (they read as silence).
int64_t TakeInputSamples(FileHandle file, int32_t frameCount, InputFile& input);
void CloseInput(InputFile& input);

// The 44-byte header of every output file.
constexpr int HeaderSize = 44;
std::array<uint8_t, HeaderSize> MakeOutputHeader(const WaveInfo& info, uint32_t outputDataSize);

// Writes header and samples as the file `outputName`, replacing it whole.
// Returns "" or the system's reason for the failure (nothing is left behind).
std::string WriteWaveFile(const std::string& outputName, std::span<const uint8_t> header,
                          std::span<const uint8_t> samples);

// ---- Lower-level parts: pure steps of the above, also used by the tests -------

// Message shown when an input is too large for this program: a data chunk
// size beyond MostDataBytes, or arrays that cannot be allocated.
extern const char* const TooLargeMessage;

// The header fields as read from the first 44 bytes of an input file. Text
// fields hold only the bytes the file had (fewer than 4 when it ends inside
// them); numeric fields count missing bytes as zero.
struct HeaderFields {
    std::string FormType;         // offset 8
    int32_t FormatChunkSize = 0;  // offset 16
    int16_t FormatTag = 0;        // offset 20
    uint8_t Channels = 0;         // offset 22, low byte only
    int32_t SampleRate = 0;       // offset 24
    int32_t ByteRate = 0;         // offset 28
    int16_t BlockAlign = 0;       // offset 32
    int16_t BitsPerSample = 0;    // offset 34
    std::string DataChunkId;      // offset 36
    int32_t DataSize = 0;         // offset 40
};

// Little-endian field reads from `bytes` (of which `count` are valid); the
// bytes beyond `count` count as zero and are never touched.
uint16_t ReadU16LE(const uint8_t* bytes, size_t count, size_t offset);
uint32_t ReadU32LE(const uint8_t* bytes, size_t count, size_t offset);

// The header reads in their order, from the `count` bytes of a file's start.
HeaderFields ReadHeaderFields(const uint8_t* bytes, size_t count);

// The message of the first failing header check, or "" when all pass. After
// the seven format checks, a DataSize beyond MostDataBytes (read as
// negative) is refused as too large.
std::string FindHeaderFault(const HeaderFields& fields);

// DataSize x 8 / (BitsPerSample x Channels) at extended precision, rounded
// to nearest with ties to even.
int32_t ComputeFrameCount(int32_t dataSize, int16_t bitsPerSample, int16_t channels);

// What the first `count` bytes of a refused file's header say it is, every
// way in which it differs from the accepted format included: "16-bit,
// 44100 Hz, 2 channels", "24-bit, 96000 Hz, 2 channels, with a format
// chunk of 40 bytes". Empty when the file has no WAVE header to read.
std::string DescribeWaveFormat(const uint8_t* bytes, size_t count);

// The name of the accepted copy of `inputPath` that phonoskew-prepare
// writes, and the SoX command suggests: "NAME 24-96.wav" beside the input,
// NAME being the input path less the extension of its last part. When
// another of `folderNames` (the names in the input's folder) has the same
// NAME, ignoring case, with another extension or none, the extension stays
// in NAME ("cd.flac 24-96.wav" beside cd.wav), so that two recordings never
// share one copy.
std::string PreparedCopyPath(const std::string& inputPath,
                             const std::vector<std::string>& folderNames);

// The same with the names the input's folder holds.
std::string PreparedCopyPath(const std::string& inputPath);

// The SoX command that makes an accepted file from `inputPath` beside it,
// named as above, its peak at -3 dBFS, both paths quoted for this system's
// shell: "sox 'in.wav' -b 24 -r 96000 -c 2 -t wavpcm 'in 24-96.wav' gain -n -3".
std::string ConversionCommand(const std::string& inputPath,
                              const std::vector<std::string>& folderNames);

// The project's own tool that makes an accepted file from `inputPath`, with
// the headroom the error filters need, as this system's shell takes it:
// "phonoskew-prepare 'in.wav'" (which writes 'in 24-96.wav'); for more
// than two channels with its option that folds them down to stereo.
std::string PrepareToolCommand(const std::string& inputPath, int channels = 2);

// The input path less its last 4 characters (whole when shorter), followed by
// each stage's output suffix.
OutputNames MakeOutputNames(const std::string& inputPath);

// One 24-bit little-endian two's-complement sample, sign-extended.
inline int32_t DecodeSample24(const uint8_t* bytes) {
    uint32_t v = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
    // Bit 23 moved to the sign bit, then shifted back arithmetically: the
    // sign is extended without a branch.
    return int32_t(v << 8) >> 8;
}

// Decodes the frames [first, first + left size) of the packed samples into
// the two channels.
void DecodeFrames(std::span<const uint8_t> packed, int64_t first, std::span<int32_t> left,
                  std::span<int32_t> right);

// The two channels' sample windows from the packed samples at once, as the
// fast filter reads them: left[i] and right[i] are frame start + i as
// doubles, 0 before the first frame and after the last.
void DecodeWindows(std::span<const uint8_t> packed, int64_t start, std::span<double> left,
                   std::span<double> right);
