#include "mp4vcfg/commands.h"

#include <nlohmann/json.hpp>

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
  if (json) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
      settings[keys[i].name] = {{"value", JsonValue(zeros, keys[i])},
                                {"set", mp4v_host::SameFieldBytes(zeros, ones, keys[i])}};
    }
    out << JsonText({{"file", file}, {"settings", settings}});
    return kExitSuccess;
  }
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const bool set = mp4v_host::SameFieldBytes(zeros, ones, keys[i]);
    out << PadRight(keys[i].name, 28) << PadRight(mp4v_host::FormatField(zeros, keys[i]), 26)
        << (set ? "set" : "default") << "\n";
  }
  return kExitSuccess;
}

}  // namespace mp4vcfg
