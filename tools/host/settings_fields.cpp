#include "host/settings_fields.h"

#include <cstring>

#include <type_traits>

#include "host/number_text.h"

namespace mp4v_host {
namespace {

#define MP4V_HOST_KEY(field, offset, c_type, type_name)                 \
  {#field, offset,                                                      \
   std::is_same<c_type, double>::value ? FieldType::kDouble             \
                                       : FieldType::kInt32},

constexpr SettingKey kKeys[] = {MP4V_SETTINGS_FIELDS(MP4V_HOST_KEY)};

#undef MP4V_HOST_KEY

static_assert(sizeof kKeys / sizeof kKeys[0] == kSettingKeyCount,
              "one row per field of the record");

constexpr size_t FieldSize(FieldType type) {
  return type == FieldType::kDouble ? sizeof(double) : sizeof(int32_t);
}

const unsigned char* FieldBytes(const MP4VSettings& record,
                                const SettingKey& key) {
  return reinterpret_cast<const unsigned char*>(&record) + key.offset;
}

unsigned char* FieldBytes(MP4VSettings* record, const SettingKey& key) {
  return reinterpret_cast<unsigned char*>(record) + key.offset;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const SettingKey* SettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view name) {
  for (const SettingKey& key : kKeys) {
    std::string_view candidate(key.name);
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      same = AsciiLower(name[i]) == candidate[i];
    }
    if (same) return &key;
  }
  return nullptr;
}

std::string FormatField(const MP4VSettings& record, const SettingKey& key) {
  if (key.type == FieldType::kDouble) return FormatDouble(LoadDouble(record, key));
  return FormatInt32(LoadInt32(record, key));
}

bool SameFieldBytes(const MP4VSettings& a, const MP4VSettings& b,
                    const SettingKey& key) {
  return std::memcmp(FieldBytes(a, key), FieldBytes(b, key),
                     FieldSize(key.type)) == 0;
}

void StoreInt32(MP4VSettings* record, const SettingKey& key, int32_t value) {
  std::memcpy(FieldBytes(record, key), &value, sizeof value);
}

void StoreDouble(MP4VSettings* record, const SettingKey& key, double value) {
  std::memcpy(FieldBytes(record, key), &value, sizeof value);
}

int32_t LoadInt32(const MP4VSettings& record, const SettingKey& key) {
  int32_t value;
  std::memcpy(&value, FieldBytes(record, key), sizeof value);
  return value;
}

double LoadDouble(const MP4VSettings& record, const SettingKey& key) {
  double value;
  std::memcpy(&value, FieldBytes(record, key), sizeof value);
  return value;
}

}  // namespace mp4v_host
