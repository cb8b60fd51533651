// What the writers of one shared settings file write, in the tests of several
// writers at once and in writer_child, the program each writer runs in: the
// record a module writer saves, the settings mp4vcfg set writers change, and
// the line another program keeps in the file.
#ifndef MP4V_TESTS_HOST_WRITERS_H_
#define MP4V_TESTS_HOST_WRITERS_H_

#include <cstdio>
#include <cstring>
#include <string>

#include "host/settings_fields.h"
#include "mp4v_config.h"

namespace writers {

// The settings the set writers change, writer k the k-th.
inline const char* const kSetKeys[] = {"bvop_count", "slice_count", "max_key_interval",
                                       "target_bitrate", "vbv_buffer", "quant_p",
                                       "quant_b", "max_bitrate"};
constexpr int kMaxSetWriters = sizeof kSetKeys / sizeof kSetKeys[0];

// The value set writer `k` gives its setting in round `round`.
inline int32_t SetValue(int round, int k) { return 1000 * (round + 1) + k; }

inline bool IsSetKey(const char* name, int set_writers) {
  for (int k = 0; k < set_writers; ++k) {
    if (std::strcmp(kSetKeys[k], name) == 0) return true;
  }
  return false;
}

// The record module writer `writer` saves in round `round`: every setting a
// value of this writer's own, but the settings of the set writers, which
// hold the values those give them in this round (a whole-record save after
// a set then keeps the set's value, so every write of the round can be
// found in the file at its end).
inline MP4VSettings WriterRecord(int round, int writer, int set_writers) {
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const int32_t own = (round * 16 + writer + 1) * 100 + static_cast<int32_t>(i);
    if (keys[i].type == mp4v_host::FieldType::kDouble) {
      mp4v_host::StoreDouble(&record, keys[i], own + 0.5);  // far from every snapped rate
    } else {
      mp4v_host::StoreInt32(&record, keys[i], own);
    }
  }
  for (int k = 0; k < set_writers; ++k) {
    mp4v_host::StoreInt32(&record, *mp4v_host::FindSettingKey(kSetKeys[k]), SetValue(round, k));
  }
  return record;
}

// Another program's section, first in the file; its stamp always has six
// digits, so that writing it in place keeps the file's length.
inline std::string PeerLine(int stamp) {
  char line[32];
  std::snprintf(line, sizeof line, "stamp=%06d", stamp);
  return line;
}
inline std::string PeerSection(int stamp) { return "[Peer]\n" + PeerLine(stamp) + "\n"; }

// Record `index` of a file saved again and again: every integer setting
// index + 1, the frame rate index + 1.5. A load that binds a part of it, or
// a mix of two, shows.
inline MP4VSettings LoopRecord(int index) {
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    if (keys[i].type == mp4v_host::FieldType::kDouble) {
      mp4v_host::StoreDouble(&record, keys[i], index + 1.5);
    } else {
      mp4v_host::StoreInt32(&record, keys[i], index + 1);
    }
  }
  return record;
}

// Whether `record` holds every setting of one LoopRecord.
inline bool IsLoopRecord(const MP4VSettings& record) {
  if (record.width < 1) return false;
  const MP4VSettings expected = LoopRecord(record.width - 1);
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    if (!mp4v_host::SameFieldBytes(record, expected, keys[i])) return false;
  }
  return true;
}

}  // namespace writers

#endif  // MP4V_TESTS_HOST_WRITERS_H_
