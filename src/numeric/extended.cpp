// The software form of `Extended`, over MPFR: precision 64, rounding to
// nearest with ties to even, and the x87 extended exponent range with its
// subnormals. MPFR writes a value as 0.1b... x 2^e: the x87 format's
// largest finite value is below 2^16384 (emax 16384) and its smallest
// subnormal is 2^-16445 (emin -16444); mpfr_subnormalize then gives
// results below 2^-16382 the bits the x87 format keeps.
#include "numeric/numeric.h"

#if PHONOSKEW_SOFT_EXTENDED

#include <vector>

namespace {

constexpr mpfr_prec_t Precision = 64;

// MPFR's exponent range is per thread.
void EnsureRange() {
    thread_local bool set = (SetExtendedRange(), true);
    (void)set;
}

}  // namespace

void SetExtendedRange() {
    mpfr_set_emin(-16444);
    mpfr_set_emax(16384);
}

void Extended::Init() {
    mpfr_custom_init(limbs_, Precision);
    mpfr_custom_init_set(value_, MPFR_ZERO_KIND, 0, Precision, limbs_);
}

void Extended::Settle(int ternary) { mpfr_subnormalize(value_, ternary, MPFR_RNDN); }

Extended::Extended(long long value) {
    Init();
    mpfr_set_sj(value_, value, MPFR_RNDN);  // exact: 63 bits and a sign
}

Extended::Extended(unsigned long long value) {
    Init();
    mpfr_set_uj(value_, value, MPFR_RNDN);  // exact: 64 bits
}

Extended::Extended(double value) {
    Init();
    mpfr_set_d(value_, value, MPFR_RNDN);  // exact
}

Extended::Extended(long double value) {
    Init();
    EnsureRange();
    Settle(mpfr_set_ld(value_, value, MPFR_RNDN));
}

Extended::Extended(const Extended& other) {
    Init();
    mpfr_set(value_, other.value_, MPFR_RNDN);
}

Extended& Extended::operator=(const Extended& other) {
    mpfr_set(value_, other.value_, MPFR_RNDN);
    return *this;
}

Extended::operator double() const { return mpfr_get_d(value_, MPFR_RNDN); }

Extended::operator long double() const { return mpfr_get_ld(value_, MPFR_RNDN); }

Extended::operator int64_t() const { return int64_t(mpfr_get_sj(value_, MPFR_RNDN)); }

Extended::operator int32_t() const { return int32_t(mpfr_get_si(value_, MPFR_RNDN)); }

// ---- Arithmetic: one MPFR rounding, then the x87 range ----------------------------

#define PHONOSKEW_EXTENDED_BINARY(op, function)                             \
    Extended op(const Extended& a, const Extended& b) {                     \
        EnsureRange();                                                      \
        Extended result;                                                    \
        result.Settle(function(result.Set(), a.Get(), b.Get(), MPFR_RNDN)); \
        return result;                                                      \
    }
PHONOSKEW_EXTENDED_BINARY(operator+, mpfr_add)
PHONOSKEW_EXTENDED_BINARY(operator-, mpfr_sub)
PHONOSKEW_EXTENDED_BINARY(operator*, mpfr_mul)
PHONOSKEW_EXTENDED_BINARY(operator/, mpfr_div)
#undef PHONOSKEW_EXTENDED_BINARY

Extended operator-(const Extended& a) {
    Extended result;
    mpfr_neg(result.Set(), a.Get(), MPFR_RNDN);  // exact
    return result;
}

bool operator==(const Extended& a, const Extended& b) { return mpfr_equal_p(a.Get(), b.Get()); }
bool operator<(const Extended& a, const Extended& b) { return mpfr_less_p(a.Get(), b.Get()); }
bool operator<=(const Extended& a, const Extended& b) { return mpfr_lessequal_p(a.Get(), b.Get()); }

// ---- Functions ----------------------------------------------------------------------

Extended Rint(const Extended& value) {
    EnsureRange();
    Extended result;
    result.Settle(mpfr_rint(result.Set(), value.Get(), MPFR_RNDN));
    return result;
}

Extended Abs(const Extended& value) {
    Extended result;
    mpfr_abs(result.Set(), value.Get(), MPFR_RNDN);  // exact
    return result;
}

Extended ScaleBinary(const Extended& value, int exponent) {
    EnsureRange();
    Extended result;
    result.Settle(mpfr_mul_2si(result.Set(), value.Get(), exponent, MPFR_RNDN));
    return result;
}

bool IsNaN(const Extended& value) { return mpfr_nan_p(value.Get()); }
bool IsInf(const Extended& value) { return mpfr_inf_p(value.Get()); }
bool SignBit(const Extended& value) { return mpfr_signbit(value.Get()); }

std::string ScientificText(const Extended& value, int decimals) {
    char text[128];
    mpfr_snprintf(text, sizeof text, "%.*Re", decimals, value.Get());
    return text;
}

#else

void SetExtendedRange() {}

#endif
