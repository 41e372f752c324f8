// The output header and the file write. How the file layer replaces a file
// (temporary file, rename, signals held) is tested with the file layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/scratch.h"
#include "wave/wave.h"

namespace {

// ---- Header ------------------------------------------------------------------------

TEST(OutputHeader, ExactBytes) {
    const std::vector<uint8_t> oneSecond = {
        0x52, 0x49, 0x46, 0x46, 0x9E, 0xCB, 0x08, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xCA,
        0x08, 0x00, 0x06, 0x00, 0x18, 0x00, 0x64, 0x61, 0x74, 0x61, 0x7A, 0xCB, 0x08, 0x00};
    auto header = MakeOutputHeader(ConsistentWaveInfo(), 6 * 96063);
    EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), oneSecond);

    // 0 frames: 63 frames of tail, data 378 (0x17A), RIFF 414 (0x19E).
    std::vector<uint8_t> empty = oneSecond;
    const uint8_t riff[] = {0x9E, 0x01, 0x00, 0x00};
    const uint8_t data[] = {0x7A, 0x01, 0x00, 0x00};
    std::copy(riff, riff + 4, empty.begin() + 4);
    std::copy(data, data + 4, empty.begin() + 40);
    header = MakeOutputHeader(ConsistentWaveInfo(), 378);
    EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), empty);
}

TEST(OutputHeader, ByteRateAndBlockAlignCopiedAsStored) {
    WaveInfo info = ConsistentWaveInfo();
    info.ByteRate = -2;
    info.BlockAlign = -3;
    auto header = MakeOutputHeader(info, 0xFFFFFFF0u);
    EXPECT_EQ(ReadU32LE(header.data(), 44, 28), 0xFFFFFFFEu);
    EXPECT_EQ(ReadU16LE(header.data(), 44, 32), 0xFFFDu);
    EXPECT_EQ(ReadU32LE(header.data(), 44, 4), 0x14u);  // the 32-bit field wraps
    EXPECT_EQ(ReadU32LE(header.data(), 44, 40), 0xFFFFFFF0u);
}

// ---- The file write -------------------------------------------------------------------

// Header then samples, and the system's words when the file cannot be written.
TEST(WriteWaveFile, HeaderThenSamplesOrTheSystemsReason) {
    ScratchDir dir;
    const uint8_t header[4] = {'H', 'E', 'A', 'D'}, samples[5] = {1, 2, 3, 4, 5};
    std::string name = dir.File("take RIAA error 1.wav");
    EXPECT_EQ(WriteWaveFile(name, header, samples), "");
    EXPECT_EQ(ReadFileBytes(name), std::string("HEAD\1\2\3\4\5", 9));
    EXPECT_EQ(WriteWaveFile(dir.File("none/out.wav"), header, samples),
              "No such file or directory");
}

}  // namespace
