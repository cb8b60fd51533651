// What a save and `mp4vcfg check` promise, tested against the module's real
// requests on a real file: every line that is not a setting's line survives
// a save byte for byte, in order, and so does every line check does not
// name, and every line over 511 characters it does not say loses text;
// when check names no loss, the settings load back exactly as they loaded
// before the save; the layout check says a save changes (line ends, empty
// lines added and dropped) is the one between the file and the saved file;
// a save of what a save wrote changes no byte; and a file that begins with
// a UTF-16 byte-order mark is refused and left as it was. Shared by the
// fuzz target and the randomized test.
#ifndef MP4V_FUZZ_CHECK_PROPERTY_H_
#define MP4V_FUZZ_CHECK_PROPERTY_H_

#include <algorithm>
#include <cctype>
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

// Whether a save may write `line` in its own layout: some part of it, as a
// reader takes a line (511 characters at a time), begins with the name of
// one of the 56 settings (its first word before "=" or "#", in any case).
// Every other line is no setting's and must be kept byte for byte.
inline bool MaySettingLine(const std::string& line) {
  for (size_t part = 0; part < line.size(); part += 511) {
    const std::string text = line.substr(part, 511);
    size_t begin = text.find_first_not_of(" \t\v\f");
    if (begin == std::string::npos) continue;
    size_t end = text.find_first_of(std::string(" \t\v\f=#\0", 8), begin);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(begin, end - begin);
    for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
      if (word.size() == std::strlen(row.key) &&
          std::equal(word.begin(), word.end(), row.key, [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
          })) {
        return true;
      }
    }
  }
  return false;
}

// The lines of `text` as an editor shows them, each with the line end
// that ends it ("\n", "\r\n", "\r", or "" for a last line without one).
struct EndedLine {
  std::string text;
  std::string end;
};
inline std::vector<EndedLine> EndedLines(const std::string& text) {
  std::vector<EndedLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const size_t width = text.compare(end, 2, "\r\n") == 0 ? 2 : end < text.size() ? 1 : 0;
    lines.push_back({text.substr(start, end - start), text.substr(end, width)});
    start = end + width;
  }
  return lines;
}

// Empty when the layout check says a save changes is the one between the
// lines of `text` and of `saved` (both without a leading byte-order mark):
// every line end of a line with text that is not the platform's is named,
// as often as it occurs, and the empty lines saved are those of `text`, with
// the ones named added and dropped, and the one before the settings' header
// when the save adds it.
inline std::string VerifyLayout(const std::string& text, const std::string& saved,
                                const mp4vcfg::LayoutChange& layout) {
#ifdef _WIN32
  const std::string platform = "\r\n";
#else
  const std::string platform = "\n";
#endif
  auto name = [](const std::string& end) {
    return end == "\n" ? "LF" : end == "\r\n" ? "CR LF" : end == "\r" ? "CR" : "";
  };
  std::vector<std::pair<std::string, size_t>> expected;  // in the order they occur
  size_t empty_in = 0;
  for (const EndedLine& line : EndedLines(text)) {
    if (line.text.empty()) {
      ++empty_in;
      continue;
    }
    if (line.end == platform) continue;
    auto at = std::find_if(expected.begin(), expected.end(),
                           [&](const auto& e) { return e.first == name(line.end); });
    if (at == expected.end()) {
      expected.emplace_back(name(line.end), 0);
      at = expected.end() - 1;
    }
    ++at->second;
  }
  std::vector<std::pair<std::string, size_t>> named;
  for (const auto& e : layout.line_ends) {
    if (e.to != name(platform)) return "line ends named as becoming " + e.to;
    named.emplace_back(e.from, e.lines);
  }
  if (named != expected) return "the line ends named are not those of the file";
  // The header a save adds is written as the section's name alone.
  const std::string header = std::string("[") + kMP4VSettingsSection + "]";
  long headers = 0;
  for (const EndedLine& line : EndedLines(text)) headers -= line.text == header;
  size_t empty_out = 0;
  for (const EndedLine& line : EndedLines(saved)) {
    empty_out += line.text.empty();
    headers += line.text == header;
  }
  if (empty_out + layout.empty_lines_dropped !=
      empty_in + layout.empty_lines_added + (headers > 0 ? 1 : 0)) {
    return "the empty lines named added (" + std::to_string(layout.empty_lines_added) +
           ") and dropped (" + std::to_string(layout.empty_lines_dropped) + ") take " +
           std::to_string(empty_in) + " to " + std::to_string(empty_out);
  }
  return "";
}

// Whether `bytes` begin with a UTF-16 byte-order mark (FF FE or FE FF): a
// file a save refuses and leaves as it is.
inline bool BeginsWithUtf16Mark(const std::string& bytes) {
  return bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
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
  const mp4vcfg::SaveReport report = mp4vcfg::JudgeSettingsText(bytes);
  const std::vector<mp4vcfg::Finding>& findings = report.findings;
  std::set<size_t> named;
  std::set<size_t> losing;
  bool loses = false;
  for (const mp4vcfg::Finding& f : findings) {
    named.insert(f.line);
    if (f.loses_text) losing.insert(f.line);
    loses = loses || f.loses_text;
  }
  WriteAll(path, bytes);
  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  MP4VSettings before{}, after{};
  if (BeginsWithUtf16Mark(bytes)) {
    // Not 8-bit text: the load fails, touching nothing, and so does a save.
    if (load(&before, path.c_str()) == MP4V_STATUS_OK) return "a UTF-16 file was loaded";
    if (std::memcmp(&before, &after, sizeof before) != 0) return "a failed load changed the record";
    if (save(&before, path.c_str()) == MP4V_STATUS_OK) return "a UTF-16 file was saved";
    if (ReadAll(path) != bytes) return "a refused save changed the file";
    if (loses || findings.size() != 1) return "check did not say the save is refused";
    return "";
  }
  if (load(&before, path.c_str()) != MP4V_STATUS_OK) return "load failed";
  if (save(&before, path.c_str()) != MP4V_STATUS_OK) return "save failed";
  const std::string saved = ReadAll(path);
  if (load(&after, path.c_str()) != MP4V_STATUS_OK) return "second load failed";
  if (!loses && !SameFields(before, after)) return "check named no loss, yet a setting changed";

  // A file check calls UTF-16 is beyond it; otherwise each line that is no
  // setting's, and each line it does not name, is found, in order and byte
  // for byte, among the saved lines.
  const bool wide = findings.size() == 1 && findings[0].reason.compare(0, 6, "UTF-16") == 0;
  if (!wide) {
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::string out = saved;
    if (out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
    const std::vector<std::string> in_lines = EditorLines(text);
    const std::vector<std::string> out_lines = EditorLines(out);
    size_t at = 0;
    for (size_t i = 0; i < in_lines.size(); ++i) {
      const std::string& line = in_lines[i];
      // A line check names may change when it is a setting's, or a line
      // over 511 characters led by a header, whose parts a save may have to
      // part to add the settings after the first one. A line over 511
      // characters that a save parts loses text: one of which check does
      // not say so is kept whole.
      const bool may_change =
          MaySettingLine(line) || (line.size() > 511 && line[0] == '[');
      const bool whole = line.size() > 511 && losing.count(i + 1) == 0;
      if (line.empty() || (named.count(i + 1) != 0 && may_change && !whole)) continue;
      bool found = false;
      while (!found && at < out_lines.size()) found = out_lines[at++] == line;
      if (!found) return "line " + std::to_string(i + 1) + " lost: " + line;
    }
    const std::string layout = VerifyLayout(text, out, report.layout);
    if (!layout.empty()) return layout;
  }
  // What a save wrote, saved again, stays byte for byte.
  if (save(&after, path.c_str()) != MP4V_STATUS_OK) return "third save failed";
  if (SameFields(before, after) && ReadAll(path) != saved) return "a second save changed the file";
  return "";
}

}  // namespace check_property

#endif  // MP4V_FUZZ_CHECK_PROPERTY_H_
