// The conversion: reading the recording block by block, resampling it to
// 96 kHz, finding the headroom in a first pass, then dithering and packing
// the 24-bit samples in a second one and writing them through the program's
// WAVE writer. Only the packed output is held whole (6 bytes a frame, as
// Phonoskew will hold it); the input is read twice rather than kept.
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "prepare/prepare.h"
#include "system/files.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

constexpr int AcceptedRate = 96000;
constexpr sf_count_t BlockFrames = 65536;
// 1.0 of the library's floating-point samples is 2^23 steps of 24 bits.
constexpr double StepsPerUnit = 8388608.0;
constexpr double LowestGainDb = -100.0;

// ---- Progress ---------------------------------------------------------------------------

// A percentage on standard error, rewritten in place; only once a run has
// taken a second, so that a short file flashes nothing.
struct ProgressLine {
    bool Enabled = false;
    int64_t Total = 0;  // input frames of all passes
    int64_t Done = 0;
    int Shown = -1;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

void AdvanceProgress(ProgressLine& progress, int64_t frames) {
    progress.Done += frames;
    if (!progress.Enabled || progress.Total <= 0) return;
    if (std::chrono::steady_clock::now() - progress.Start < std::chrono::seconds(1)) return;
    const int percent = int(std::min<int64_t>(99, progress.Done * 100 / progress.Total));
    if (percent == progress.Shown) return;
    progress.Shown = percent;
    std::fprintf(stderr, "\rphonoskew-prepare: %d%%", percent);
}

void EndProgress(const ProgressLine& progress) {
    if (progress.Shown >= 0) std::fputs("\r                        \r", stderr);
}

// ---- Reading ------------------------------------------------------------------------------

struct CloseSoundFile {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct DeleteResampler {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};

// The input as the file layer opened it (a name in any script opens on
// every system), and where libsndfile reads in it.
struct SourceBytes {
    FileHandle File = NoFile;
    int64_t Length = 0;
    int64_t Position = 0;
    SourceBytes() = default;
    SourceBytes(const SourceBytes&) = delete;
    SourceBytes& operator=(const SourceBytes&) = delete;
    ~SourceBytes() { CloseFile(File); }
};

sf_count_t SourceLength(void* bytes) { return static_cast<SourceBytes*>(bytes)->Length; }

sf_count_t SourcePosition(void* bytes) { return static_cast<SourceBytes*>(bytes)->Position; }

sf_count_t SeekSource(sf_count_t offset, int whence, void* bytes) {
    auto& source = *static_cast<SourceBytes*>(bytes);
    const int64_t from = whence == SEEK_CUR   ? source.Position
                         : whence == SEEK_END ? source.Length
                                              : 0;
    if (from + offset < 0) return -1;
    source.Position = from + offset;
    return source.Position;
}

sf_count_t ReadSource(void* buffer, sf_count_t count, void* bytes) {
    auto& source = *static_cast<SourceBytes*>(bytes);
    if (count <= 0) return 0;
    const ReadResult read = ReadAt(source.File, buffer, size_t(count), uint64_t(source.Position));
    source.Position += int64_t(read.Bytes);
    return sf_count_t(read.Bytes);
}

sf_count_t RefuseWrite(const void*, sf_count_t, void*) { return 0; }

SF_VIRTUAL_IO SourceCalls = {SourceLength, SeekSource, ReadSource, RefuseWrite, SourcePosition};

struct Source {
    std::string Path;
    SourceBytes Bytes;  // outlives File, which reads through it
    std::unique_ptr<SNDFILE, CloseSoundFile> File;
    SF_INFO Info{};
    ProgressLine* Line = nullptr;
    std::vector<double> Raw;  // a block as read, Info.channels samples a frame
    std::vector<int> RawIntegers;
};

std::string OpenSource(const std::string& path, Source& source) {
    // Regular files alone: a FIFO or a device would block or could not be
    // read twice.
    const OpenResult open = OpenForReading(path);
    if (open.File == NoFile) {
        const bool regular = open.Error != EISDIR && open.Error != NotRegularFile;
        return path + ": " + (regular ? ErrorText(open.Error) : "not a regular file");
    }
    source.Path = path;
    source.Bytes.File = open.File;
    source.Bytes.Length = FileLength(open.File);
    if (source.Bytes.Length < 0) return path + ": cannot read it: its size is unknown";
    source.File.reset(sf_open_virtual(&SourceCalls, SFM_READ, &source.Info, &source.Bytes));
    if (!source.File) return path + ": cannot read it: " + sf_strerror(nullptr);
    if (source.Info.channels > 2)
        return path + ": it has " + std::to_string(source.Info.channels) +
               " channels; only mono and stereo recordings can be prepared";
    if (source.Info.samplerate <= 0)
        return path + ": no sample rate (" + std::to_string(source.Info.samplerate) + ")";
    return "";
}

std::string FormatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return "format " + std::to_string(format);
    return info.name;
}

std::string DescribeSource(const SF_INFO& info) {
    return FormatName(info.format & SF_FORMAT_TYPEMASK) + ", " +
           FormatName(info.format & SF_FORMAT_SUBMASK) + ", " + std::to_string(info.samplerate) +
           " Hz, " + std::to_string(info.channels) +
           (info.channels == 1 ? " channel" : " channels");
}

// Integer samples of 24 bits or fewer are whole 24-bit steps: they can be
// copied without rounding.
bool HoldsWholeSteps(const SF_INFO& info) {
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
            return true;
        default:
            return false;
    }
}

std::string ReadFailure(const Source& source) {
    return source.Path + ": cannot read it: " + sf_strerror(source.File.get());
}

// Up to BlockFrames frames as stereo in 24-bit steps, a mono sample on both
// sides; 0 at the end. A sample that is no number (a broken float file)
// would make every peak and gain meaningless.
int64_t ReadSteps(Source& source, std::vector<double>& stereo, std::string& failure) {
    const int channels = source.Info.channels;
    source.Raw.resize(size_t(BlockFrames * channels));
    const sf_count_t frames = sf_readf_double(source.File.get(), source.Raw.data(), BlockFrames);
    if (frames < BlockFrames && sf_error(source.File.get()) != SF_ERR_NO_ERROR) {
        failure = ReadFailure(source);
        return 0;
    }
    stereo.resize(size_t(2 * frames));
    for (sf_count_t n = 0; n < frames; ++n) {
        for (int side = 0; side < 2; ++side) {
            const double value = source.Raw[size_t(n * channels + side % channels)];
            if (!std::isfinite(value)) {
                failure = source.Path + ": it holds samples that are not numbers";
                return 0;
            }
            stereo[size_t(2 * n + side)] = value * StepsPerUnit;
        }
    }
    AdvanceProgress(*source.Line, frames);
    return frames;
}

// The same as whole 24-bit steps, for a source that holds them: the
// library gives them left-aligned in 32 bits.
int64_t ReadWholeSteps(Source& source, std::vector<int32_t>& stereo, std::string& failure) {
    const int channels = source.Info.channels;
    source.RawIntegers.resize(size_t(BlockFrames * channels));
    const sf_count_t frames =
        sf_readf_int(source.File.get(), source.RawIntegers.data(), BlockFrames);
    if (frames < BlockFrames && sf_error(source.File.get()) != SF_ERR_NO_ERROR) {
        failure = ReadFailure(source);
        return 0;
    }
    stereo.resize(size_t(2 * frames));
    for (sf_count_t n = 0; n < frames; ++n) {
        for (int side = 0; side < 2; ++side)
            stereo[size_t(2 * n + side)] =
                source.RawIntegers[size_t(n * channels + side % channels)] >> 8;
    }
    AdvanceProgress(*source.Line, frames);
    return frames;
}

// ---- Resampling ------------------------------------------------------------------------------

// The recording at 96 kHz, block by block. The same source read from its
// start gives the same blocks, so both passes see the same samples.
struct Stream {
    Source* From = nullptr;
    std::unique_ptr<soxr, DeleteResampler> Resampler;  // none at 96 kHz already
    std::vector<double> Read;
    int64_t Offset = 0, Pending = 0;  // frames of Read the resampler has not taken
    bool InputEnded = false;
    std::vector<double> Resampled;
};

// The 28-bit quality, so that the resampler's own errors stay below the last
// of the 24 bits written.
std::string StartStream(Source& source, Stream& stream) {
    stream.From = &source;
    if (source.Info.samplerate == AcceptedRate) return "";
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    stream.Resampler.reset(
        soxr_create(source.Info.samplerate, AcceptedRate, 2, &error, &io, &quality, nullptr));
    if (error) return source.Path + ": cannot resample it: " + error;
    const double ratio = double(AcceptedRate) / source.Info.samplerate;
    stream.Resampled.resize(size_t(2 * (std::ceil(BlockFrames * ratio) + 1024)));
    return "";
}

// The next frames, interleaved stereo in 24-bit steps; 0 at the end.
int64_t NextBlock(Stream& stream, const double*& frames, std::string& failure) {
    if (!stream.Resampler) {
        const int64_t count = ReadSteps(*stream.From, stream.Read, failure);
        frames = stream.Read.data();
        return count;
    }
    const size_t room = stream.Resampled.size() / 2;
    for (;;) {
        if (stream.Pending == 0 && !stream.InputEnded) {
            stream.Pending = ReadSteps(*stream.From, stream.Read, failure);
            stream.Offset = 0;
            if (!failure.empty()) return 0;
            stream.InputEnded = stream.Pending == 0;
        }
        size_t taken = 0, made = 0;
        // Past the input's end, no input asks the resampler for its last frames.
        soxr_error_t error =
            stream.InputEnded
                ? soxr_process(stream.Resampler.get(), nullptr, 0, nullptr, stream.Resampled.data(),
                               room, &made)
                : soxr_process(stream.Resampler.get(), stream.Read.data() + 2 * stream.Offset,
                               size_t(stream.Pending), &taken, stream.Resampled.data(), room,
                               &made);
        if (error) {
            failure = stream.From->Path + ": cannot resample it: " + error;
            return 0;
        }
        // Its output has room for a whole block, so it always takes some.
        if (taken == 0 && made == 0 && !stream.InputEnded) {
            failure = stream.From->Path + ": cannot resample it: the resampler took nothing";
            return 0;
        }
        stream.Offset += int64_t(taken);
        stream.Pending -= int64_t(taken);
        frames = stream.Resampled.data();
        if (made > 0 || stream.InputEnded) return int64_t(made);
    }
}

std::string Rewind(Source& source) {
    if (sf_seek(source.File.get(), 0, SEEK_SET) != 0)
        return source.Path + ": cannot read it a second time: " + sf_strerror(source.File.get());
    return "";
}

// ---- Passes ----------------------------------------------------------------------------------

std::string TooLong(const std::string& path, int64_t frames) {
    char text[160];
    std::snprintf(text, sizeof text,
                  ": too long for phonoskew (%.1f minutes at 96 kHz; it takes at most %.1f)",
                  double(frames) / AcceptedRate / 60.0, double(MostFrames) / AcceptedRate / 60.0);
    return path + text;
}

// The first pass: the peaks of the signal and of its four filtered forms.
std::string MeasureRecording(Source& source, PeakMeter& meter) {
    Stream stream;
    std::string failure = StartStream(source, stream);
    const double* frames = nullptr;
    while (failure.empty()) {
        const int64_t count = NextBlock(stream, frames, failure);
        if (count == 0) break;
        MeasurePeaks(meter, frames, count);
    }
    FinishPeaks(meter);
    return failure;
}

// The second pass: each sample with the gain and two fresh draws of the
// program's dither source, clipped and packed.
std::string ConvertRecording(Source& source, double gain, std::vector<uint8_t>& packed,
                             int64_t& clipped) {
    Stream stream;
    std::string failure = StartStream(source, stream);
    RandomSource random;
    const double* frames = nullptr;
    while (failure.empty()) {
        const int64_t count = NextBlock(stream, frames, failure);
        if (count == 0) break;
        const size_t at = packed.size();
        if (int64_t(at / BytesPerFrame) + count > MostFrames)
            return TooLong(source.Path, int64_t(at / BytesPerFrame) + count);
        packed.resize(at + size_t(count * BytesPerFrame));
        for (int64_t i = 0; i < 2 * count; ++i) {
            const int64_t sample = ClipSample24(DitherSample(frames[i] * gain, random), clipped);
            StoreSample24(sample, &packed[at + size_t(3 * i)]);
        }
    }
    return failure;
}

// Whole steps at 96 kHz with no gain: the samples as they are.
std::string CopyRecording(Source& source, std::vector<uint8_t>& packed) {
    std::vector<int32_t> stereo;
    std::string failure;
    for (;;) {
        const int64_t count = ReadWholeSteps(source, stereo, failure);
        if (count == 0) break;
        const size_t at = packed.size();
        if (int64_t(at / BytesPerFrame) + count > MostFrames)
            return TooLong(source.Path, int64_t(at / BytesPerFrame) + count);
        packed.resize(at + size_t(count * BytesPerFrame));
        for (int64_t i = 0; i < 2 * count; ++i)
            StoreSample24(stereo[i], &packed[at + size_t(3 * i)]);
    }
    return failure;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(FileSystemPath(a), FileSystemPath(b), error) && !error;
}

std::string PrepareSamples(const PrepareRequest& request, Source& source, PrepareResult& result,
                           std::vector<uint8_t>& packed) {
    const SF_INFO& info = source.Info;
    result.Source = DescribeSource(info);
    result.SourceRate = info.samplerate;
    result.Resampled = info.samplerate != AcceptedRate;
    // A length the file does not state (a FLAC stream without it) is found
    // by reading; the check after each block still holds.
    const bool lengthKnown = info.frames > 0 && info.frames < SF_COUNT_MAX;
    const int64_t expected =
        lengthKnown ? int64_t(double(info.frames) * AcceptedRate / info.samplerate) : 0;
    if (expected > MostFrames) return TooLong(source.Path, expected);

    source.Line->Total = lengthKnown ? info.frames * (request.HasGain ? 1 : 2) : 0;

    bool copy = !result.Resampled && HoldsWholeSteps(info);
    result.GainDb = request.GainDb;
    if (request.HasGain) {
        copy = copy && request.GainDb == 0.0;
    } else {
        PeakMeter meter = StartPeakMeter(request.Sets);
        std::string failure = MeasureRecording(source, meter);
        if (failure.empty()) failure = Rewind(source);
        if (!failure.empty()) return failure;
        copy = copy && HeadroomGainDb(meter, false) == 0.0;
        result.GainDb = copy ? 0.0 : HeadroomGainDb(meter, true);
        if (!(result.GainDb >= LowestGainDb))
            return source.Path +
                   ": the coefficient sets would need more than 100 dB of headroom; give --gain";
    }
    result.Copied = copy;
    packed.reserve(size_t(expected * BytesPerFrame));
    const std::string failure = copy
                                    ? CopyRecording(source, packed)
                                    : ConvertRecording(source, std::pow(10.0, result.GainDb / 20.0),
                                                       packed, result.Clipped);
    result.Frames = int64_t(packed.size() / BytesPerFrame);
    return failure;
}

}  // namespace

PrepareResult PrepareRecording(const PrepareRequest& request) {
    PrepareResult result;
    // Replacing the input would lose the recording if anything went wrong.
    if (IsSameFile(request.Input, request.Output)) {
        result.Failure = request.Output + ": this is the input itself; give another output name";
        return result;
    }
    Source source;
    result.Failure = OpenSource(request.Input, source);
    if (!result.Failure.empty()) return result;
    std::vector<uint8_t> packed;
    ProgressLine progress;
    progress.Enabled = request.ShowProgress;
    source.Line = &progress;
    try {
        result.Failure = PrepareSamples(request, source, result, packed);
    } catch (const std::bad_alloc&) {
        result.Failure = request.Input + ": not enough memory for its samples at 96 kHz";
    }
    EndProgress(progress);  // before any message
    if (!result.Failure.empty()) return result;
    source.File.reset();
    CloseFile(source.Bytes.File);
    source.Bytes.File = NoFile;

    const auto header = MakeOutputHeader(ConsistentWaveInfo(), uint32_t(packed.size()));
    const std::string reason = WriteWaveFile(request.Output, header, packed);
    if (!reason.empty()) result.Failure = request.Output + ": cannot write it: " + reason;
    return result;
}
