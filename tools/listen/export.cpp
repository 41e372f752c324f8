// Files for other tools: a side with its matching gain as 24-bit samples,
// and a new WAVE file that never replaces one already there.
#include <cerrno>

#include "listen/listen.h"
#include "system/files.h"

std::vector<uint8_t> ApplyGain(const std::vector<uint8_t>& packed, double gainDb,
                               RandomSource& random) {
    if (gainDb == 0.0) return packed;
    const double factor = DbToFactor(gainDb);
    std::vector<uint8_t> gained(packed.size());
    for (size_t at = 0; at + 3 <= packed.size(); at += 3) {
        // The program's triangular dither: ((r1 + y) + r2) - 1, rounded once.
        const double y = double(DecodeSample24(&packed[at])) * factor;
        const Extended r1 = random.Next();
        const Extended r2 = random.Next();
        const int64_t q = RoundToInt64(((r1 + Extended(y)) + r2) - Extended(1.0));
        const uint32_t bits = uint32_t(q);
        gained[at] = uint8_t(bits);
        gained[at + 1] = uint8_t(bits >> 8);
        gained[at + 2] = uint8_t(bits >> 16);
    }
    return gained;
}

std::string WriteNewWave(const std::string& path, const WaveInfo& info,
                         const std::vector<uint8_t>& packed) {
    if (const OpenResult open = OpenForReading(path); open.Error != ENOENT) {
        CloseFile(open.File);
        return QuotedArgument(path) + " exists: left as it is";
    }
    const auto header = MakeOutputHeader(info, OutputDataSize(info));
    const std::string failure =
        WriteWaveFile(path, header.data(), header.size(), packed.data(), packed.size());
    return failure.empty() ? "" : QuotedArgument(path) + ": " + failure;
}
