// FormatNumber and RoundToDecimals: how a number is printed on the screen.
#include <cmath>
#include <cstdio>

#include "numeric/numeric.h"

namespace {

constexpr int SignificantDigits = 18;  // decimal digits taken from the value first

// The decimal digits of a positive finite value.
struct DecimalDigits {
    char digits[SignificantDigits + 1];  // '0'..'9', the first one non-zero
    int count;
    int exponent;  // value = d.ddd... x 10^exponent
};

// |value| to 18 significant digits, rounded to nearest with ties to even
// (the C library rounds exactly in the current mode). Digits and exponent are
// picked out of the text so the locale's decimal point does not matter.
DecimalDigits ToEighteenDigits(Extended magnitude) {
    const std::string text = ScientificText(magnitude, SignificantDigits - 1);
    DecimalDigits result{};
    const char* at = text.c_str();
    for (; *at != '\0' && *at != 'e'; ++at)
        if (*at >= '0' && *at <= '9' && result.count < SignificantDigits)
            result.digits[result.count++] = *at;
    if (*at == 'e') ++at;
    bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    for (; *at >= '0' && *at <= '9'; ++at) result.exponent = result.exponent * 10 + (*at - '0');
    if (negative) result.exponent = -result.exponent;
    return result;
}

// Keeps `keep` digits, rounded by the next digit alone: above 5 up, 5 up
// only when the last kept digit is odd. Trailing zeros are dropped.
void KeepDigits(DecimalDigits& number, int keep) {
    if (keep >= number.count) keep = number.count;
    char next = keep < number.count ? number.digits[keep] : '0';
    bool roundUp = next > '5' || (next == '5' && (number.digits[keep - 1] - '0') % 2 == 1);
    number.count = keep;
    if (roundUp) {
        int at = keep - 1;
        while (at >= 0 && number.digits[at] == '9') number.digits[at--] = '0';
        if (at >= 0) {
            ++number.digits[at];
        } else {  // carried out of the first digit: 99..9 became 1 followed by zeros
            number.digits[0] = '1';
            number.count = 1;
            ++number.exponent;
        }
    }
    while (number.count > 1 && number.digits[number.count - 1] == '0') --number.count;
}

void AppendScientific(std::string& text, const DecimalDigits& number) {
    text += number.digits[0];
    if (number.count > 1) {
        text += '.';
        text.append(number.digits + 1, static_cast<size_t>(number.count - 1));
    }
    text += number.exponent >= 0 ? "E+" : "E-";
    text += std::to_string(number.exponent >= 0 ? number.exponent : -number.exponent);
}

// Fixed form without a "0" before the point of a value below 1.
void AppendFixed(std::string& text, const DecimalDigits& number) {
    int integerDigits = number.exponent + 1;
    if (integerDigits >= number.count) {
        text.append(number.digits, static_cast<size_t>(number.count));
        text.append(static_cast<size_t>(integerDigits - number.count), '0');
    } else if (integerDigits > 0) {
        text.append(number.digits, static_cast<size_t>(integerDigits));
        text += '.';
        text.append(number.digits + integerDigits,
                    static_cast<size_t>(number.count - integerDigits));
    } else {
        text += '.';
        text.append(static_cast<size_t>(-integerDigits), '0');
        text.append(number.digits, static_cast<size_t>(number.count));
    }
}

}  // namespace

// ---- Public ----------------------------------------------------------------

std::string FormatNumber(Extended value, int digits) {
    if (value == 0) return " 0 ";
    std::string text = SignBit(value) ? "-" : " ";
    // Never produced by the program's own values; shown plainly rather than as digits.
    if (IsNaN(value)) return " NAN ";
    if (IsInf(value)) return text + "INF ";

    if (digits < 1) digits = 1;
    if (digits > SignificantDigits) digits = SignificantDigits;
    DecimalDigits number = ToEighteenDigits(Abs(value));
    KeepDigits(number, digits);
    if (number.exponent + 1 > digits || number.count - (number.exponent + 1) > digits)
        AppendScientific(text, number);
    else
        AppendFixed(text, number);
    text += ' ';
    return text;
}

Extended RoundToDecimals(Extended value, int decimals) {
    if (decimals > SignificantDigits) decimals = SignificantDigits;
    if (decimals < 0) decimals = 0;
    Extended scale = PowerOfTen(decimals);  // exact
    return Rint(value * scale) / scale;
}
