#include "api/save_account.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "config/config_file.h"
#include "config/value_text.h"
#include "platform/files.h"
#include "settings/key_table.h"

namespace {

bool IsDouble(const MP4VSettingsKey& row) { return std::strcmp(row.type_name, "dbl") == 0; }

// The field of `row` in `record` as a double (an "int" exactly).
double FieldValue(const MP4VSettings& record, const MP4VSettingsKey& row) {
  const char* field = reinterpret_cast<const char*>(&record) + row.offset;
  if (IsDouble(row)) {
    double value;
    std::memcpy(&value, field, sizeof value);
    return value;
  }
  int32_t value;
  std::memcpy(&value, field, sizeof value);
  return value;
}

// Whether `a` and `b` hold the same bytes in the field of `row`.
bool SameField(const MP4VSettings& a, const MP4VSettings& b, const MP4VSettingsKey& row) {
  const size_t width = IsDouble(row) ? sizeof(double) : sizeof(int32_t);
  return std::memcmp(reinterpret_cast<const char*>(&a) + row.offset,
                     reinterpret_cast<const char*>(&b) + row.offset, width) == 0;
}

const MP4VSettingsKey* RowOf(std::string_view key) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (ConfigNamesEqual(row.key, key)) return &row;
  }
  return nullptr;
}

// Blanks and tabs: the white space that is layout around a value.
bool IsLayout(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

// The words of `text` after its first, as one text ("" when there is none):
// words are separated by blanks and tabs.
std::string WordsAfterFirst(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t gap = text.find_first_of(" \t", first);
  if (gap == std::string::npos) return "";
  const size_t rest = text.find_first_not_of(" \t", gap);
  return rest == std::string::npos ? "" : text.substr(rest);
}

// Whether the value texts `a` and `b` of a setting of `row` are the same
// number, as a load converts them (before its frame-rate snapping).
bool SameNumber(const MP4VSettingsKey& row, const std::string& a, const std::string& b) {
  if (IsDouble(row)) {
    const double x = ConfigParseDouble(a.c_str());
    const double y = ConfigParseDouble(b.c_str());
    return std::memcmp(&x, &y, sizeof x) == 0;
  }
  return ConfigParseInt32(a.c_str()) == ConfigParseInt32(b.c_str());
}

// What a rewrite of the line `node` of the setting `row` does to its text,
// the old value text being `old_text` and the new `new_text`. `asked`: the
// save was asked to change the setting; `keeps_value`: the new text loads
// as the value the record holds.
MP4VLineChange JudgeRewrite(const MP4VSettingsKey& row, const ConfigNode& node,
                            const std::string& old_text, const std::string& new_text,
                            bool asked, bool keeps_value, std::string* dropped) {
  if (node.form_loses_text) return MP4VLineChange::kRestOfLine;
  if (!keeps_value) return MP4VLineChange::kOtherValue;
  if (asked) {
    *dropped = WordsAfterFirst(old_text);
    return dropped->empty() ? MP4VLineChange::kAsked : MP4VLineChange::kWordsAfterFirst;
  }
  const ConfigNumberScan scan =
      ConfigScanNumber(old_text.c_str(), ConfigResolveType(row.type_name));
  const std::string rest = old_text.substr(scan.length);
  if (scan.length == 0 && !IsLayout(old_text)) return MP4VLineChange::kNoNumber;
  *dropped = rest;
  if (!IsLayout(rest)) return MP4VLineChange::kTextAfterNumber;
  if (scan.out_of_range) {
    dropped->clear();
    return MP4VLineChange::kOutOfRange;
  }
  return SameNumber(row, old_text, new_text) ? MP4VLineChange::kSameNumber
                                             : MP4VLineChange::kSameValue;
}

bool Loses(MP4VLineChange change) {
  switch (change) {
    case MP4VLineChange::kKept:
    case MP4VLineChange::kAsked:
    case MP4VLineChange::kSameNumber:
    case MP4VLineChange::kSameValue:
      return false;
    default:
      return true;
  }
}

// The line end that begins at `at` in `text`: LF, CR LF or a lone CR; kNone
// at the end of the text, kGoesOn before any other byte.
MP4VLineEnd EndAt(const std::string& text, size_t at) {
  if (at >= text.size()) return MP4VLineEnd::kNone;
  if (text[at] == '\n') return MP4VLineEnd::kLf;
  if (text[at] != '\r') return MP4VLineEnd::kGoesOn;
  return at + 1 < text.size() && text[at + 1] == '\n' ? MP4VLineEnd::kCrLf : MP4VLineEnd::kCr;
}

// The line ends in `text` from `from` up to `to` (CR LF counting as one).
size_t CountEnds(const std::string& text, size_t from, size_t to) {
  size_t ends = 0;
  for (size_t i = from; i < to; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < to && text[i + 1] == '\n'))) ++ends;
  }
  return ends;
}

// Where the run of line-end bytes (CR, LF) that ends at `at` begins.
size_t RunBefore(const std::string& text, size_t at) {
  while (at > 0 && (text[at - 1] == '\n' || text[at - 1] == '\r')) --at;
  return at;
}

// The empty lines in the run of line ends before `at`: all of them at the
// start of a text, all but the one that ends the line before otherwise.
size_t EmptyLinesBefore(const std::string& text, size_t at, bool first) {
  const size_t ends = CountEnds(text, RunBefore(text, at), at);
  return first || ends == 0 ? ends : ends - 1;
}

// Whether the writer writes `node` and the next one on one line (a line the
// reader took in parts, both parts written as read).
bool JoinedToNext(const ConfigNode& node) {
  return node.continued && node.as_read() != nullptr && node.next != nullptr &&
         node.next->as_read() != nullptr;
}

}  // namespace

void MP4VAccountSave(const MP4VSaveFacts& facts, const MP4VSavedLineSink& each_line,
                     MP4VSaveAccount* account) {
  const std::string& read_text = *facts.read_text;
  const std::vector<MP4VReadLine>& rewritten = *facts.rewritten;
  const MP4VLineEnd platform_end =
      std::strcmp(kPlatformTextLineEnd, "\r\n") == 0 ? MP4VLineEnd::kCrLf : MP4VLineEnd::kLf;
  *account = MP4VSaveAccount();
  account->unmarked_utf16 = ConfigLooksLikeUtf16(read_text.data(), read_text.size());
  account->loses_text = account->unmarked_utf16;

  size_t next_rewritten = 0;  // `rewritten` is in document order
  size_t lines_read = 0;
  size_t nodes_written = 0;
  size_t read_end = 0;         // where the last line read ends
  bool split_before = false;   // the line before was split
  MP4VSavedLine line;          // reused: its texts keep their room
  std::string piece;           // the written text of the nodes of one piece
  std::string text;
  std::vector<ConfigNodeSpan> spans;
  for (ConfigNode* from = facts.document; from != nullptr;) {
    // A piece ends at a node the writer does not join to the next one, so
    // that every node is written as in the whole text.
    ConfigNode* last = from;
    for (size_t n = 1; last->next != nullptr && (n < facts.piece_nodes || JoinedToNext(*last));
         ++n) {
      last = last->next;
    }
    ConfigNode* const rest = last->next;
    last->next = nullptr;
    const bool first_piece = nodes_written == 0;
    spans.clear();
    const bool written =
        ConfigSerialize(from, true, &text, first_piece && facts.byte_order_mark, &spans);
    last->next = rest;
    if (!written) throw std::bad_alloc();
    if (!first_piece && !spans.empty()) {
      // What the writer puts in front of a whole text (a mark, an empty
      // line) belongs before the first piece only.
      const size_t expected = from->kind == kConfigSection ? 1 : 0;
      const size_t lead = spans.front().offset - expected;
      text.erase(0, lead);
      for (ConfigNodeSpan& span : spans) span.offset -= lead;
    }
    // The line ends that close the piece before stay in front of this one:
    // the empty lines before its first node count them.
    const size_t carry = piece.size() - RunBefore(piece, piece.size());
    piece.erase(0, piece.size() - carry);
    piece += text;

    for (const ConfigNodeSpan& span : spans) {
      const ConfigNode& node = *span.node;
      const size_t w = nodes_written++;
      const size_t w_offset = span.offset + carry;
      // Where the node stands in the text read, and its value there; a
      // node of neither kind is one the save added.
      size_t offset;
      size_t size;
      std::string_view old_value;
      if (next_rewritten < rewritten.size() && rewritten[next_rewritten].node == &node) {
        offset = rewritten[next_rewritten].offset;
        size = rewritten[next_rewritten].size;
        old_value = rewritten[next_rewritten].value;
        ++next_rewritten;
      } else if (node.as_read() != nullptr) {
        offset = static_cast<size_t>(node.as_read() - read_text.data());
        size = node.as_read_size;
        old_value = node.value();
      } else {
        continue;
      }
      const size_t r = lines_read++;
      line.offset = offset;
      line.size = size;
      line.written.assign(piece, w_offset, span.size);
      line.kind = node.as_read() != nullptr ? MP4VSavedLineKind::kKept
                                            : MP4VSavedLineKind::kSettingRewritten;
      line.loads = nullptr;
      const MP4VSettingsKey* row = nullptr;
      for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) {
        if ((*facts.loaded_from)[k] == &node) {
          row = &MP4VSettingsKeyTable[k];
          line.loads = row->key;
        }
      }
      if (node.kind == kConfigEntry) {
        line.key.assign(node.name());
        line.old_value.assign(old_value);
        line.new_value.assign(node.value());
      } else {
        line.key.clear();
        line.old_value.clear();
        line.new_value.clear();
      }
      line.change = MP4VLineChange::kKept;
      line.dropped.clear();
      line.comment_moved = false;
      line.loaded = line.saved = line.reloaded = 0;
      line.asked = false;
      // Only the setting's own line is rewritten, the one a load takes it from.
      if (line.kind == MP4VSavedLineKind::kSettingRewritten) row = RowOf(node.name());
      if (row != nullptr) {
        line.loaded = FieldValue(*facts.loaded, *row);
        line.saved = FieldValue(*facts.saved, *row);
        line.reloaded = FieldValue(*facts.reloaded, *row);
        line.asked = !SameField(*facts.loaded, *facts.saved, *row);
        const bool keeps_value = SameField(*facts.saved, *facts.reloaded, *row);
        if (line.kind == MP4VSavedLineKind::kSettingRewritten) {
          line.change = JudgeRewrite(*row, node, line.old_value, line.new_value, line.asked,
                                     keeps_value, &line.dropped);
          line.comment_moved = line.written.find('\n') != std::string::npos;
        } else if (!keeps_value) {
          line.change = MP4VLineChange::kLoadsElsewhere;
        }
      }

      // The layout. A part the reader took of a longer line goes on in the
      // next account; the save ends it where it does not join the two.
      line.end = EndAt(read_text, offset + size);
      const size_t written_end = w_offset + span.size;
      line.written_end = piece.compare(written_end, 1, "\n") == 0 ? platform_end
                                                                  : MP4VLineEnd::kGoesOn;
      line.split = line.end == MP4VLineEnd::kGoesOn && line.written_end != MP4VLineEnd::kGoesOn;
      line.split_before = r > 0 && split_before;
      line.empty_before = EmptyLinesBefore(read_text, offset, r == 0);
      line.written_empty_before = EmptyLinesBefore(piece, w_offset, w == 0);

      line.loses_text = Loses(line.change) || line.split || line.split_before;
      account->loses_text = account->loses_text || line.loses_text;
      split_before = line.split;
      read_end = offset + size;
      each_line(line);
    }
    from = rest;
  }
  if (lines_read == 0) {
    account->empty_at_end = CountEnds(read_text, 0, read_text.size());
  } else {
    const size_t ends = CountEnds(read_text, read_end, read_text.size());
    account->empty_at_end = ends == 0 ? 0 : ends - 1;
  }
}
