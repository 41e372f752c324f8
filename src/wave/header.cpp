// Reading and checking the input header, and what is derived from it: the
// frame count, the duration and the four output names.
#include <cctype>
#include <string_view>

#include "filters/stages.h"
#include "numeric/numeric.h"
#include "system/files.h"
#include "system/quoting.h"
#include "wave/wave.h"

const char* const TooLargeMessage = "This Wave file is too large to process ";

// ---- Field reads --------------------------------------------------------------

uint16_t ReadU16LE(const uint8_t* bytes, size_t count, size_t offset) {
    uint16_t value = 0;
    for (size_t i = 0; i < 2 && offset + i < count; ++i)
        value |= uint16_t(bytes[offset + i] << 8 * i);
    return value;
}

uint32_t ReadU32LE(const uint8_t* bytes, size_t count, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && offset + i < count; ++i)
        value |= uint32_t{bytes[offset + i]} << 8 * i;
    return value;
}

namespace {

// A 4-byte text field: only the bytes the file holds, so a short one never
// matches its expected text.
std::string ReadTag(const uint8_t* bytes, size_t count, size_t offset) {
    std::string tag;
    for (size_t i = 0; i < 4 && offset + i < count; ++i)
        tag += static_cast<char>(bytes[offset + i]);
    return tag;
}

int16_t ReadI16(const uint8_t* bytes, size_t count, size_t offset) {
    return static_cast<int16_t>(ReadU16LE(bytes, count, offset));
}

int32_t ReadI32(const uint8_t* bytes, size_t count, size_t offset) {
    return static_cast<int32_t>(ReadU32LE(bytes, count, offset));
}

}  // namespace

// The reads in their fixed order. The RIFF id and size (0-7) and the format
// chunk id (12-15) are not used; only the low byte of the channel field (22)
// is read, and reading goes on at 24.
HeaderFields ReadHeaderFields(const uint8_t* bytes, size_t count) {
    HeaderFields fields;
    fields.FormType = ReadTag(bytes, count, 8);
    fields.FormatChunkSize = ReadI32(bytes, count, 16);
    fields.FormatTag = ReadI16(bytes, count, 20);
    fields.Channels = count > 22 ? bytes[22] : 0;
    fields.SampleRate = ReadI32(bytes, count, 24);
    fields.ByteRate = ReadI32(bytes, count, 28);
    fields.BlockAlign = ReadI16(bytes, count, 32);
    fields.BitsPerSample = ReadI16(bytes, count, 34);
    fields.DataChunkId = ReadTag(bytes, count, 36);
    fields.DataSize = ReadI32(bytes, count, 40);
    return fields;
}

// ---- Checks and derived values --------------------------------------------------

std::string FindHeaderFault(const HeaderFields& fields) {
    if (fields.FormType != "WAVE") return "This is not a Wave file ";
    if (fields.FormatChunkSize != 16) return "This is not a WAVE_FORMAT file ";
    if (fields.DataChunkId != "data") return "Subchunk2 does not contain the signal data ";
    if (fields.FormatTag != 1) return "This is not a PCM format Wave file ";
    if (fields.Channels != 2) return "This is not a stero Wave file ";
    if (fields.BitsPerSample != 24) return "This is not a 24-bit Wave file ";
    if (fields.SampleRate != 96000) return "This is not a 96kHz Wave file ";
    // A stored size of 2^31 or more reads as negative: no job could hold it.
    if (int64_t{uint32_t(fields.DataSize)} > MostDataBytes) return TooLargeMessage;
    return "";
}

int32_t ComputeFrameCount(int32_t dataSize, int16_t bitsPerSample, int16_t channels) {
    Extended bits = Extended(dataSize) * 8;
    Extended frameBits = Extended(bitsPerSample) * Extended(channels);
    return RoundToInt32(bits / frameBits);
}

OutputNames MakeOutputNames(const std::string& inputPath) {
    std::string base = inputPath.size() < 4 ? inputPath : inputPath.substr(0, inputPath.size() - 4);
    OutputNames names;
    for (int n = 0; n < StageCount; ++n) names[n] = base + ErrorStages[n].OutputSuffix;
    return names;
}

// ---- What a refused file is, and how to convert it ---------------------------------

namespace {

// The sample format: bits, rate and channels as stored, and the way the
// samples are coded when it is not integer PCM.
std::string SampleFormat(const uint8_t* bytes, size_t count) {
    int16_t tag = static_cast<int16_t>(ReadU16LE(bytes, count, 20));
    uint16_t channels = ReadU16LE(bytes, count, 22);
    int32_t rate = static_cast<int32_t>(ReadU32LE(bytes, count, 24));
    int16_t bits = static_cast<int16_t>(ReadU16LE(bytes, count, 34));
    std::string text = std::to_string(bits) + "-bit";
    constexpr int16_t FloatTag = 3;
    // 0xFFFE names its coding past the 44 bytes read; its chunk size is named.
    constexpr int16_t ExtensibleTag = -2;
    if (tag == FloatTag) text += " floating point";
    text += ", " + std::to_string(rate) + " Hz, " + std::to_string(channels) +
            (channels == 1 ? " channel" : " channels");
    if (tag != 1 && tag != FloatTag && tag != ExtensibleTag)
        text += ", format tag " + std::to_string(tag) + " (not PCM)";
    return text;
}

}  // namespace

// The fields stand at their places only when the format chunk comes first;
// the data chunk's id means something only after a 16-byte format chunk.
std::string DescribeWaveFormat(const uint8_t* bytes, size_t count) {
    if (ReadTag(bytes, count, 8) != "WAVE") return "";
    std::string formatId = ReadTag(bytes, count, 12);
    if (formatId != "fmt ")
        return "a " + QuotedArgument(formatId) + " chunk where the format chunk belongs";
    std::string cutShort = "a header cut short after " + std::to_string(count) + " bytes";
    if (count < 36) return cutShort;
    std::string text = SampleFormat(bytes, count);
    int32_t formatSize = static_cast<int32_t>(ReadU32LE(bytes, count, 16));
    std::string dataId = ReadTag(bytes, count, 36);
    if (formatSize != 16)
        text += ", with a format chunk of " + std::to_string(formatSize) + " bytes";
    else if (dataId.size() < 4)
        text += ", with " + cutShort;
    else if (dataId != "data")
        text += ", with a " + QuotedArgument(dataId) + " chunk before the samples";
    return text;
}

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string PreparedCopyPath(const std::string& inputPath,
                             const std::vector<std::string>& folderNames) {
    const PathParts input = SplitPath(inputPath);
    bool shared = false;
    for (const std::string& name : folderNames) {
        const PathParts other = SplitPath(name);
        shared |= SameIgnoringCase(other.Stem, input.Stem) && other.Extension != input.Extension;
    }
    return input.Folder + input.Stem + (shared ? input.Extension : "") + " 24-96.wav";
}

std::string PreparedCopyPath(const std::string& inputPath) {
    return PreparedCopyPath(inputPath, FolderEntryNames(SplitPath(inputPath).Folder));
}

// The highest peak goes to -3 dBFS, a start for the headroom the error
// filters need.
std::string ConversionCommand(const std::string& inputPath,
                              const std::vector<std::string>& folderNames) {
    return "sox " + CommandArgument(inputPath) + " -b 24 -r 96000 -c 2 -t wavpcm " +
           CommandArgument(PreparedCopyPath(inputPath, folderNames)) + " gain -n -3";
}

std::string PrepareToolCommand(const std::string& inputPath, int channels) {
    return ToolCommand("phonoskew-prepare") + (channels > 2 ? " --downmix " : " ") +
           CommandArgument(inputPath);
}

// ---- The check as the driver calls it --------------------------------------------

HeaderCheck CheckInputHeader(const std::string& inputPath) {
    // A file that cannot be opened gives nothing, which the first check
    // refuses.
    const OpenResult file = OpenForReading(inputPath);
    HeaderCheck check = CheckInputHeader(inputPath, file.File);
    CloseFile(file.File);
    return check;
}

HeaderCheck CheckInputHeader(const std::string& inputPath, FileHandle file) {
    uint8_t header[HeaderSize] = {};
    ReadResult read = file == NoFile ? ReadResult{} : ReadAt(file, header, HeaderSize, 0);
    HeaderFields fields = ReadHeaderFields(header, read.Bytes);

    HeaderCheck check;
    check.Refusal = FindHeaderFault(fields);
    if (check.Refusal == TooLargeMessage) return check;  // no conversion makes it smaller
    if (!check.Refusal.empty()) {
        // Only a file told as a WAVE format has a channel count to go by.
        std::string format = DescribeWaveFormat(header, read.Bytes);
        check.Remedy = (format.empty() ? "" : "it is " + format + "; ") + "convert with: " +
                       PrepareToolCommand(inputPath, format.empty() ? 2 : fields.Channels) +
                       ", or with SoX: " +
                       ConversionCommand(inputPath, FolderEntryNames(SplitPath(inputPath).Folder));
        return check;
    }

    WaveInfo& info = check.Info;
    info.Channels = fields.Channels;
    info.SampleRate = fields.SampleRate;
    info.ByteRate = fields.ByteRate;
    info.BlockAlign = fields.BlockAlign;
    info.BitsPerSample = fields.BitsPerSample;
    info.DataSize = fields.DataSize;
    info.FrameCount = ComputeFrameCount(fields.DataSize, fields.BitsPerSample, fields.Channels);
    info.Duration = static_cast<double>(Extended(info.FrameCount) / Extended(info.SampleRate));
    check.Names = MakeOutputNames(inputPath);
    return check;
}
