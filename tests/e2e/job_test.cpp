// The whole job through pipes: the program reads the path from standard
// input and writes four files that must match the reference model exactly.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>

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

// A small file whose header claims 2^31 - 1 data bytes needs about 2.2 GB:
// refused at once with what it needs and what there is, back to the prompt.
TEST(JobTest, InputTooLargeForTheMemoryIsRefusedAtOnce) {
    ScratchDir dir;
    std::string wave = CanonicalWaveHeader(1000) + std::string(6000, '\x01');
    wave.replace(40, 4, "\xFF\xFF\xFF\x7F");
    WriteFileBytes(dir.path / "huge.wav", wave);
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        SCOPED_TRACE(resource == RLIMIT_AS ? "ulimit -v" : "ulimit -d");
        // At most 2 GiB of address space, or of data (private writable mappings).
        Program program = PhonoskewIn(dir.path);
        program.limits = {{resource, rlim_t{2} << 30}};
        auto start = std::chrono::steady_clock::now();
        Child run = RunPiped(program, "huge.wav\r\r");
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;  // the input ends at the fresh prompt
        EXPECT_LT(seconds, 10.0);
        EXPECT_TRUE(
            std::regex_search(run.out, std::regex("   Reading file data...\n ERROR\n"
                                                  "This Wave file is too large to process \n"
                                                  " It needs 2\\.2 GB of memory; "
                                                  "[0-9.]+ [MG]B is available  \n")))
            << run.out;
        EXPECT_EQ(ReadFileBytes(dir.path / "huge RIAA error 1.wav"), "");
        size_t prompts = 0;
        for (size_t at = run.out.find("   Input file?"); at != std::string::npos;
             at = run.out.find("   Input file?", at + 1)) {
            ++prompts;
        }
        EXPECT_EQ(prompts, 2u);
    }
}

// The job holds the input once, packed as read, and streams each stage
// into its file: what the peak memory grows by from a shorter input to a
// longer one is at most 7 bytes a frame, and the rest stays within 16 MiB,
// whatever the thread count.
TEST(JobTest, HoldsAtMostSevenBytesAFrame) {
    const int shorter = 500000, longer = 3000000;
    for (const char* threads : {"PHONOSKEW_THREADS=1", "PHONOSKEW_THREADS=4"}) {
        uint64_t peak[2] = {};
        for (int i = 0; i < 2; ++i) {
            ScratchDir dir;
            // Made in a child of its own: a program's peak memory counts what
            // the process that started it held, and the fixture is large.
            pid_t maker = fork();
            if (maker == 0) {
                WriteJobFiles(dir.path, MakeJobFixture(i == 0 ? shorter : longer));
                _exit(0);
            }
            ASSERT_EQ(waitpid(maker, nullptr, 0), maker);
            Program program = PhonoskewIn(dir.path);
            program.environment = {threads};
            Child run = RunPiped(program, "take1.wav\r");
            ASSERT_EQ(run.exitStatus, 0) << run.err;
            peak[i] = run.peakResidentBytes;
        }
        const double perFrame = (double(peak[1]) - double(peak[0])) / (longer - shorter);
        std::printf("%s: %.2f bytes a frame, %.1f MiB beside them\n", threads, perFrame,
                    (double(peak[1]) - perFrame * longer) / 1048576);
        EXPECT_LE(perFrame, 7.0) << threads;
        EXPECT_LE(peak[1], 7 * uint64_t(longer) + (uint64_t{16} << 20)) << threads;
    }
}

// Two jobs started together in one memory limit that holds one of them:
// the second checks once the first has taken its memory, so it is refused
// with the box, or runs after it; neither is killed half-way.
TEST(JobTest, TwoJobsInOneMemoryLimitNeverKillEachOther) {
    const fs::path group = MakeMemoryGroup(uint64_t{50} << 20);
    if (group.empty()) GTEST_SKIP() << "no memory control group can be made here";
    const int frames = 4000000;  // 24 MB a job, 41 MB with the working bytes
    ScratchDir dirs[2];
    for (ScratchDir& dir : dirs) {
        pid_t maker = fork();  // the fixture's memory stays out of the jobs'
        if (maker == 0) {
            WriteJobFiles(dir.path, MakeJobFixture(frames));
            _exit(0);
        }
        ASSERT_EQ(waitpid(maker, nullptr, 0), maker);
    }
    for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE(trial);
        // The last trial's outputs written out: their cache is clean, which
        // the check counts as free, where dirty cache would count as used.
        sync();
        Child runs[2];
        for (int i = 0; i < 2; ++i) {
            Program program = PhonoskewIn(dirs[i].path);
            program.controlGroup = group;
            runs[i] = StartPiped(program);
            SendKeys(runs[i], "take1.wav\r");
            close(runs[i].input);
            runs[i].input = -1;
        }
        int done = 0;
        for (Child& run : runs) {
            ChildGuard guard{run};
            ASSERT_TRUE(WaitForExit(run, 60000));
            EXPECT_NE(run.endSignal, SIGKILL) << run.err;
            if (run.exitStatus == 0) {
                ++done;
            } else {
                EXPECT_EQ(run.exitStatus, 2) << run.err;  // refused, then the input ended
                EXPECT_NE(run.out.find("This Wave file is too large to process"), std::string::npos)
                    << run.out;
            }
        }
        EXPECT_GE(done, 1);
    }
    RemoveControlGroup(group);
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
