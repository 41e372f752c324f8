// Correctly rounded powers of ten, built once from exact big integers so the
// result depends neither on the C library nor on the rounding mode in force.
#include <cmath>
#include <cstdint>

#include "numeric/numeric.h"

namespace {

// 10^4950 needs 16444 bits.
constexpr int BigWordCount = 520;

struct BigInteger {
    uint32_t words[BigWordCount];  // little-endian 32-bit words
    int used;
};

// ---- Exact big integer -----------------------------------------------------

void MultiplyByTen(BigInteger& big) {
    uint64_t carry = 0;
    for (int i = 0; i < big.used; ++i) {
        uint64_t product = static_cast<uint64_t>(big.words[i]) * 10u + carry;
        big.words[i] = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0) big.words[big.used++] = static_cast<uint32_t>(carry);
}

bool BitAt(const BigInteger& big, int bit) {
    return ((big.words[bit / 32] >> (bit % 32)) & 1u) != 0;
}

bool AnyBitBelow(const BigInteger& big, int bit) {
    for (int i = 0; i < bit / 32; ++i)
        if (big.words[i] != 0) return true;
    uint32_t mask = (1u << (bit % 32)) - 1u;
    return (big.words[bit / 32] & mask) != 0;
}

// Rounds to a 64-bit significand: top 64 bits, then the next bit and the
// sticky bits below it decide, ties to even. Scaling by a power of two is exact
// (or overflows to infinity).
Extended RoundToExtended(const BigInteger& big) {
    int length = 32 * big.used - __builtin_clz(big.words[big.used - 1]);
    if (length <= 64) {
        uint64_t exact = big.words[0];
        if (big.used > 1) exact |= static_cast<uint64_t>(big.words[1]) << 32;
        return static_cast<Extended>(exact);
    }
    int low = length - 64;
    uint64_t significand = 0;
    for (int bit = length - 1; bit >= low; --bit)
        significand = (significand << 1) | (BitAt(big, bit) ? 1u : 0u);
    bool half = BitAt(big, low - 1);
    bool sticky = AnyBitBelow(big, low - 1);
    if (half && (sticky || (significand & 1u) != 0)) {
        ++significand;
        if (significand == 0) {  // carried out of 64 bits
            significand = uint64_t{1} << 63;
            ++low;
        }
    }
    return ScaleBinary(static_cast<Extended>(significand), low);
}

struct PowerTable {
    Extended values[MaxPowerOfTen + 1];
};

void FillPowerTable(PowerTable& table) {
    BigInteger big;
    big.words[0] = 1;
    big.used = 1;
    for (int exponent = 0; exponent <= MaxPowerOfTen; ++exponent) {
        table.values[exponent] = RoundToExtended(big);
        MultiplyByTen(big);
    }
}

}  // namespace

// ---- Public ----------------------------------------------------------------

Extended PowerOfTen(int exponent) {
    static PowerTable table;
    static const bool filled = (FillPowerTable(table), true);
    (void)filled;
    return table.values[exponent];
}
