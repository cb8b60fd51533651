// The key table that binds the fields of the settings record to the keys of
// the section "MP4V Settings", and the frame-rate snapping that follows
// every load.
#ifndef MP4V_SETTINGS_KEY_TABLE_H_
#define MP4V_SETTINGS_KEY_TABLE_H_

#include <cstddef>
#include <cstdint>

#include "mp4v_config.h"
#include "settings/frame_rate_snap.h"

// The one section every key of the table belongs to.
constexpr char kMP4VSettingsSection[] = MP4V_SETTINGS_SECTION;

struct MP4VSettingsKey {
  const char* key;        // configuration key, also the record field's name
  const char* type_name;  // "int" or "dbl"
  uint32_t offset;        // byte offset of the field in the record
};

constexpr size_t kMP4VSettingsKeyCount = MP4V_SETTINGS_COUNT;

// The rows of MP4V_SETTINGS_FIELDS, in its order: the order of binding, and
// so the order in which keys a file lacks are added to it on save.
extern const MP4VSettingsKey MP4VSettingsKeyTable[kMP4VSettingsKeyCount];

// Replaces the record's frame_rate by MP4VSnappedFrameRate of it: 24/1.001
// when 100 times it (rounded to a double, then truncated toward zero) is
// 2397 or 2398, 30/1.001 when it is 2997, and 60/1.001 when it is 5994; any
// other rate, infinity or NaN is left alone. Touches no other byte of the record; applying it twice
// gives the same bits as once.
void MP4VSnapFrameRate(void* settings);

#endif  // MP4V_SETTINGS_KEY_TABLE_H_
