#include "mp4vcfg/settings_keys.h"

#include <cstring>

#include "mp4vcfg/number_text.h"

namespace mp4vcfg {
namespace {

#define MP4VCFG_INT(field) \
  { #field, offsetof(MP4VSettings, field), FieldType::kInt32 }
#define MP4VCFG_DOUBLE(field) \
  { #field, offsetof(MP4VSettings, field), FieldType::kDouble }

constexpr SettingKey kKeys[] = {
    MP4VCFG_INT(profile_id),
    MP4VCFG_INT(level_id),
    MP4VCFG_INT(width),
    MP4VCFG_INT(height),
    MP4VCFG_INT(video_type),
    MP4VCFG_INT(deinterlacing_enable),
    MP4VCFG_INT(field_order),
    MP4VCFG_INT(alternative_scan),
    MP4VCFG_INT(quant_type),
    MP4VCFG_INT(quant_i),
    MP4VCFG_INT(quality),
    MP4VCFG_INT(max_quantizer),
    MP4VCFG_INT(min_quantizer),
    MP4VCFG_INT(adapt_quant),
    MP4VCFG_INT(quant_p),
    MP4VCFG_INT(quant_b),
    MP4VCFG_INT(interlace_mode),
    MP4VCFG_INT(video_pulldown_flag),
    MP4VCFG_INT(no_limit_bitrate_by_level),
    MP4VCFG_INT(target_bitrate),
    MP4VCFG_INT(rc_mode),
    MP4VCFG_INT(bvop_auto),
    MP4VCFG_INT(bvop_count),
    MP4VCFG_INT(scene_change),
    MP4VCFG_INT(max_key_interval),
    MP4VCFG_INT(max_bitrate),
    MP4VCFG_INT(vbv_buffer),
    MP4VCFG_INT(write_vbv_params),
    MP4VCFG_DOUBLE(frame_rate),
    MP4VCFG_INT(out_fps),
    MP4VCFG_INT(h263_mode),
    MP4VCFG_INT(data_partitioned),
    MP4VCFG_INT(resync_marker),
    MP4VCFG_INT(slice_count),
    MP4VCFG_INT(closed_gov),
    MP4VCFG_INT(vol_every_i_vop),
    MP4VCFG_INT(user_data_low_delay),
    MP4VCFG_INT(pixel_aspect_ratio),
    MP4VCFG_INT(pixel_ar_width),
    MP4VCFG_INT(pixel_ar_height),
    MP4VCFG_INT(gov_every_i_vop),
    MP4VCFG_INT(h263_unrestricted_mv),
    MP4VCFG_INT(h263_advanced_intra_coding),
    MP4VCFG_INT(h263_deblocking_filter),
    MP4VCFG_INT(h263_slice_structured),
    MP4VCFG_INT(h263_modified_quantization),
    MP4VCFG_INT(me_4mv),
    MP4VCFG_INT(me_subpel),
    MP4VCFG_INT(me_f_code),
    MP4VCFG_INT(rounding_control),
    MP4VCFG_INT(me_fast),
    MP4VCFG_INT(me_extended_predictors),
    MP4VCFG_INT(ac_prediction),
    MP4VCFG_INT(send_b_vop_mode),
    MP4VCFG_INT(calc_quality),
    MP4VCFG_INT(num_threads),
};

#undef MP4VCFG_INT
#undef MP4VCFG_DOUBLE

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
  int32_t value;
  std::memcpy(&value, FieldBytes(record, key), sizeof value);
  return FormatInt32(value);
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

double LoadDouble(const MP4VSettings& record, const SettingKey& key) {
  double value;
  std::memcpy(&value, FieldBytes(record, key), sizeof value);
  return value;
}

}  // namespace mp4vcfg
