// The recording, its error outputs found by Phonoskew's own names and
// checked to belong to it, and each output's reference from the stage
// engine.
#include <algorithm>
#include <cerrno>
#include <new>

#include "engine/engine.h"
#include "listen/listen.h"
#include "system/files.h"
#include "system/processors.h"
#include "system/quoting.h"

// ---- Names --------------------------------------------------------------------------

namespace {

// The recording's path as Phonoskew's output names begin: the names' rule
// is the program's (MakeOutputNames), less what it adds.
std::string OutputStem(const std::string& recording) {
    const std::string first = MakeOutputNames(recording)[0];
    return first.substr(0, first.size() - std::string(ErrorStages[0].OutputSuffix).size());
}

}  // namespace

std::string ErrorOutputName(const std::string& recording, int n) {
    return MakeOutputNames(recording)[size_t(n - 1)];
}

std::string ReferenceOutputName(const std::string& recording, int n) {
    return OutputStem(recording) + " RIAA reference " + std::to_string(n) + ".wav";
}

std::string ListeningLogName(const std::string& recording) {
    return OutputStem(recording) + " RIAA listening.log";
}

std::string NameInFolder(const std::string& folder, const std::string& path) {
    return PathText(FileSystemPath(folder) / FileSystemPath(path).filename());
}

// ---- The recording and its outputs --------------------------------------------------------

namespace {

// The recording's samples, read from its open file; "" or what failed.
std::string ReadRecording(const std::string& path, FileHandle file, Recording& recording) {
    const HeaderCheck header = CheckInputHeader(path, file);
    if (!header.Refusal.empty()) return QuotedArgument(path) + ": " + header.Refusal;
    recording.Path = path;
    recording.Info = header.Info;
    try {
        recording.Packed.assign(size_t(BytesPerFrame) * size_t(header.Info.FrameCount), 0);
    } catch (const std::bad_alloc&) {
        return QuotedArgument(path) + ": " + TooLargeMessage;
    }
    const ReadResult read =
        ReadAt(file, recording.Packed.data(), recording.Packed.size(), HeaderSize);
    if (read.Error != 0) return QuotedArgument(path) + ": " + ErrorText(read.Error);
    return "";
}

}  // namespace

std::string LoadRecording(const std::string& path, Recording& recording) {
    const OpenResult open = OpenForReading(path);
    if (open.Error != 0) return QuotedArgument(path) + ": " + ErrorText(open.Error);
    const std::string failure = ReadRecording(path, open.File, recording);
    CloseFile(open.File);
    return failure;
}

std::string CheckOutputFile(const std::string& path, int32_t recordingFrames) {
    const HeaderCheck header = CheckInputHeader(path);
    if (!header.Refusal.empty()) {
        std::string refusal = header.Refusal;
        while (!refusal.empty() && (refusal.back() == ' ' || refusal.back() == '.'))
            refusal.pop_back();
        return "is not a file of phonoskew's format: " + refusal;
    }
    const int64_t expected = OutputFrameCount(recordingFrames);
    if (header.Info.FrameCount != expected)
        return "holds " + std::to_string(header.Info.FrameCount) +
               " frames, where an output of the recording has " + std::to_string(expected) +
               " (its " + std::to_string(recordingFrames) + " and the filter's " +
               std::to_string(FilterTail) + ")";
    const OpenResult open = OpenForReading(path);
    const int64_t length = FileLength(open.File);
    CloseFile(open.File);
    const int64_t bytes = HeaderSize + BytesPerFrame * expected;
    if (length < bytes)
        return "ends after " + std::to_string(std::max<int64_t>(length, 0)) + " of its " +
               std::to_string(bytes) + " bytes";
    return "";
}

namespace {

std::string LoadErrorOutput(const Recording& recording, int n, ErrorOutput& output) {
    output.Number = n;
    output.Path = ErrorOutputName(recording.Path, n);
    const std::string fault = CheckOutputFile(output.Path, recording.Info.FrameCount);
    if (!fault.empty())
        return QuotedArgument(output.Path) + " is not output " + std::to_string(n) + " of " +
               QuotedArgument(recording.Path) + ": it " + fault +
               ". Run phonoskew on the recording again.";
    output.Packed.resize(size_t(BytesPerFrame * OutputFrameCount(recording.Info.FrameCount)));
    const ReadResult read =
        ReadFileAt(output.Path, output.Packed.data(), output.Packed.size(), HeaderSize);
    if (read.Error != 0) return QuotedArgument(output.Path) + ": " + ErrorText(read.Error);
    return "";
}

}  // namespace

std::string FindErrorOutputs(const Recording& recording, const std::vector<int>& numbers,
                             std::vector<ErrorOutput>& outputs) {
    std::vector<int> wanted = numbers;
    if (wanted.empty()) {
        for (int n = 1; n <= 4; ++n) {
            if (OpenResult open = OpenForReading(ErrorOutputName(recording.Path, n));
                open.Error != ENOENT) {
                CloseFile(open.File);
                wanted.push_back(n);
            }
        }
        if (wanted.empty())
            return "no output of " + QuotedArgument(recording.Path) + " beside it (" +
                   QuotedArgument(ErrorOutputName(recording.Path, 1)) +
                   " and the like): run phonoskew on it first";
    }
    for (int n : wanted) {
        if (OpenResult open = OpenForReading(ErrorOutputName(recording.Path, n)); open.Error != 0) {
            return QuotedArgument(ErrorOutputName(recording.Path, n)) + ": " +
                   ErrorText(open.Error) + " (output " + std::to_string(n) + " of " +
                   QuotedArgument(recording.Path) + "; run phonoskew on it first)";
        } else {
            CloseFile(open.File);
        }
        ErrorOutput output;
        const std::string fault = LoadErrorOutput(recording, n, output);
        if (!fault.empty()) return fault;
        outputs.push_back(std::move(output));
    }
    return "";
}

// ---- The reference -----------------------------------------------------------------------

RandomSource DitherSourceOfOutput(int32_t frames, int n) {
    return RandomSource{}.Skip(StageDraws(frames) * uint64_t(n - 1));
}

// The one use of the stage engine: the identity set, its samples packed
// into memory, the dither drawn from output n's first draw on.
std::vector<uint8_t> ComputeReference(const Recording& recording, int n) {
    CoefficientSet identity{};
    identity[0] = 1.0;
    const int32_t frames = recording.Info.FrameCount;
    std::vector<uint8_t> packed(size_t(BytesPerFrame * OutputFrameCount(frames)));
    RandomSource random = DitherSourceOfOutput(frames, n);
    EngineChoice choice;
    choice.Threads = std::clamp(ProcessorsAvailable(), 1, MostThreads);
    FilterDitherAndPack(recording.Packed, identity, {NoFile, 0, packed}, random, choice);
    return packed;
}
