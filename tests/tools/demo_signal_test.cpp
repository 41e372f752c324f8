// The demo recording: an accepted file, its length, its level and that it
// is the same on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "design/design.h"
#include "support/scratch.h"
#include "wave/wave.h"

// The written file is one the program accepts, its samples packed
// little-endian, 24 bits each, rails included.
TEST(DemoSignal, WritesAnAcceptedFileWithPackedSamples) {
    struct Case {
        int32_t Value;
        uint8_t Bytes[3];
    };
    const Case cases[] = {{0, {0, 0, 0}},
                          {-1, {0xFF, 0xFF, 0xFF}},
                          {8388607, {0xFF, 0xFF, 0x7F}},
                          {-8388608, {0x00, 0x00, 0x80}},
                          {0x123456, {0x56, 0x34, 0x12}}};
    std::vector<int32_t> samples;
    for (const Case& c : cases) samples.push_back(c.Value);
    samples.push_back(7);  // makes the frame count whole: 3 frames
    ScratchDir dir;
    const std::string path = dir.File("demo.wav");
    ASSERT_EQ(WriteDemoFile(path, samples), "");
    const HeaderCheck header = CheckInputHeader(path);
    EXPECT_EQ(header.Refusal, "");
    EXPECT_EQ(header.Info.FrameCount, 3);
    const std::string file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 3u * 6u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (int b = 0; b < 3; ++b)
            EXPECT_EQ(uint8_t(file[44 + 3 * i + b]), cases[i].Bytes[b]) << i;
    }
}

TEST(DemoSignal, TenSecondsStereoBelowMinusSixDbfsAndDeterministic) {
    const std::vector<int32_t> first = MakeDemoSignal(10.0);
    ASSERT_EQ(first.size(), 2u * 960000u);
    int32_t peak = 0;
    for (int32_t s : first) peak = std::max(peak, std::abs(s));
    EXPECT_LE(peak, 4194304);  // -6 dBFS of 8388608
    EXPECT_GT(peak, 2097152);  // and not far below it: a real signal
    bool channelsDiffer = false;
    for (size_t n = 0; n + 1 < first.size(); n += 2) channelsDiffer |= first[n] != first[n + 1];
    EXPECT_TRUE(channelsDiffer);
    EXPECT_EQ(first, MakeDemoSignal(10.0));

    const std::vector<uint8_t> packed = PackDemoSamples(first);
    EXPECT_EQ(packed.size(), 960000u * 6u);
    EXPECT_EQ(DecodeSample24(&packed[6 * 12345]), first[2 * 12345]);
    EXPECT_EQ(DecodeSample24(&packed[3 + 6 * 12345]), first[2 * 12345 + 1]);
}

TEST(DemoSignal, EndsInSilenceWithoutAClick) {
    const std::vector<int32_t> samples = MakeDemoSignal(2.0);
    ASSERT_EQ(samples.size(), 2u * 192000u);
    // The last frame is faded to (almost) nothing.
    EXPECT_LE(std::abs(samples[samples.size() - 2]), 200);
    EXPECT_LE(std::abs(samples[samples.size() - 1]), 200);
}
