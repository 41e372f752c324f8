// `Extended`: the working precision of the numeric model, a 64-bit
// significand with the x87 exponent range and subnormals, rounded to
// nearest with ties to even. Where long double has that format (x86-64)
// it is long double; elsewhere, or when the build asks for it
// (PHONOSKEW_PORTABLE_EXTENDED), a value type over MPFR computes the same
// roundings in software. Code uses the operators and the functions below,
// never the <cmath> ones, so that it reads the same with either.
#pragma once

#include <cstdint>
#include <string>

#if PHONOSKEW_SOFT_EXTENDED

#include <mpfr.h>

class Extended {
public:
    Extended() { Init(); }
    Extended(int value) : Extended(static_cast<long long>(value)) {}
    Extended(long value) : Extended(static_cast<long long>(value)) {}
    Extended(long long value);
    Extended(unsigned value) : Extended(static_cast<unsigned long long>(value)) {}
    Extended(unsigned long value) : Extended(static_cast<unsigned long long>(value)) {}
    Extended(unsigned long long value);
    Extended(double value);
    // Rounded to 64 bits where long double is wider.
    Extended(long double value);
    Extended(const Extended& other);
    Extended& operator=(const Extended& other);

    // Each rounded once, to nearest with ties to even.
    explicit operator double() const;
    explicit operator long double() const;
    // Of a whole number in the type's range.
    explicit operator int64_t() const;
    explicit operator int32_t() const;

    friend Extended operator+(const Extended& a, const Extended& b);
    friend Extended operator-(const Extended& a, const Extended& b);
    friend Extended operator*(const Extended& a, const Extended& b);
    friend Extended operator/(const Extended& a, const Extended& b);
    friend Extended operator-(const Extended& a);
    Extended& operator+=(const Extended& b) { return *this = *this + b; }
    Extended& operator-=(const Extended& b) { return *this = *this - b; }
    Extended& operator*=(const Extended& b) { return *this = *this * b; }
    Extended& operator/=(const Extended& b) { return *this = *this / b; }

    // False whenever either side is NaN, but for !=.
    friend bool operator==(const Extended& a, const Extended& b);
    friend bool operator!=(const Extended& a, const Extended& b) { return !(a == b); }
    friend bool operator<(const Extended& a, const Extended& b);
    friend bool operator<=(const Extended& a, const Extended& b);
    friend bool operator>(const Extended& a, const Extended& b) { return b < a; }
    friend bool operator>=(const Extended& a, const Extended& b) { return b <= a; }

    // The MPFR value, for the functions below.
    mpfr_srcptr Get() const { return value_; }
    mpfr_ptr Set() { return value_; }
    // Rounds the result of an MPFR call (its ternary value) into the x87
    // range: subnormals keep the bits the x87 format keeps.
    void Settle(int ternary);

private:
    void Init();
    mpfr_t value_;
    // The significand's storage: 64 bits, inside the value itself, so that
    // a copy allocates nothing.
    mp_limb_t limbs_[64 / GMP_NUMB_BITS + (64 % GMP_NUMB_BITS != 0)];
};

Extended Rint(const Extended& value);
Extended Abs(const Extended& value);
Extended ScaleBinary(const Extended& value, int exponent);  // value x 2^exponent
bool IsNaN(const Extended& value);
bool IsInf(const Extended& value);
bool SignBit(const Extended& value);
// "d.ddd...e+XX" with `decimals` digits after the point, correctly rounded.
std::string ScientificText(const Extended& value, int decimals);

#else

#include <cmath>
#include <cstdio>
#include <limits>

using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "long double lacks a 64-bit significand: build with PHONOSKEW_PORTABLE_EXTENDED");

// Rint: to a whole number, ties to even (the rounding mode is to nearest);
// rint, not nearbyint: the inexact flag is masked, and it runs several
// times faster.
inline Extended Rint(Extended value) { return std::rint(value); }
inline Extended Abs(Extended value) { return std::fabs(value); }
inline Extended ScaleBinary(Extended value, int exponent) { return std::ldexp(value, exponent); }
inline bool IsNaN(Extended value) { return std::isnan(value); }
inline bool IsInf(Extended value) { return std::isinf(value); }
inline bool SignBit(Extended value) { return std::signbit(value); }
inline std::string ScientificText(Extended value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*Le", decimals, value);
    return text;
}

#endif

// Sets the model's range for the calling thread (the software form keeps it
// per thread); part of SetNumericEnvironment.
void SetExtendedRange();
