#include "mp4vcfg/check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "api/requests.h"
#include "config/config_file.h"
#include "config/value_text.h"
#include "config/white_space.h"
#include "settings/key_table.h"

namespace mp4vcfg {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

struct DocumentDeleter {
  void operator()(ConfigNode* first) const { ConfigFreeDocument(first); }
};
using Document = std::unique_ptr<ConfigNode, DocumentDeleter>;

// One line of the file as an editor shows it, and the nodes the reader
// makes of it (none for an empty line, several for an over-long one).
struct Line {
  size_t number = 0;
  std::string text;
  ConfigNode* first = nullptr;
  size_t nodes = 0;
};

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

std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\t') out.push_back(c);
  }
  return out;
}

// The line the writer makes of `node` alone (its own lines joined by "\n"
// when a comment moves to lines of its own), without the empty line before
// a header.
std::string Written(const ConfigNode& node) {
  ConfigNode alone = node;
  alone.next = nullptr;
  std::string text;
  // With a mark of its own the writer never adds one for the line's sake.
  ConfigSerialize(&alone, true, &text, true);
  text.erase(0, 3);
  if (!text.empty() && text[0] == '\n') text.erase(0, 1);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Whether the writer's line keeps every character of the line as it
// stands: the same text but for blanks, a header's "]" added, or a bare
// key's "=".
bool KeptAsItStands(const std::string& text, const ConfigNode& node,
                    const std::string& written) {
  const std::string before = WithoutBlanks(text);
  const std::string after = WithoutBlanks(written);
  if (before == after) return true;
  if (node.kind == kConfigSection && before + "]" == after) return true;
  return node.kind == kConfigEntry && !before.empty() &&
         text.find('=') == std::string::npos && before + "=" == after;
}

// Why the reader's rules drop text of the line `text`, which they read as
// `node`. The first rule that applies is named.
Finding Explain(const std::string& text, const ConfigNode& node,
                const std::string& written) {
  Finding f;
  f.text = text;
  if (text.find('\0') != std::string::npos) {
    f.reason = "a zero byte ends the line for the reader: the rest of the line is dropped";
    return f;
  }
  ConfigLineMatch match;
  ConfigMatchLine(text.c_str(), &match);
  if (node.kind == kConfigSection) {
    const std::string rest = match.parts == 2
                                 ? std::string(match.part[1].data, match.part[1].size)
                                 : std::string();
    const size_t hash = rest.find('#');
    if (rest.substr(1, hash == std::string::npos ? std::string::npos : hash - 1)
            .find_first_not_of(" \t") != std::string::npos) {
      f.reason = "text after the ']' of a section header is dropped (only a '#' "
                 "comment is kept there)";
    } else {
      f.reason = "an empty comment (a '#' at the end of the line) is dropped";
    }
    return f;
  }
  if (node.kind == kConfigEntry) {
    const std::string key_text(match.part[0].data, match.part[0].size);
    const size_t key_start = key_text.find_first_not_of(" \t\n\v\f\r");
    const size_t key_end = key_start == std::string::npos
                               ? std::string::npos
                               : key_text.find_first_of(" \t\n\v\f\r", key_start);
    const bool more_words =
        key_end != std::string::npos &&
        key_text.find_first_not_of(" \t\n\v\f\r", key_end) != std::string::npos;
    const char after_key = match.part[0].size < text.size() ? text[match.part[0].size] : '\0';
    const std::string key = node.name;
    if (key_start == std::string::npos && after_key == '\0') {
      f.reason = "a line of blanks is read as an entry with an empty key: a save "
                 "writes it as ' = '";
      f.loses_text = false;
      return f;
    }
    if (!key.empty() && key[0] == ';' && (more_words || after_key == '#')) {
      f.reason = "a line beginning with ';' is an entry named '" + key +
                 "': the rest of the line is dropped ('#' begins a comment)";
      return f;
    }
    if (more_words) {
      if (key_start > 0 && text.find('=') == std::string::npos) {
        f.reason = "an indented continuation line is an entry named by its first word ('" +
                   key + "'): the rest of the line is dropped";
      } else {
        f.reason = "a key of several words keeps only its first word ('" + key +
                   "'): the rest of the key is dropped";
      }
      return f;
    }
    if (after_key == '#') {
      f.reason = key.empty()
                     ? "a '#' comment after blanks is an entry with an empty key: "
                       "the comment is dropped (a comment line begins with '#')"
                     : "a '#' before the '=' ends the entry: the rest of the line is "
                       "dropped";
      return f;
    }
    if (after_key == '=' && match.parts == 1) {
      const std::string after = text.substr(match.part[0].size + 1);
      if (!after.empty() && after[0] == '#') {
        f.reason = "'=' directly followed by '#' gives an empty value: the text after "
                   "it is dropped (a blank before the '#' would keep it as a comment)";
        return f;
      }
    }
    if (match.parts == 2 && text.find('#', match.part[0].size) != std::string::npos) {
      f.reason = "an empty comment (a '#' at the end of the line) is dropped";
      return f;
    }
  }
  f.reason = "a save writes this line as '" + DisplayLine(written, 60) + "'";
  return f;
}

// The type of the table's key `key`, or kUnknown for another key.
ConfigType TableType(const char* key) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (ConfigNamesEqual(row.key, key)) return ConfigResolveType(row.type_name);
  }
  return ConfigType::kUnknown;
}

// A finding for a value of the settings section that a save rewrites and
// that loses text on the way: text after the number, no number at all, or a
// number beyond the field's range. False when the rewrite keeps the value.
bool ExplainRewrite(const std::string& old_value, const ConfigNode& node,
                    Finding* f) {
  const ConfigType type = TableType(node.name);
  const ConfigNumberScan scan = ConfigScanNumber(old_value.c_str(), type);
  const std::string now = node.value;
  if (scan.length == 0 && !old_value.empty()) {
    f->reason = "'" + DisplayLine(old_value, 30) + "' is not a number: it loads as 0 "
                "and a save writes " + now;
  } else if (scan.length < old_value.size()) {
    f->reason = "the value loads as " + now + ": '" +
                DisplayLine(old_value.substr(scan.length), 30) +
                "' after the number is dropped";
  } else if (scan.out_of_range) {
    f->reason = "'" + DisplayLine(old_value, 30) + "' is out of range: a save writes " +
                now + (type == ConfigType::kDbl ? ", which loads as 0" : "");
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string DisplayLine(const std::string& text, size_t width) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  if (out.size() > width) out = out.substr(0, width > 3 ? width - 3 : 0) + "...";
  return out;
}

std::vector<Finding> CheckSettingsText(const std::string& bytes) {
  std::vector<Finding> findings;
  if (LooksLikeUtf16(bytes)) {
    Finding f;
    f.line = 1;
    f.text = bytes.substr(0, bytes.find('\n'));
    f.reason = "UTF-16 text: not readable as 8-bit text (a save keeps almost nothing of it)";
    findings.push_back(f);
    return findings;
  }

  // The lines as an editor counts them, each read by the module's reader on
  // its own: together their nodes are the document a save reads.
  std::vector<Line> lines;
  Document document;
  ConfigNode* last = nullptr;
  size_t pos = bytes.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
  for (size_t number = 1; pos < bytes.size(); ++number) {
    size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = bytes.size();
    Line line;
    line.number = number;
    line.text = bytes.substr(pos, end - pos);
    pos = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    bool out_of_memory = false;
    line.first = ConfigParseText(line.text.data(), line.text.size(), &out_of_memory);
    if (line.first != nullptr) {
      if (last == nullptr) {
        document.reset(line.first);
      } else {
        last->next = line.first;
      }
      for (last = line.first, line.nodes = 1; last->next != nullptr; last = last->next) {
        ++line.nodes;
      }
    }
    lines.push_back(line);
  }
  if (document == nullptr) return findings;

  // What a save of the settings the file holds writes: the values as read,
  // then the same document after the save's bindings.
  std::map<const ConfigNode*, std::string> read_values;
  for (const ConfigNode* node = document.get(); node != nullptr; node = node->next) {
    read_values[node] = node->value;
  }
  MP4VSettings record{};
  MP4VConfigBindDocument(document.get(), "load", &record);
  MP4VSnapFrameRate(&record);
  MP4VConfigBindDocument(document.get(), "save", &record);

  for (const Line& line : lines) {
    if (line.nodes == 0) continue;  // an empty line: nothing to lose
    Finding f;
    if (line.text.size() > kConfigLineMax) {
      f.text = line.text;
      f.reason = "line longer than " + std::to_string(kConfigLineMax) +
                 " characters: the rest becomes a line of its own";
    } else {
      ConfigNode& node = *line.first;
      const std::string saved_value = node.value;
      const std::string& read_value = read_values[&node];
      std::strcpy(node.value, read_value.c_str());
      const std::string as_read = Written(node);
      std::strcpy(node.value, saved_value.c_str());
      const std::string as_saved = Written(node);
      const size_t first_character = line.text.find_first_not_of(" \t");
      if (!KeptAsItStands(line.text, node, as_read)) {
        f = Explain(line.text, node, as_read);
      } else if (node.kind == kConfigEntry && node.name[0] == '[' &&
                 first_character > 0 && line.text[first_character] == '[') {
        f.text = line.text;
        f.reason = std::string("an indented section header is read as an entry named '") +
                   node.name + "': the lines after it stay in the section before it";
        f.loses_text = false;
      } else if (saved_value != read_value && ExplainRewrite(read_value, node, &f)) {
        f.text = line.text;
      } else if (as_saved.find('\n') != std::string::npos) {
        f.text = line.text;
        f.reason = "the comment moves to a line of its own: with the value written as " +
                   saved_value + " the entry and its comment no longer fit one line";
        f.loses_text = false;
      } else {
        continue;
      }
    }
    f.line = line.number;
    findings.push_back(f);
  }
  return findings;
}

}  // namespace mp4vcfg
