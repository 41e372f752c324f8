#include "e2e/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

namespace {

void Put24(std::string& bytes, int32_t sample) {
    auto v = static_cast<uint32_t>(sample);
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>((v >> 8) & 0xFF);
    bytes += static_cast<char>((v >> 16) & 0xFF);
}

void PutLE(std::string& bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A multiple of 1/1024 is exact both in binary and in ten decimal places.
std::string ExactText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10f", value);
    return text;
}

double RandomTap(std::mt19937& random, int range) {
    return static_cast<double>(std::uniform_int_distribution<int>(-range, range)(random)) / 1024.0;
}

}  // namespace

std::string CanonicalWaveHeader(uint64_t frames) {
    auto dataSize = static_cast<uint32_t>(6 * frames);
    std::string bytes = "RIFF";
    PutLE(bytes, dataSize + 36, 4);
    bytes += "WAVEfmt ";
    PutLE(bytes, 16, 4);
    PutLE(bytes, 1, 2);
    PutLE(bytes, 2, 2);
    PutLE(bytes, 96000, 4);
    PutLE(bytes, 576000, 4);
    PutLE(bytes, 6, 2);
    PutLE(bytes, 24, 2);
    bytes += "data";
    PutLE(bytes, dataSize, 4);
    return bytes;
}

std::string MakeWave(const std::vector<int32_t>& left, const std::vector<int32_t>& right) {
    std::string bytes = CanonicalWaveHeader(left.size());
    for (size_t n = 0; n < left.size(); ++n) {
        Put24(bytes, left[n]);
        Put24(bytes, right[n]);
    }
    return bytes;
}

std::string CoefficientText(const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& field : fields) text += field + "\r\n";
    return text;
}

JobFixture MakeJobFixture(int frames) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
    JobFixture f;
    for (int n = 0; n < frames; ++n) {
        f.left.push_back(sample(random) / 4);
        f.right.push_back(sample(random) / 4);
    }
    if (frames > 3) {
        f.left[1] = 8388607;
        f.right[2] = -8388608;
        f.left[3] = 0;
    }
    f.sets[0].assign(64, 0.0);
    f.sets[0][0] = 1.0;
    for (int k = 1; k < 64; k += 7) f.sets[0][k] = RandomTap(random, 40);
    // Every set passes DC as it is, as error filters do, and gains at most
    // 12 dB, so that the program has nothing to say about its scale; the
    // last one still lifts a full-scale sample by half, which clips.
    f.sets[1].resize(64);
    for (double& h : f.sets[1]) h = RandomTap(random, 40);
    f.sets[1][0] += 1.0;
    f.sets[2].assign(64, 0.0);
    f.sets[2][63] = 1.0;
    f.sets[3].resize(64);
    for (double& h : f.sets[3]) h = RandomTap(random, 20);
    f.sets[3][0] += 1.5;
    f.sets[3][1] -= 0.5;
    return f;
}

void WriteJobFiles(const fs::path& dir, const JobFixture& fixture) {
    WriteFileBytes(dir / "take1.wav", MakeWave(fixture.left, fixture.right));
    for (int stage = 0; stage < StageCount; ++stage) {
        std::vector<std::string> fields;
        for (double h : fixture.sets[stage]) fields.push_back(ExactText(h));
        WriteFileBytes(dir / ErrorStages[stage].CoefficientFile, CoefficientText(fields));
    }
}

std::string OutputName(int stage) { return "take1 RIAA error " + std::to_string(stage) + ".wav"; }

std::string ClippingNotes(const JobFixture& fixture, const std::string& lineEnd) {
    std::array<int64_t, 4> clipped{};
    ReferenceOutputs(fixture.left, fixture.right, fixture.sets, &clipped);
    std::string notes;
    for (int stage = 1; stage <= 4; ++stage) {
        int64_t count = clipped[stage - 1];
        if (count == 0) continue;
        notes += "phonoskew: " + OutputName(stage) + ": " + std::to_string(count) +
                 (count == 1 ? " sample" : " samples") + " clipped" + lineEnd;
    }
    return notes;
}

void ExpectOutputsMatchReference(const fs::path& dir, const JobFixture& fixture) {
    std::array<std::string, 4> expected =
        ReferenceOutputs(fixture.left, fixture.right, fixture.sets);
    for (int stage = 1; stage <= 4; ++stage) {
        std::string actual = ReadFileBytes(dir / OutputName(stage));
        ASSERT_EQ(actual.size(), expected[stage - 1].size()) << OutputName(stage);
        size_t firstDifference = 0;
        while (firstDifference < actual.size() &&
               actual[firstDifference] == expected[stage - 1][firstDifference]) {
            ++firstDifference;
        }
        EXPECT_EQ(firstDifference, actual.size())
            << OutputName(stage) << " differs at byte " << firstDifference;
    }
}

// ---- Screen checks ----------------------------------------------------------------

void ExpectColours(const VtScreen& s, int row, int first, int last, int foreground) {
    for (int c = first; c <= last; ++c) {
        const VtCell& cell = VtCellAt(s, row, c);
        ASSERT_EQ(cell.foreground, foreground) << "row " << row << " column " << c << "\n"
                                               << VtDump(s);
        ASSERT_EQ(cell.background, White) << "row " << row << " column " << c << "\n" << VtDump(s);
    }
}

bool ScreenHas(const VtScreen& s, const std::string& text) {
    for (int r = 1; r <= s.rows; ++r) {
        if (VtRowText(s, r).find(text) != std::string::npos) return true;
    }
    return false;
}

bool WaitForText(Child& run, const std::string& text, int timeoutMs) {
    return WaitForScreen(
        run, [&](const VtScreen& s) { return ScreenHas(s, text); }, timeoutMs);
}

void ExpectPromptScreen(const VtScreen& s) {
    EXPECT_EQ(VtRowText(s, 1), "");
    EXPECT_EQ(VtRowText(s, 2), "   Phonoskew");
    EXPECT_EQ(VtRowText(s, 3).substr(0, 3), "   ");
    EXPECT_GT(VtRowText(s, 3).size(), 3u);
    EXPECT_EQ(VtRowText(s, 4).substr(0, 3), "   ");
    EXPECT_GT(VtRowText(s, 4).size(), 3u);
    for (int r : {5, 6, 7}) EXPECT_EQ(VtRowText(s, r), "") << r;
    EXPECT_EQ(VtRowText(s, 8), "   Input file?");
    for (int r = 9; r <= 55; ++r) EXPECT_EQ(VtRowText(s, r), "") << r;
    ExpectColours(s, 2, 1, 80, Black);
    ExpectColours(s, 8, 1, 14, Grey);
    ExpectColours(s, 30, 1, 80, Black);  // cleared in black on white
    EXPECT_EQ(s.cursorRow, 8);
    EXPECT_EQ(s.cursorColumn, 17);
    EXPECT_TRUE(s.cursorVisible);
}

void ExpectFinishedJobScreen(const VtScreen& s, const JobFixture& fixture) {
    // The loud samples of the fixture clip in some stages; the writer's
    // "Done" then says how many.
    std::array<int64_t, 4> clipped{};
    ReferenceOutputs(fixture.left, fixture.right, fixture.sets, &clipped);
    auto writerDone = [&clipped](int stage) {
        int64_t count = clipped[stage - 1];
        if (count == 0) return std::string("   Done");
        return "   Done (" + std::to_string(count) + (count == 1 ? " sample" : " samples") +
               " clipped)";
    };
    const std::pair<int, std::string> rows[] = {
        {2, "   Phonoskew"},
        {8, "   Input file?  take1.wav"},
        {11, "                 FILE DATA"},
        {13, "                 Channels     2"},
        {14, "                 Sample rate  96000 Hz"},
        {15, "                 Resolution   24 bits"},
        {16, "                 Length       4800 samples"},
        {17, "                 Duration     .05 seconds"},
        {21, "   Reading file data..."},
        {22, "   Done"},
        {24, "   Extracting channels..."},
        {25, "   Done"},
        {27, "   Applying first-order filter..."},
        {28, "   Done"},
        {30, "   Writing file - take1 RIAA error 1.wav"},
        {31, writerDone(1)},
        {33, "   Applying second-order filter..."},
        {34, "   Done"},
        {36, "   Writing file - take1 RIAA error 2.wav"},
        {37, writerDone(2)},
        {39, "   Applying first-order phase shift..."},
        {40, "   Done"},
        {42, "   Writing file - take1 RIAA error 3.wav"},
        {43, writerDone(3)},
        {45, "   Applying second-order phase shift..."},
        {46, "   Done"},
        {48, "   Writing file - take1 RIAA error 4.wav"},
        {49, writerDone(4)},
        {54, "   press any key to quit"},
    };
    std::vector<bool> named(56, false);
    for (const auto& [row, text] : rows) {
        EXPECT_EQ(VtRowText(s, row), text) << "row " << row << "\n" << VtDump(s);
        named[row] = true;
    }
    EXPECT_EQ(VtRowText(s, 13, true).substr(0, 32), "                 Channels     2 ");
    EXPECT_TRUE(std::regex_match(VtRowText(s, 53),
                                 std::regex("   Job completed in (\\d*\\.)?\\d+ seconds")))
        << VtRowText(s, 53);
    named[53] = named[1] = named[3] = named[4] = true;
    for (int row = 1; row <= 55; ++row) {
        if (!named[row]) {
            EXPECT_EQ(VtRowText(s, row), "") << "row " << row << "\n" << VtDump(s);
        }
    }
    // Colours: progress and data lines grey, banner, path and "Done" black.
    for (int row : {8, 11, 13, 14, 15, 16, 17, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48, 54}) {
        int last = static_cast<int>(VtRowText(s, row).size());
        ExpectColours(s, row, 1, row == 8 ? 14 : last, Grey);
    }
    ExpectColours(s, 8, 17, 25, Black);
    for (int row : {2, 22, 25, 28, 31, 34, 37, 40, 43, 46, 49, 53}) {
        ExpectColours(s, row, 1, static_cast<int>(VtRowText(s, row).size()), Black);
    }
    for (int row : {1, 9, 20, 52, 55}) ExpectColours(s, row, 1, 80, VtCellAt(s, row, 1).foreground);
}
