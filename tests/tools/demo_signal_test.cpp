// The demo recording: its WAVE header byte for byte, its length, its level
// and that it is the same on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "design/design.h"

namespace {

int32_t Unpack24(const uint8_t* p) {
    const uint32_t bits = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
    return static_cast<int32_t>(bits << 8) >> 8;
}

}  // namespace

TEST(DemoSignal, HeaderIsTheCanonicalFortyFourBytes) {
    // One second: data 576000 = 0x0008CA00 bytes, RIFF size 576036 = 0x0008CA24.
    const std::vector<uint8_t> expected = {
        'R',  'I',  'F',  'F',  0x24, 0xCA, 0x08, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xCA,
        0x08, 0x00, 0x06, 0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x00, 0xCA, 0x08, 0x00};
    EXPECT_EQ(MakeWaveHeader(96000), expected);
}

TEST(DemoSignal, FileLengthAndSamplesAsPacked) {
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
    const std::vector<uint8_t> file = MakeWaveFile(samples);
    ASSERT_EQ(file.size(), 44u + 3u * 6u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(file[44 + 3 * i], cases[i].Bytes[0]) << i;
        EXPECT_EQ(file[45 + 3 * i], cases[i].Bytes[1]) << i;
        EXPECT_EQ(file[46 + 3 * i], cases[i].Bytes[2]) << i;
    }
    // Data size field: 18 bytes.
    EXPECT_EQ(file[40], 18);
    EXPECT_EQ(file[41] | file[42] | file[43], 0);
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

    const std::vector<uint8_t> file = MakeWaveFile(first);
    EXPECT_EQ(file.size(), 44u + 960000u * 6u);
    EXPECT_EQ(Unpack24(&file[44 + 6 * 12345]), first[2 * 12345]);
    EXPECT_EQ(Unpack24(&file[47 + 6 * 12345]), first[2 * 12345 + 1]);
}

TEST(DemoSignal, EndsInSilenceWithoutAClick) {
    const std::vector<int32_t> samples = MakeDemoSignal(2.0);
    ASSERT_EQ(samples.size(), 2u * 192000u);
    // The last frame is faded to (almost) nothing.
    EXPECT_LE(std::abs(samples[samples.size() - 2]), 200);
    EXPECT_LE(std::abs(samples[samples.size() - 1]), 200);
}
