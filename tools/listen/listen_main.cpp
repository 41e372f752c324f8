// phonoskew-listen: a blind ABX test of Phonoskew's error outputs of a
// recording against a reference that differs by the error filter alone,
// level-matched, through the sound device; or the level-matched pairs for
// another tool, the references themselves, or a report of what each error
// did.
#include <chrono>
#include <cstdio>

#include "listen/listen.h"
#include "system/files.h"
#include "system/quoting.h"
#include "system/terminal_device.h"

#ifndef PHONOSKEW_VERSION
#error "PHONOSKEW_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "phonoskew-listen: %s\n", message.c_str());
    return 1;
}

// One output made ready: the reference, both sides decoded, the gains.
struct PreparedOutput {
    ErrorOutput Error;
    std::vector<uint8_t> Reference;
    std::vector<float> A, B;
    MatchedGains Gains;
};

PreparedOutput Prepare(const Recording& recording, ErrorOutput error, LevelMatch match) {
    PreparedOutput prepared;
    prepared.Reference = ComputeReference(recording, error.Number);
    prepared.A = DecodeSide(prepared.Reference);
    prepared.B = DecodeSide(error.Packed);
    prepared.Error = std::move(error);
    prepared.Gains =
        MatchGains(MeasureLevels(prepared.A, 96000.0), MeasureLevels(prepared.B, 96000.0), match);
    std::printf("Output %d, %s\n  A: the reference; B: the error output\n  %s\n",
                prepared.Error.Number, QuotedArgument(prepared.Error.Path).c_str(),
                DescribeMatch(prepared.Gains, match).c_str());
    return prepared;
}

// --export: both sides with their gains, neither written when either exists.
std::string Export(const Recording& recording, const PreparedOutput& prepared,
                   const std::string& folder) {
    const int n = prepared.Error.Number;
    const std::string referencePath = NameInFolder(folder, ReferenceOutputName(recording.Path, n));
    const std::string errorPath = NameInFolder(folder, ErrorOutputName(recording.Path, n));
    RandomSource random;
    const std::vector<uint8_t> a = ApplyGain(prepared.Reference, prepared.Gains.ADb, random);
    const std::vector<uint8_t> b = ApplyGain(prepared.Error.Packed, prepared.Gains.BDb, random);
    for (const std::string& path : {referencePath, errorPath}) {
        if (OpenResult open = OpenForReading(path);
            open.Error == 0 || open.Error == NotRegularFile) {
            CloseFile(open.File);
            return QuotedArgument(path) + " exists: nothing exported for output " +
                   std::to_string(n);
        }
    }
    std::string failure = WriteNewWave(referencePath, recording.Info, a);
    if (failure.empty()) failure = WriteNewWave(errorPath, recording.Info, b);
    if (!failure.empty()) return failure;
    std::printf("  Exported: %s (A, %+.3f dB) and %s (B, %+.3f dB)\n",
                QuotedArgument(referencePath).c_str(), prepared.Gains.ADb,
                QuotedArgument(errorPath).c_str(), prepared.Gains.BDb);
    return "";
}

int ListDevices() {
    std::string listing;
    const std::string failure = ListSoundDevices(listing);
    if (!failure.empty()) return Fail(failure);
    std::fputs(listing.empty() ? "No sound device.\n" : listing.c_str(), stdout);
    return 0;
}

// The work of --write-reference, --export and --report, output by output.
int Work(const ListenCommand& command, const Recording& recording,
         std::vector<ErrorOutput>& outputs) {
    if (const int error = MakeFolder(command.ExportFolder); error != 0)
        return Fail("cannot make the folder " + QuotedArgument(command.ExportFolder) + ": " +
                    ErrorText(error));
    std::vector<OutputReport> reports;
    for (ErrorOutput& output : outputs) {
        const PreparedOutput prepared = Prepare(recording, std::move(output), command.Match);
        const int n = prepared.Error.Number;
        if (command.WriteReference) {
            const std::string path = ReferenceOutputName(recording.Path, n);
            const std::string failure = WriteNewWave(path, recording.Info, prepared.Reference);
            if (!failure.empty()) return Fail(failure);
            std::printf("  Wrote: %s\n", QuotedArgument(path).c_str());
        }
        if (!command.ExportFolder.empty()) {
            const std::string failure = Export(recording, prepared, command.ExportFolder);
            if (!failure.empty()) return Fail(failure);
        }
        if (command.Report) {
            std::string note;
            reports.push_back(WriteReport(recording, prepared.A, prepared.B, n, note));
            std::printf("%s\n", note.c_str());
        }
    }
    if (!reports.empty()) std::fputs(ReportTable(reports).c_str(), stdout);
    return 0;
}

uint32_t ClockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

int Session(const ListenCommand& command, const Recording& recording,
            std::vector<ErrorOutput>& outputs) {
    SoundDevice device;
    const std::string failure = OpenSoundDevice(command.Device, command.Rate, device);
    if (!failure.empty()) return Fail(failure + "; --export DIR writes the pairs for another tool");
    std::printf("Sound device: %s, %.0f Hz\n", device.Name.c_str(), device.Rate);
    if (device.Rate != 96000.0)
        std::printf("%s both sides are resampled to %.0f Hz alike (libsoxr).\n",
                    command.Rate > 0.0 ? "As asked," : "It takes no 96 kHz:", device.Rate);
    std::printf(
        "Keys: a, b, x play A, B or X; space pauses; [ and ] set the loop, \\ clears it;\n"
        "      1 answers X is A, 2 X is B; q ends.\n");
    const std::vector<Side> draws = DrawTrials(command.HasSeed ? command.Seed : ClockSeed(),
                                               command.Trials * int(outputs.size()));
    SessionRequest request{command.FromSeconds, command.ToSeconds,
                           ListeningLogName(recording.Path)};
    size_t answered = 0;
    for (size_t k = 0; k < outputs.size(); ++k) {
        SessionOutput output;
        {
            // Only the played sides stay for the session.
            PreparedOutput prepared = Prepare(recording, std::move(outputs[k]), command.Match);
            output.Output = prepared.Error.Number;
            output.Gains = prepared.Gains;
            output.A = PlayedSide(std::move(prepared.A), prepared.Gains.ADb, device.Rate);
            output.B = PlayedSide(std::move(prepared.B), prepared.Gains.BDb, device.Rate);
        }
        output.Xs.assign(draws.begin() + int(k) * command.Trials,
                         draws.begin() + int(k + 1) * command.Trials);
        std::fflush(stdout);
        request.KeysFromTerminal = StartTerminalDevice(true).InputIsTerminal;
        SessionOutcome outcome = RunSession(device, output, request);
        if (!outcome.Failure.empty()) return Fail(outcome.Failure);
        WriteToStandardOutput(SessionSummary(output, outcome));
        answered += outcome.Records.size();
        if (outcome.EndedEarly) break;
    }
    CloseSoundDevice(device);
    if (answered > 0)
        WriteToStandardOutput("The trials are in " + QuotedArgument(request.LogPath) + ".\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const std::vector<const char*> words = ArgumentWords(arguments);
    const ListenCommand command = ParseListenCommand(int(words.size()), words.data());
    switch (command.Action) {
        case ListenAction::Help:
            std::fputs(ListenHelpText().c_str(), stdout);
            return 0;
        case ListenAction::Version:
            std::fputs("phonoskew-listen " PHONOSKEW_VERSION "\n", stdout);
            return 0;
        case ListenAction::Refuse:
            std::fputs(command.Problem.c_str(), stderr);
            return 2;
        case ListenAction::ListDevices:
            return ListDevices();
        case ListenAction::Session:
        case ListenAction::Work:
            break;
    }
    SetNumericEnvironment();
    Recording recording;
    std::string failure = LoadRecording(command.Recording, recording);
    if (!failure.empty()) return Fail(failure);
    std::vector<ErrorOutput> outputs;
    failure = FindErrorOutputs(recording, command.Outputs, outputs);
    if (!failure.empty()) return Fail(failure);
    if (command.Action == ListenAction::Work) return Work(command, recording, outputs);
    return Session(command, recording, outputs);
}
