// The program run from a script: standard descriptors closed at start, a
// reader that goes away, and the reasons a box gives on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e/fixtures.h"

namespace {

struct ClosedCase {
    int descriptor;
    const char* input;
    int exitStatus;
    const char* errors;  // standard error, when the test can read it
};

TEST(RunInPipesTest, ClosedStandardDescriptorsAreTakenAsEmpty) {
    const ClosedCase cases[] = {
        // The program must not wait for ever on a descriptor it opened itself.
        {0, "", 2, "phonoskew: standard input ended while waiting for a path\n"},
        {1, "take1.wav\r\r", 0, ""},
        {2, "take1.wav\r\r", 0, nullptr},
    };
    for (const ClosedCase& c : cases) {
        SCOPED_TRACE(c.descriptor);
        ScratchDir dir;
        JobFixture fixture = MakeJobFixture(50);
        WriteJobFiles(dir.path, fixture);
        Program program = PhonoskewIn(dir.path);
        program.closedDescriptors = {c.descriptor};
        Child run = RunPiped(program, c.input, 10000);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
        if (c.errors) {
            // A whole job's notes follow: the fixture clips.
            EXPECT_EQ(run.err, c.errors + (c.exitStatus == 0 ? ClippingNotes(fixture) : ""));
        }
        if (c.exitStatus == 0) ExpectOutputsMatchReference(dir.path, fixture);
        if (c.descriptor == 2) {
            EXPECT_NE(run.out.find("   Job completed in"), std::string::npos) << run.out;
        }
    }
}

TEST(RunInPipesTest, ReaderGoingAwayDoesNotStopTheJob) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(300);
    WriteJobFiles(dir.path, fixture);
    Child run = StartPiped(PhonoskewIn(dir.path));
    ChildGuard guard{run};
    ASSERT_TRUE(WaitForOutput(run, "   Phonoskew\n")) << run.out;
    // As `phonoskew | head -c 200` does: the reader takes a little and leaves.
    close(run.output);
    run.output = -1;
    SendKeys(run, "take1.wav\r\r");
    close(run.input);
    run.input = -1;
    ASSERT_TRUE(WaitForExit(run, 20000));
    EXPECT_EQ(run.endSignal, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);
}

struct ReasonCase {
    const char* name;
    const char* missing;  // a coefficient file taken away, or nullptr
    const char* input;
    const char* errors;
    const char* box;  // the box in the transcript: its title and text lines alone
};

// A refused input's line names every way the file differs and the command
// that mends them all, so that one conversion is enough. The transcript
// keeps each box as its title and text lines, with no row of its frame; a
// refused format's box names the way on and the way out.
TEST(RunInPipesTest, EachBoxGivesItsReasonOnStandardError) {
    const ReasonCase cases[] = {
        {"input file", nullptr, "nothing.wav\r\r",
         "phonoskew: 'nothing.wav': File not found.\n"
         "phonoskew: standard input ended while waiting for a path\n",
         "\n ERROR\n            File not found.\n Please enter a valid file path  \n"},
        {"no WAVE header", nullptr, "FO.dat\r\r",
         "phonoskew: FO.dat: This is not a Wave file (convert with: phonoskew-prepare 'FO.dat', "
         "or with SoX: sox 'FO.dat' -b 24 -r 96000 -c 2 -t wavpcm 'FO 24-96.wav' gain -n -3)\n"
         "phonoskew: standard input ended while waiting for a path\n",
         "\n ERROR\nThis is not a Wave file \nphonoskew-prepare makes an accepted copy; Ctrl-D "
         "quits\n"},
        {"16-bit 44.1 kHz", nullptr, "cd rip.wav\r\r",
         "phonoskew: cd rip.wav: This is not a 24-bit Wave file (it is 16-bit, 44100 Hz, 2 "
         "channels; convert with: phonoskew-prepare 'cd rip.wav', or with SoX: sox 'cd rip.wav' "
         "-b 24 -r 96000 -c 2 -t wavpcm 'cd rip 24-96.wav' gain -n -3)\n"
         "phonoskew: standard input ended while waiting for a path\n",
         "\n ERROR\nThis is not a 24-bit Wave file \nphonoskew-prepare makes an accepted copy; "
         "Ctrl-D quits\n"},
        {"5.1", nullptr, "5.1.wav\r\r",
         "phonoskew: 5.1.wav: This is not a stero Wave file (it is 24-bit, 96000 Hz, 6 channels; "
         "convert with: phonoskew-prepare --downmix '5.1.wav', or with SoX: sox '5.1.wav' -b 24 "
         "-r 96000 -c 2 -t wavpcm '5.1 24-96.wav' gain -n -3)\n"
         "phonoskew: standard input ended while waiting for a path\n",
         "\n ERROR\nThis is not a stero Wave file \nphonoskew-prepare makes an accepted copy; "
         "Ctrl-D quits\n"},
        {"coefficient file", "SO.dat", "take1.wav\r",
         "phonoskew: take1 RIAA error 1.wav: 1 sample clipped\n"
         "phonoskew: File 'SO.dat' not found. Please ensure that it is in the parent directory\n"
         "phonoskew: standard input ended while a message box was waiting for a key\n",
         "\n ERROR\n                  File 'SO.dat' not found.\n Please ensure that it is in the "
         "parent directory  \n"},
    };
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        JobFixture fixture = MakeJobFixture(20);
        WriteJobFiles(dir.path, fixture);
        std::string cdRip = CanonicalWaveHeader(0);
        cdRip.replace(24, 4, std::string("\x44\xAC\x00\x00", 4));  // 44100 Hz
        cdRip[34] = 16;
        WriteFileBytes(dir.path / "cd rip.wav", cdRip);
        std::string surround = CanonicalWaveHeader(0);
        surround[22] = 6;
        WriteFileBytes(dir.path / "5.1.wav", surround);
        if (c.missing) fs::remove(dir.path / c.missing);
        Child run = RunPiped(PhonoskewIn(dir.path), c.input, 10000);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.err, c.errors);
        EXPECT_NE(run.out.find(c.box), std::string::npos) << run.out;
        for (const char* frame : {"\n|", "\n+-", "|\n"})
            EXPECT_EQ(run.out.find(frame), std::string::npos) << run.out;
    }
}

// Under `ulimit -n 5` the file is there: the box names what kept it from
// opening instead of saying it is not found.
TEST(RunInPipesTest, NoDescriptorLeftIsNamedInTheBox) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(20));
    Program program = PhonoskewIn(dir.path);
    program.limits = {{RLIMIT_NOFILE, 5}};
    Child run = RunPiped(program, "take1.wav\r\r", 10000);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err,
              "phonoskew: Could not open file 'take1.wav': Too many open files\n"
              "phonoskew: standard input ended while waiting for a path\n");
}

// A coefficient file with LF line ends keeps the values it always gave (the
// outputs stay byte for byte the same), and the user learns why they are
// not the file's numbers: on the stage's "Done" line and on standard error.
TEST(RunInPipesTest, LinesJoinedWithoutCrAreNamed) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(30);
    WriteJobFiles(dir.path, fixture);
    WriteFileBytes(dir.path / "SO.dat", "1\n2\n");
    fixture.sets[1].assign(64, 0.0);
    fixture.sets[1][0] = 12.0;  // the two lines as one field
    Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r", 10000);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);
    EXPECT_NE(run.out.find("   Applying second-order filter...\n"
                           "   Done (SO.dat: line feeds without CR joined its lines into one "
                           "field)\n\n   Writing file - take1 RIAA error 2.wav\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(
        run.err.find("phonoskew: SO.dat: line feeds without CR joined its lines into one field\n"),
        std::string::npos)
        << run.err;
}

// UTF-16 coefficient files, as PowerShell and Notepad write them, give the
// very bytes their text gives as UTF-8, and the user is told how they were
// read.
TEST(RunInPipesTest, Utf16CoefficientFilesGiveTheBytesOfTheirText) {
    ScratchDir dir;
    JobFixture fixture = MakeJobFixture(30);
    WriteJobFiles(dir.path, fixture);
    for (auto [file, littleEndian] : {std::pair{"SO.dat", false}, std::pair{"SOP.dat", true}}) {
        std::string text = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : ReadFileBytes(dir.path / file))
            text += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
        WriteFileBytes(dir.path / file, text);
    }
    Child run = RunPiped(PhonoskewIn(dir.path), "take1.wav\r", 10000);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ExpectOutputsMatchReference(dir.path, fixture);
    for (const char* line : {"phonoskew: SO.dat: UTF-16 BE text: read as the text it holds\n",
                             "phonoskew: SOP.dat: UTF-16 LE text: read as the text it holds\n"})
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
}

// In a UTF-8 locale the transcript still carries the typed bytes exactly,
// invalid ones included.
TEST(RunInPipesTest, TranscriptCarriesTheTypedBytes) {
    ScratchDir dir;
    WriteJobFiles(dir.path, MakeJobFixture(20));
    fs::rename(dir.path / "take1.wav", dir.path / "\xc3\xa9t\xc3\xa9.wav");
    Program program = PhonoskewIn(dir.path);
    program.environment = {"LC_ALL=C.UTF-8"};
    Child run = RunPiped(program, "a\xff\xe6\x97\xa5.wav\r\r\xc3\xa9t\xc3\xa9.wav\r", 10000);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    for (const char* line :
         {"   Input file?  a\xff\xe6\x97\xa5.wav\n", "   Input file?  \xc3\xa9t\xc3\xa9.wav\n",
          "   Writing file - \xc3\xa9t\xc3\xa9 RIAA error 1.wav\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    EXPECT_TRUE(fs::exists(dir.path / "\xc3\xa9t\xc3\xa9 RIAA error 4.wav"));
}

}  // namespace
