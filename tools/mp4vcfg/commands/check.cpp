#include "mp4vcfg/commands.h"

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
    out << "{\n  \"file\": " << JsonString(file) << ",\n  \"exists\": "
        << (exists ? "true" : "false") << ",\n  \"loses_text\": " << (losses > 0 ? "true" : "false")
        << ",\n  \"findings\": [";
    for (size_t i = 0; i < findings.size(); ++i) {
      const Finding& f = findings[i];
      out << (i == 0 ? "\n" : ",\n") << "    {\"line\": " << f.line
          << ", \"loses_text\": " << (f.loses_text ? "true" : "false")
          << ", \"reason\": " << JsonString(f.reason) << ", \"text\": " << JsonString(f.text)
          << "}";
    }
    out << (findings.empty() ? "]\n}\n" : "\n  ]\n}\n");
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
