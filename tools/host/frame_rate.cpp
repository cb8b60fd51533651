#include "host/frame_rate.h"

#include <charconv>
#include <cmath>

#include "host/number_text.h"
#include "settings/frame_rate_snap.h"

namespace mp4v_host {
namespace {

FrameRateStatus FromNumberStatus(NumberStatus status) {
  switch (status) {
    case NumberStatus::kOk: return FrameRateStatus::kOk;
    case NumberStatus::kOutOfRange: return FrameRateStatus::kOutOfRange;
    case NumberStatus::kNotANumber: break;
  }
  return FrameRateStatus::kNotANumber;
}

// Divided at run time through volatile operands, so that no compiler folds
// it with another precision.
double Divided(double numerator, double denominator) {
  volatile double n = numerator;
  volatile double d = denominator;
  return n / d;
}

// Whether the ten-decimal text a save writes for `rate` is all zeros. The
// text is the exact value rounded to ten decimals, as to_chars gives it in
// every locale.
bool WrittenAsZero(double rate) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, rate,
                                    std::chars_format::fixed, 10);
  if (result.ec != std::errc()) return false;  // far too large to be zero
  for (const char* c = buffer; c != result.ptr; ++c) {
    if (*c >= '1' && *c <= '9') return false;
  }
  return true;
}

}  // namespace

FrameRateStatus ParseFrameRate(std::string_view text, double* rate) {
  double value = 0;
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    const FrameRateStatus status = FromNumberStatus(ParseFiniteDouble(text, &value));
    if (status != FrameRateStatus::kOk) return status;
  } else {
    double numerator = 0;
    double denominator = 0;
    FrameRateStatus status =
        FromNumberStatus(ParseFiniteDouble(TrimBlanks(text.substr(0, slash)), &numerator));
    if (status != FrameRateStatus::kOk) return status;
    status = FromNumberStatus(
        ParseFiniteDouble(TrimBlanks(text.substr(slash + 1)), &denominator));
    if (status != FrameRateStatus::kOk) return status;
    if (denominator == 0) return FrameRateStatus::kOutOfRange;
    value = Divided(numerator, denominator);
    if (!std::isfinite(value)) return FrameRateStatus::kOutOfRange;
  }
  if (!(value > 0)) return FrameRateStatus::kNotPositive;
  if (WrittenAsZero(value)) return FrameRateStatus::kTooSmall;
  *rate = MP4VSnappedFrameRate(value);
  return FrameRateStatus::kOk;
}

}  // namespace mp4v_host
