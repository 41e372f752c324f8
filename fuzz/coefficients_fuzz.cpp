// Fuzz target: a coefficient file's text cut into fields and parsed, from
// memory and from a file. The three readings must agree bit for bit: each
// parsed coefficient is its field's text through ParseNumber, and the file
// gives what the same text in memory gives, its joined lines included.
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "filters/filters.h"
#include "numeric/numeric.h"

namespace {

// The coefficient file: a file in memory, opened again by its name under
// /proc, so that no disk write slows each run down.
int fileFd = -1;
std::string fileName;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool WriteCoefficientFile(std::string_view text) {
    if (ftruncate(fileFd, 0) != 0) return false;
    for (size_t done = 0; done < text.size();) {
        ssize_t written = pwrite(fileFd, text.data() + done, text.size() - done, off_t(done));
        if (written <= 0) return false;
        done += size_t(written);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetNumericEnvironment();
    fileFd = memfd_create("FO.dat", MFD_CLOEXEC);
    if (fileFd < 0) std::abort();
    fileName = "/proc/self/fd/" + std::to_string(fileFd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CoefficientSet values = ParseCoefficientText(text);
    std::array<std::string, TapCount> fields = ReadCoefficientFields(text);
    for (int i = 0; i < TapCount; ++i) {
        double fromField = static_cast<double>(ParseNumber(fields[i]));
        if (!SameBits(values[i], fromField)) std::abort();
    }

    if (!WriteCoefficientFile(text)) {
        std::perror("coefficient file in memory");  // the fuzz target's own fault
        std::abort();
    }
    CoefficientLoad load = LoadCoefficients(fileName);
    if (!load.Opened) std::abort();
    for (int i = 0; i < TapCount; ++i)
        if (!SameBits(values[i], load.Values[i])) std::abort();
    if (load.Survey.JoinedLines != SurveyCoefficientText(text).JoinedLines) std::abort();
    return 0;
}
