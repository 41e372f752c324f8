// ParseNumber: the value of one coefficient field. One pass over the bytes,
// no allocation and no locale: "." is the only decimal separator.
#include <cstdint>

#include "numeric/numeric.h"

namespace {

constexpr int KeptDigits = 18;     // decimal digits that fit the 64-bit mantissa
constexpr int ExponentCap = 9999;  // exponent digits beyond this are read but ignored
constexpr int RangeLimit = 4933;   // |P + X| at which the value saturates

// A byte cursor over the field text.
struct TextCursor {
    const char* at;
    const char* end;
};

bool AtEnd(const TextCursor& cursor) { return cursor.at == cursor.end; }

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Digit value of c in any base up to 36, or 99 when c is no digit at all.
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return 99;
}

// ---- Decimal form ----------------------------------------------------------

// The exponent after E, e, D or d: optional sign, then digits, capped while
// read so that a long run cannot overflow. No digits means 0.
int ReadExponent(TextCursor& cursor) {
    bool negative = false;
    if (!AtEnd(cursor) && (*cursor.at == '+' || *cursor.at == '-')) {
        negative = *cursor.at == '-';
        ++cursor.at;
    }
    int exponent = 0;
    while (!AtEnd(cursor) && IsDecimalDigit(*cursor.at)) {
        exponent = exponent * 10 + (*cursor.at - '0');
        if (exponent > ExponentCap) exponent = ExponentCap;
        ++cursor.at;
    }
    return negative ? -exponent : exponent;
}

Extended ParseDecimal(TextCursor cursor) {
    bool negative = false;
    if (!AtEnd(cursor) && (*cursor.at == '+' || *cursor.at == '-')) {
        negative = *cursor.at == '-';
        ++cursor.at;
    }

    // The digit run: M holds the first 18 significant digits, later ones are
    // only counted (dropped, not rounded).
    uint64_t mantissa = 0;
    int64_t significant = 0;      // n: every significant digit seen
    int64_t beforePoint = 0;      // significant digits before the point
    int64_t zerosAfterPoint = 0;  // zeros between the point and the first significant digit
    bool anyDigit = false;
    bool seenPoint = false;
    for (; !AtEnd(cursor); ++cursor.at) {
        char c = *cursor.at;
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (!IsDecimalDigit(c)) break;
        anyDigit = true;
        if (significant == 0 && c == '0') {
            if (seenPoint) ++zerosAfterPoint;
            continue;
        }
        if (significant < KeptDigits) mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        ++significant;
        if (!seenPoint) ++beforePoint;
    }
    if (!anyDigit || significant == 0) return 0;

    int64_t point = beforePoint > 0 ? beforePoint : -zerosAfterPoint;
    int exponent = 0;
    if (!AtEnd(cursor)) {
        char c = *cursor.at;
        if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
            ++cursor.at;
            exponent = ReadExponent(cursor);
        }
    }

    // Out of range: a fixed large value (not infinity), or zero.
    Extended value;
    if (point + exponent >= RangeLimit) {
        value = 0x1p127L;
    } else if (point + exponent <= -RangeLimit) {
        return 0;
    } else {
        // One rounding only: M and 10^|q| are exact or correctly rounded.
        int64_t kept = significant < KeptDigits ? significant : KeptDigits;
        int scale = static_cast<int>(exponent + point - kept);
        value = static_cast<Extended>(mantissa);
        if (scale > 0) value = value * PowerOfTen(scale);
        if (scale < 0) value = value / PowerOfTen(-scale);
    }
    return negative ? -value : value;
}

// ---- Radix form ------------------------------------------------------------

enum class TypeSuffix { None, Integer, Long, Quad, Byte, Word, Dword };

// The type suffix right after the digits, longest match first.
TypeSuffix ReadTypeSuffix(TextCursor& cursor) {
    auto take = [&cursor](char c) {
        if (AtEnd(cursor) || *cursor.at != c) return false;
        ++cursor.at;
        return true;
    };
    if (take('%')) return TypeSuffix::Integer;
    if (take('&')) return take('&') ? TypeSuffix::Quad : TypeSuffix::Long;
    if (take('?')) {
        if (!take('?')) return TypeSuffix::Byte;
        return take('?') ? TypeSuffix::Dword : TypeSuffix::Word;
    }
    return TypeSuffix::None;
}

// Reads the 64 raw bits as a signed integer: values written with few digits
// and no leading zero are taken as 16- or 32-bit two's complement.
int64_t SignExtendRadix(uint64_t bits, TypeSuffix suffix, bool leadingZero) {
    constexpr uint64_t Bit63 = uint64_t{1} << 63;
    if (suffix == TypeSuffix::Byte || suffix == TypeSuffix::Word || suffix == TypeSuffix::Dword)
        return (bits & Bit63) != 0 ? 0 : static_cast<int64_t>(bits);
    if (leadingZero || (bits >> 32) != 0 || suffix == TypeSuffix::Quad)
        return static_cast<int64_t>(bits);
    if (bits >= 65536) {
        if ((bits & 0x80000000u) != 0) bits |= 0xFFFFFFFF00000000u;
        return static_cast<int64_t>(bits);
    }
    if (suffix != TypeSuffix::Long && (bits & 0x8000u) != 0) bits |= 0xFFFFFFFFFFFF0000u;
    return static_cast<int64_t>(bits);
}

// Text after the "&".
Extended ParseRadix(TextCursor cursor) {
    int base = 8;
    if (!AtEnd(cursor)) {
        switch (*cursor.at) {
            case 'B':
            case 'b':
                base = 2;
                ++cursor.at;
                break;
            case 'H':
            case 'h':
                base = 16;
                ++cursor.at;
                break;
            case 'O':
            case 'o':
            case 'Q':
            case 'q':
                ++cursor.at;
                break;
            default:
                break;  // base 8, and this character is the first digit
        }
    }

    uint64_t bits = 0;
    bool anyDigit = false;
    bool leadingZero = false;
    bool tooLong = false;
    for (; !AtEnd(cursor); ++cursor.at) {
        int digit = DigitValue(*cursor.at);
        if (digit >= base) break;
        if (!anyDigit) leadingZero = digit == 0;
        anyDigit = true;
        uint64_t limit = (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base);
        if (bits > limit) tooLong = true;
        bits = bits * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (!anyDigit) return 0;
    TypeSuffix suffix = ReadTypeSuffix(cursor);
    if (tooLong) return 0;
    return static_cast<Extended>(SignExtendRadix(bits, suffix, leadingZero));
}

}  // namespace

// ---- Public ----------------------------------------------------------------

Extended ParseNumber(std::string_view text) {
    TextCursor cursor{text.data(), text.data() + text.size()};
    // Blanks, TABs and LFs lead in; a CR does not.
    while (!AtEnd(cursor) && (*cursor.at == ' ' || *cursor.at == '\t' || *cursor.at == '\n'))
        ++cursor.at;
    if (!AtEnd(cursor) && *cursor.at == '&') {
        ++cursor.at;
        return ParseRadix(cursor);
    }
    return ParseDecimal(cursor);
}
