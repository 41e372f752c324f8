// The whole job through pipes: the program reads the path from standard
// input and writes four files that must match the reference model exactly.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "e2e/fixtures.h"

namespace {

TEST(JobTest, FourOutputFilesMatchTheReferenceByteForByte) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(500);
    WriteJobFiles(dir.path, fixture);

    Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r");
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);

    for (const char* line :
         {"   Input file?", "                 FILE DATA", "                 Channels     2",
          "                 Sample rate  96000 Hz", "                 Resolution   24 bits",
          "                 Length       500 samples", "                 Duration     .01 seconds",
          "   Reading file data...", "   Extracting channels...",
          "   Applying first-order filter...", "   Applying second-order filter...",
          "   Applying first-order phase shift...", "   Applying second-order phase shift...",
          "   Writing file - take1 RIAA error 4.wav", "   press any key to quit"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << "missing line: " << line << "\n"
                                                         << run.out;
    }
    EXPECT_NE(run.out.find("   Job completed in "), std::string::npos) << run.out;

    // Loud samples through large gains clip at the rails, and the writer's
    // "Done" says how many; the fixture makes stage 4 clip and stage 3 not.
    std::array<int64_t, 4> clipped{};
    ReferenceOutputs(fixture.left, fixture.right, fixture.sets, &clipped);
    ASSERT_EQ(clipped[2], 0);
    ASSERT_GT(clipped[3], 1);
    for (int stage = 1; stage <= 4; ++stage) {
        int64_t count = clipped[stage - 1];
        std::string note = count == 0 ? ""
                                      : " (" + std::to_string(count) +
                                            (count == 1 ? " sample" : " samples") + " clipped)";
        std::string lines = "   Writing file - " + OutputName(stage) + "\n   Done" + note + "\n";
        EXPECT_NE(run.out.find(lines), std::string::npos) << lines << "\n" << run.out;
    }
}

// The threads and the kernels the job runs on never change a byte: several
// blocks of output, on one thread, on three, and with each kernel.
TEST(JobTest, SameFilesOnAnyThreadCountAndKernel) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(7000);
    WriteJobFiles(dir.path, fixture);
    const std::pair<const char*, const char*> settings[] = {
        {"PHONOSKEW_THREADS", "1"},   {"PHONOSKEW_THREADS", "3"},    {"PHONOSKEW_KERNEL", "avx2"},
        {"PHONOSKEW_KERNEL", "sse2"}, {"PHONOSKEW_KERNEL", "exact"}, {"PHONOSKEW_KERNEL", "x87"}};
    for (const auto& [name, value] : settings) {
        setenv(name, value, 1);
        Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r");
        unsetenv(name);
        ASSERT_EQ(run.exitStatus, 0) << name << "=" << value << "\n" << run.err;
        SCOPED_TRACE(std::string(name) + "=" + value);
        ExpectOutputsMatchReference(dir.path, fixture);
    }
}

TEST(JobTest, SecondRunGivesIdenticalFilesAndReplacesLongerOldOnes) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(70);
    WriteJobFiles(dir.path, fixture);
    // Stale, longer files under the output names must not leave a tail behind.
    for (int stage = 1; stage <= 4; ++stage)
        WriteFileBytes(dir.path / OutputName(stage), std::string(100000, 'x'));
    ASSERT_EQ(RunPiped(PhonoskewIn(dir.path), "take1.wav\r").exitStatus, 0);
    ExpectOutputsMatchReference(dir.path, fixture);
    ASSERT_EQ(RunPiped(PhonoskewIn(dir.path), "take1.wav\r").exitStatus, 0);
    ExpectOutputsMatchReference(dir.path, fixture);
}

TEST(JobTest, EmptyInputGivesSixtyThreeFramesOfDitherAlone) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(0);
    WriteJobFiles(dir.path, fixture);
    ASSERT_EQ(RunPiped(PhonoskewIn(dir.path), "take1.wav\r").exitStatus, 0);
    ExpectOutputsMatchReference(dir.path, fixture);
    EXPECT_EQ(ReadFileBytes(dir.path / OutputName(1)).size(), 422u);
}

// A half-copied file: the outputs are those of the whole file with the
// missing samples silent, and the read's "Done" says how many frames lack.
TEST(JobTest, InputCutShortIsReadAsSilenceAndSaysSo) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(300);
    WriteJobFiles(dir.path, fixture);
    std::string wave = ReadFileBytes(dir.path / "take1.wav");
    WriteFileBytes(dir.path / "take1.wav", wave.substr(0, 44 + 6 * 200 + 4));
    Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r");
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::fill(fixture.left.begin() + 200, fixture.left.end(), 0);
    std::fill(fixture.right.begin() + 200, fixture.right.end(), 0);
    // Frame 200 keeps its left sample and the low byte of its right one.
    auto byte = [&wave](size_t at) { return int32_t(uint8_t(wave[44 + at])); };
    fixture.left[200] = byte(1200) | byte(1201) << 8 | int32_t(int8_t(wave[44 + 1202])) << 16;
    fixture.right[200] = byte(1203);
    ExpectOutputsMatchReference(dir.path, fixture);
    EXPECT_NE(
        run.out.find("   Reading file data...\n   Done (100 frames missing, read as silence)\n"),
        std::string::npos)
        << run.out;
}

TEST(JobTest, RefusedHeaderThenMissingFileThenGoodFile) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(40);
    WriteJobFiles(dir.path, fixture);
    WriteFileBytes(dir.path / "notes.txt", "just some text, not a recording");
    // Each message box takes a key of its own to dismiss it.
    Child run = RunPiped(PhonoskewIn(dir.path), "notes.txt\r\rnothing.wav\r\r\r\rtake1.wav\r");
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("This is not a Wave file"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("File not found."), std::string::npos) << run.out;
    ExpectOutputsMatchReference(dir.path, fixture);
}

TEST(JobTest, EndOfInputAtThePromptEndsWithAMessageAndFailureStatus) {
    ScratchDir dir;
    Child run = RunPiped(PhonoskewIn(dir.path), "");
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line expected: " << run.err;
}

// The job reads the input as it goes: its peak memory stays under 32 MiB
// for ten minutes of audio on 1, 2 and 64 threads, and grows by less than
// 1 MiB from one minute to ten.
TEST(JobTest, MemoryStaysTheSameWhateverTheLength) {
    ScratchDir scratch;
    // The outputs, 1.4 GB for ten minutes, in memory where the system offers
    // a folder there: a disk would take most of the test's time.
    const fs::path shared = "/dev/shm";
    const fs::path folder = fs::is_directory(shared)
                                ? shared / ("phonoskew-memory-test-" + std::to_string(getpid()))
                                : scratch.path / "job";
    fs::create_directories(folder);
    struct Removed {
        fs::path Folder;
        ~Removed() { fs::remove_all(Folder); }
    } removed{folder};
    WriteJobFiles(folder, MakeJobFixture(10));
    for (const char* threads :
         {"PHONOSKEW_THREADS=1", "PHONOSKEW_THREADS=2", "PHONOSKEW_THREADS=64"}) {
        uint64_t peak[2] = {};
        for (int i = 0; i < 2; ++i) {
            // Silence, in a file whose blocks the file system need not hold.
            const uint64_t frames = uint64_t{96000} * 60 * (i == 0 ? 1 : 10);
            WriteFileBytes(folder / "take1.wav", CanonicalWaveHeader(frames));
            fs::resize_file(folder / "take1.wav", 44 + 6 * frames);
            Program program = PhonoskewIn(folder);
            program.environment = {threads};
            Child run = RunPiped(program, "take1.wav\r", 300000);
            ASSERT_EQ(run.exitStatus, 0) << run.err;
            peak[i] = run.peakResidentBytes;
            for (int stage = 1; stage <= 4; ++stage) fs::remove(folder / OutputName(stage));
        }
        std::printf("%s: %.1f MiB for one minute, %.1f MiB for ten\n", threads,
                    double(peak[0]) / 1048576, double(peak[1]) / 1048576);
        EXPECT_LT(peak[1], uint64_t{32} << 20) << threads;
        EXPECT_LT(double(peak[1]) - double(peak[0]), double(1 << 20)) << threads;
    }
}

// A missing SO.dat holds the run at stage 2 with its box; meanwhile the
// test does `change` to the input. Returns the finished run.
template <typename Change>
Child RunChangingTheInputAtStageTwo(const fs::path& dir, Change change) {
    const std::string so = ReadFileBytes(dir / "SO.dat");
    fs::remove(dir / "SO.dat");
    Child run = StartPiped(PhonoskewIn(dir));
    SendKeys(run, "take1.wav\r");
    EXPECT_TRUE(WaitForOutput(run, "SO.dat' not found")) << run.out;
    change();
    WriteFileBytes(dir / "SO.dat", so);
    SendKeys(run, "\r");
    close(run.input);
    run.input = -1;
    EXPECT_TRUE(WaitForExit(run, 60000));
    return run;
}

// Cut short while the job runs: the stages after read the missing frames
// as silence, and each says the input changed, on its "Done" line and on
// standard error.
TEST(JobTest, InputChangedWhileReadIsSaidAndTheCutFramesAreSilence) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(3000);
    WriteJobFiles(dir.path, fixture);
    const std::array<std::string, 4> whole =
        ReferenceOutputs(fixture.left, fixture.right, fixture.sets);
    Child run = RunChangingTheInputAtStageTwo(
        dir.path, [&] { fs::resize_file(dir.path / "take1.wav", 44 + 6 * 2000); });
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::fill(fixture.left.begin() + 2000, fixture.left.end(), 0);
    std::fill(fixture.right.begin() + 2000, fixture.right.end(), 0);
    const std::array<std::string, 4> cut =
        ReferenceOutputs(fixture.left, fixture.right, fixture.sets);
    EXPECT_TRUE(ReadFileBytes(dir.path / OutputName(1)) == whole[0]);
    for (int stage = 2; stage <= 4; ++stage)
        EXPECT_TRUE(ReadFileBytes(dir.path / OutputName(stage)) == cut[stage - 1]) << stage;
    EXPECT_NE(run.out.find("   Applying first-order filter...\n   Done\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("   Applying second-order phase shift...\n   Done (input file "
                           "changed while read)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("phonoskew: take1.wav: input file changed while read\n"),
              std::string::npos)
        << run.err;
}

// A recording removed while the job runs is still read to its end.
TEST(JobTest, InputRemovedWhileReadRunsToTheEnd) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(3000);
    WriteJobFiles(dir.path, fixture);
    Child run =
        RunChangingTheInputAtStageTwo(dir.path, [&] { fs::remove(dir.path / "take1.wav"); });
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);
    EXPECT_EQ(run.out.find("changed"), std::string::npos) << run.out;
}

// Under `ulimit -v` (or `-d`) too tight for 64 threads' stacks beside the
// job, fewer threads run it, instead of a refusal that names neither.
TEST(JobTest, TightAddressSpaceTakesFewerThreads) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(20000);
    WriteJobFiles(dir.path, fixture);
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        Program program = PhonoskewIn(dir.path);
        program.environment = {"PHONOSKEW_THREADS=64"};
        program.limits = {{resource, rlim_t{200} << 20}};  // 64 stacks alone take 512 MiB
        Child run = RunPiped(program, "take1.wav\r");
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        ExpectOutputsMatchReference(dir.path, fixture);
    }
}

// Under `ulimit -s 64` the main thread and the helper threads have 64 KiB
// of stack: the job keeps its large buffers elsewhere and runs to its end.
TEST(JobTest, RunsWithTinyStacks) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(5000);
    WriteJobFiles(dir.path, fixture);
    Program program = PhonoskewIn(dir.path);
    program.environment = {"PHONOSKEW_THREADS=2"};
    program.limits = {{RLIMIT_STACK, rlim_t{64} << 10}};
    Child run = RunPiped(program, "take1.wav\r");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);
}

TEST(JobTest, UnwritableOutputIsReportedAndGivesFailureStatus) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(30);
    WriteJobFiles(dir.path, fixture);
    // A folder in the way of output files 2 and 3; from a script, each ESC
    // is the Esc key, which gives a file up, and the last key ends the run.
    fs::create_directory(dir.path / OutputName(2));
    fs::create_directory(dir.path / OutputName(3));
    Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r\x1b\x1b\r");
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_TRUE(fs::is_directory(dir.path / OutputName(2)));
    std::array<std::string, 4> expected =
        ReferenceOutputs(fixture.left, fixture.right, fixture.sets);
    EXPECT_EQ(ReadFileBytes(dir.path / OutputName(1)), expected[0]);
    EXPECT_EQ(ReadFileBytes(dir.path / OutputName(4)), expected[3]);
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "take1.wav" || name.ends_with(".dat") || name.ends_with(".wav"))
            << "left behind: " << name;
    }
}

// --out: the four outputs, named as ever, in a folder made for them, from
// a recording in a folder that cannot be written; a long path keeps its
// "Writing file" row, shortened in its middle on the screen alone.
TEST(JobTest, OutputFolderTakesTheOutputsOfAReadOnlySource) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(40);
    WriteJobFiles(dir.path, fixture);
    const std::string deep = "a folder whose name is long enough to push the path past the row";
    fs::create_directory(dir.path / "source");
    fs::rename(dir.path / "take1.wav", dir.path / "source" / "take1.wav");
    fs::permissions(dir.path / "source", fs::perms::owner_write, fs::perm_options::remove);
    Child run = RunPiped(PhonoskewIn(dir.path, {"--out", "new/" + deep}), "source/take1.wav\r");
    fs::permissions(dir.path / "source", fs::perms::owner_write, fs::perm_options::add);
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    ExpectOutputsMatchReference(dir.path / "new" / deep, fixture);
    EXPECT_FALSE(fs::exists(dir.path / "source" / OutputName(1)));
    // 79 columns: the row's start, the folder's start, "...", the name.
    EXPECT_NE(run.out.find("   Writing file - new/a folder whose name is lo...he row/take1 RIAA "
                           "error 1.wav\n"),
              std::string::npos)
        << run.out;

    // A folder that cannot be made is told before the terminal is touched.
    WriteFileBytes(dir.path / "take1.dat", "");
    run = RunPiped(PhonoskewIn(dir.path, {"--out=take1.dat/x"}), "");
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "phonoskew: cannot make the folder 'take1.dat/x': Not a directory\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
