#include "mp4vcfg/commands.h"

#include <cmath>
#include <string>

#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Show(const std::string& module_path, const std::string& file, bool json,
         std::ostream& out) {
  const Session session(module_path);
  MP4VSettings zeros;
  MP4VSettings ones;
  session.LoadTwice(file, &zeros, &ones);
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  if (json) out << "{\n  \"file\": " << JsonString(file) << ",\n  \"settings\": {\n";
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const mp4v_host::SettingKey& key = keys[i];
    const bool set = mp4v_host::SameFieldBytes(zeros, ones, key);
    std::string value = mp4v_host::FormatField(zeros, key);
    if (json) {
      // JSON has no infinities or NaN; a file can still hold them.
      if (key.type == mp4v_host::FieldType::kDouble &&
          !std::isfinite(mp4v_host::LoadDouble(zeros, key))) {
        value = "null";
      }
      out << "    " << JsonString(key.name) << ": {\"value\": " << value
          << ", \"set\": " << (set ? "true" : "false") << "}"
          << (i + 1 < mp4v_host::kSettingKeyCount ? ",\n" : "\n");
    } else {
      out << PadRight(key.name, 28) << PadRight(value, 26) << (set ? "set" : "default") << "\n";
    }
  }
  if (json) out << "  }\n}\n";
  return kExitSuccess;
}

}  // namespace mp4vcfg
