// ParseNumber: the value of one coefficient field. The text is taken one
// byte at a time by a small state machine (NumberScan), so a field can be
// read straight from a file in pieces, however long it is, in fixed
// memory; no allocation and no locale: "." is the only decimal separator.
#include <cstdint>

#include "numeric/numeric.h"

namespace {

constexpr int KeptDigits = 18;     // decimal digits that fit the 64-bit mantissa
constexpr int ExponentCap = 9999;  // exponent digits beyond this are read but ignored
constexpr int RangeLimit = 4933;   // |P + X| at which the value saturates

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Digit value of c in any base up to 36, or 99 when c is no digit at all.
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return 99;
}

// ---- Decimal form ----------------------------------------------------------------

// The digit run: M holds the first 18 significant digits, later ones are
// only counted (dropped, not rounded).
void TakeMantissaByte(NumberScan& scan, char c) {
    if (c == '.' && !scan.SeenPoint) {
        scan.SeenPoint = true;
        return;
    }
    if (!IsDecimalDigit(c)) {
        bool exponent = c == 'E' || c == 'e' || c == 'D' || c == 'd';
        scan.State = exponent ? NumberScan::ExponentSign : NumberScan::Finished;
        return;
    }
    scan.AnyDigit = true;
    if (scan.Significant == 0 && c == '0') {
        if (scan.SeenPoint) ++scan.ZerosAfterPoint;
        return;
    }
    if (scan.Significant < KeptDigits) scan.Mantissa = scan.Mantissa * 10 + uint64_t(c - '0');
    ++scan.Significant;
    if (!scan.SeenPoint) ++scan.BeforePoint;
}

// The exponent after E, e, D or d: optional sign, then digits, capped while
// read so that a long run cannot overflow. No digits means 0.
void TakeExponentByte(NumberScan& scan, char c) {
    if (scan.State == NumberScan::ExponentSign) {
        scan.State = NumberScan::ExponentDigits;
        if (c == '+' || c == '-') {
            scan.ExponentNegative = c == '-';
            return;
        }
    }
    if (!IsDecimalDigit(c)) {
        scan.State = NumberScan::Finished;
        return;
    }
    scan.Exponent = scan.Exponent * 10 + (c - '0');
    if (scan.Exponent > ExponentCap) scan.Exponent = ExponentCap;
}

Extended DecimalValue(const NumberScan& scan) {
    if (!scan.AnyDigit || scan.Significant == 0) return 0;
    int64_t point = scan.BeforePoint > 0 ? scan.BeforePoint : -scan.ZerosAfterPoint;
    int exponent = scan.ExponentNegative ? -scan.Exponent : scan.Exponent;

    // Out of range: a fixed large value (not infinity), or zero.
    Extended value;
    if (point + exponent >= RangeLimit) {
        value = Extended(0x1p127);
    } else if (point + exponent <= -RangeLimit) {
        return 0;
    } else {
        // One rounding only: M and 10^|q| are exact or correctly rounded.
        int64_t kept = scan.Significant < KeptDigits ? scan.Significant : KeptDigits;
        int scale = static_cast<int>(exponent + point - kept);
        value = static_cast<Extended>(scan.Mantissa);
        if (scale > 0) value = value * PowerOfTen(scale);
        if (scale < 0) value = value / PowerOfTen(-scale);
    }
    return scan.Negative ? -value : value;
}

// ---- Radix form --------------------------------------------------------------------

// The base letter after "&"; any other byte is the first digit of base 8.
void TakeRadixBaseByte(NumberScan& scan, char c) {
    scan.State = NumberScan::RadixDigits;
    scan.Base = 8;
    switch (c) {
        case 'B':
        case 'b':
            scan.Base = 2;
            return;
        case 'H':
        case 'h':
            scan.Base = 16;
            return;
        case 'O':
        case 'o':
        case 'Q':
        case 'q':
            return;
        default:
            TakeNumberByte(scan, c);
    }
}

void TakeRadixDigitByte(NumberScan& scan, char c) {
    int digit = DigitValue(c);
    if (digit >= scan.Base) {
        // A type suffix may follow the digits; without digits nothing does.
        scan.State = scan.AnyDigit ? NumberScan::RadixSuffix : NumberScan::Finished;
        if (scan.AnyDigit) TakeNumberByte(scan, c);
        return;
    }
    if (!scan.AnyDigit) scan.LeadingZero = digit == 0;
    scan.AnyDigit = true;
    uint64_t base = uint64_t(scan.Base);
    if (scan.Bits > (UINT64_MAX - uint64_t(digit)) / base) scan.TooLong = true;
    scan.Bits = scan.Bits * base + uint64_t(digit);
}

// The type suffix right after the digits, longest match first: %, &, &&,
// ?, ??, ???.
void TakeRadixSuffixByte(NumberScan& scan, char c) {
    using Suffix = NumberScan::TypeSuffix;
    scan.State = NumberScan::Finished;
    switch (scan.Suffix) {
        case Suffix::None:
            if (c == '%') scan.Suffix = Suffix::Integer;
            if (c == '&') scan.Suffix = Suffix::Long;
            if (c == '?') scan.Suffix = Suffix::Byte;
            if (c == '&' || c == '?') scan.State = NumberScan::RadixSuffix;  // more may follow
            return;
        case Suffix::Long:
            if (c == '&') scan.Suffix = Suffix::Quad;
            return;
        case Suffix::Byte:
            if (c != '?') return;
            scan.Suffix = Suffix::Word;
            scan.State = NumberScan::RadixSuffix;
            return;
        case Suffix::Word:
            if (c == '?') scan.Suffix = Suffix::Dword;
            return;
        default:
            return;
    }
}

// Reads the 64 raw bits as a signed integer: values written with few digits
// and no leading zero are taken as 16- or 32-bit two's complement.
int64_t SignExtendRadix(uint64_t bits, NumberScan::TypeSuffix suffix, bool leadingZero) {
    using Suffix = NumberScan::TypeSuffix;
    constexpr uint64_t Bit63 = uint64_t{1} << 63;
    if (suffix == Suffix::Byte || suffix == Suffix::Word || suffix == Suffix::Dword)
        return (bits & Bit63) != 0 ? 0 : static_cast<int64_t>(bits);
    if (leadingZero || (bits >> 32) != 0 || suffix == Suffix::Quad)
        return static_cast<int64_t>(bits);
    if (bits >= 65536) {
        if ((bits & 0x80000000u) != 0) bits |= 0xFFFFFFFF00000000u;
        return static_cast<int64_t>(bits);
    }
    if (suffix != Suffix::Long && (bits & 0x8000u) != 0) bits |= 0xFFFFFFFFFFFF0000u;
    return static_cast<int64_t>(bits);
}

Extended RadixValue(const NumberScan& scan) {
    if (!scan.AnyDigit || scan.TooLong) return 0;
    return static_cast<Extended>(SignExtendRadix(scan.Bits, scan.Suffix, scan.LeadingZero));
}

}  // namespace

// ---- Public ----------------------------------------------------------------

void TakeNumberByte(NumberScan& scan, char c) {
    switch (scan.State) {
        case NumberScan::Leading:
            // Blanks, TABs and LFs lead in; a CR does not.
            if (c == ' ' || c == '\t' || c == '\n') return;
            if (c == '&') {
                scan.State = NumberScan::RadixBase;
                scan.Radix = true;
                return;
            }
            scan.State = NumberScan::DigitRun;
            if (c == '+' || c == '-') {
                scan.Negative = c == '-';
                return;
            }
            TakeMantissaByte(scan, c);
            return;
        case NumberScan::DigitRun:
            TakeMantissaByte(scan, c);
            return;
        case NumberScan::ExponentSign:
        case NumberScan::ExponentDigits:
            TakeExponentByte(scan, c);
            return;
        case NumberScan::RadixBase:
            TakeRadixBaseByte(scan, c);
            return;
        case NumberScan::RadixDigits:
            TakeRadixDigitByte(scan, c);
            return;
        case NumberScan::RadixSuffix:
            TakeRadixSuffixByte(scan, c);
            return;
        case NumberScan::Finished:
            return;
    }
}

Extended NumberValue(const NumberScan& scan) {
    return scan.Radix ? RadixValue(scan) : DecimalValue(scan);
}

Extended ParseNumber(std::string_view text) {
    NumberScan scan;
    for (char c : text) {
        if (scan.State == NumberScan::Finished) break;
        TakeNumberByte(scan, c);
    }
    return NumberValue(scan);
}
