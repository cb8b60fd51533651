#include "mp4vcfg/commands.h"

#include <cstring>
#include <string>
#include <vector>

#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Get(const std::string& module_path, const std::string& file,
        const std::vector<std::string>& keys, std::ostream& out) {
  const Session session(module_path);
  std::vector<const mp4v_host::SettingKey*> asked;
  for (const std::string& name : keys) asked.push_back(&FindKey(name));
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  session.Load(file, &record);
  for (const mp4v_host::SettingKey* key : asked) {
    out << mp4v_host::FormatField(record, *key) << "\n";
  }
  return kExitSuccess;
}

}  // namespace mp4vcfg
