// Numbers as the command line takes and prints them: the same in every
// locale, with no thousands separators and a '.' before the fraction.
#ifndef MP4V_HOST_NUMBER_TEXT_H_
#define MP4V_HOST_NUMBER_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace mp4v_host {

enum class NumberStatus { kOk, kNotANumber, kOutOfRange };

// An optional sign, then decimal digits or "0x"/"0X" and hexadecimal digits,
// nothing else (no blanks). The value must fit a 32-bit signed integer.
NumberStatus ParseInt32(std::string_view text, int32_t* value);

// An optional sign, digits with an optional '.' fraction and an optional
// decimal exponent. Infinities, NaN and hexadecimal forms are refused; a
// magnitude beyond the double's range is out of range.
NumberStatus ParseFiniteDouble(std::string_view text, double* value);

// `text` without the blanks and tabs at its ends, as a person's typing or
// pasting leaves them.
std::string_view TrimBlanks(std::string_view text);

std::string FormatInt32(int32_t value);
// The shortest text that reads back to exactly `value`.
std::string FormatDouble(double value);

}  // namespace mp4v_host

#endif  // MP4V_HOST_NUMBER_TEXT_H_
