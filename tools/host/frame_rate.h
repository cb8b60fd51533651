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
// "30000/1001", divided in double arithmetic; blanks and tabs around the
// whole text and around the '/' are ignored. The rate must be greater than
// 0. What is stored is what a save and a load of the rate give back: its
// text with the ten fraction digits a save writes, read back by the load's
// own conversion (text/decimal_text.h, the module's source too), then
// snapped as a load snaps it (about 23.976, 29.97 and 59.94 become 24, 30
// and 60 divided by 1.001; 29.96999999999 too, since its ten-decimal text is
// 29.9700000000). So a saved stored rate loads as the same bits and a second
// save writes the same bytes. A rate whose ten-decimal text is 0.0000000000
// (below 0.00000000005) is too small. `*rate` is written only for kOk.
FrameRateStatus ParseFrameRate(std::string_view text, double* rate);

// The smallest rate a file holds as something other than 0, as text.
constexpr char kSmallestFrameRateText[] = "0.0000000001";

}  // namespace mp4v_host

#endif  // MP4V_HOST_FRAME_RATE_H_
