#include "mp4vcfg/check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "api/requests.h"
#include "config/config_file.h"
#include "config/value_text.h"
#include "settings/key_table.h"

namespace mp4vcfg {
namespace {

// UTF-16 text has a byte-order mark of its own, or a zero byte in every
// other place.
bool LooksLikeUtf16(const std::string& bytes) {
  if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                            (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    return true;
  }
  const size_t sample = std::min<size_t>(bytes.size(), 512);
  size_t zeros = 0;
  for (size_t i = 0; i < sample; ++i) zeros += bytes[i] == '\0';
  return sample >= 4 && zeros * 4 >= sample;
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

// Why the save rewrites the value of a setting: it loses something on the
// way (the number changes: it is rounded, or is not one a file can hold;
// the text after the number goes; there is no number; the number was out of
// range), or it only spells the same number another way (no loss). False
// for a key that is no setting.
bool ExplainRewrite(const MP4VSavedLine& line, const MP4VSettings& loaded,
                    const MP4VSettings& reloaded, Finding* f) {
  const MP4VSettingsKey* row = TableRow(line.key);
  if (row == nullptr) return false;
  const ConfigNumberScan scan =
      ConfigScanNumber(line.old_value.c_str(), ConfigResolveType(row->type_name));
  const std::string old_text = "'" + DisplayLine(line.old_value, 30) + "'";
  if (line.read_lossy) {
    f->reason = "a save writes this setting's line as '" + DisplayLine(line.written, 50) +
                "': the rest of the line is dropped";
  } else if (!SameField(loaded, reloaded, *row)) {
    f->reason = old_text + " loads as " + FieldText(loaded, *row) + ", a save writes " +
                line.new_value + ", which loads as " + FieldText(reloaded, *row);
  } else if (scan.length == 0 && !line.old_value.empty()) {
    f->reason = old_text + " is not a number: it loads as 0 and a save writes " +
                line.new_value;
  } else if (scan.length < line.old_value.size()) {
    f->reason = "the value loads as " + line.new_value + ": '" +
                DisplayLine(line.old_value.substr(scan.length), 30) +
                "' after the number is dropped";
  } else if (scan.out_of_range) {
    f->reason = old_text + " is out of range: a save writes " + line.new_value;
  } else {
    f->reason = "a save writes the value " + old_text + " as " + line.new_value +
                ", the same number";
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
  std::vector<Finding> findings;
  if (LooksLikeUtf16(bytes)) {
    Finding f;
    f.line = 1;
    f.text = bytes.substr(0, bytes.find('\n'));
    f.reason = "UTF-16 text: not readable as 8-bit text (no setting loads from it, and a "
               "save adds them as 8-bit text)";
    findings.push_back(f);
    return findings;
  }

  // What the save does with the settings the file holds: the module's own
  // load, save and load again, on these bytes.
  MP4VSettings loaded{};
  MP4VConfigLoadText(bytes, &loaded);
  std::string after;
  std::vector<MP4VSavedLine> lines;
  if (!MP4VConfigSaveText(bytes, &loaded, &after, &lines)) throw std::bad_alloc();
  MP4VSettings reloaded{};
  MP4VConfigLoadText(after, &reloaded);

  const LineNumbers numbers(bytes);
  size_t reported = 0;  // the last line number given a finding
  for (const MP4VSavedLine& line : lines) {
    const size_t number = numbers.At(line.offset);
    Finding f;
    f.line = number;
    f.text = numbers.Text(number);
    const size_t line_end = line.offset + line.size;
    if (f.text.size() > kConfigLineMax &&
        (line_end < bytes.size() && bytes[line_end] != '\n' && bytes[line_end] != '\r')) {
      f.reason = "line longer than " + std::to_string(kConfigLineMax) +
                 " characters: the rest becomes a line of its own";
    } else if (line.kind == MP4VSavedLineKind::kSettingRewritten) {
      if (!ExplainRewrite(line, loaded, reloaded, &f)) continue;
      if (line.written.find('\n') != std::string::npos) {
        f.reason += "; the comment moves to a line of its own (the entry and its comment "
                    "no longer fit one line)";
      }
    } else if (line.kind == MP4VSavedLineKind::kRealigned && line.key.size() > 1 &&
               line.key[0] == '[' && f.text.find_first_not_of(" \t") != 0) {
      f.reason = "an indented section header is read as an entry named '" +
                 DisplayLine(line.key, 40) +
                 "': the lines after it stay in the section before it";
      f.loses_text = false;
    } else {
      continue;
    }
    if (number == reported) continue;  // one finding a line
    reported = number;
    findings.push_back(f);
  }

  // A setting the load took from a later section of the same name than the
  // one the save writes to: the save adds it to the first, and the next
  // load reads it there, as the number the save wrote.
  for (const MP4VSavedLine& line : lines) {
    if (line.loads == nullptr || line.kind == MP4VSavedLineKind::kSettingRewritten) continue;
    const MP4VSettingsKey* row = TableRow(line.loads);
    if (row == nullptr || SameField(loaded, reloaded, *row)) continue;
    Finding f;
    f.line = numbers.At(line.offset);
    f.text = numbers.Text(f.line);
    f.reason = std::string(row->key) + " loads from this line as " + FieldText(loaded, *row) +
               "; a save writes it into the first [" + kMP4VSettingsSection +
               "] section, and it then loads as " + FieldText(reloaded, *row);
    const auto at = std::find_if(findings.begin(), findings.end(),
                                 [&](const Finding& g) { return g.line >= f.line; });
    if (at != findings.end() && at->line == f.line) {
      at->reason += "; " + f.reason;
      at->loses_text = true;
    } else {
      findings.insert(at, f);
    }
  }
  return findings;
}

}  // namespace mp4vcfg
