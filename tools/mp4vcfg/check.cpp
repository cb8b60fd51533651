#include "mp4vcfg/check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "api/requests.h"
#include "config/config_file.h"
#include "config/value_text.h"
#include "settings/key_table.h"

namespace mp4vcfg {
namespace {

// UTF-16 text without a byte-order mark: in its first 512 bytes, a zero
// byte in nearly every other place (the high bytes of its Latin letters)
// and few in the places between. A line of zero bytes in 8-bit text has
// zeros in both.
bool LooksLikeUtf16(const std::string& bytes) {
  const size_t sample = std::min<size_t>(bytes.size(), 512) & ~size_t{1};
  if (sample < 4) return false;
  size_t zeros[2] = {0, 0};
  for (size_t i = 0; i < sample; ++i) zeros[i % 2] += bytes[i] == '\0';
  const size_t half = sample / 2;
  for (int p = 0; p < 2; ++p) {
    if (zeros[p] * 4 >= half * 3 && zeros[1 - p] * 4 <= half) return true;
  }
  return false;
}

// The lines of a text as an editor counts them: where each begins, with LF,
// CR LF and a lone CR each ending one line.
class LineNumbers {
 public:
  explicit LineNumbers(const std::string& bytes) : bytes_(bytes) {
    starts_.push_back(0);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      if (bytes[i] == '\n' || bytes[i] == '\r') starts_.push_back(i + 1);
    }
  }
  // 1-based number of the line holding byte `offset`.
  size_t At(size_t offset) const {
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                               starts_.begin());
  }
  // The text of line `number`, without its line end.
  std::string Text(size_t number) const {
    const size_t start = starts_[number - 1];
    size_t end = number < starts_.size() ? starts_[number] : bytes_.size();
    while (end > start && (bytes_[end - 1] == '\n' || bytes_[end - 1] == '\r')) --end;
    return bytes_.substr(start, end - start);
  }

 private:
  const std::string& bytes_;
  std::vector<size_t> starts_;
};

// The key table's row for `key` (as a file spells it), or null.
const MP4VSettingsKey* TableRow(const std::string& key) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (ConfigNamesEqual(row.key, key.c_str())) return &row;
  }
  return nullptr;
}

std::string FieldText(const MP4VSettings& record, const MP4VSettingsKey& row) {
  const char* field = reinterpret_cast<const char*>(&record) + row.offset;
  char text[64];
  if (std::strcmp(row.type_name, "dbl") == 0) {
    double value;
    std::memcpy(&value, field, sizeof value);
    std::snprintf(text, sizeof text, "%.17g", value);
  } else {
    int32_t value;
    std::memcpy(&value, field, sizeof value);
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  }
  return text;
}

bool SameField(const MP4VSettings& a, const MP4VSettings& b, const MP4VSettingsKey& row) {
  const size_t width = std::strcmp(row.type_name, "dbl") == 0 ? 8 : 4;
  return std::memcmp(reinterpret_cast<const char*>(&a) + row.offset,
                     reinterpret_cast<const char*>(&b) + row.offset, width) == 0;
}

// The words of `text` after its first, as one text ("" when there is
// none): words are separated by blanks and tabs.
std::string WordsAfterFirst(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t gap = text.find_first_of(" \t", first);
  if (gap == std::string::npos) return "";
  const size_t rest = text.find_first_not_of(" \t", gap);
  return rest == std::string::npos ? "" : text.substr(rest);
}

// Whether the texts `a` and `b` of a setting of this row are the same number
// (before a load's frame-rate snapping).
bool SameNumber(const MP4VSettingsKey& row, const std::string& a, const std::string& b) {
  if (std::strcmp(row.type_name, "dbl") == 0) {
    const double x = ConfigParseDouble(a.c_str());
    const double y = ConfigParseDouble(b.c_str());
    return std::memcmp(&x, &y, sizeof x) == 0;
  }
  return ConfigParseInt32(a.c_str()) == ConfigParseInt32(b.c_str());
}

// Why the save rewrites the line of a setting, `loaded` being what the file
// loads as, `saved` the record saved and `reloaded` what the saved file loads
// as. A setting the save was asked to change (`saved` differs from
// `loaded`) loses its old value by design, and nothing else may go: the rest
// of its line, or words of its value after the first. One it was not asked
// to change loses something when its number changes (it is rounded, or is
// not one a file can hold), when text follows the number, when there is no
// number, or when the number was out of range; it loses nothing when the
// save only spells the same number another way. False for a key that is no
// setting, and for a changed setting that loses nothing.
bool ExplainRewrite(const MP4VSavedLine& line, const MP4VSettings& loaded,
                    const MP4VSettings& saved, const MP4VSettings& reloaded, Finding* f) {
  const MP4VSettingsKey* row = TableRow(line.key);
  if (row == nullptr) return false;
  const bool changed = !SameField(loaded, saved, *row);
  const std::string old_text = "'" + DisplayLine(line.old_value, 30) + "'";
  if (line.read_lossy) {
    f->reason = "a save writes this setting's line as '" + DisplayLine(line.written, 50) +
                "': the rest of the line is dropped";
    return true;
  }
  if (!SameField(saved, reloaded, *row)) {
    f->reason = (changed ? "the new value " + FieldText(saved, *row)
                         : old_text + " loads as " + FieldText(loaded, *row) + ",") +
                " a save writes " + line.new_value + ", which loads as " +
                FieldText(reloaded, *row);
    if (changed) f->reason.insert(f->reason.find(" a save"), ":");
    return true;
  }
  if (changed) {
    const std::string rest = WordsAfterFirst(line.old_value);
    if (rest.empty()) return false;
    f->reason = "a save writes " + line.new_value + " in place of " + old_text + ": '" +
                DisplayLine(rest, 30) + "' after its first word is dropped";
    return true;
  }
  const ConfigNumberScan scan =
      ConfigScanNumber(line.old_value.c_str(), ConfigResolveType(row->type_name));
  if (scan.length == 0 && !line.old_value.empty()) {
    f->reason = old_text + " is not a number: it loads as 0 and a save writes " +
                line.new_value;
  } else if (scan.length < line.old_value.size()) {
    f->reason = "the value loads as " + line.new_value + ": '" +
                DisplayLine(line.old_value.substr(scan.length), 30) +
                "' after the number is dropped";
  } else if (scan.out_of_range) {
    f->reason = old_text + " is out of range: a save writes " + line.new_value;
  } else if (SameNumber(*row, line.old_value, line.new_value)) {
    f->reason = "a save writes the value " + old_text + " as " + line.new_value +
                ", the same number";
    f->loses_text = false;
  } else {
    f->reason = "a save writes the value " + old_text + " as " + line.new_value +
                ": a load reads both as " + FieldText(reloaded, *row);
    f->loses_text = false;
  }
  return true;
}

}  // namespace

std::string DisplayLine(const std::string& text, size_t width) {
  // Characters, not bytes, count towards the width, and a cut never falls
  // inside one: a UTF-8 sequence is one character.
  std::string out;
  size_t shown = 0;
  size_t last_fit = 0;  // bytes of `out` within width - 3 characters
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (c >= 0xC0) {
      length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      for (size_t k = 1; k < length; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
          length = 1;
          break;
        }
      }
    }
    if (c < 0x20 && c != '\t') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out.append(text, i, length);
    }
    i += length;
    ++shown;
    if (shown + 3 <= width) last_fit = out.size();
  }
  if (shown > width) out = out.substr(0, width > 3 ? last_fit : 0) + "...";
  return out;
}

std::vector<Finding> CheckSettingsText(const std::string& bytes) {
  MP4VSettings loaded{};
  MP4VConfigLoadText(bytes, &loaded);
  return CheckSave(bytes, loaded);
}

std::vector<Finding> CheckSave(const std::string& bytes, const MP4VSettings& saved) {
  std::vector<Finding> findings;
  const std::string first_line = bytes.substr(0, bytes.find_first_of("\r\n"));
  // What the save does: the module's own save of `saved` over these bytes,
  // and its load of them and of what it wrote.
  std::string after;
  std::vector<MP4VSavedLine> lines;
  switch (MP4VConfigSaveText(bytes, &saved, &after, &lines)) {
    case MP4VSaveTextResult::kWritten:
      break;
    case MP4VSaveTextResult::kUtf16:
      findings.push_back({1, first_line,
                          "UTF-16 text (it begins with a UTF-16 byte-order mark): a save "
                          "refuses it and leaves it as it is, and no setting loads from it",
                          false});
      return findings;
    case MP4VSaveTextResult::kNoValueText: {
      std::string rate = "frame_rate";
      if (const MP4VSettingsKey* row = TableRow(rate)) rate += " " + FieldText(saved, *row);
      findings.push_back({1, first_line,
                          rate + ": no value text holds this rate, and no line of the file "
                                 "loads as it: a save refuses the record and leaves the file "
                                 "as it is",
                          false});
      return findings;
    }
    case MP4VSaveTextResult::kOutOfMemory:
      throw std::bad_alloc();
  }
  if (LooksLikeUtf16(bytes)) {
    findings.push_back({1, first_line,
                        "UTF-16 text: not readable as 8-bit text (no setting loads from "
                        "it, and a save adds them as 8-bit text)",
                        true});
    return findings;
  }
  MP4VSettings loaded{};
  MP4VConfigLoadText(bytes, &loaded);
  MP4VSettings reloaded{};
  MP4VConfigLoadText(after, &reloaded);

  const LineNumbers numbers(bytes);
  // One finding a line: a line over kConfigLineMax characters is read in
  // parts, and each part may be rewritten.
  auto add = [&findings](Finding f) {
    if (!findings.empty() && findings.back().line == f.line) {
      findings.back().reason += "; " + f.reason;
      findings.back().loses_text = findings.back().loses_text || f.loses_text;
    } else {
      findings.push_back(std::move(f));
    }
  };
  // A line over kConfigLineMax characters is read in parts: a part the save
  // rewrites goes on a line of its own, which splits the line. Said once,
  // before the reasons of its parts.
  const std::string split_reason =
      "a line longer than " + std::to_string(kConfigLineMax) +
      " characters is read in parts, and a save writes a setting's part on a line of its "
      "own: ";
  bool after_split = false;  // the line before was ended where this one begins
  for (size_t i = 0; i < lines.size(); ++i) {
    const MP4VSavedLine& line = lines[i];
    const bool split = line.split || after_split;
    after_split = line.split;
    Finding f;
    f.line = numbers.At(line.offset);
    f.text = numbers.Text(f.line);
    if (line.kind != MP4VSavedLineKind::kSettingRewritten) {
      // A part kept as read, ended because the save adds settings after it
      // (a rewritten next part says so itself).
      const bool next_rewritten = i + 1 < lines.size() &&
                                  lines[i + 1].kind == MP4VSavedLineKind::kSettingRewritten;
      if (!line.split || next_rewritten) continue;
      f.reason = "a line longer than " + std::to_string(kConfigLineMax) +
                 " characters is read in parts, and a save adds settings between them: "
                 "the line is split";
      add(f);
      continue;
    }
    if (!ExplainRewrite(line, loaded, saved, reloaded, &f)) continue;
    if (line.written.find('\n') != std::string::npos) {
      f.reason += "; the comment moves to a line of its own (the entry and its comment "
                  "no longer fit one line)";
    }
    if (split) {
      f.loses_text = true;
      if (findings.empty() || findings.back().line != f.line) f.reason.insert(0, split_reason);
    }
    add(f);
  }

  // A setting the load took from a later section of the same name than the
  // one the save writes to: the save adds it to the first, and the next
  // load reads it there, as the number the save wrote. (Such lines follow
  // the first section, where every rewritten line is: the findings stay in
  // line order.)
  for (const MP4VSavedLine& line : lines) {
    if (line.loads == nullptr || line.kind == MP4VSavedLineKind::kSettingRewritten) continue;
    const MP4VSettingsKey* row = TableRow(line.loads);
    if (row == nullptr || SameField(saved, reloaded, *row)) continue;
    Finding f;
    f.line = numbers.At(line.offset);
    f.text = numbers.Text(f.line);
    f.reason = std::string(row->key) + " loads from this line as " + FieldText(loaded, *row) +
               "; a save writes it into the first [" + kMP4VSettingsSection +
               "] section, and it then loads as " + FieldText(reloaded, *row);
    add(f);
  }
  return findings;
}

}  // namespace mp4vcfg
