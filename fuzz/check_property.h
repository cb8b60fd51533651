// What `mp4vcfg check` promises, tested against the module's real requests
// on a real file: every line it does not name survives a save (as it stands,
// or re-aligned: the same characters but blanks, plus a bare key's "=" or a
// header's "]"); when it names no loss, the settings load back exactly as
// they loaded before the save; and a save of what a save wrote changes no
// byte. Shared by the fuzz target and the randomized test.
#ifndef MP4V_FUZZ_CHECK_PROPERTY_H_
#define MP4V_FUZZ_CHECK_PROPERTY_H_

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "api/module.h"
#include "mp4vcfg/check.h"
#include "settings/key_table.h"

namespace check_property {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The lines of `text` as an editor shows them (LF, CR LF or CR ends one).
inline std::vector<std::string> EditorLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// The characters of `line` that are not white space.
inline std::string Squashed(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\v' && c != '\f') out.push_back(c);
  }
  return out;
}

// The 56 fields of `a` and `b` have the same bytes.
inline bool SameFields(const MP4VSettings& a, const MP4VSettings& b) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    const size_t width = std::strcmp(row.type_name, "dbl") == 0 ? 8 : 4;
    if (std::memcmp(reinterpret_cast<const char*>(&a) + row.offset,
                    reinterpret_cast<const char*>(&b) + row.offset, width) != 0) {
      return false;
    }
  }
  return true;
}

// Empty when the promise holds for a file of `bytes` at `path`; otherwise
// what broke it.
inline std::string Verify(const std::string& bytes, const std::string& path) {
  const std::vector<mp4vcfg::Finding> findings = mp4vcfg::CheckSettingsText(bytes);
  std::set<size_t> named;
  bool loses = false;
  for (const mp4vcfg::Finding& f : findings) {
    named.insert(f.line);
    loses = loses || f.loses_text;
  }
  WriteAll(path, bytes);
  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  MP4VSettings before{}, after{};
  if (load(&before, path.c_str()) != MP4V_STATUS_OK) return "load failed";
  if (save(&before, path.c_str()) != MP4V_STATUS_OK) return "save failed";
  const std::string saved = ReadAll(path);
  if (load(&after, path.c_str()) != MP4V_STATUS_OK) return "second load failed";
  if (!loses && !SameFields(before, after)) return "check named no loss, yet a setting changed";

  // A file check calls UTF-16 is beyond it; otherwise each line it does not
  // name is found, in order, among the saved lines.
  const bool utf16 = findings.size() == 1 && findings[0].reason.compare(0, 6, "UTF-16") == 0;
  if (!utf16) {
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::string out = saved;
    if (out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
    const std::vector<std::string> in_lines = EditorLines(text);
    const std::vector<std::string> out_lines = EditorLines(out);
    size_t at = 0;
    for (size_t i = 0; i < in_lines.size(); ++i) {
      const std::string& line = in_lines[i];
      if (named.count(i + 1) != 0 || line.empty()) continue;
      const std::string want = Squashed(line);
      bool found = false;
      while (!found && at < out_lines.size()) {
        const std::string got = Squashed(out_lines[at++]);
        found = got == want || got == want + "=" || got == want + "]";
      }
      if (!found) return "line " + std::to_string(i + 1) + " lost: " + line;
    }
  }
  // What a save wrote, saved again, stays byte for byte.
  if (save(&after, path.c_str()) != MP4V_STATUS_OK) return "third save failed";
  if (SameFields(before, after) && ReadAll(path) != saved) return "a second save changed the file";
  return "";
}

}  // namespace check_property

#endif  // MP4V_FUZZ_CHECK_PROPERTY_H_
