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
#include "support/scratch.h"

namespace {

std::vector<int32_t> Values(const PageArray<int32_t>& array) {
    return std::vector<int32_t>(array.begin(), array.end());
}

TEST(LoadInput, CreatesEveryArrayAndSplits) {
    ScratchDir dir;
    // Two frames stated, one and a half present: the missing bytes read as 0.
    std::string path = WriteSampleFile(dir, {"\x01\x00\x00\xFF\xFF\xFF\x00\x00\x80", 9});
    SampleArrays samples;
    ASSERT_TRUE(LoadInput(path, 2, 1, samples));
    EXPECT_EQ(Values(samples.Left), (std::vector<int32_t>{1, -8388608}));
    EXPECT_EQ(Values(samples.Right), (std::vector<int32_t>{-1, 0}));
    ASSERT_EQ(samples.Packed.size(), 6u * 65);  // room for the output form
    EXPECT_TRUE(std::all_of(samples.Packed.begin() + 12, samples.Packed.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(LoadInput, ZeroFramesStillHaveTheTail) {
    ScratchDir dir;
    std::string path = WriteSampleFile(dir, "\t\t\t\t\t\t");
    SampleArrays samples;
    ASSERT_TRUE(LoadInput(path, 0, 1, samples));
    EXPECT_TRUE(samples.Left.empty());
    EXPECT_TRUE(samples.Right.empty());
    EXPECT_EQ(samples.Packed.size(), 126u * 3);  // 126 samples, all 0
    EXPECT_TRUE(std::all_of(samples.Packed.begin(), samples.Packed.end(),
                            [](uint8_t b) { return b == 0; }));
}

// One whole stage from a coefficient file in the working directory: the
// filter's exact results come out as the packed samples after dither.
TEST(RunFilterStage, LoadsItsFileFiltersAndPacks) {
    ScratchDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path.string().c_str()), 0);
    std::ofstream("SO.dat", std::ios::binary) << "0\r\n2000\r\n";

    SampleArrays samples;
    ASSERT_TRUE(CreateSampleArrays(2, samples));
    samples.Left[0] = 3;
    samples.Left[1] = 4;
    samples.Right[0] = -1;
    RandomSource random;
    EXPECT_EQ(RunFilterStage(ErrorStages[1], samples, random, EngineChoice{}), 0);
    const int32_t expectedLeft[] = {0, 6000, 8000, 0};  // then the tail's dither
    for (int n = 0; n < 4; ++n) {
        EXPECT_NEAR(DecodeSample24(samples.Packed.data() + 6 * n), expectedLeft[n], 1) << n;
    }
    EXPECT_NEAR(DecodeSample24(samples.Packed.data() + 6 + 3), -2000, 1);
    EXPECT_EQ(random.State, RandomSource{}.Skip(4 * 65).State);
    ASSERT_EQ(chdir(previous), 0);
}

TEST(WriteStageOutput, WritesHeaderAndPackedSamples) {
    ScratchDir dir;
    SampleArrays samples;
    ASSERT_TRUE(CreateSampleArrays(1, samples));
    for (size_t i = 0; i < samples.Packed.size(); ++i) samples.Packed[i] = uint8_t(i);
    const uint32_t size = 6 * 64;
    WaveInfo info = ConsistentWaveInfo();
    info.FrameCount = 1;

    std::string name = dir.File("o1.wav");
    ASSERT_TRUE(WriteStageOutput(name, samples, info, 0, 1));
    std::string file = ReadFileBytes(name);
    std::vector<uint8_t> bytes(file.begin(), file.end());
    ASSERT_EQ(bytes.size(), 44u + size);
    EXPECT_EQ(ReadU32LE(bytes.data(), 44, 40), size);
    EXPECT_TRUE(std::equal(samples.Packed.begin(), samples.Packed.end(), bytes.begin() + 44));
}

TEST(DoneNotes, SayHowManySamplesClippedAndFramesMissing) {
    EXPECT_EQ(ClippedNote(0), "");
    EXPECT_EQ(ClippedNote(1), " (1 sample clipped)");
    EXPECT_EQ(ClippedNote(14), " (14 samples clipped)");
    EXPECT_EQ(MissingFramesNote(0), "");
    EXPECT_EQ(MissingFramesNote(1), " (1 frame missing, read as silence)");
    EXPECT_EQ(MissingFramesNote(2000), " (2000 frames missing, read as silence)");
}

// The check counts every byte the arrays take beside the working bytes, yet
// refuses no job within 15 bytes a frame of them; said in MB below a
// gigabyte.
TEST(JobMemory, CoversTheArraysWithinFifteenBytesAFrame) {
    for (int32_t frames : {0, 1, 1000, 1 << 20}) {
        SampleArrays arrays;
        ASSERT_TRUE(CreateSampleArrays(frames, arrays));
        uint64_t taken = arrays.Packed.size() + 4 * (arrays.Left.size() + arrays.Right.size());
        EXPECT_GE(JobMemory(frames), taken + JobWorkingBytes) << frames;
        EXPECT_LE(JobMemory(frames), 15 * uint64_t(frames + 63) + JobWorkingBytes) << frames;
    }
    EXPECT_EQ(FormatMemory(999), "1 MB");
    EXPECT_EQ(FormatMemory(730000000), "730 MB");
    EXPECT_EQ(FormatMemory(999600000), "1.0 GB");
    EXPECT_EQ(FormatMemory(10700000000), "10.7 GB");
}

}  // namespace
