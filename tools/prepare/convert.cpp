// The conversion: one pass reads the recording block by block, folds its
// channels to stereo where asked, resamples it to 96 kHz once and either
// writes it with the gain given or measures its peaks while it keeps the
// signal in a scratch file beside the output; a second pass then takes the
// kept signal back with the gain found, dithers and packs it. Memory stays
// a few blocks whatever the recording's length; the output is written
// under no name (or a temporary one) and named only when whole.
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <thread>

#include "prepare/prepare.h"
#include "system/files.h"
#include "system/signals.h"
#include "wave/dither.h"
#include "wave/wave.h"

namespace {

constexpr int AcceptedRate = 96000;
// Rates of real recordings: telephone speech (8 kHz) and below, up to the
// highest PCM rates recorders write (768 kHz).
constexpr int LowestRate = 1000;
constexpr int HighestRate = 768000;
// A block is about this many frames at 96 kHz, and its samples as read
// take at most RawBlockBytes, so a block's arrays stay a few MiB.
constexpr int64_t OutputBlockFrames = 65536;
constexpr int64_t RawBlockBytes = int64_t{4} << 20;
// 1.0 of the library's floating-point samples is 2^23 steps of 24 bits.
constexpr double StepsPerUnit = 8388608.0;
constexpr double LowestGainDb = -100.0;

// ---- Progress ---------------------------------------------------------------------------

// Each pass's name and its share done, on standard error, rewritten in
// place; only once a run has taken a second, so that a short file flashes
// nothing. While it is shown the line is open, and an ending signal ends it.
struct ProgressLine {
    bool Enabled = false;
    std::string Pass;   // "pass 1 of 2, reading and measuring"
    int64_t Total = 0;  // frames of the pass, 0 when not known
    int64_t Done = 0;
    int Rate = 0;  // of the frames counted, to show the time read when the total is unknown
    std::string Shown;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

void StartPass(ProgressLine& progress, const std::string& pass, int64_t total, int rate) {
    progress.Pass = pass;
    progress.Total = total;
    progress.Done = 0;
    progress.Rate = rate;
}

void ShowProgress(ProgressLine& progress, const std::string& text) {
    if (text == progress.Shown) return;
    const size_t blanks =
        progress.Shown.size() > text.size() ? progress.Shown.size() - text.size() : 0;
    SetOpenLine(true);
    std::fprintf(stderr, "\r%s%s", text.c_str(), std::string(blanks, ' ').c_str());
    progress.Shown = text;
}

void AdvanceProgress(ProgressLine& progress, int64_t frames) {
    progress.Done += frames;
    if (!progress.Enabled) return;
    if (std::chrono::steady_clock::now() - progress.Start < std::chrono::seconds(1)) return;
    char amount[48];
    if (progress.Total > 0) {
        std::snprintf(amount, sizeof amount, "%d%%",
                      int(std::min<int64_t>(99, progress.Done * 100 / progress.Total)));
    } else {
        const int64_t seconds = progress.Done / std::max(progress.Rate, 1);
        std::snprintf(amount, sizeof amount, "%lld:%02lld of the recording",
                      static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    }
    ShowProgress(progress, "phonoskew-prepare: " + progress.Pass + ": " + amount);
}

void EndProgress(ProgressLine& progress) {
    if (progress.Shown.empty()) return;
    std::fprintf(stderr, "\r%s\r", std::string(progress.Shown.size(), ' ').c_str());
    progress.Shown.clear();
    SetOpenLine(false);
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
    StereoWeights Weights;  // each channel's share of left and right
    std::string Downmix;    // "" or how the channels are folded
    int64_t BlockFrames = 0;
    ProgressLine* Line = nullptr;
    std::vector<double> Raw;  // a block as read, Info.channels samples a frame
};

std::string RateProblem(const std::string& path, int rate) {
    if (rate >= LowestRate && rate <= HighestRate) return "";
    return path + ": its sample rate, " + std::to_string(rate) +
           " Hz, is not a recording's (phonoskew-prepare takes " + std::to_string(LowestRate) +
           " to " + std::to_string(HighestRate) + " Hz)";
}

// How each channel goes to left and right: as it is, mono on both sides, or
// folded down when asked.
std::string ChooseWeights(Source& source, bool downmix) {
    const int channels = source.Info.channels;
    if (channels <= 2) {
        source.Weights =
            channels == 1 ? StereoWeights{{{1.0}, {1.0}}} : StereoWeights{{{1.0, 0.0}, {0.0, 1.0}}};
        return "";
    }
    if (!downmix)
        return source.Path + ": it has " + std::to_string(channels) +
               " channels; --downmix folds them to stereo (ITU-R BS.775)";
    std::vector<int> map(size_t(channels), SF_CHANNEL_MAP_INVALID);
    if (sf_command(source.File.get(), SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   int(map.size() * sizeof(int))) != SF_TRUE)
        std::fill(map.begin(), map.end(), SF_CHANNEL_MAP_INVALID);
    const DownmixPlan plan = PlanDownmix(map);
    if (!plan.Problem.empty()) return source.Path + ": " + plan.Problem;
    source.Weights = plan.Weights;
    source.Downmix = plan.Description;
    return "";
}

std::string OpenSource(const std::string& path, bool downmix, Source& source) {
    // Regular files alone: a FIFO or a device would block.
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
    const std::string rate = RateProblem(path, source.Info.samplerate);
    if (!rate.empty()) return rate;
    const std::string weights = ChooseWeights(source, downmix);
    if (!weights.empty()) return weights;
    // About OutputBlockFrames at 96 kHz, within RawBlockBytes as read.
    const int64_t wanted = OutputBlockFrames * source.Info.samplerate / AcceptedRate;
    source.BlockFrames = std::clamp<int64_t>(
        wanted, 1, std::max<int64_t>(1, RawBlockBytes / (8 * source.Info.channels)));
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

// Up to BlockFrames frames as stereo in 24-bit steps; 0 at the end. A
// sample that is no number (a broken float file) would make every peak and
// gain meaningless.
int64_t ReadSteps(Source& source, std::vector<double>& stereo, std::string& failure) {
    const int channels = source.Info.channels;
    source.Raw.resize(size_t(source.BlockFrames * channels));
    const sf_count_t frames =
        sf_readf_double(source.File.get(), source.Raw.data(), source.BlockFrames);
    if (frames < source.BlockFrames && sf_error(source.File.get()) != SF_ERR_NO_ERROR) {
        failure = source.Path + ": cannot read it: " + sf_strerror(source.File.get());
        return 0;
    }
    stereo.resize(size_t(2 * frames));
    for (sf_count_t n = 0; n < frames; ++n) {
        const double* frame = source.Raw.data() + n * channels;
        for (int side = 0; side < 2; ++side) {
            const std::vector<double>& weights = source.Weights[side];
            double value = 0.0;
            for (int c = 0; c < channels; ++c) value += frame[c] * weights[size_t(c)];
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

// ---- Resampling ------------------------------------------------------------------------------

// The recording at 96 kHz, block by block.
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
    stream.Resampled.resize(size_t(2 * (std::ceil(double(source.BlockFrames) * ratio) + 1024)));
    return "";
}

// The next frames, interleaved stereo in 24-bit steps; 0 at the end.
int64_t NextBlock(Stream& stream, double*& frames, std::string& failure) {
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

// ---- The kept signal ---------------------------------------------------------------------------

// Between the measuring and the writing, the signal at 96 kHz waits in a
// scratch file as 48-bit integers of 2^-16 steps: far finer than the
// resampler's own errors, with room up to +48 dBFS, 12 bytes a frame.
constexpr double KeptUnitsPerStep = 65536.0;
constexpr double KeptLimitSteps = 2147483648.0;
constexpr int KeptBytesPerFrame = 12;

// Every sample on the kept grid, in both ways of running, so that a gain
// given with --gain makes the bytes the same gain found makes.
void RoundToKeptGrid(double* values, int64_t count) {
    for (int64_t i = 0; i < count; ++i)
        values[i] = std::rint(values[i] * KeptUnitsPerStep) / KeptUnitsPerStep;
}

// The same bytes on either byte order.
uint64_t LittleEndian64(uint64_t value) {
    if constexpr (std::endian::native == std::endian::little) return value;
    uint64_t swapped = 0;
    for (int b = 0; b < 8; ++b) swapped |= ((value >> (8 * b)) & 0xFF) << (8 * (7 - b));
    return swapped;
}

struct KeptSignal {
    FileHandle File = NoFile;
    int64_t Frames = 0;
    std::vector<uint8_t> Bytes;
    KeptSignal() = default;
    KeptSignal(const KeptSignal&) = delete;
    KeptSignal& operator=(const KeptSignal&) = delete;
    ~KeptSignal() { CloseFile(File); }
};

// Each sample as the low 6 bytes of its 64-bit integer, little-endian;
// the 2 bytes written beyond are the next sample's, or the buffer's slack.
std::string KeepBlock(KeptSignal& kept, const double* frames, int64_t count,
                      const std::string& path) {
    kept.Bytes.resize(size_t(count * KeptBytesPerFrame + 2));
    for (int64_t i = 0; i < 2 * count; ++i) {
        if (!(std::fabs(frames[i]) < KeptLimitSteps))
            return path + ": it peaks above +48 dBFS; give --gain";
        const uint64_t value =
            LittleEndian64(static_cast<uint64_t>(std::llrint(frames[i] * KeptUnitsPerStep)));
        std::memcpy(&kept.Bytes[size_t(6 * i)], &value, 8);
    }
    const int error = WriteAt(kept.File, std::span(kept.Bytes).first(kept.Bytes.size() - 2),
                              uint64_t(kept.Frames) * KeptBytesPerFrame);
    if (error != 0)
        return path + ": cannot keep its samples beside the output: " + ErrorText(error);
    kept.Frames += count;
    return "";
}

std::string TakeKeptBlock(KeptSignal& kept, int64_t from, int64_t count,
                          std::vector<double>& frames) {
    const size_t size = size_t(count * KeptBytesPerFrame);
    kept.Bytes.resize(size + 2);
    const ReadResult read =
        ReadAt(kept.File, kept.Bytes.data(), size, uint64_t(from) * KeptBytesPerFrame);
    if (read.Bytes != size)
        return "cannot read back the samples kept beside the output: " +
               ErrorText(read.Error != 0 ? read.Error : EIO);
    frames.resize(size_t(2 * count));
    for (int64_t i = 0; i < 2 * count; ++i) {
        uint64_t value = 0;
        std::memcpy(&value, &kept.Bytes[size_t(6 * i)], 8);
        // Sign-extended from 48 bits.
        const auto whole = static_cast<int64_t>(LittleEndian64(value) << 16) >> 16;
        frames[size_t(i)] = double(whole) / KeptUnitsPerStep;
    }
    return "";
}

// ---- Writing ---------------------------------------------------------------------------------

std::string TooLong(const std::string& path, int64_t frames) {
    char text[160];
    std::snprintf(text, sizeof text,
                  ": too long for phonoskew (%.1f minutes at 96 kHz; it takes at most %.1f)",
                  double(frames) / AcceptedRate / 60.0, double(MostFrames) / AcceptedRate / 60.0);
    return path + text;
}

// The output under way: header last, once its size is known.
struct Writer {
    OutputFile Output;
    std::string InputPath;
    double Gain = 1.0;
    bool Copy = false;  // the samples as they are: whole steps, no gain
    RandomSource Random;
    int64_t Frames = 0;
    int64_t Clipped = 0;
    std::vector<uint8_t> Packed;
};

// Samples [from, to) of a block (interleaved) with the gain and two fresh
// draws each of `random`, which stands at sample `from`'s first draw;
// clipped and packed. Copying, as they are.
int64_t PackSamples(const Writer& writer, const double* samples, int64_t from, int64_t to,
                    RandomSource random, uint8_t* packed) {
    int64_t clipped = 0;
    for (int64_t i = from; i < to; ++i) {
        const int64_t sample =
            writer.Copy ? ClipSample24(int64_t(samples[i]), clipped)
                        : ClipSample24(DitherSample(samples[i] * writer.Gain, random), clipped);
        StoreSample24(sample, packed + 3 * i);
    }
    return clipped;
}

// A block's second half is dithered on a helper thread, the random source
// skipped to where the first half leaves it, so the bytes are those of one
// pass in frame order.
std::string WriteBlock(Writer& writer, const double* frames, int64_t count) {
    if (writer.Frames + count > MostFrames) return TooLong(writer.InputPath, writer.Frames + count);
    writer.Packed.resize(size_t(count * BytesPerFrame));
    const int64_t half = count;  // samples in each half: the frames of the block
    int64_t secondClipped = 0;
    {
        std::jthread second;
        StartHelperThread(second, [&writer, &secondClipped, frames, half] {
            secondClipped =
                PackSamples(writer, frames, half, 2 * half, writer.Random.Skip(2 * uint64_t(half)),
                            writer.Packed.data());
        });
        writer.Clipped += PackSamples(writer, frames, 0, half, writer.Random, writer.Packed.data());
    }
    writer.Clipped += secondClipped;
    if (!writer.Copy) writer.Random = writer.Random.Skip(DitherDraws(count));
    const int error = WriteAt(writer.Output.File, writer.Packed,
                              HeaderSize + uint64_t(writer.Frames) * BytesPerFrame);
    if (error != 0) return writer.Output.Path + ": cannot write it: " + ErrorText(error);
    writer.Frames += count;
    return "";
}

std::string FinishOutput(Writer& writer) {
    const auto header =
        MakeOutputHeader(ConsistentWaveInfo(), uint32_t(writer.Frames * BytesPerFrame));
    int error = WriteAt(writer.Output.File, header, 0);
    if (error != 0) {
        DiscardOutputFile(writer.Output);
        return writer.Output.Path + ": cannot write it: " + ErrorText(error);
    }
    error = NameOutputFile(writer.Output);
    return error == 0 ? "" : writer.Output.Path + ": cannot write it: " + ErrorText(error);
}

// ---- A file cut short --------------------------------------------------------------------------

uint32_t Little32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}
uint32_t Big32(const uint8_t* at) {
    return uint32_t(at[3]) | uint32_t(at[2]) << 8 | uint32_t(at[1]) << 16 | uint32_t(at[0]) << 24;
}

// The frames a WAVE (RF64 too) or AIFF header promises, walking its chunks
// up to the data; -1 for other forms or a header that does not say.
// libsndfile reads what the file holds and says nothing of the rest.
int64_t DeclaredFrames(const SourceBytes& bytes, const SF_INFO& info) {
    const int type = info.format & SF_FORMAT_TYPEMASK;
    const bool wave = type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64;
    if (!wave && type != SF_FORMAT_AIFF) return -1;
    uint64_t dataSize64 = 0, blockAlign = 0;
    uint8_t chunk[36];
    int64_t at = 12;
    for (int n = 0; n < 1000 && at + 8 <= bytes.Length; ++n) {
        const ReadResult read = ReadAt(bytes.File, chunk, sizeof chunk, uint64_t(at));
        if (read.Bytes < 8) return -1;
        const uint32_t size = wave ? Little32(chunk + 4) : Big32(chunk + 4);
        const bool whole = read.Bytes >= sizeof chunk;
        if (!wave && std::memcmp(chunk, "COMM", 4) == 0 && whole) return Big32(chunk + 10);
        if (wave && std::memcmp(chunk, "ds64", 4) == 0 && whole)
            dataSize64 = Little32(chunk + 16) | uint64_t(Little32(chunk + 20)) << 32;
        if (wave && std::memcmp(chunk, "fmt ", 4) == 0 && whole)
            blockAlign = uint64_t(chunk[20]) | uint64_t(chunk[21]) << 8;
        if (wave && std::memcmp(chunk, "data", 4) == 0) {
            // All ones without a ds64 size: a stream's "until the end".
            if (size == 0xFFFFFFFFu && dataSize64 == 0) return -1;
            const uint64_t data = size == 0xFFFFFFFFu ? dataSize64 : size;
            return blockAlign > 0 ? int64_t(data / blockAlign) : -1;
        }
        at += 8 + int64_t(size) + (size & 1);
    }
    return -1;
}

// ---- Passes ----------------------------------------------------------------------------------

// With the gain given: read, resample and write in one pass.
std::string ConvertInOnePass(Source& source, Writer& writer) {
    Stream stream;
    std::string failure = StartStream(source, stream);
    double* frames = nullptr;
    while (failure.empty()) {
        const int64_t count = NextBlock(stream, frames, failure);
        if (count == 0) break;
        RoundToKeptGrid(frames, 2 * count);
        failure = WriteBlock(writer, frames, count);
    }
    return failure;
}

// The first pass of the headroom: the peaks of the signal and of its four
// filtered forms, the signal kept for the second. Each block's two
// channels are measured on two helper threads while this one keeps the
// block and reads and resamples the next; the helpers take a copy, as the
// stream reuses its arrays.
std::string MeasureAndKeep(Source& source, PeakMeter& meter, KeptSignal& kept) {
    Stream stream;
    std::string failure = StartStream(source, stream);
    double* frames = nullptr;
    std::array<PeakMeter, 2> meters = {meter, meter};
    std::vector<double> measured;
    std::array<std::jthread, 2> measuring;
    const auto joinMeasuring = [&measuring] {
        for (std::jthread& thread : measuring)
            if (thread.joinable()) thread.join();
    };
    while (failure.empty()) {
        const int64_t count = NextBlock(stream, frames, failure);
        if (count == 0) break;
        if (kept.Frames + count > MostFrames) {
            failure = TooLong(source.Path, kept.Frames + count);
            break;
        }
        RoundToKeptGrid(frames, 2 * count);
        joinMeasuring();
        measured.assign(frames, frames + 2 * count);
        for (int channel = 0; channel < 2; ++channel) {
            PeakMeter& channelMeter = meters[size_t(channel)];
            channelMeter.Channel = channel;
            StartHelperThread(measuring[size_t(channel)],
                              [&channelMeter, &measured] { MeasurePeaks(channelMeter, measured); });
        }
        failure = KeepBlock(kept, frames, count, source.Path);
    }
    joinMeasuring();
    for (PeakMeter& channelMeter : meters) FinishPeaks(channelMeter);
    meter = meters[0];
    CombinePeaks(meter, meters[1]);
    return failure;
}

// The second pass: the kept signal with the gain found.
std::string WriteKept(KeptSignal& kept, Writer& writer, ProgressLine& progress) {
    std::vector<double> frames;
    for (int64_t from = 0; from < kept.Frames; from += OutputBlockFrames) {
        const int64_t count = std::min(OutputBlockFrames, kept.Frames - from);
        std::string failure = TakeKeptBlock(kept, from, count, frames);
        if (!failure.empty()) return writer.Output.Path + ": " + failure;
        failure = WriteBlock(writer, frames.data(), count);
        if (!failure.empty()) return failure;
        AdvanceProgress(progress, count);
    }
    return "";
}

std::string FindHeadroomAndWrite(const PrepareRequest& request, Source& source,
                                 PrepareResult& result, Writer& writer) {
    ProgressLine& progress = *source.Line;
    KeptSignal kept;
    const OpenResult scratch = CreateScratchFile(request.Output);
    if (scratch.File == NoFile)
        return request.Output + ": cannot write beside it: " + ErrorText(scratch.Error);
    kept.File = scratch.File;
    PeakMeter meter = StartPeakMeter(request.Sets, !request.SamplePeak);
    StartPass(progress, "pass 1 of 2, reading and measuring", source.Line->Total,
              source.Info.samplerate);
    std::string failure = MeasureAndKeep(source, meter, kept);
    if (!failure.empty()) return failure;
    writer.Copy = writer.Copy && HeadroomGainDb(meter, false) == 0.0;
    result.GainDb = writer.Copy ? 0.0 : HeadroomGainDb(meter, true);
    if (!(result.GainDb >= LowestGainDb))
        return source.Path +
               ": the coefficient sets would need more than 100 dB of headroom; give --gain";
    writer.Gain = std::pow(10.0, result.GainDb / 20.0);
    StartPass(progress, "pass 2 of 2, writing", kept.Frames, AcceptedRate);
    return WriteKept(kept, writer, progress);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(FileSystemPath(a), FileSystemPath(b), error) && !error;
}

std::string PrepareSamples(const PrepareRequest& request, Source& source, PrepareResult& result,
                           Writer& writer) {
    const SF_INFO& info = source.Info;
    result.Source = DescribeSource(info);
    result.SourceRate = info.samplerate;
    result.Resampled = info.samplerate != AcceptedRate;
    result.Downmix = source.Downmix;
    // A length the file does not state (a FLAC stream without it) is found
    // by reading; the check after each block still holds.
    const bool lengthKnown = info.frames > 0 && info.frames < SF_COUNT_MAX;
    const int64_t expected =
        lengthKnown ? int64_t(double(info.frames) * AcceptedRate / info.samplerate) : 0;
    if (expected > MostFrames) return TooLong(source.Path, expected);
    const int64_t declared = DeclaredFrames(source.Bytes, info);
    if (lengthKnown && declared > info.frames) {
        result.DeclaredFrames = declared;
        result.MissingFrames = declared - info.frames;
    }
    source.Line->Total = lengthKnown ? info.frames : 0;

    writer.Copy = !result.Resampled && HoldsWholeSteps(info) && source.Downmix.empty();
    result.GainDb = request.GainDb;
    std::string failure;
    if (request.HasGain) {
        writer.Copy = writer.Copy && request.GainDb == 0.0;
        writer.Gain = std::pow(10.0, request.GainDb / 20.0);
        StartPass(*source.Line, "reading and writing", source.Line->Total, info.samplerate);
        failure = ConvertInOnePass(source, writer);
    } else {
        failure = FindHeadroomAndWrite(request, source, result, writer);
    }
    result.Copied = writer.Copy;
    result.Frames = writer.Frames;
    result.Clipped = writer.Clipped;
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
    result.Failure = OpenSource(request.Input, request.Downmix, source);
    if (!result.Failure.empty()) return result;
    Writer writer;
    writer.InputPath = request.Input;
    writer.Output = CreateOutputFile(request.Output);
    if (writer.Output.File == NoFile || writer.Output.Error != 0) {
        DiscardOutputFile(writer.Output);
        result.Failure = request.Output + ": cannot write it: " + ErrorText(writer.Output.Error);
        return result;
    }
    ProgressLine progress;
    progress.Enabled = request.ShowProgress;
    source.Line = &progress;
    try {
        result.Failure = PrepareSamples(request, source, result, writer);
    } catch (const std::bad_alloc&) {
        result.Failure = request.Input + ": not enough memory for its blocks";
    }
    EndProgress(progress);  // before any message
    if (result.Failure.empty()) result.Failure = FinishOutput(writer);
    if (!result.Failure.empty()) DiscardOutputFile(writer.Output);
    return result;
}
