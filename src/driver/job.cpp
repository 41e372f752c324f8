// The job's steps with their dialogue: progress lines, beeps, error boxes
// and the two retry loops.
#include <cerrno>

#include "console/screen_script.h"
#include "driver/driver.h"
#include "system/files.h"
#include "system/quoting.h"
#include "system/terminal_device.h"

// The box while a stage's coefficient file is missing. The two characters
// backslash and n break a box's text into lines.
std::string MissingCoefficientsMessage(const char* fileName) {
    return std::string("                  File '") + fileName +
           "' not found.\\n Please ensure that it is in the parent directory  ";
}

BoxKey ShowError(std::string_view message, std::string_view reason) {
    Beep();
    return ConsoleMessageBox(message, " ERROR", reason);
}

// A user who fixes only what the box names may need several rounds; this
// line names every way the file differs and the one command that mends all.
std::string RefusalReason(const std::string& inputPath, const HeaderCheck& header) {
    std::string message = header.Refusal;
    message.erase(message.find_last_not_of(' ') + 1);
    std::string reason = "phonoskew: " + PrintableText(inputPath) + ": " + message;
    if (!header.Remedy.empty()) reason += " (" + header.Remedy + ")";
    return reason;
}

std::string RefusalBoxText(const HeaderCheck& header) {
    if (header.Remedy.empty()) return header.Refusal;
    return header.Refusal + "\\n" + RefusalWayOutLine;
}

OutputNames NamesInFolder(const OutputNames& names, const std::string& folder) {
    OutputNames inFolder;
    for (size_t i = 0; i < names.size(); ++i)
        inFolder[i] = PathText(FileSystemPath(folder) / FileSystemPath(names[i]).filename());
    return inFolder;
}

namespace {

// A "Done" with its note, " (TEXT)", which is also one of the run's notes on
// standard error: "phonoskew: NAME: TEXT".
void ShowDoneWithNote(int blankLines, const std::string& name, const std::string& note) {
    ShowDone(blankLines, note);
    if (note.size() > 3)
        NoteOnStandardError("phonoskew: " + PrintableText(name) + ": " +
                            note.substr(2, note.size() - 3));
}

}  // namespace

// ---- Loading ------------------------------------------------------------------------

bool LoadInput(const TypedInput& opened, int32_t frameCount, EngineChoice& engine,
               JobInput& input) {
    ShowStepTitle("   Reading file data...");
    // The stages read the input as they go, in working arrays made here
    // once: all the memory the job takes, whatever the recording's length.
    input.Work = MakeStageWorkspace(engine.Threads);
    if (input.Work.Threads == 0) {
        CloseFile(opened.File);
        input = JobInput{};
        ShowError(TooLargeMessage);
        return false;
    }
    engine.Threads = input.Work.Threads;
    const int64_t missing = TakeInputSamples(opened.File, frameCount, input.File);
    input.Path = opened.Path;
    ShowDoneWithNote(1, opened.Path, MissingFramesNote(missing));

    // Each stage takes the channels apart block by block as it reads the
    // input, so that no channel arrays are held; the step keeps its line.
    ShowStepTitle("   Extracting channels...");
    ShowDone(1);
    return true;
}

// " (N frames missing, read as silence)" after "Done" when the input file
// is shorter than its header says.
std::string MissingFramesNote(int64_t missing) {
    if (missing <= 0) return "";
    return " (" + std::to_string(missing) + (missing == 1 ? " frame" : " frames") +
           " missing, read as silence)";
}

// " (N samples clipped)" after "Done" when the dither clipped any.
std::string ClippedNote(int64_t clipped) {
    if (clipped == 0) return "";
    return " (" + std::to_string(clipped) + (clipped == 1 ? " sample" : " samples") + " clipped)";
}

// The "Done" row must stay one row: the notes that do not fit are counted
// there, and all of them go to standard error.
std::string CoefficientDoneNote(const char* fileName, const std::vector<std::string>& notes) {
    if (notes.empty()) return "";
    const size_t room = ScreenColumns - 1 - std::string_view("   Done").size();
    std::string start = std::string(" (") + fileName + ": ";
    std::string all = start + notes[0];
    for (size_t i = 1; i < notes.size(); ++i) all += "; " + notes[i];
    if (all.size() + 1 <= room) return all + ")";
    std::string more =
        std::to_string(notes.size() - 1) + (notes.size() == 2 ? " more note)" : " more notes)");
    std::string first = start + notes[0] + "; " + more;
    if (notes.size() > 1 && first.size() <= room) return first;
    return start + std::to_string(notes.size()) + (notes.size() == 1 ? " note)" : " notes)");
}

// The note after a stage's "Done" when the input file changed while the
// stage read it, or could not be read: " (input file changed while read)".
std::string InputChangeNote(bool changed, int readError) {
    if (readError != 0)
        return " (input file unreadable: " + ErrorText(readError) + "; read as silence)";
    return changed ? " (input file changed while read)" : "";
}

// ---- Stages ---------------------------------------------------------------------------

namespace {

// The stage computed into a new output file for `outputName`, on the
// engine's threads while this one, which alone takes the signals, waits: a
// stop and continue or a resize redraws the screen at once instead of when
// the stage ends, seconds later. The draws start at `output.Start`. The
// input's stamp before and after tells whether it changed meanwhile.
void ComputeStage(JobInput& input, const std::string& outputName, const WaveInfo& info,
                  const EngineChoice& engine, StageOutput& output) {
    output.File = CreateOutputFile(outputName);
    std::array<uint8_t, HeaderSize> header = MakeOutputHeader(info, OutputDataSize(info));
    if (output.File.Error == 0) output.File.Error = WriteAt(output.File.File, header, 0);
    output.Result = StageResult{};
    // A file that cannot be made is told at the writing step, which tries again.
    if (output.File.Error != 0) return;
    output.InputChanged = StampOf(input.File.File) != input.File.Stamp;
    RandomSource random = output.Start;
    StageSink sink{output.File.File, HeaderSize, {}};
    StageInput samples{input.File.File, HeaderSize, {}, input.File.FrameCount};
    StageRun run = StartStage(samples, output.Coefficients, sink, random, engine, input.Work,
                              WakeTerminalWait);
    while (!StageFinished(run)) WaitServingTerminal(100);
    output.Result = EndStage(run);
    output.InputChanged = output.InputChanged || StampOf(input.File.File) != input.File.Stamp;
}

// Whether a file of that name stands there from an earlier run: one that
// opens, or would but for its permissions. A folder in the way is none.
bool EarlierFileStands(const std::string& path) {
    OpenResult file = OpenForReading(path);
    CloseFile(file.File);
    return file.Error == 0 || file.Error == EACCES || file.Error == EPERM;
}

// The writer's line for a file given up, which stays as it was: where an
// earlier file of that name stands, the user must not take it for this
// run's output.
void ShowSkippedFile(const std::string& outputName, int blankLines) {
    bool earlier = EarlierFileStands(outputName);
    ShowSkipped(blankLines,
                earlier ? " (the file of that name is an earlier one)" : " (no file written)");
    NoteOnStandardError("phonoskew: " + PrintableText(outputName) + ": skipped, " +
                        (earlier ? "the file of that name is an earlier one" : "no file written"));
}

}  // namespace

StageOutput RunFilterStage(const ErrorStage& stage, JobInput& input, const std::string& outputName,
                           const WaveInfo& info, RandomSource& random, const EngineChoice& engine) {
    ShowStepTitle(stage.Title);
    // Only the outcome of each open counts; the run waits here, with no
    // limit, until the file can be opened.
    CoefficientLoad load = LoadCoefficients(stage.CoefficientFile);
    while (!load.Opened) {
        ShowError(MissingCoefficientsMessage(stage.CoefficientFile));
        load = LoadCoefficients(stage.CoefficientFile);
    }
    StageOutput output;
    output.Coefficients = load.Values;
    output.Start = random;
    ComputeStage(input, outputName, info, engine, output);
    random = random.Skip(StageDraws(input.File.FrameCount));
    // The values stay as read, so that outputs compare byte for byte with
    // earlier runs; the user learns why they may not be the file's numbers.
    std::vector<std::string> notes = CoefficientNotes(load.Survey);
    std::string change = InputChangeNote(output.InputChanged, output.Result.ReadError);
    if (change.empty()) {
        ShowDone(1, CoefficientDoneNote(stage.CoefficientFile, notes));
    } else {
        ShowDoneWithNote(1, input.Path, change);
    }
    if (!notes.empty()) {
        std::string line = std::string("phonoskew: ") + stage.CoefficientFile + ": " + notes[0];
        for (size_t i = 1; i < notes.size(); ++i) line += "; " + notes[i];
        NoteOnStandardError(line);
    }
    return output;
}

bool WriteStageOutput(const std::string& outputName, JobInput& input, const WaveInfo& info,
                      const EngineChoice& engine, StageOutput& output, int blankLinesAfter) {
    ShowWritingFile(outputName);
    for (;;) {
        // A failure met while the stage wrote is told here, as the writing
        // step's; the file is named only when whole.
        int error = output.File.Error != 0 ? output.File.Error : output.Result.WriteError;
        if (error == 0) error = NameOutputFile(output.File);
        if (error == 0) break;
        DiscardOutputFile(output.File);
        // A temporary file its folder no longer lets go of is left empty;
        // the user learns its name to remove it.
        if (!output.File.Leftover.empty())
            NoteOnStandardError("phonoskew: " + output.File.Leftover +
                                ": left behind empty, as it could not be removed");
        std::string message = " Could not write file '" + outputName + "':\\n " + ErrorText(error) +
                              ".\\n Enter tries again, Esc skips this file  ";
        if (ShowError(message) == BoxKey::Escape) {
            ShowSkippedFile(outputName, blankLinesAfter);
            return false;
        }
        // Again from the stage's first draw: the same bytes.
        ComputeStage(input, outputName, info, engine, output);
    }
    ShowDoneWithNote(blankLinesAfter, outputName, ClippedNote(output.Result.Clipped));
    return true;
}
