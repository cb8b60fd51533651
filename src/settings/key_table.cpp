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
  const double snapped = MP4VSnappedFrameRate(rate);
  // Written only when it snapped: any other rate, a NaN's payload too, keeps
  // its bytes.
  if (std::memcmp(&snapped, &rate, sizeof rate) != 0) {
    std::memcpy(field, &snapped, sizeof snapped);
  }
}
