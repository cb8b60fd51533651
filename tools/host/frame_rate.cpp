#include "host/frame_rate.h"

#include <cmath>

#include "host/number_text.h"
#include "settings/frame_rate_snap.h"
#include "text/decimal_text.h"

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

// The rate a load gives for a saved `rate`: its text with the fraction
// digits a save writes, read back by the load's own conversion (both from
// text/decimal_text.h, as the module does), then snapped as every load
// snaps it.
double SavedAndLoaded(double rate) {
  char text[400];
  const size_t length = ConfigWriteFixed(rate, kConfigDoubleFractionDigits, text, sizeof text);
  return MP4VSnappedFrameRate(ConfigReadDecimal(text, text + length));
}

}  // namespace

FrameRateStatus ParseFrameRate(std::string_view text, double* rate) {
  text = TrimBlanks(text);
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
  const double stored = SavedAndLoaded(value);
  // Ten decimals of all zeros: the file would hold the rate as 0.
  if (!(stored > 0)) return FrameRateStatus::kTooSmall;
  *rate = stored;
  return FrameRateStatus::kOk;
}

}  // namespace mp4v_host
