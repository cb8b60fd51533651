#include "host/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace mp4v_host {
namespace {

// Strips one leading sign; true when it was '-'.
bool TakeSign(std::string_view* text) {
  if (text->empty()) return false;
  const char c = text->front();
  if (c != '+' && c != '-') return false;
  text->remove_prefix(1);
  return c == '-';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

NumberStatus ParseInt32(std::string_view text, int32_t* value) {
  const bool negative = TakeSign(&text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars into an unsigned type takes no sign of its own, so "+-1" and
  // "0x-1" stay refused.
  if (text.empty()) return NumberStatus::kNotANumber;
  uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, magnitude, base);
  // A run of digits too long for 64 bits still ends at the last digit, with
  // out_of_range.
  if (result.ec == std::errc::invalid_argument || result.ptr != end) {
    return NumberStatus::kNotANumber;
  }
  if (result.ec == std::errc::result_out_of_range) return NumberStatus::kOutOfRange;
  const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
  if (magnitude > limit) return NumberStatus::kOutOfRange;
  const int64_t signed_value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *value = static_cast<int32_t>(signed_value);
  return NumberStatus::kOk;
}

NumberStatus ParseFiniteDouble(std::string_view text, double* value) {
  std::string_view digits = text;
  TakeSign(&digits);
  // Only digits or a '.' may follow the sign: this keeps out "inf", "nan",
  // a second sign and blanks, which from_chars would otherwise judge.
  if (digits.empty() || !(IsDigit(digits[0]) || digits[0] == '.')) {
    return NumberStatus::kNotANumber;
  }
  const char* begin = text.data();
  if (!text.empty() && text[0] == '+') ++begin;  // from_chars takes '-' only
  const char* end = text.data() + text.size();
  double parsed = 0;
  const auto result = std::from_chars(begin, end, parsed, std::chars_format::general);
  if (result.ec == std::errc::invalid_argument) return NumberStatus::kNotANumber;
  if (result.ptr != end) return NumberStatus::kNotANumber;
  if (result.ec == std::errc::result_out_of_range || !std::isfinite(parsed)) {
    return NumberStatus::kOutOfRange;
  }
  *value = parsed;
  return NumberStatus::kOk;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string FormatInt32(int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string FormatDouble(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace mp4v_host
