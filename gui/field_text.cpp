#include "gui/field_text.h"

#include <cstring>
#include <limits>

#include "host/number_text.h"

namespace mp4v_pages {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

TextStatus FromNumberStatus(mp4v_host::NumberStatus status) {
  switch (status) {
    case mp4v_host::NumberStatus::kOk: return TextStatus::kOk;
    case mp4v_host::NumberStatus::kOutOfRange: return TextStatus::kOutOfRange;
    case mp4v_host::NumberStatus::kNotANumber: break;
  }
  return TextStatus::kNotANumber;
}

// Divided at run time through volatile operands, so that no compiler folds
// it with another precision: the same double division a load performs.
double DividedBy1001(double rate) {
  volatile double numerator = rate;
  volatile double denominator = 1.001;
  return numerator / denominator;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

const char* const kFrameRateChoices[kFrameRateChoiceCount] = {
    "23.976", "24", "25", "29.97", "30", "50", "59.94", "60"};

double SnappedRate23976() { return DividedBy1001(24.0); }
double SnappedRate2997() { return DividedBy1001(30.0); }
double SnappedRate5994() { return DividedBy1001(60.0); }

TextStatus ParseIntegerText(std::string_view text, int32_t* value) {
  text = Trimmed(text);
  if (text.empty()) return TextStatus::kEmpty;
  return FromNumberStatus(mp4v_host::ParseInt32(text, value));
}

TextStatus ParseFrameRateText(std::string_view text, double* value) {
  text = Trimmed(text);
  if (text.empty()) return TextStatus::kEmpty;
  double rate = 0;
  const TextStatus status =
      FromNumberStatus(mp4v_host::ParseFiniteDouble(text, &rate));
  if (status != TextStatus::kOk) return status;
  if (!(rate > 0)) return TextStatus::kNotPositive;
  if (rate == 23.976) {
    rate = SnappedRate23976();
  } else if (rate == 29.97) {
    rate = SnappedRate2997();
  } else if (rate == 59.94) {
    rate = SnappedRate5994();
  }
  *value = rate;
  return TextStatus::kOk;
}

std::string IntegerText(int32_t value) { return mp4v_host::FormatInt32(value); }

std::string FrameRateText(double value) {
  if (SameBits(value, SnappedRate23976())) return "23.976";
  if (SameBits(value, SnappedRate2997())) return "29.97";
  if (SameBits(value, SnappedRate5994())) return "59.94";
  return mp4v_host::FormatDouble(value);
}

int32_t StepInteger(int32_t value, int steps) {
  const int64_t moved = static_cast<int64_t>(value) + steps;
  if (moved > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (moved < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(moved);
}

std::string ProblemText(TextStatus status, bool frame_rate,
                        std::string_view text) {
  const std::string quoted = "\"" + std::string(Trimmed(text)) + "\"";
  const std::string integer_hint =
      "Enter a whole number from -2147483648 to 2147483647, in decimal "
      "(720) or in hexadecimal (0x2D0).";
  const std::string rate_hint =
      "Enter a number of frames per second greater than 0, such as 25 or "
      "29.97.";
  const std::string& hint = frame_rate ? rate_hint : integer_hint;
  switch (status) {
    case TextStatus::kOk:
      return std::string();
    case TextStatus::kEmpty:
      return "The field is empty. " + hint;
    case TextStatus::kNotANumber:
      return quoted + (frame_rate ? " is not a decimal number. "
                                  : " is not a whole number. ") +
             hint;
    case TextStatus::kOutOfRange:
      return quoted + (frame_rate ? " is too large or too small to be stored. "
                                  : " is outside the 32-bit range. ") +
             hint;
    case TextStatus::kNotPositive:
      return quoted + " is not a frame rate greater than 0. " + hint;
  }
  return std::string();
}

}  // namespace mp4v_pages
