#include "mp4vcfg/commands.h"

#include <cmath>
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
    // JSON has no infinities or NaN; a file can still hold them.
    auto number = [](const mp4v_host::SettingKey& key, const MP4VSettings& record) {
      return key.type == mp4v_host::FieldType::kDouble &&
                     !std::isfinite(mp4v_host::LoadDouble(record, key))
                 ? std::string("null")
                 : mp4v_host::FormatField(record, key);
    };
    out << "{\n  \"files\": [" << JsonString(first) << ", " << JsonString(second)
        << "],\n  \"differences\": {";
    for (size_t i = 0; i < differences.size(); ++i) {
      const Difference& d = differences[i];
      out << (i == 0 ? "\n" : ",\n") << "    " << JsonString(d.key->name) << ": ["
          << number(*d.key, a) << ", " << number(*d.key, b) << "]";
    }
    out << (differences.empty() ? "}\n}\n" : "\n  }\n}\n");
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
