// The keys of the "MP4V Settings" section and where each one lives in the
// public settings record, as a host sees them: MP4V_SETTINGS_FIELDS of the
// public header, as a table to walk at run time.
#ifndef MP4V_HOST_SETTINGS_FIELDS_H_
#define MP4V_HOST_SETTINGS_FIELDS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mp4v_config.h"

namespace mp4v_host {

enum class FieldType { kInt32, kDouble };

struct SettingKey {
  const char* name;
  size_t offset;
  FieldType type;
};

constexpr size_t kSettingKeyCount = MP4V_SETTINGS_COUNT;

// All keys, in the order of the record (which is also the order in which a
// save adds missing keys to a file).
const SettingKey* SettingKeys();

// The key called `name`, compared without regard to the case of ASCII
// letters as in the files themselves; null for an unknown name.
const SettingKey* FindSettingKey(std::string_view name);

// The field's value as text: decimal for integers, the shortest text that
// reads back to the same double for frame_rate.
std::string FormatField(const MP4VSettings& record, const SettingKey& key);

// True when the field's bytes are the same in both records.
bool SameFieldBytes(const MP4VSettings& a, const MP4VSettings& b,
                    const SettingKey& key);

void StoreInt32(MP4VSettings* record, const SettingKey& key, int32_t value);
void StoreDouble(MP4VSettings* record, const SettingKey& key, double value);
int32_t LoadInt32(const MP4VSettings& record, const SettingKey& key);
double LoadDouble(const MP4VSettings& record, const SettingKey& key);

}  // namespace mp4v_host

#endif  // MP4V_HOST_SETTINGS_FIELDS_H_
