#include "settings/key_table.h"

#include <cstring>

#include "mp4v_config.h"

#define MP4V_KEY_ROW(field, offset, c_type, type_name) \
  {#field, type_name, offsetof(MP4VSettings, field)},

const MP4VSettingsKey MP4VSettingsKeyTable[kMP4VSettingsKeyCount] = {
    MP4V_SETTINGS_FIELDS(MP4V_KEY_ROW)};

#undef MP4V_KEY_ROW

void MP4VSnapFrameRate(void* settings) {
  unsigned char* field =
      static_cast<unsigned char*>(settings) + offsetof(MP4VSettings, frame_rate);
  double rate;
  std::memcpy(&rate, field, sizeof rate);
  // The product must be a double before it is truncated: 29.97 lies just
  // below 29.97 and only the rounded product is 2997.0. The volatile store
  // forces that rounding even where arithmetic runs in wider precision.
  volatile double product = rate * 100.0;
  const double rounded = product;
  if (!(rounded > -2147483649.0 && rounded < 2147483648.0)) return;  // NaN too
  const int32_t n = static_cast<int32_t>(rounded);
  uint64_t bits;
  if (n == 2397 || n == 2398) {
    bits = kFrameRate23976Bits;
  } else if (n == 2997) {
    bits = kFrameRate2997Bits;
  } else if (n == 5994) {
    bits = kFrameRate5994Bits;
  } else {
    return;
  }
  std::memcpy(field, &bits, sizeof bits);
}
