// The job's steps as the driver runs them, on the screen model alone (no
// terminal is started): loading, one whole stage, one output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/key_wait.h"
#include "console/screen.h"
#include "driver/driver.h"
#include "support/scratch.h"

namespace {

EngineChoice oneThread{Kernel::Fast, 1};

// A scratch folder as the working directory, where the stages read their
// coefficient files, for one test.
struct WorkingFolder {
    ScratchDir dir;
    std::filesystem::path previous = std::filesystem::current_path();
    WorkingFolder() { std::filesystem::current_path(dir.path); }
    ~WorkingFolder() { std::filesystem::current_path(previous); }
};

TEST(LoadInput, OpensTheInputAndMakesTheWorkingArrays) {
    ScratchDir dir;
    std::string path = WriteSampleFile(dir, {"\x01\x00\x00\xFF\xFF\xFF\x00\x00\x80", 9});
    JobInput input;
    EngineChoice engine{Kernel::Fast, 3};
    ASSERT_TRUE(LoadInput(OpenTypedPath(path), 2, engine, input));
    EXPECT_EQ(input.File.FrameCount, 2);
    EXPECT_EQ(input.Work.Threads, 3);
    EXPECT_EQ(engine.Threads, 3);
}

// One whole stage from a coefficient file in the working directory: the
// filter's exact results, after dither, go to a file that has its name only
// once the writing step has given it.
TEST(RunFilterStage, FiltersIntoTheOutputThatTheWritingStepNames) {
    WorkingFolder here;
    const ScratchDir& dir = here.dir;
    std::ofstream("SO.dat", std::ios::binary) << "0\r\n2000\r\n";
    std::string path =
        WriteSampleFile(dir, {"\x03\x00\x00\xFF\xFF\xFF\x04\x00\x00\x00\x00\x00", 12});
    JobInput input;
    ASSERT_TRUE(LoadInput(OpenTypedPath(path), 2, oneThread, input));
    WaveInfo info = ConsistentWaveInfo();
    info.FrameCount = 2;

    RandomSource random;
    StageOutput output =
        RunFilterStage(ErrorStages[1], input, "o2.wav", info, random, EngineChoice{});
    EXPECT_EQ(random.State, RandomSource{}.Skip(4 * 65).State);
    EXPECT_FALSE(std::filesystem::exists("o2.wav"));
    ASSERT_TRUE(WriteStageOutput("o2.wav", input, info, EngineChoice{}, output, 1));
    std::string file = ReadFileBytes(dir.path / "o2.wav");
    ASSERT_EQ(file.size(), 44u + 6 * 65);
    auto bytes = reinterpret_cast<const uint8_t*>(file.data());
    EXPECT_EQ(ReadU32LE(bytes, 44, 40), 6u * 65);
    const int32_t expectedLeft[] = {0, 6000, 8000, 0};  // then the tail's dither
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(DecodeSample24(bytes + 44 + 6 * n), expectedLeft[n], 1);
    EXPECT_NEAR(DecodeSample24(bytes + 44 + 6 + 3), -2000, 1);
    // The stage's "Done" row says why its taps are not all the file's.
    int doneRows = 0;
    for (int row = 1; row <= 55; ++row) doneRows += RowText(row).starts_with("   Done (SO.dat: ");
    EXPECT_EQ(doneRows, 1);
}

// A failed making, write or naming of the output, as a full disk gives it,
// brings the write box: Esc skips the file and leaves an earlier one of its
// name as it was; Enter computes the stage again from its first draw and
// writes the bytes a first try writes.
TEST(WriteStageOutput, AFailureGivesTheBoxThatRetriesOrSkips) {
    WorkingFolder here;
    const ScratchDir& dir = here.dir;
    std::ofstream("SO.dat", std::ios::binary) << "0.5\r\n-0.25\r\n";
    JobInput input;
    ASSERT_TRUE(LoadInput(OpenTypedPath(WriteSampleFile(dir, std::string(600, '\x35'))), 100,
                          oneThread, input));
    WaveInfo info = ConsistentWaveInfo();
    info.FrameCount = 100;
    auto runStage = [&](const std::string& keys) {
        RandomSource random;
        StageOutput output =
            RunFilterStage(ErrorStages[1], input, "o2.wav", info, random, oneThread);
        ClearKeyBytes();
        FeedKeyBytes(keys);
        return WriteStageOutput("o2.wav", input, info, oneThread, output, 1);
    };
    ASSERT_TRUE(runStage(""));
    const std::string firstTry = ReadFileBytes(dir.path / "o2.wav");
    for (OutputStep step : {OutputStep::Create, OutputStep::Write, OutputStep::Name}) {
        for (bool retry : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "step " << int(step) << (retry ? ", Enter" : ", Esc"));
            WriteFileBytes(dir.path / "o2.wav", "an earlier run's");
            FailNextOutputStep(step, EFBIG);
            EXPECT_EQ(runStage(retry ? "\r" : "\x1b"), retry);
            EXPECT_EQ(TakeOutputFailure(step), 0);  // the failure was met
            EXPECT_EQ(ReadFileBytes(dir.path / "o2.wav"), retry ? firstTry : "an earlier run's");
        }
    }
    ClearKeyBytes();
}

TEST(DoneNotes, SayHowManySamplesClippedAndFramesMissing) {
    EXPECT_EQ(ClippedNote(0), "");
    EXPECT_EQ(ClippedNote(1), " (1 sample clipped)");
    EXPECT_EQ(ClippedNote(14), " (14 samples clipped)");
    EXPECT_EQ(MissingFramesNote(0), "");
    EXPECT_EQ(MissingFramesNote(1), " (1 frame missing, read as silence)");
    EXPECT_EQ(MissingFramesNote(2000), " (2000 frames missing, read as silence)");
}

// A coefficient file's notes keep its "Done" within one row.
TEST(DoneNotes, CoefficientNotesFitTheRow) {
    const std::string mark = "UTF-8 byte-order mark: field 1 reads as 0";
    const std::string joined = "line feeds without CR joined its lines into one field";
    EXPECT_EQ(CoefficientDoneNote("FO.dat", {}), "");
    EXPECT_EQ(CoefficientDoneNote("SOP.dat", {joined}), " (SOP.dat: " + joined + ")");
    EXPECT_EQ(CoefficientDoneNote("FO.dat", {mark, "holds only 9 numbers: the other taps are 0"}),
              " (FO.dat: " + mark + "; 1 more note)");
    EXPECT_EQ(CoefficientDoneNote("FOP.dat", {joined, mark, mark}), " (FOP.dat: 3 notes)");
}

TEST(DoneNotes, SayWhenTheInputChangedOrCouldNotBeRead) {
    EXPECT_EQ(InputChangeNote(false, 0), "");
    EXPECT_EQ(InputChangeNote(true, 0), " (input file changed while read)");
    EXPECT_EQ(InputChangeNote(false, EIO),
              " (input file unreadable: " + ErrorText(EIO) + "; read as silence)");
}

}  // namespace
