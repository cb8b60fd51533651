// The decimal text of a double in a settings file: how a save writes it and
// how a load reads it back. Header-only and dependent on nothing but the C++
// library and white_space.h (itself dependent on nothing), so that the
// module's value texts and the host-side frame-rate rule, which never links
// the module's core, write and read every rate alike: a rate the rule stores
// is the rate a save and a load of it give back, bit for bit.
//
// No locale takes part: texts are written with std::to_chars and read with
// std::from_chars, the blanks, the sign and the shortcut for short texts by
// hand.
#ifndef MP4V_TEXT_DECIMAL_TEXT_H_
#define MP4V_TEXT_DECIMAL_TEXT_H_

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <system_error>

#include "text/white_space.h"

// A save writes a double with exactly this many fraction digits.
constexpr int kConfigDoubleFractionDigits = 10;

namespace config_decimal_text {

inline bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// For a decimal number text [p, stop) (digits, optional point and fraction,
// optional exponent) whose value from_chars found out of range: true when its
// magnitude is too large, false when too small. The decimal exponent of the
// first significant digit decides; every count saturates, so absurd
// exponents and digit runs cannot overflow.
inline bool MagnitudeTooLarge(const char* p, const char* stop) {
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t exponent10 = 0;
  bool significant = false;
  int64_t integer_digits = 0;
  for (; p < stop && IsDecimalDigit(*p); ++p) {
    if (*p != '0') significant = true;
    if (significant && integer_digits < kCap) ++integer_digits;
  }
  if (significant) {
    exponent10 = integer_digits - 1;
  } else if (p < stop && *p == '.') {
    int64_t zeros = 0;
    for (++p; p < stop && *p == '0'; ++p) {
      if (zeros < kCap) ++zeros;
    }
    exponent10 = -(zeros + 1);
  }
  while (p < stop && *p != 'e' && *p != 'E') ++p;
  if (p < stop) {
    ++p;
    bool negative = false;
    if (p < stop && (*p == '+' || *p == '-')) {
      negative = *p == '-';
      ++p;
    }
    int64_t exponent = 0;
    for (; p < stop && IsDecimalDigit(*p); ++p) {
      if (exponent < kCap) exponent = exponent * 10 + (*p - '0');
    }
    exponent10 += negative ? -exponent : exponent;
  }
  return exponent10 >= 0;
}

// Reads the decimal number text at [p, end) as m * 10^e and, when m and 10^e
// are both exact doubles (m at most 2^53, |e| at most 22, or a larger e
// whose extra powers of ten fit into m), gives the correctly rounded value
// by one multiplication or division. Returns false for any other text.
//
// The library's own conversion takes the same shortcut, but where its code
// was built for the x87 unit the shortcut runs in extended precision and
// rounds twice; doing it here, in double arithmetic, keeps every platform
// correctly rounded. The other texts take the library's integer-only paths.
inline bool ExactSmallDecimal(const char* p, const char* end, double* out) {
  constexpr uint64_t kLimit = uint64_t{1} << 53;
  static constexpr double kPowersOfTen[] = {
      1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  uint64_t mantissa = 0;
  int digits = 0;
  int64_t exponent = 0;
  auto take = [&](char c) {
    if (mantissa == 0 && c == '0') return true;  // leading zeros add nothing
    if (++digits > 19) return false;
    mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
    return true;
  };
  for (; p < end && IsDecimalDigit(*p); ++p) {
    if (!take(*p)) return false;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && IsDecimalDigit(*p); ++p) {
      if (!take(*p)) return false;
      --exponent;
    }
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
      negative = *q == '-';
      ++q;
    }
    if (q < end && IsDecimalDigit(*q)) {
      int64_t value = 0;
      for (; q < end && IsDecimalDigit(*q); ++q) {
        if (value < 100000) value = value * 10 + (*q - '0');
      }
      exponent += negative ? -value : value;
    }
  }
  if (mantissa == 0) {
    *out = 0.0;
    return true;
  }
  if (mantissa > kLimit) return false;
  if (exponent >= 0 && exponent <= 22) {
    *out = static_cast<double>(mantissa) * kPowersOfTen[exponent];
    return true;
  }
  if (exponent < 0 && exponent >= -22) {
    *out = static_cast<double>(mantissa) / kPowersOfTen[-exponent];
    return true;
  }
  if (exponent > 22 && exponent <= 22 + 16) {
    for (int64_t i = 22; i < exponent; ++i) {
      mantissa *= 10;
      if (mantissa > kLimit) return false;
    }
    *out = static_cast<double>(mantissa) * 1e22;
    return true;
  }
  return false;
}

}  // namespace config_decimal_text

// The double a load reads from the value text [p, end), with the meaning of
// atof on decimal text: leading white space, an optional sign, digits with
// an optional point and fraction, an optional exponent; the rest is
// ignored; no number gives 0.0. Correctly rounded. Hexadecimal texts
// ("0x1F"), "inf", "infinity" and "nan" are not numbers and give 0.0 (the
// "0" of "0x1F" reads as zero). A magnitude too large gives an infinity of
// its sign, too small a zero of its sign.
inline double ConfigReadDecimal(const char* p, const char* end) {
  using config_decimal_text::IsDecimalDigit;
  while (p < end && ConfigIsWhiteSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const bool starts_number =
      p < end && (IsDecimalDigit(*p) ||
                  (*p == '.' && end - p >= 2 && IsDecimalDigit(p[1])));
  if (!starts_number) return 0.0;
  double value = 0.0;
  if (config_decimal_text::ExactSmallDecimal(p, end, &value)) {
    return negative ? -value : value;
  }
  const std::from_chars_result result =
      std::from_chars(p, end, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    value = config_decimal_text::MagnitudeTooLarge(p, result.ptr) ? HUGE_VAL : 0.0;
  } else if (result.ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

// Writes the exact decimal expansion of `value` rounded to `precision`
// fraction digits (0: no point), as printf's "%.<precision>f" does in the C
// locale, into `out` (`capacity` bytes), NUL-terminated, and returns its
// length; an infinity or NaN is written "inf", "-inf", "nan" or "-nan".
// Returns 0 with `out` empty when the text does not fit (the longest, of
// -DBL_MAX with ten digits, takes 321 characters).
inline size_t ConfigWriteFixed(double value, int precision, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  const std::to_chars_result r =
      std::to_chars(out, out + capacity - 1, value, std::chars_format::fixed, precision);
  if (r.ec != std::errc()) {
    out[0] = '\0';
    return 0;
  }
  *r.ptr = '\0';
  return static_cast<size_t>(r.ptr - out);
}

#endif  // MP4V_TEXT_DECIMAL_TEXT_H_
