// Fuzz target: the input header's reads and checks on any bytes, as many as
// the fuzzer gives (a file may be shorter than 44 bytes), with what a
// refused file is said to be; and the output names and the conversion
// command made from the same bytes taken as the path typed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "numeric/numeric.h"
#include "system/quoting.h"
#include "wave/wave.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetNumericEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Only `size` bytes are valid: AddressSanitizer stops any read past them.
    HeaderFields fields = ReadHeaderFields(data, size);
    std::string fault = FindHeaderFault(fields);
    int32_t frames = ComputeFrameCount(fields.DataSize, fields.BitsPerSample, fields.Channels);

    // An accepted header holds 6-byte frames and a size below 2^31: the
    // count is the size over 6, rounded, and never negative.
    if (fault.empty()) {
        int64_t sixTimes = int64_t{frames} * 6;
        if (frames < 0 || sixTimes < int64_t{fields.DataSize} - 3 ||
            sixTimes > int64_t{fields.DataSize} + 3)
            std::abort();
    }

    // What a refused file is goes into a one-line message: nothing in it
    // may steer the terminal (no control bytes, only valid UTF-8), which is
    // what showing it as printable text would leave unchanged.
    const std::string description = DescribeWaveFormat(data, size);
    if (PrintableText(description) != description) std::abort();

    // No output may ever replace the input, nor another output.
    std::string path(reinterpret_cast<const char*>(data), size);
    if (!ConversionCommand(path, {}).starts_with("sox '")) std::abort();
    if (PreparedCopyPath(path, {}) == path) std::abort();
    OutputNames names = MakeOutputNames(path);
    for (size_t n = 0; n < names.size(); ++n) {
        if (names[n] == path) std::abort();
        for (size_t m = n + 1; m < names.size(); ++m)
            if (names[n] == names[m]) std::abort();
    }
    return 0;
}
