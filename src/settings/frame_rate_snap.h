// The frame-rate snapping that follows every load, as one function of a
// double. Header-only and dependent on nothing, so that the module's load
// and the host-side programs (which never link the module's core) apply the
// very same thresholds: a rate a program stores is the rate a load of it
// would give.
#ifndef MP4V_SETTINGS_FRAME_RATE_SNAP_H_
#define MP4V_SETTINGS_FRAME_RATE_SNAP_H_

#include <cstdint>
#include <cstring>

// The snapped frame rates: 24, 30 and 60 divided by 1.001 in double
// precision.
constexpr uint64_t kFrameRate23976Bits = 0x4037F9DCB5112287ull;
constexpr uint64_t kFrameRate2997Bits = 0x403DF853E2556B29ull;
constexpr uint64_t kFrameRate5994Bits = 0x404DF853E2556B29ull;

// 24/1.001 when 100 times `rate` (rounded to a double, then truncated toward
// zero) is 2397 or 2398, 30/1.001 when it is 2997, 60/1.001 when it is
// 5994; any other rate, infinity or NaN comes back unchanged, bit for bit.
// Snapping a snapped rate gives the same bits again.
inline double MP4VSnappedFrameRate(double rate) {
  // The product must be a double before it is truncated: 29.97 lies just
  // below 29.97 and only the rounded product is 2997.0. The volatile store
  // forces that rounding even where arithmetic runs in wider precision.
  volatile double product = rate * 100.0;
  const double rounded = product;
  if (!(rounded > -2147483649.0 && rounded < 2147483648.0)) return rate;  // NaN too
  const int32_t n = static_cast<int32_t>(rounded);
  uint64_t bits;
  if (n == 2397 || n == 2398) {
    bits = kFrameRate23976Bits;
  } else if (n == 2997) {
    bits = kFrameRate2997Bits;
  } else if (n == 5994) {
    bits = kFrameRate5994Bits;
  } else {
    return rate;
  }
  double snapped;
  std::memcpy(&snapped, &bits, sizeof snapped);
  return snapped;
}

#endif  // MP4V_SETTINGS_FRAME_RATE_SNAP_H_
