// 24-bit decoding, taking frames apart into channels, and loading the
// sample bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"
#include "wave/wave.h"

namespace {

TEST(Decode24, SignExtensionAndWrapAround) {
    struct Case {
        uint8_t Bytes[3];
        int32_t Expected;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x80}, -8388608}, {{0xFF, 0xFF, 0x7F}, 8388607},
        {{0xFF, 0xFF, 0xFF}, -1},       {{0x01, 0x00, 0x00}, 1},
        {{0x00, 0x00, 0x00}, 0},        {{0x01, 0x00, 0x80}, -8388607},
        {{0x34, 0x12, 0x00}, 0x1234},   {{0x00, 0x00, 0x01}, 65536},
        {{0xFE, 0xFF, 0xFF}, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeSample24(c.Bytes), c.Expected)
            << int(c.Bytes[0]) << " " << int(c.Bytes[1]) << " " << int(c.Bytes[2]);
    }
}

// Left first in every frame, from any frame on.
TEST(DecodeFrames, LeftFirstInEveryFrame) {
    const uint8_t packed[] = {0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF,   // 1, -1
                              0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F,   // min, max
                              0x10, 0x00, 0x00, 0x20, 0x00, 0x00};  // 16, 32
    std::vector<int32_t> left(3, 7), right(3, 7);
    DecodeFrames(packed, 0, left, right);
    EXPECT_EQ(left, (std::vector<int32_t>{1, -8388608, 16}));
    EXPECT_EQ(right, (std::vector<int32_t>{-1, 8388607, 32}));
    std::vector<int32_t> lastLeft(2), lastRight(2);
    DecodeFrames(packed, 1, lastLeft, lastRight);
    EXPECT_EQ(lastLeft, (std::vector<int32_t>{-8388608, 16}));
    EXPECT_EQ(lastRight, (std::vector<int32_t>{8388607, 32}));
}

// Whole frames the file lacks, however the last one is cut; the file stays
// open for the job.
TEST(TakeInputSamples, CountsTheWholeFramesMissing) {
    const struct {
        size_t Bytes;
        int64_t Missing;
    } cases[] = {{0, 3}, {5, 3}, {6, 2}, {11, 2}, {17, 1}, {18, 0}, {30, 0}};
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string path = WriteSampleFile(dir, std::string(c.Bytes, '\x11'));
        InputFile input;
        EXPECT_EQ(TakeInputSamples(OpenForReading(path).File, 3, input), c.Missing)
            << c.Bytes << " bytes";
        EXPECT_NE(input.File, NoFile);
        EXPECT_EQ(input.Stamp.Length, int64_t(44 + c.Bytes));
        CloseInput(input);
        EXPECT_EQ(input.File, NoFile);
    }
}

}  // namespace
