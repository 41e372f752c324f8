// 24-bit decoding, taking frames apart into channels, and loading the
// sample bytes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

TEST(ReadSampleBytes, ShortFileLeavesTheRestAndIsNoError) {
    ScratchDir dir;
    std::string path = WriteSampleFile(dir, "\1\2\3\4");
    std::vector<uint8_t> buffer(12, 0);
    EXPECT_EQ(ReadSampleBytes(path, buffer.data(), buffer.size()), "");
    EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Whole frames the file lacks, however the last one is cut.
TEST(ReadInputSamples, CountsTheWholeFramesMissing) {
    const struct {
        size_t Bytes;
        int64_t Missing;
    } cases[] = {{0, 3}, {5, 3}, {6, 2}, {11, 2}, {17, 1}, {18, 0}, {30, 0}};
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string path = WriteSampleFile(dir, std::string(c.Bytes, '\x11'));
        InputSamples input;
        ASSERT_TRUE(CreateInputSamples(3, input));
        SampleRead read = ReadInputSamples(path, input);
        EXPECT_EQ(read.Failure, "");
        EXPECT_EQ(read.MissingFrames, c.Missing) << c.Bytes << " bytes";
    }
}

TEST(ReadSampleBytes, ReadsOnlyWhatIsAsked) {
    ScratchDir dir;
    std::string path = WriteSampleFile(dir, "\1\2\3\4\5\6\7\b");
    std::vector<uint8_t> buffer(6, 0);
    EXPECT_EQ(ReadSampleBytes(path, buffer.data(), buffer.size()), "");
    EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

// The pages of `array` that are not in memory.
template <typename T>
size_t PagesMissing(const PageArray<T>& array) {
    size_t pageSize = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> present((array.size() * sizeof(T) + pageSize - 1) / pageSize);
    if (mincore(array.data(), array.size() * sizeof(T), present.data()) != 0) return SIZE_MAX;
    return size_t(std::count_if(present.begin(), present.end(), [](auto p) { return !(p & 1); }));
}

// Two jobs in one memory limit: the first must hold its memory as soon as
// its check has passed, or the second passes the same check and one of
// them is killed half-way.
TEST(CreateInputSamples, TakesItsMemoryAtOnce) {
    InputSamples input;
    ASSERT_TRUE(CreateInputSamples(1 << 20, input));
    EXPECT_EQ(PagesMissing(input.Packed), 0u);
    EXPECT_TRUE(
        std::all_of(input.Packed.begin(), input.Packed.end(), [](uint8_t b) { return !b; }));
}

TEST(ReadSampleBytes, RealErrorsGiveAReason) {
    std::vector<uint8_t> buffer(6, 0);
    EXPECT_NE(ReadSampleBytes("/tmp/phonoskew_no_such_dir/in.wav", buffer.data(), 6), "");
    char dir[] = "/tmp/phonoskew_dir_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    EXPECT_NE(ReadSampleBytes(dir, buffer.data(), 6), "");  // a directory cannot be read
    rmdir(dir);
}

}  // namespace
