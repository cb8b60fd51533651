#include "mp4vcfg/commands.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {
namespace {

struct Difference {
  const mp4v_host::SettingKey* key;
  bool first_set;
  bool second_set;
};

// `value` of a setting, marked when the file does not give it.
std::string Shown(const std::string& value, bool set) {
  return set ? value : value + " (default)";
}

}  // namespace

int Diff(const std::string& module_path, const std::string& first, const std::string& second,
         bool json, std::ostream& out) {
  const Session session(module_path);
  MP4VSettings a, a_ones, b, b_ones;
  session.LoadTwice(first, &a, &a_ones);
  session.LoadTwice(second, &b, &b_ones);
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  std::vector<Difference> differences;
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    if (mp4v_host::SameFieldBytes(a, b, keys[i])) continue;
    differences.push_back({&keys[i], mp4v_host::SameFieldBytes(a, a_ones, keys[i]),
                           mp4v_host::SameFieldBytes(b, b_ones, keys[i])});
  }
  const int status = differences.empty() ? kExitSuccess : kExitFailure;
  if (json) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const Difference& d : differences) {
      values[d.key->name] =
          nlohmann::ordered_json::array({JsonValue(a, *d.key), JsonValue(b, *d.key)});
    }
    out << JsonText({{"files", nlohmann::ordered_json::array({first, second})},
                     {"differences", values}});
    return status;
  }
  if (differences.empty()) {
    out << "the 56 settings of " << first << " and " << second << " agree\n";
    return status;
  }
  out << PadRight("setting", 28) << PadRight(first, 26) << second << "\n";
  for (const Difference& d : differences) {
    out << PadRight(d.key->name, 28)
        << PadRight(Shown(mp4v_host::FormatField(a, *d.key), d.first_set), 26)
        << Shown(mp4v_host::FormatField(b, *d.key), d.second_set) << "\n";
  }
  return status;
}

}  // namespace mp4vcfg
