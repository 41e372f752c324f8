// The job's steps as the driver runs them, on the screen model alone (no
// terminal is started): loading, one whole stage, one output file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "driver/driver.h"

namespace {

struct ScratchDir {
    std::string Path;
    ScratchDir() {
        char name[] = "/tmp/phonoskew_job_XXXXXX";
        Path = mkdtemp(name);
    }
    ~ScratchDir() { std::system(("rm -rf '" + Path + "'").c_str()); }
};

// An input file: a 44-byte header (contents do not matter here) followed by
// `data`.
std::string MakeInput(const ScratchDir& dir, const std::vector<uint8_t>& data) {
    std::string path = dir.Path + "/in.wav";
    std::vector<uint8_t> bytes(HeaderSize + data.size(), 0xAA);
    std::copy(data.begin(), data.end(), bytes.begin() + HeaderSize);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(LoadInput, CreatesEveryArrayAndSplits) {
    ScratchDir dir;
    // Two frames stated, one and a half present: the missing bytes read as 0.
    std::string path = MakeInput(dir, {0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80});
    SampleArrays samples;
    FilteredChannels filtered;
    ASSERT_TRUE(LoadInput(path, 2, samples, filtered));
    EXPECT_EQ(samples.Left, (std::vector<int32_t>{1, -8388608}));
    EXPECT_EQ(samples.Right, (std::vector<int32_t>{-1, 0}));
    EXPECT_EQ(filtered.Left, std::vector<double>(65, 0.0));
    EXPECT_EQ(filtered.Right, std::vector<double>(65, 0.0));
    EXPECT_EQ(samples.Packed, std::vector<uint8_t>(6 * 65, 0));  // output form
}

TEST(LoadInput, ZeroFramesStillHaveTheTail) {
    ScratchDir dir;
    std::string path = MakeInput(dir, {9, 9, 9, 9, 9, 9});
    SampleArrays samples;
    FilteredChannels filtered;
    ASSERT_TRUE(LoadInput(path, 0, samples, filtered));
    EXPECT_TRUE(samples.Left.empty());
    EXPECT_TRUE(samples.Right.empty());
    EXPECT_EQ(filtered.Left.size(), 63u);
    EXPECT_EQ(samples.Packed, std::vector<uint8_t>(126 * 3, 0));  // 126 samples
}

// One whole stage from a coefficient file in the working directory.
TEST(RunFilterStage, LoadsItsFileAndFilters) {
    ScratchDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path.c_str()), 0);
    std::ofstream("SO.dat", std::ios::binary) << "0\r\n2\r\n";

    SampleArrays samples;
    samples.Left = {3, 4};
    samples.Right = {-1, 0};
    FilteredChannels filtered{std::vector<double>(65, 0.0), std::vector<double>(65, 0.0)};
    CoefficientSet coefficients{};
    RunFilterStage(ErrorStages[1], samples, coefficients, filtered);
    EXPECT_EQ(coefficients[1], 2.0);
    EXPECT_EQ(filtered.Left[0], 0.0);
    EXPECT_EQ(filtered.Left[1], 6.0);
    EXPECT_EQ(filtered.Left[2], 8.0);
    EXPECT_EQ(filtered.Right[1], -2.0);
    ASSERT_EQ(chdir(previous), 0);
}

WaveInfo CanonicalInfo() {
    WaveInfo info;
    info.Channels = 2;
    info.SampleRate = 96000;
    info.ByteRate = 576000;
    info.BlockAlign = 6;
    info.BitsPerSample = 24;
    return info;
}

TEST(WriteStageOutput, WritesTheFileAndResetsTheAccumulators) {
    ScratchDir dir;
    FilteredChannels filtered{std::vector<double>(64, 0.0), std::vector<double>(64, 0.0)};
    filtered.Left[0] = 1000.0;
    SampleArrays samples;
    samples.Packed.assign(6 * 64, 0xEE);
    RandomSource random;
    const uint32_t size = 6 * 64;

    std::string name1 = dir.Path + "/o1.wav";
    ASSERT_TRUE(WriteStageOutput(1, name1, filtered, samples, CanonicalInfo(), size, random));
    std::vector<uint8_t> bytes = ReadFileBytes(name1);
    ASSERT_EQ(bytes.size(), 44u + size);
    EXPECT_EQ(ReadU32LE(bytes.data(), 44, 40), size);
    int32_t first = DecodeSample24(bytes.data() + 44);
    EXPECT_GE(first, 999);
    EXPECT_LE(first, 1001);
    for (size_t i = 1; i < 128; ++i) {
        int32_t sample = DecodeSample24(bytes.data() + 44 + 3 * i);
        EXPECT_TRUE(sample >= -1 && sample <= 1) << i;
    }
    EXPECT_EQ(filtered.Left, std::vector<double>(64, 0.0));
    EXPECT_EQ(random.State, RandomSource{}.Skip(4 * 64).State);

    filtered.Left[5] = 7.0;
    ASSERT_TRUE(WriteStageOutput(4, dir.Path + "/o4.wav", filtered, samples, CanonicalInfo(), size,
                                 random));
    EXPECT_EQ(filtered.Left[5], 7.0);  // the last stage leaves them
}

TEST(ClippedNote, SaysHowManySamplesWereClipped) {
    EXPECT_EQ(ClippedNote(0), "");
    EXPECT_EQ(ClippedNote(1), " (1 sample clipped)");
    EXPECT_EQ(ClippedNote(14), " (14 samples clipped)");
}

}  // namespace
