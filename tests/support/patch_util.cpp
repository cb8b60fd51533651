#include "support/patch_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testutil {

std::string ApplyUnifiedDiff(const std::string& text, const std::string& patch) {
  std::vector<std::string> old_lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    old_lines.push_back(text.substr(start, end - start));
    start = end;
  }
  std::vector<std::string> patch_lines;
  for (size_t start = 0; start < patch.size();) {
    size_t end = patch.find('\n', start);
    end = end == std::string::npos ? patch.size() : end + 1;
    patch_lines.push_back(patch.substr(start, end - start));
    start = end;
  }
  std::string out;
  size_t next_old = 0;
  for (size_t i = 2; i < patch_lines.size();) {
    size_t old_start = 0, old_count = 0, new_start = 0, new_count = 0;
    EXPECT_EQ(std::sscanf(patch_lines[i].c_str(), "@@ -%zu,%zu +%zu,%zu @@", &old_start,
                          &old_count, &new_start, &new_count),
              4)
        << patch_lines[i];
    const size_t first = old_count == 0 ? old_start : old_start - 1;
    for (; next_old < first; ++next_old) out += old_lines.at(next_old);
    for (++i; i < patch_lines.size() && patch_lines[i][0] != '@'; ++i) {
      std::string body = patch_lines[i].substr(1);
      const bool cut = i + 1 < patch_lines.size() && patch_lines[i + 1][0] == '\\';
      if (cut) body.pop_back();  // "\ No newline at end of file" follows
      if (patch_lines[i][0] != '+') {
        EXPECT_EQ(old_lines.at(next_old), body) << "context of line " << next_old + 1;
        ++next_old;
      }
      if (patch_lines[i][0] != '-') out += body;
      if (cut) ++i;
    }
  }
  for (; next_old < old_lines.size(); ++next_old) out += old_lines[next_old];
  return out;
}

}  // namespace testutil
