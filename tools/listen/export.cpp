// Files for other tools: a side with its matching gain as 24-bit samples,
// and a new WAVE file that never replaces one already there.
#include <cerrno>

#include "listen/listen.h"
#include "system/files.h"
#include "system/quoting.h"
#include "wave/dither.h"

std::vector<uint8_t> ApplyGain(const std::vector<uint8_t>& packed, double gainDb,
                               RandomSource& random) {
    if (gainDb == 0.0) return packed;
    const double factor = DbToFactor(gainDb);
    const size_t frames = packed.size() / BytesPerFrame;
    std::vector<double> left(frames), right(frames);
    for (size_t n = 0; n < frames; ++n) {
        left[n] = double(DecodeSample24(&packed[BytesPerFrame * n])) * factor;
        right[n] = double(DecodeSample24(&packed[BytesPerFrame * n + 3])) * factor;
    }
    // The program's own triangular dither and pack, as every output has.
    std::vector<uint8_t> gained(packed.size());
    DitherAndPackScalar(left, right, gained, random);
    return gained;
}

std::string WriteNewWave(const std::string& path, const WaveInfo& info,
                         const std::vector<uint8_t>& packed) {
    if (const OpenResult open = OpenForReading(path); open.Error != ENOENT) {
        CloseFile(open.File);
        return QuotedArgument(path) + " exists: left as it is";
    }
    const auto header = MakeOutputHeader(info, OutputDataSize(info));
    const std::string failure = WriteWaveFile(path, header, packed);
    return failure.empty() ? "" : QuotedArgument(path) + ": " + failure;
}
