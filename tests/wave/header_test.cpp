// Header reads and checks, frame count and output names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/scratch.h"
#include "system/quoting.h"
#include "wave/wave.h"

namespace {

const std::string NotWave = "This is not a Wave file ";
const std::string NotFormat = "This is not a WAVE_FORMAT file ";
const std::string NoData = "Subchunk2 does not contain the signal data ";
const std::string NotPcm = "This is not a PCM format Wave file ";
const std::string NotStereo = "This is not a stero Wave file ";
const std::string Not24 = "This is not a 24-bit Wave file ";
const std::string Not96 = "This is not a 96kHz Wave file ";

// A canonical header, written out byte by byte: stereo, 24 bits, 96000 Hz,
// byte rate 576000, block align 6, data size 576000.
std::vector<uint8_t> ValidHeader() {
    return {'R',  'I',  'F',  'F',  0x24, 0xCA, 0x08, 0x00, 'W',  'A',  'V',
            'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
            0x02, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xCA, 0x08, 0x00, 0x06,
            0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x00, 0xCA, 0x08, 0x00};
}

struct Patch {
    size_t Offset;
    std::vector<uint8_t> Bytes;
};

std::vector<uint8_t> PatchedHeader(const std::vector<Patch>& patches) {
    std::vector<uint8_t> bytes = ValidHeader();
    for (const Patch& patch : patches) {
        for (size_t i = 0; i < patch.Bytes.size(); ++i) bytes[patch.Offset + i] = patch.Bytes[i];
    }
    return bytes;
}

std::string FaultOf(const std::vector<Patch>& patches) {
    std::vector<uint8_t> bytes = PatchedHeader(patches);
    return FindHeaderFault(ReadHeaderFields(bytes.data(), bytes.size()));
}

TEST(HeaderChecks, EachFaultAndItsMessage) {
    struct Case {
        const char* Name;
        std::vector<Patch> Patches;
        std::string Expected;
    };
    const std::vector<Case> cases = {
        {"valid", {}, ""},
        {"RIFF id not examined", {{0, {'X', 'Y', 'Z', 'W'}}}, ""},
        {"fmt id not examined", {{12, {'a', 'b', 'c', 'd'}}}, ""},
        {"byte rate and block align not examined", {{28, {1, 2, 3, 4, 9, 0}}}, ""},
        {"channel field 02 01 reads as 2", {{23, {0x01}}}, ""},
        {"lower-case form type", {{8, {'w', 'a', 'v', 'e'}}}, NotWave},
        {"format chunk of 18", {{16, {18}}}, NotFormat},
        {"format chunk of 40", {{16, {40}}}, NotFormat},
        {"format chunk 16 + 2^8", {{17, {1}}}, NotFormat},
        {"LIST chunk before data", {{36, {'L', 'I', 'S', 'T'}}}, NoData},
        {"upper-case data id", {{36, {'D', 'A', 'T', 'A'}}}, NoData},
        {"float format tag", {{20, {3, 0}}}, NotPcm},
        {"extensible format tag", {{20, {0xFE, 0xFF}}}, NotPcm},
        {"mono", {{22, {1}}}, NotStereo},
        {"channel field 03 01 reads as 3", {{22, {0x03}}, {23, {0x01}}}, NotStereo},
        {"16 bits", {{34, {16}}}, Not24},
        {"44100 Hz", {{24, {0x44, 0xAC, 0x00, 0x00}}}, Not96},
        {"sample rate 96000 + 2^24", {{27, {1}}}, Not96},
        {"data size 2^31", {{40, {0, 0, 0, 0x80}}}, TooLargeMessage},
        {"data size 2^32 - 1", {{40, {0xFF, 0xFF, 0xFF, 0xFF}}}, TooLargeMessage},
        {"data size 2^31 - 1 accepted", {{40, {0xFF, 0xFF, 0xFF, 0x7F}}}, ""},
        // Several faults: only the first in check order is named.
        {"16-bit mono 44100 Hz", {{22, {1}}, {34, {16}}, {24, {0x44, 0xAC, 0, 0}}}, NotStereo},
        {"everything wrong", {{8, {'A'}}, {16, {18}}, {36, {'x'}}, {20, {3}}, {22, {1}}}, NotWave},
        {"format size and data id", {{16, {40}}, {36, {'f', 'a', 'c', 't'}}}, NotFormat},
        {"data id and tag", {{36, {0}}, {20, {2}}}, NoData},
        {"tag and bits", {{20, {2}}, {34, {8}}}, NotPcm},
        {"bits and rate", {{34, {32}}, {24, {0x80}}}, Not24},
        {"rate and negative size", {{24, {0x80}}, {43, {0x80}}}, Not96},
    };
    for (const Case& c : cases) EXPECT_EQ(FaultOf(c.Patches), c.Expected) << c.Name;
}

TEST(HeaderChecks, FieldValuesAsRead) {
    std::vector<uint8_t> bytes = ValidHeader();
    bytes[23] = 0x01;  // never read
    HeaderFields fields = ReadHeaderFields(bytes.data(), bytes.size());
    EXPECT_EQ(fields.FormType, "WAVE");
    EXPECT_EQ(fields.FormatChunkSize, 16);
    EXPECT_EQ(fields.FormatTag, 1);
    EXPECT_EQ(fields.Channels, 2);
    EXPECT_EQ(fields.SampleRate, 96000);
    EXPECT_EQ(fields.ByteRate, 576000);
    EXPECT_EQ(fields.BlockAlign, 6);
    EXPECT_EQ(fields.BitsPerSample, 24);
    EXPECT_EQ(fields.DataChunkId, "data");
    EXPECT_EQ(fields.DataSize, 576000);
}

// Every prefix of a valid header: missing bytes of a numeric field count as
// zero, a short text field never matches, and the bytes past the prefix
// (here poisoned with 0xEE) are never looked at.
TEST(HeaderChecks, EveryPrefixOfAValidHeader) {
    const std::vector<uint8_t> full = ValidHeader();
    for (size_t count = 0; count <= full.size(); ++count) {
        std::vector<uint8_t> buffer(64, 0xEE);
        std::copy(full.begin(), full.begin() + count, buffer.begin());
        HeaderFields fields = ReadHeaderFields(buffer.data(), count);
        std::string fault = FindHeaderFault(fields);

        std::string expected;
        if (count < 12)
            expected = NotWave;
        else if (count <= 16)
            expected = NotFormat;  // format chunk size reads 0
        else if (count < 40)
            expected = NoData;  // 17-19: low byte 0x10 gives 16
        EXPECT_EQ(fault, expected) << "prefix of " << count << " bytes";

        // Data size 576000 = 00 CA 08 00, cut after 40 to 44 bytes.
        const int32_t dataSizes[] = {0, 0, 0xCA00, 576000, 576000};
        if (count >= 40) {
            EXPECT_EQ(fields.DataSize, dataSizes[count - 40]) << count;
        }
        if (count >= 17 && count < 20) {
            EXPECT_EQ(fields.FormatChunkSize, 16) << count;
        }
        if (count < 23) {
            EXPECT_EQ(fields.Channels, 0) << count;
        }
    }
}

TEST(HeaderChecks, FieldReadsStopAtTheCount) {
    const uint8_t bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(ReadU32LE(bytes, 5, 0), 0x44332211u);
    EXPECT_EQ(ReadU32LE(bytes, 5, 2), 0x00554433u);
    EXPECT_EQ(ReadU32LE(bytes, 3, 0), 0x00332211u);
    EXPECT_EQ(ReadU32LE(bytes, 0, 0), 0u);
    EXPECT_EQ(ReadU32LE(bytes, 5, 9), 0u);
    EXPECT_EQ(ReadU16LE(bytes, 5, 3), 0x5544u);
    EXPECT_EQ(ReadU16LE(bytes, 4, 3), 0x0044u);
}

// What a refused file is, read from its header: every way it differs, not
// only the first check's.
TEST(RefusedFile, DescriptionNamesEveryDifference) {
    struct Case {
        const char* Name;
        std::vector<Patch> Patches;
        size_t Length;
        std::string Expected;
    };
    const std::string accepted = "24-bit, 96000 Hz, 2 channels";
    const std::vector<Case> cases = {
        {"16-bit 44100 Hz stereo",
         {{34, {16}}, {24, {0x44, 0xAC, 0, 0}}},
         44,
         "16-bit, 44100 Hz, 2 channels"},
        {"mono", {{22, {1}}}, 44, "24-bit, 96000 Hz, 1 channel"},
        {"float", {{20, {3}}, {34, {32}}}, 44, "32-bit floating point, 96000 Hz, 2 channels"},
        {"other coding", {{20, {2}}}, 44, accepted + ", format tag 2 (not PCM)"},
        {"extensible",
         {{16, {40}}, {20, {0xFE, 0xFF}}},
         44,
         accepted + ", with a format chunk of 40 bytes"},
        {"LIST before the samples",
         {{36, {'L', 'I', 'S', 'T'}}},
         44,
         accepted + ", with a 'LIST' chunk before the samples"},
        {"JUNK in place of the format chunk",
         {{12, {'J', 'U', 'N', 'K'}}},
         44,
         "a 'JUNK' chunk where the format chunk belongs"},
        {"no WAVE header", {{8, {'w'}}}, 44, ""},
        {"cut after the bits field",
         {{34, {16}}},
         36,
         "16-bit, 96000 Hz, 2 channels, with a header cut short after 36 bytes"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = PatchedHeader(c.Patches);
        EXPECT_EQ(DescribeWaveFormat(bytes.data(), c.Length), c.Expected) << c.Name;
    }
}

// The SoX command writes the copy phonoskew-prepare would write; the
// quoting itself is the system layer's.
TEST(RefusedFile, ConversionCommandsNameThePreparedCopy) {
    const std::string prepare = ToolCommand("phonoskew-prepare");
    EXPECT_EQ(PrepareToolCommand("music/take 1.flac"),
              prepare + " " + CommandArgument("music/take 1.flac"));
    EXPECT_EQ(ConversionCommand("it's.wav", {"it's.wav"}),
              "sox " + CommandArgument("it's.wav") + " -b 24 -r 96000 -c 2 -t wavpcm " +
                  CommandArgument("it's 24-96.wav") + " gain -n -3");
}

// One name for a prepared copy, whichever program names it; two recordings
// of one name never share a copy.
TEST(RefusedFile, PreparedCopyPathKeepsTwoSourcesApart) {
    struct Case {
        const char* Path;
        std::vector<std::string> Folder;
        const char* Copy;
    };
    const Case cases[] = {
        {"in.wav", {"in.wav"}, "in 24-96.wav"},
        {"music/take 1.flac", {}, "music/take 1 24-96.wav"},
        {"cd.flac", {"cd.wav", "cd.flac"}, "cd.flac 24-96.wav"},
        {"sub/Take.WAV", {"Take.WAV", "take.aiff"}, "sub/Take.WAV 24-96.wav"},
        {"cd.wav", {"cd.wav", "cd 24-96.wav"}, "cd 24-96.wav"},
        {"no.ext/take", {}, "no.ext/take 24-96.wav"},
        {".hidden", {}, ".hidden 24-96.wav"},
        {"take.", {}, "take 24-96.wav"},
    };
    for (const Case& c : cases) EXPECT_EQ(PreparedCopyPath(c.Path, c.Folder), c.Copy) << c.Path;
    // A 5.1 file needs folding down; stereo and mono do not.
    const std::string prepare = ToolCommand("phonoskew-prepare");
    EXPECT_EQ(PrepareToolCommand("5.1.wav", 6),
              prepare + " --downmix " + CommandArgument("5.1.wav"));
    EXPECT_EQ(PrepareToolCommand("mono.wav", 1), prepare + " " + CommandArgument("mono.wav"));
}

TEST(FrameCount, DataSizeOverSixRoundedTiesToEven) {
    struct Case {
        int32_t DataSize;
        int32_t Expected;
    };
    const Case cases[] = {
        {0, 0},
        {2, 0},
        {3, 0},  // 0.5 goes to the even 0
        {4, 1},
        {9, 2},   // 1.5 -> 2
        {15, 2},  // 2.5 -> 2
        {21, 4},  // 3.5 -> 4
        {27, 4},
        {33, 6},
        {6, 1},
        {576000, 96000},
        {2147483647, 357913941},  // 357913941.17
        {2147483645, 357913941},  // 357913940.83
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComputeFrameCount(c.DataSize, 24, 2), c.Expected) << c.DataSize;
    }
    // The general formula: 16-bit mono has 2 bytes a frame.
    EXPECT_EQ(ComputeFrameCount(3, 16, 1), 2);
    EXPECT_EQ(ComputeFrameCount(5, 16, 1), 2);
}

TEST(OutputNames, PathLessFourCharactersThenSuffix) {
    struct Case {
        std::string Path;
        std::string Base;
    };
    const Case cases[] = {
        {"music/take1.wav", "music/take1"},
        {"x.WAVE", "x."},
        {"ab", "ab"},
        {"abc", "abc"},
        {"", ""},
        {"a.wv", ""},  // exactly 4 characters: the names begin with the blank
        {"/tmp/dir.d/noext", "/tmp/dir.d/n"},
    };
    for (const Case& c : cases) {
        OutputNames names = MakeOutputNames(c.Path);
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(names[n], c.Base + " RIAA error " + char('1' + n) + ".wav") << c.Path;
        }
    }
    // Long paths are kept whole: four distinct names, never cut to 255.
    std::string longPath = "/tmp/" + std::string(300, 'x') + ".wav";
    OutputNames names = MakeOutputNames(longPath);
    EXPECT_EQ(names[3], "/tmp/" + std::string(300, 'x') + " RIAA error 4.wav");
}

TEST(CheckInputHeader, AcceptedFileGivesWaveInfoAndNames) {
    ScratchDir dir;
    const std::string path = dir.File("take1.wav");
    std::vector<uint8_t> bytes = ValidHeader();
    bytes[0] = 'J';  // the RIFF id is not examined
    WriteFileBytes(FileSystemPath(path), std::string(bytes.begin(), bytes.end()));

    HeaderCheck check = CheckInputHeader(path);
    ASSERT_EQ(check.Refusal, "");
    const WaveInfo& info = check.Info;
    const OutputNames& names = check.Names;
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.SampleRate, 96000);
    EXPECT_EQ(info.ByteRate, 576000);
    EXPECT_EQ(info.BlockAlign, 6);
    EXPECT_EQ(info.BitsPerSample, 24);
    EXPECT_EQ(info.DataSize, 576000);
    EXPECT_EQ(info.FrameCount, 96000);
    EXPECT_EQ(info.Duration, 1.0);
    EXPECT_EQ(names[0], dir.File("take1 RIAA error 1.wav"));
}

}  // namespace
