// The one rule by which a person's frame-rate text becomes the rate stored
// in a record: used by the settings pages and by `mp4vcfg set`, so that both
// accept the same texts and store the same bits, and a stored rate is the
// rate a save and a load of it give back.
#ifndef MP4V_HOST_FRAME_RATE_H_
#define MP4V_HOST_FRAME_RATE_H_

#include <string_view>

namespace mp4v_host {

enum class FrameRateStatus {
  kOk,
  kNotANumber,   // neither a decimal number nor a fraction of two
  kOutOfRange,   // beyond a double's range, or a fraction over 0
  kNotPositive,  // zero or below
  kTooSmall,     // a file would hold it as 0.0000000000
};

// A decimal number (optional sign, fraction and exponent, as
// ParseFiniteDouble takes it) or a fraction of two such numbers,
// "30000/1001", divided in double arithmetic; blanks may stand around the
// '/'. The rate must be greater than 0 and large enough that its
// ten-decimal text in a file is not 0.0000000000 (at least 0.0000000001
// after rounding). A rate the load would snap (about 23.976, 29.97, 59.94)
// comes back snapped, so that what is stored is what a load gives.
// `*rate` is written only for kOk.
FrameRateStatus ParseFrameRate(std::string_view text, double* rate);

// The smallest rate a file holds as something other than 0, as text.
constexpr char kSmallestFrameRateText[] = "0.0000000001";

}  // namespace mp4v_host

#endif  // MP4V_HOST_FRAME_RATE_H_
