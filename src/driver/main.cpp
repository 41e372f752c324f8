// Phonoskew's main routine: one run, as straight-line steps.
//
// Prompt and header check repeat until a file is accepted and its samples
// are loaded; then the four error stages each filter the same input and
// write one output file; then the elapsed time and the final key.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/screen_script.h"
#include "driver/command_line.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "filters/filters.h"
#include "numeric/numeric.h"
#include "system/files.h"
#include "system/quoting.h"
#include "system/signals.h"
#include "wave/wave.h"

namespace {

int RunJob(const CommandLine& command) {
    SetNumericEnvironment();
    const RunSettings settings = ReadRunSettings();
    EngineChoice engine = settings.Engine;  // fewer threads where memory is short
    SetUpEngine(engine);
    // PHONOSKEW_THREADS=1 keeps the whole job on this one thread.
    ReleaseReplacedFilesOnThread(engine.Threads > 1);
    DrawScreenOnTerminal(settings.DrawScreen);
    SetUpConsoleWindow();
    // Settings the program cannot use are named once: in a terminal below
    // the final screen, where the first frame does not clear them away.
    WriteErrorTextAtEnd(settings.Warnings);
    // A path from the command line is typed at the first prompt, so it is
    // shown, checked and refused there like any other.
    if (command.HasPath) FeedKeyBytes(TypedPathKeys(command.Path));

    // The dither's source starts at its fixed state and runs on through all
    // four stages, whatever happens at the prompt.
    RandomSource dither;
    TypedInput opened;
    HeaderCheck header;
    JobInput input;
    double startTime = 0.0;
    for (;;) {
        opened = AskInputPath();
        header = CheckInputHeader(opened.Path, opened.File);
        if (!header.Refusal.empty()) {
            CloseFile(opened.File);
            ShowError(RefusalBoxText(header), RefusalReason(opened.Path, header));
            continue;
        }
        if (!command.OutputFolder.empty())
            header.Names = NamesInFolder(header.Names, command.OutputFolder);
        const WaveInfo& info = header.Info;
        ShowFileData(info.Channels, info.SampleRate, info.BitsPerSample, info.FrameCount,
                     info.Duration);
        startTime = static_cast<double>(ClockSeconds());
        if (LoadInput(opened, info.FrameCount, engine, input)) break;
    }

    bool allWritten = true;
    for (int stage = 1; stage <= StageCount; ++stage) {
        const std::string& name = header.Names[stage - 1];
        StageOutput output =
            RunFilterStage(ErrorStages[stage - 1], input, name, header.Info, dither, engine);
        // Three blank lines stand between the last stage and the job's time.
        int blankLines = stage < StageCount ? 1 : 3;
        if (!WriteStageOutput(name, input, header.Info, engine, output, blankLines)) {
            allWritten = false;
        }
    }

    ShowJobTime(startTime);
    ShowQuitPrompt();
    WaitForKey();
    return allWritten ? 0 : 1;
}

// --help and --version: the text on standard output, or status 3 when it
// cannot be written.
int PrintOrFail(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "phonoskew: cannot write to standard output: %s\n", std::strerror(errno));
    return 3;
}

}  // namespace

// Nothing unexpected leaves the program without the terminal put back and a
// one-line reason: an exception ends it with status 3.
int main(int argc, char** argv) {
    // Before anything opens a descriptor: a closed standard one is taken as
    // empty, never handed to a file or pipe of the program's own.
    OpenStandardDescriptors();
    // An output over the file-size limit is then a write failure with its
    // box, not the end of the program.
    ReportFileSizeLimitAsError();
    // Read before the terminal is touched, so a bad command line leaves it
    // alone; a path in it is UTF-8, as a typed one is.
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const std::vector<const char*> words = ArgumentWords(arguments);
    CommandLine command = ParseCommandLine(int(words.size()), words.data());
    switch (command.Action) {
        case CommandAction::Help:
            return PrintOrFail(HelpText());
        case CommandAction::Version:
            return PrintOrFail(VersionText());
        case CommandAction::Refuse:
            std::fputs(command.Problem.c_str(), stderr);
            return 2;
        case CommandAction::Run:
            break;
    }
    // Made before the terminal is touched, so that a folder that cannot be
    // made is told as a bad command line is.
    if (int error = MakeFolder(command.OutputFolder); error != 0) {
        std::fprintf(stderr, "phonoskew: cannot make the folder %s: %s\n",
                     QuotedArgument(command.OutputFolder).c_str(), ErrorText(error).c_str());
        return 2;
    }
    try {
        return RunJob(command);
    } catch (const std::exception& failure) {
        QuitProgram(std::string("phonoskew: ") + failure.what(), 3);
    } catch (...) {
        QuitProgram("phonoskew: an unexpected failure", 3);
    }
}
