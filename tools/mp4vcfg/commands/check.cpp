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
  const SaveReport report = exists ? JudgeSettingsText(bytes) : SaveReport();
  const std::vector<Finding>& findings = report.findings;
  const size_t losses = CountLosses(findings);
  const std::string layout = LayoutText(report.layout);
  if (json) {
    nlohmann::ordered_json listed = nlohmann::ordered_json::array();
    for (const Finding& f : findings) {
      listed.push_back(nlohmann::ordered_json::object({{"line", f.line},
                                                       {"loses_text", f.loses_text},
                                                       {"reason", f.reason},
                                                       {"text", f.text}}));
    }
    nlohmann::ordered_json ends = nlohmann::ordered_json::array();
    for (const LayoutChange::LineEnds& e : report.layout.line_ends) {
      ends.push_back(nlohmann::ordered_json::object(
          {{"from", e.from.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e.from)},
           {"to", e.to},
           {"lines", e.lines}}));
    }
    out << JsonText({{"file", file},
                     {"exists", exists},
                     {"loses_text", losses > 0},
                     {"findings", listed},
                     {"layout", {{"line_ends", ends},
                                 {"empty_lines_added", report.layout.empty_lines_added},
                                 {"empty_lines_dropped", report.layout.empty_lines_dropped}}}});
  } else if (!exists) {
    out << file << ": no such file; a save would create it\n";
  } else if (findings.empty()) {
    out << file
        << (layout.empty() ? ": a save keeps every line as it stands\n"
                           : ": a save keeps the text of every line and changes only the "
                             "layout: " + layout + "\n");
  } else {
    out << FindingsText(file, findings);
    out << file << ": a save would change " << findings.size()
        << (findings.size() == 1 ? " line" : " lines") << " and lose text from " << losses
        << " of them" << (layout.empty() ? "" : "; it changes the layout too: " + layout)
        << "\n";
  }
  return losses > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace mp4vcfg
