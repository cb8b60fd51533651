#include "mp4vcfg/commands.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "mp4vcfg/check.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Check(const std::string& file, bool json, std::ostream& out) {
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  const std::vector<Finding> findings =
      exists ? CheckSettingsText(bytes) : std::vector<Finding>();
  const size_t losses = CountLosses(findings);
  if (json) {
    nlohmann::ordered_json listed = nlohmann::ordered_json::array();
    for (const Finding& f : findings) {
      listed.push_back(nlohmann::ordered_json::object({{"line", f.line},
                                                       {"loses_text", f.loses_text},
                                                       {"reason", f.reason},
                                                       {"text", f.text}}));
    }
    out << JsonText({{"file", file},
                     {"exists", exists},
                     {"loses_text", losses > 0},
                     {"findings", listed}});
  } else if (!exists) {
    out << file << ": no such file; a save would create it\n";
  } else if (findings.empty()) {
    out << file << ": a save keeps every line as it stands\n";
  } else {
    out << FindingsText(file, findings);
    out << file << ": a save would change " << findings.size()
        << (findings.size() == 1 ? " line" : " lines") << " and lose text from " << losses
        << " of them\n";
  }
  return losses > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace mp4vcfg
