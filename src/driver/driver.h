// The run driver: the fixed order of one run (window set-up, prompt, header
// check, file data, samples, the four stages with their output files, the
// elapsed time and the final key), and all of its dialogue: the progress
// lines, the beeps and error boxes, the input prompt that loops until a
// typed path names a file that opens, the wait for a missing coefficient
// file and the retry or skip of an output that cannot be written. The steps
// themselves (wave/, filters/) only compute and report.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "engine/engine.h"
#include "filters/filters.h"
#include "filters/stages.h"
#include "numeric/numeric.h"
#include "wave/wave.h"

// The console window's start-up calls, in their fixed order.
void SetUpConsoleWindow();

struct TypedInput;

// Shows the banner and "   Input file?", reads a path from row 8 column 17,
// and repeats (beep, box, fresh screen) until the path names a readable
// regular file. Returns the path as typed, or as a drop gave it (see
// OpenTypedPath), with the file open: the header and the samples are read
// from the file the prompt found, never from another one put in its place.
TypedInput AskInputPath();

// A path as a terminal's drag and drop types it, less what the drop added:
// the trailing blanks, then one pair of quotes around it (a single quote
// inside single quotes written '\''). Anything else is left as it is.
std::string DroppedPath(const std::string& typed);

// The typed path that opens: as typed when that opens, else as a drop gave
// it when that opens; else the typed path and its error. A path opens when,
// taken whole, it names a regular file that opens for reading. Never
// blocks: a FIFO or a device counts as a failed open (NotRegularFile), and
// an empty path and one that holds '*' or '?' as no file (ENOENT).
struct TypedInput {
    std::string Path;
    int Error = 0;
    FileHandle File = NoFile;  // open when Error is 0; the caller closes it
};
TypedInput OpenTypedPath(const std::string& typed);

// Beep, then the modal " ERROR" box with `message`; says how it was
// dismissed. `reason`, if given, is the line for standard error instead of
// the message's.
BoxKey ShowError(std::string_view message, std::string_view reason = {});

// The standard error line of a refused input: "phonoskew: PATH: " and the
// box's message, then what the file is and how to convert it, when known.
std::string RefusalReason(const std::string& inputPath, const HeaderCheck& header);

// The job's input: its file, open from the read step to the end of the run,
// and the stages' working arrays.
struct JobInput {
    std::string Path;
    InputFile File;
    StageWorkspace Work;
};

// The refusal box's text: the check's message and, for a file of another
// format, a line naming the way on and the way out.
constexpr const char* RefusalWayOutLine = "phonoskew-prepare makes an accepted copy; Ctrl-D quits";
std::string RefusalBoxText(const HeaderCheck& header);

// The output names with their folder part replaced by `folder` (--out):
// the same file names, in that folder.
OutputNames NamesInFolder(const OutputNames& names, const std::string& folder);

// Takes the open input for its samples and makes the stages' working
// arrays, with the lines "Reading file data..." and "Extracting channels..."
// and their "Done". Returns false, after the beep and box, when not even
// one thread's arrays can be had; the file is then closed and the caller
// goes back to the prompt. Where not all of the threads' arrays can be had,
// fewer threads are used, and `engine` says how many.
bool LoadInput(const TypedInput& opened, int32_t frameCount, EngineChoice& engine, JobInput& input);

// The note after the "Done" of the read when the input file holds fewer whole
// frames than its header says: " (N frames missing, read as silence)".
std::string MissingFramesNote(int64_t missing);

// The note after a stage's "Done" when the input file changed while the
// stage read it (its length or time differ from those at the read step),
// or a read of it failed; "" for neither.
std::string InputChangeNote(bool changed, int readError);

// The note after a writer's "Done" when `clipped` samples went beyond the
// 24-bit range: "" for none, " (1 sample clipped)", " (N samples clipped)".
std::string ClippedNote(int64_t clipped);

// The note after a stage's "Done" for the notes of its coefficient file, as
// much as the row holds: " (FO.dat: NOTE; NOTE)", else the first note and
// how many more, else how many in all; "" for none.
std::string CoefficientDoneNote(const char* fileName, const std::vector<std::string>& notes);

// The box's message while the coefficient file `fileName` is missing.
std::string MissingCoefficientsMessage(const char* fileName);

// What a stage made: its output file, filled but not yet named, what the
// engine did, and what a second try needs to compute it again.
struct StageOutput {
    OutputFile File;
    StageResult Result;
    CoefficientSet Coefficients{};
    RandomSource Start;         // the stage's first draw
    bool InputChanged = false;  // the input file changed while the stage read it
};

// Title line, coefficient load (beep and box again and again while the
// file cannot be opened), then filter, dither and pack on the engine's
// threads, each part writing its frames into the output file as it goes,
// "Done". `random` moves on past the stage's draws.
StageOutput RunFilterStage(const ErrorStage& stage, JobInput& input, const std::string& outputName,
                           const WaveInfo& info, RandomSource& random, const EngineChoice& engine);

// "Writing file - " and the name; the file gets its name, or a failure
// (met now or while the stage wrote) asks with a box to try again, which
// computes and writes the stage anew from its first draw, or to skip;
// "Done" with the clipped note, or "Skipped" saying whether an earlier file
// of that name stands, and `blankLinesAfter` blank lines. Returns false when
// the user skipped the file.
bool WriteStageOutput(const std::string& outputName, JobInput& input, const WaveInfo& info,
                      const EngineChoice& engine, StageOutput& output, int blankLinesAfter);
