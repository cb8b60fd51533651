#include "mp4vcfg/commands.h"

#include <cstdint>
#include <string>

#include "host/number_text.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Info(const std::string& module_path, std::ostream& out) {
  const Session session(module_path);
  struct Item {
    uint32_t id;
    const char* label;
    bool is_text;
  };
  static const Item kItems[] = {{MP4V_INFO_MODULE_NAME, "name", true},
                                {MP4V_INFO_VALUE_0, "item 2", false},
                                {MP4V_INFO_VALUE_2, "item 3", false},
                                {MP4V_INFO_VERSION, "version", true},
                                {MP4V_INFO_PLATFORM, "platform", true}};
  std::string text = PadRight("module", 26) + session.module().path() + "\n";
  for (const Item& item : kItems) {
    // One byte more than any item takes, so every text ends with a zero.
    unsigned char buffer[MP4V_INFO_MAX_BYTES + 1] = {};
    if (session.module().get_info()(item.id, buffer) != MP4V_STATUS_OK) {
      throw Trouble("the module refuses information item " + std::to_string(item.id));
    }
    std::string value;
    if (item.is_text) {
      value = reinterpret_cast<const char*>(buffer);
    } else {
      const uint32_t number = buffer[0] | buffer[1] << 8 | buffer[2] << 16 |
                              static_cast<uint32_t>(buffer[3]) << 24;
      value = mp4v_host::FormatInt32(static_cast<int32_t>(number));
    }
    text += PadRight(item.label, 26) + value + "\n";
  }
  const auto resource = session.module().VersionResource();
  if (!resource.empty()) text += "version resource:\n";
  for (const auto& entry : resource) {
    text += "  " + PadRight(entry.first, 24) + entry.second + "\n";
  }
  out << text;
  return kExitSuccess;
}

}  // namespace mp4vcfg
