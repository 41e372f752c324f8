// Fuzz target: ParseNumber on any bytes, and the same text fed a byte at a
// time to TakeNumberByte, as the coefficient reader does. The two must give
// the same bits whatever follows the number, and never a NaN.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "numeric/numeric.h"

namespace {

// The 80 bits of an x87 value; the padding bytes after them hold anything.
bool SameBits(Extended a, Extended b) { return std::memcmp(&a, &b, 10) == 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetNumericEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Extended whole = ParseNumber(text);

    // Every byte goes in, also those after the number's end.
    NumberScan scan;
    for (char c : text) TakeNumberByte(scan, c);
    Extended byByte = NumberValue(scan);

    if (!SameBits(whole, byByte) || std::isnan(whole)) std::abort();
    return 0;
}
