#include "api/requests.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "config/bind_key.h"
#include "config/config_file.h"
#include "config/document.h"
#include "config/value_text.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/populate.h"
#include "settings/key_table.h"

bool MP4VConfigCheckFileName(const void* settings, const char* file_name) {
  if (settings == nullptr || file_name == nullptr) return false;
  const char* dot = std::strrchr(file_name, '.');
  if (dot == nullptr) return false;
  return std::strcmp(dot, ".cfg") == 0 || std::strcmp(dot, ".ini") == 0;
}

namespace {

// The first header of `section` at or after `node`, or null.
ConfigNode* FindSection(ConfigNode* node, const char* section) {
  for (; node != nullptr; node = node->next) {
    if (node->kind == kConfigSection && ConfigNamesEqual(node->name(), section)) {
      return node;
    }
  }
  return nullptr;
}

// Whether the row binds a "dbl" (its first letter sorts out the "int" rows
// without a call).
bool BindsDouble(const MP4VSettingsKey& row) {
  return row.type_name[0] == 'd' && std::strcmp(row.type_name, "dbl") == 0;
}

// Whether the "dbl" field at `field` holds a value no value text holds (an
// infinity or NaN: no text of ten fraction digits gives either back). Then
// `*kept` says whether the line a load takes `key` from (from `start` on)
// loads as that very value, so that a save may leave it as it stands.
bool HasNoValueText(const ConfigNode* start, const char* key, const void* field, bool* kept) {
  double value;
  std::memcpy(&value, field, sizeof value);
  if (std::isfinite(value)) return false;
  const std::string_view text = ConfigLookup(start, kMP4VSettingsSection, key);
  *kept = text.data() != nullptr &&
          ConfigParseDouble(std::string(text).c_str()) == value;  // never for NaN
  return true;
}

}  // namespace

namespace {

// The rows of the key table by the length of their keys: for each length,
// the rows whose keys have it, in the table's order.
struct KeysByLength {
  static constexpr size_t kLongest = 63;
  // The rows of keys of length n are row[first[n]] .. row[first[n + 1] - 1]
  // (a key longer than kLongest would count as one of kLongest + 1: none is).
  uint8_t first[kLongest + 3];
  uint8_t row[kMP4VSettingsKeyCount];
  size_t longest;
  // The type each row's type name stands for.
  ConfigType type[kMP4VSettingsKeyCount];

  KeysByLength() : first(), row(), longest(0), type() {
    // A counting sort by length, which keeps the table's order within one.
    size_t lengths[kMP4VSettingsKeyCount];
    size_t counts[kLongest + 3] = {};
    for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) {
      lengths[k] = std::min(std::strlen(MP4VSettingsKeyTable[k].key), kLongest + 1);
      type[k] = ConfigResolveType(MP4VSettingsKeyTable[k].type_name);
      ++counts[lengths[k]];
      longest = std::max(longest, lengths[k]);
    }
    size_t at = 0;
    for (size_t n = 0; n <= kLongest + 2; ++n) {
      first[n] = static_cast<uint8_t>(at);
      at += counts[n];
    }
    uint8_t next[kLongest + 3];
    std::memcpy(next, first, sizeof next);
    for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) {
      row[next[lengths[k]]++] = static_cast<uint8_t>(k);
    }
  }
};

const KeysByLength& KeyLengths() {
  static const KeysByLength table;
  return table;
}

// The line each row's key loads from: the first node, in document order,
// whose name equals the key inside any section of the settings (what
// ConfigLookupNode finds), or null; found in one walk from `start`, the
// settings' first header, which ends once every key is found. A name is
// compared only with the keys of its length.
void FindSettingsLines(ConfigNode* start, ConfigNode* (&found)[kMP4VSettingsKeyCount]) {
  const KeysByLength& keys = KeyLengths();
  for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) found[k] = nullptr;
  size_t missing = kMP4VSettingsKeyCount;
  bool inside = false;
  for (ConfigNode* node = start; node != nullptr && missing != 0; node = node->next) {
    if (node->kind == kConfigSection) {
      inside = ConfigNamesEqual(node->name(), kMP4VSettingsSection);
      continue;
    }
    // A line led by a zero byte holds no key.
    const size_t size = node->name_size;
    if (!inside || size > keys.longest || (node->kind == kConfigFreeLine && size == 0)) {
      continue;
    }
    for (size_t i = keys.first[size]; i < keys.first[size + 1]; ++i) {
      const size_t k = keys.row[i];
      if (found[k] == nullptr && ConfigNamesEqual(node->name(), MP4VSettingsKeyTable[k].key)) {
        found[k] = node;
        --missing;
        break;
      }
    }
  }
}

// Binds into the record, as a load does, each row's key from the line
// FindSettingsLines found for it (a row without a line keeps its field).
void BindFoundForLoad(ConfigNode* const (&found)[kMP4VSettingsKeyCount], void* settings) {
  const KeysByLength& keys = KeyLengths();
  for (size_t i = 0; i < kMP4VSettingsKeyCount; ++i) {
    const MP4VSettingsKey& row = MP4VSettingsKeyTable[i];
    ConfigBindFoundAs(found[i], keys.type[i], row.type_name,
                      static_cast<char*>(settings) + row.offset, nullptr);
  }
}

}  // namespace

MP4VBindResult MP4VConfigBindDocument(ConfigNode* document, const char* mode,
                                      void* settings) {
  const bool save = std::strcmp(mode, "save") == 0;
  // Every binding starts at the section's first header: the nodes before it
  // can neither hold the section's keys nor take new ones, so each binding
  // gives exactly what it gives from the first node, without walking the
  // rest of the file 56 times. A load finds nothing without the section or
  // in a single node (which cannot hold a header and an entry); a save's
  // first binding appends the header.
  ConfigNode* start = FindSection(document, kMP4VSettingsSection);
  const bool bind = save || (start != nullptr && document->next != nullptr);
  MP4VBindResult result = MP4VBindResult::kBound;
  if (std::strcmp(mode, "load") == 0) {
    // A load finds every key in one walk.
    if (!bind) return result;
    ConfigNode* found[kMP4VSettingsKeyCount];
    FindSettingsLines(start, found);
    BindFoundForLoad(found, settings);
    return result;
  }
  for (size_t i = 0; bind && i < kMP4VSettingsKeyCount; ++i) {
    const MP4VSettingsKey& row = MP4VSettingsKeyTable[i];
    void* field = static_cast<char*>(settings) + row.offset;
    bool kept = false;
    if (save && BindsDouble(row) && HasNoValueText(start, row.key, field, &kept)) {
      // Memory that ran out in an earlier binding may be why no line was
      // found: that is then the reason.
      if (!kept) return result == MP4VBindResult::kBound ? MP4VBindResult::kNoValueText : result;
      continue;
    }
    const int32_t bound =
        ConfigBindKey(start != nullptr ? start : document, mode, kMP4VSettingsSection,
                      row.key, row.type_name, field, nullptr);
    if (start == nullptr) start = FindSection(document, kMP4VSettingsSection);
    // On load a missing key is no failure; on save a binding fails only
    // when memory ran out.
    if (save && bound != 0) result = MP4VBindResult::kOutOfMemory;
  }
  return result;
}

namespace {

// The document of the lines of `bytes` (the placeholder line when none is
// kept), viewing them where the caller keeps them for as long as the
// document lives; the empty document when memory ran out.
ConfigDocument ViewText(const std::string& bytes, bool* byte_order_mark,
                        std::vector<ConfigNodeSpan>* spans) {
  bool out_of_memory = false;
  ConfigDocument document = ConfigParseView(bytes, &out_of_memory, byte_order_mark, spans);
  if (document.empty() && !out_of_memory) {
    document = ConfigDocument(ConfigNewFreeLine(kConfigPlaceholderLine));
  }
  return document;
}

// Set by a test on its thread: every load builds the whole document.
thread_local bool whole_document_load_for_testing = false;

// Binds what a load binds from the settings' first section alone, `body`
// (from its header's line on), read into a document of its own, where that
// section holds a line of every key: a load takes each key from its first
// line in the settings' sections in file order, which is then that
// section's, so the file's other lines need no node at all. False, binding
// nothing, where the section does not hold them all (the whole document's
// way then finds the rest), and with `*out_of_memory` set where memory ran
// out.
bool BindSectionBodyForLoad(const std::string& body, void* settings, bool* out_of_memory) {
  ConfigDocument document = ConfigParseView(body, out_of_memory);
  if (document.empty()) return false;
  ConfigNode* found[kMP4VSettingsKeyCount];
  FindSettingsLines(document.first(), found);
  for (const ConfigNode* line : found) {
    if (line == nullptr) return false;
  }
  BindFoundForLoad(found, settings);
  return true;
}

// The same, for the settings' first section of the whole text `bytes`.
bool BindFirstSectionForLoad(const std::string& bytes, void* settings, bool* out_of_memory) {
  size_t begin = 0;
  size_t end = 0;
  if (whole_document_load_for_testing ||
      !ConfigFindSectionBody(bytes, kMP4VSettingsSection, &begin, &end)) {
    return false;
  }
  return BindSectionBodyForLoad(bytes.substr(begin, end - begin), settings, out_of_memory);
}

// What became of a load that reads the file in pieces.
enum class PieceLoad {
  kBound,      // the settings are bound (or there is no file: nothing to bind)
  kWholeFile,  // the file is there, and only the whole document's way binds it
  kFailed,     // `*error` says why
};

// A load of the file at `file_name` that reads it in pieces up to the end of
// the settings' first section and holds only that section, where that
// section holds a line of every key (every file this module wrote): a file
// of megabytes then costs its section's bytes and a piece, and most of it
// is not even read where the section comes first. kBound with `*error` 0,
// or the missing file's code; kWholeFile where it does not bind them all.
PieceLoad LoadBySectionPieces(const char* file_name, void* settings, uint32_t* error) {
  PlatformFileReader reader;
  switch (reader.Open(file_name, error)) {
    case FileReadStatus::kRead:
      break;
    case FileReadStatus::kMissing:
      return PieceLoad::kBound;  // nothing to bind; `*error` says there is no file
    case FileReadStatus::kUnreadable:
    case FileReadStatus::kOutOfMemory:
      return PieceLoad::kFailed;
  }
  std::string body;
  std::string lead;
  uint32_t read_error = 0;
  const ConfigSectionRead found = ConfigReadSectionBody(
      [&reader, &read_error](char* into, size_t room, size_t* got) {
        return reader.Read(into, room, got, &read_error);
      },
      kMP4VSettingsSection, &body, &lead);
  switch (found) {
    case ConfigSectionRead::kFound:
    case ConfigSectionRead::kNotFound:
      break;
    case ConfigSectionRead::kReadFailed:
      *error = read_error;
      return PieceLoad::kFailed;
    case ConfigSectionRead::kOutOfMemory:
      *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
      return PieceLoad::kFailed;
  }
  if (ConfigHasUtf16Mark(lead.data(), lead.size())) {
    *error = PlatformErrorCode(ModuleFailure::kUnsupportedText);
    return PieceLoad::kFailed;
  }
  if (found == ConfigSectionRead::kNotFound) return PieceLoad::kWholeFile;
  bool out_of_memory = false;
  if (BindSectionBodyForLoad(body, settings, &out_of_memory)) {
    *error = 0;
    return PieceLoad::kBound;
  }
  if (!out_of_memory) return PieceLoad::kWholeFile;
  *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
  return PieceLoad::kFailed;
}

// Binds the settings the text `bytes` holds into the record, as a load does
// before its snapping, from a document of all its lines, which views the
// bytes where they are. False, with nothing bound, when memory ran out.
bool BindWholeDocumentForLoad(const std::string& bytes, void* settings) {
  bool byte_order_mark = false;
  ConfigDocument document = ViewText(bytes, &byte_order_mark, nullptr);
  if (document.empty()) return false;
  MP4VConfigBindDocument(document.first(), "load", settings);
  return true;
}

// The same, from the settings' first section alone where that gives what
// the whole document gives.
bool BindForLoad(const std::string& bytes, void* settings) {
  bool out_of_memory = false;
  if (BindFirstSectionForLoad(bytes, settings, &out_of_memory)) return true;
  if (out_of_memory) return false;
  return BindWholeDocumentForLoad(bytes, settings);
}

// The width of the row's field in the record.
size_t FieldWidth(const MP4VSettingsKey& row) { return BindsDouble(row) ? 8 : 4; }

// Copies the fields of the key table from `from` to `to`, and no other byte.
void CopyFields(void* to, const void* from) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    std::memcpy(static_cast<char*>(to) + row.offset,
                static_cast<const char*>(from) + row.offset, FieldWidth(row));
  }
}

// Set by a test on its thread: every save builds the whole document.
thread_local bool whole_document_for_testing = false;
// Cleared by a test on its thread: every save reads the file whole.
thread_local bool stream_save_allowed = true;

// Whether some "dbl" field of the record holds a value no value text holds.
bool HoldsValueWithoutText(const void* settings) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (!BindsDouble(row)) continue;
    double value;
    std::memcpy(&value, static_cast<const char*>(settings) + row.offset, sizeof value);
    if (!std::isfinite(value)) return true;
  }
  return false;
}

// The writer's text of the settings' section whose lines as read are
// `body` (its header first), with the record's values: false when memory
// ran out.
bool SectionText(const std::string& body, const void* settings, std::string* section) {
  bool out_of_memory = false;
  ConfigDocument document = ConfigParseView(body, &out_of_memory);
  if (document.empty()) return false;
  // A save only reads the record; the binding takes one pointer type for
  // both directions. No field lacks a text here (HoldsValueWithoutText).
  return MP4VConfigBindDocument(document.first(), "save", const_cast<void*>(settings)) ==
             MP4VBindResult::kBound &&
         ConfigSerialize(document.first(), true, section, false);
}

// The text a save of the record writes over `before`, built from the
// settings' first section alone: only its lines are read into a document
// and bound; the lines before and after it are written as the writer
// writes lines kept as read, without a node each. False, leaving `*after`
// to the whole document's way, when that way could differ: no settings
// header, a border the writer joins to the line before, or a field no text
// holds (whose line may come from a later section of the settings).
// Where those lines are written exactly as they were read (a file this
// module wrote), `*after` holds the section alone and names them in
// `before` (FileText::head and tail): a large file's other lines are then
// neither copied nor held twice.
bool SaveTextBySection(const std::string& before, const void* settings, FileText* after,
                       MP4VSaveTextResult* result) {
  size_t begin = 0;
  size_t end = 0;
  if (HoldsValueWithoutText(settings) ||
      !ConfigFindSectionBody(before, kMP4VSettingsSection, &begin, &end)) {
    return false;
  }
  std::string section;
  if (!SectionText(before.substr(begin, end - begin), settings, &section)) {
    *result = MP4VSaveTextResult::kOutOfMemory;
    return true;
  }
  const bool byte_order_mark = begin >= 3 && before.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const size_t first_line = byte_order_mark ? 3 : 0;
  const size_t head =
      ConfigKeptLinesAsRead(before, first_line, begin, nullptr, kPlatformTextLineEnd);
  bool feed_first = false;
  if (head != std::string::npos &&
      ConfigKeptLinesAsRead(before, end, before.size(), &feed_first, kPlatformTextLineEnd) ==
          before.size() &&
      ConfigSectionInPlace(&section, feed_first,
                           std::string_view(before).substr(0, std::min<size_t>(head, 3)),
                           std::string_view(before).substr(end, 3), byte_order_mark)) {
    static_cast<std::string&>(*after) = std::move(section);
    after->head = head;
    after->tail = end;
    *result = MP4VSaveTextResult::kWritten;
    return true;
  }
  std::string text;
  // Room for the lines around the section with their line ends (a line
  // kept as read is written no longer than read, and one more line end).
  // Where a line ends in more than "\n", room for those ends too, so that
  // they are written into the same buffer (ConfigPlatformText).
  const size_t line_end = std::strlen(kPlatformTextLineEnd);
  const size_t room = 3 + (begin - first_line) + section.size() + (before.size() - end) +
                      (before.size() - end + begin) / 16 + 64 +
                      (line_end == 1 ? 0
                                     : (line_end - 1) *
                                           (ConfigCountFeeds(before.data(), before.size()) +
                                            ConfigCountFeeds(section.data(), section.size()) +
                                            (before.size() - end + begin) / 16 + 64));
  text.reserve(room);
  PlatformPopulate(&text[0], room);
  if (byte_order_mark) text.assign(before, 0, 3);
  ConfigAppendKeptLines(before, first_line, begin, &text);
  text += section;
  ConfigAppendKeptLines(before, end, before.size(), &text);
  const std::string_view lead = ConfigTextLead(text, byte_order_mark);
  if (!lead.empty()) text.insert(0, lead.data(), lead.size());
  static_cast<std::string&>(*after) = ConfigPlatformText(std::move(text));
  after->head = 0;
  after->tail = FileText::npos;
  *result = MP4VSaveTextResult::kWritten;
  return true;
}

// The save of `settings` over `before`: its text into `*after` when given,
// and its account when `each_line` is given (lines to it, the rest to
// `*account`). The one computation behind MP4VConfigSaveText and
// MP4VConfigAccountSaveText.
MP4VSaveTextResult SaveText(const std::string& before, const void* settings,
                            FileText* after, const MP4VSavedLineSink* each_line,
                            MP4VSaveAccount* account,
                            size_t piece_nodes = kMP4VAccountPieceNodes) {
  if (ConfigHasUtf16Mark(before.data(), before.size())) {
    return MP4VSaveTextResult::kUtf16;
  }
  try {
    MP4VSaveTextResult by_section;
    if (each_line == nullptr && after != nullptr && !whole_document_for_testing &&
        SaveTextBySection(before, settings, after, &by_section)) {
      return by_section;
    }
    bool byte_order_mark = false;
    // The document views the bytes read: a save holds them once.
    ConfigDocument document = ViewText(before, &byte_order_mark, nullptr);
    if (document.empty()) return MP4VSaveTextResult::kOutOfMemory;
    std::vector<const ConfigNode*> loaded_from(kMP4VSettingsKeyCount, nullptr);
    std::vector<MP4VReadLine> rewritten;
    MP4VSettings loaded{};
    if (each_line != nullptr) {
      // What a load of these bytes gives, and the lines it takes each
      // setting from (a load of a single line takes none).
      MP4VConfigBindDocument(document.first(), "load", &loaded);
      MP4VSnapFrameRate(&loaded);
      ConfigNode* const start = FindSection(document.first(), kMP4VSettingsSection);
      if (document.first()->next != nullptr) {
        ConfigNode* found[kMP4VSettingsKeyCount];
        FindSettingsLines(start, found);
        loaded_from.assign(found, found + kMP4VSettingsKeyCount);
      }
      // The lines the save binding may rewrite, the body of the settings'
      // first section, as they stand before it does.
      for (ConfigNode* node = start != nullptr ? start->next : nullptr;
           node != nullptr && node->kind != kConfigSection; node = node->next) {
        if (node->as_read() == nullptr) continue;
        rewritten.push_back({node, static_cast<size_t>(node->as_read() - before.data()),
                             node->as_read_size, node->value()});
      }
    }
    // A save only reads the record; the binding takes one pointer type for
    // both directions.
    switch (MP4VConfigBindDocument(document.first(), "save", const_cast<void*>(settings))) {
      case MP4VBindResult::kBound:
        break;
      case MP4VBindResult::kNoValueText:
        return MP4VSaveTextResult::kNoValueText;
      case MP4VBindResult::kOutOfMemory:
        return MP4VSaveTextResult::kOutOfMemory;
    }
    if (after != nullptr) {
      std::string text;
      if (!ConfigSerialize(document.first(), true, &text, byte_order_mark)) {
        return MP4VSaveTextResult::kOutOfMemory;
      }
      static_cast<std::string&>(*after) = ConfigPlatformText(std::move(text));
      after->head = 0;
      after->tail = FileText::npos;
    }
    if (each_line == nullptr) return MP4VSaveTextResult::kWritten;
    MP4VSettings saved;
    std::memcpy(&saved, settings, sizeof saved);
    // What a load of the written text gives: the writer writes every node
    // so that reading its text gives the same nodes (moved comments aside,
    // which hold no key), so a load's binding of the document as written
    // gives it without a second text and document.
    MP4VSettings reloaded{};
    MP4VConfigBindDocument(document.first(), "load", &reloaded);
    MP4VSnapFrameRate(&reloaded);
    MP4VAccountSave({&before, document.first(), byte_order_mark, &rewritten, &loaded_from,
                     &loaded, &saved, &reloaded, piece_nodes},
                    *each_line, account);
    return MP4VSaveTextResult::kWritten;
  } catch (const std::bad_alloc&) {
    return MP4VSaveTextResult::kOutOfMemory;
  }
}

}  // namespace

MP4VSaveTextResult MP4VConfigSaveText(const std::string& before, const void* settings,
                                      std::string* after, MP4VSaveAccount* account) {
  try {
    FileText text;
    FileText* const into = after != nullptr ? &text : nullptr;
    MP4VSaveTextResult result;
    if (account == nullptr) {
      result = SaveText(before, settings, into, nullptr, nullptr);
    } else {
      std::vector<MP4VSavedLine> lines;
      const MP4VSavedLineSink keep = [&lines](const MP4VSavedLine& line) {
        lines.push_back(line);
      };
      result = SaveText(before, settings, into, &keep, account);
      if (result == MP4VSaveTextResult::kWritten) account->lines = std::move(lines);
    }
    if (after != nullptr && result == MP4VSaveTextResult::kWritten) {
      *after = text.head == 0 && text.tail == FileText::npos
                   ? std::move(static_cast<std::string&>(text))
                   : text.Whole(before);
    }
    return result;
  } catch (const std::bad_alloc&) {
    return MP4VSaveTextResult::kOutOfMemory;
  }
}

MP4VSaveTextResult MP4VConfigAccountSaveText(const std::string& before, const void* settings,
                                             const MP4VSavedLineSink& each_line,
                                             MP4VSaveAccount* account, size_t piece_nodes) {
  return SaveText(before, settings, nullptr, &each_line, account,
                  piece_nodes == 0 ? 1 : piece_nodes);
}

void MP4VConfigSetWholeDocumentSaveForTesting(bool whole) {
  whole_document_for_testing = whole;
}

void MP4VConfigSetWholeFileSaveForTesting(bool whole) { stream_save_allowed = !whole; }

void MP4VConfigSetWholeDocumentLoadForTesting(bool whole) {
  whole_document_load_for_testing = whole;
}

void MP4VConfigLoadText(const std::string& bytes, void* settings) {
  try {
    (void)BindForLoad(bytes, settings);
  } catch (const std::bad_alloc&) {
  }
  MP4VSnapFrameRate(settings);
}

MP4VSaveCheck MP4VConfigCheckSave(const char* file_name, std::string* before,
                                  bool* exists, std::string* reason, uint32_t* code) {
  uint32_t ignored = 0;
  if (code == nullptr) code = &ignored;
  before->clear();
  reason->clear();
  *exists = false;
  *code = 0;
  MP4VSettings probe{};
  if (!MP4VConfigCheckFileName(&probe, file_name)) {
    *code = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return MP4VSaveCheck::kNameRefused;
  }
  switch (PlatformReadWholeFile(file_name, before, code)) {
    case FileReadStatus::kRead:
      *exists = true;
      break;
    case FileReadStatus::kMissing:
      *code = 0;
      break;
    case FileReadStatus::kUnreadable:
      *exists = true;
      if (PlatformCheckReplace(file_name) == ReplaceCheck::kNotAFile) {
        *reason = "it is a folder or a device, not a file";
      }
      return MP4VSaveCheck::kUnreadable;
    case FileReadStatus::kOutOfMemory:
      return MP4VSaveCheck::kOutOfMemory;
  }
  return MP4VConfigCheckSaveOf(file_name, *before, *exists, reason, code);
}

MP4VSaveCheck MP4VConfigCheckSaveOf(const char* file_name, const std::string& before,
                                    bool /*exists*/, std::string* reason, uint32_t* code) {
  uint32_t ignored = 0;
  if (code == nullptr) code = &ignored;
  reason->clear();
  *code = 0;
  if (ConfigHasUtf16Mark(before.data(), before.size())) {
    *reason = "it is UTF-16 text, not 8-bit text";
    *code = PlatformErrorCode(ModuleFailure::kUnsupportedText);
    return MP4VSaveCheck::kUtf16;
  }
  switch (PlatformCheckReplace(file_name, code)) {
    case ReplaceCheck::kPossible:
      return MP4VSaveCheck::kPossible;
    case ReplaceCheck::kNoName:
      *reason = "no file name";
      break;
    case ReplaceCheck::kNotAFile:
      *reason = "it is a folder or a device, not a file";
      break;
    case ReplaceCheck::kReadOnly:
      *reason = "the file is read-only";
      break;
    case ReplaceCheck::kNoFolder:
      *reason = "its folder does not exist";
      break;
    case ReplaceCheck::kFolderNotWritable:
      *reason = "no file may be created in its folder";
      break;
    case ReplaceCheck::kInUse:
      *reason = "another program has the file open";
      break;
    case ReplaceCheck::kOtherFailure:
      *reason = "the system refused to create a file beside it";
      break;
  }
  return MP4VSaveCheck::kNotReplaceable;
}

namespace {

// The decision a save's result `result` gives.
FileDecision DecisionOf(MP4VSaveTextResult result, uint32_t* error) {
  // Nothing is written over a file that is not 8-bit text, for a record
  // holding a value no text holds, nor a partial file when memory ran out.
  switch (result) {
    case MP4VSaveTextResult::kWritten:
      return FileDecision::kWrite;
    case MP4VSaveTextResult::kUtf16:
      *error = PlatformErrorCode(ModuleFailure::kUnsupportedText);
      return FileDecision::kStop;
    case MP4VSaveTextResult::kNoValueText:
      *error = PlatformErrorCode(ModuleFailure::kNoValueText);
      return FileDecision::kStop;
    case MP4VSaveTextResult::kOutOfMemory:
      break;
  }
  *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
  return FileDecision::kStop;
}

}  // namespace

FileDecision MP4VConfigDecideSave(const std::string& before, const void* settings,
                                  std::string* after, uint32_t* error) {
  return DecisionOf(MP4VConfigSaveText(before, settings, after), error);  // no copy of `before`
}

FileDecision MP4VConfigDecideSave(const std::string& before, const void* settings,
                                  FileText* after, uint32_t* error) {
  MP4VSaveTextResult result;
  try {
    result = SaveText(before, settings, after, nullptr, nullptr);
  } catch (const std::bad_alloc&) {
    result = MP4VSaveTextResult::kOutOfMemory;
  }
  return DecisionOf(result, error);
}

StreamDecision MP4VConfigStreamSave(
    const std::function<bool(char* into, size_t room, size_t* got)>& read,
    const FileWrite& write, const void* settings, FileSplice* splice, uint32_t* error) {
  // Where the section's text would not come from the section alone, the
  // whole file decides (SaveTextBySection).
  if (whole_document_for_testing || !stream_save_allowed || HoldsValueWithoutText(settings)) {
    return StreamDecision::kWholeFile;
  }
  ConfigSplice place;
  const ConfigStreamed streamed = ConfigStreamSection(
      read, kMP4VSettingsSection,
      [settings](const std::string& body, std::string* section) {
        if (!SectionText(body, settings, section)) throw std::bad_alloc();
        return true;
      },
      write, &place);
  switch (streamed) {
    case ConfigStreamed::kWritten:
      splice->at = place.at;
      splice->size = place.size;
      splice->held = std::move(place.held);
      return StreamDecision::kWritten;
    case ConfigStreamed::kWholeText:
      return StreamDecision::kWholeFile;
    case ConfigStreamed::kWriteFailed:
      return StreamDecision::kWriteFailed;
    case ConfigStreamed::kReadFailed:
      *error = 0;  // the read's own code is the update's
      return StreamDecision::kStop;
    case ConfigStreamed::kOutOfMemory:
      break;
  }
  *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
  return StreamDecision::kStop;
}

bool MP4VConfigTransfer(const char* mode, const char* file_name,
                        void* settings, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (std::strcmp(mode, "save") == 0) {
    const FileStreamDecider stream = [settings](const auto& read, const FileWrite& write,
                                                FileSplice* splice, uint32_t* why) {
      return MP4VConfigStreamSave(read, write, settings, splice, why);
    };
    // A record holding a value no text holds, or a test's wish, goes the
    // whole file's way from the start.
    const bool streams = !whole_document_for_testing && stream_save_allowed &&
                         !HoldsValueWithoutText(settings);
    return PlatformUpdateFileStreamed(
        file_name, streams ? &stream : nullptr,
        [settings](const std::string& before, bool, FileText* after, uint32_t* why) {
          return MP4VConfigDecideSave(before, settings, after, why);
        },
        error);
  }
  try {
    if (!whole_document_load_for_testing) {
      switch (LoadBySectionPieces(file_name, settings, error)) {
        case PieceLoad::kBound:
          return true;
        case PieceLoad::kFailed:
          return false;
        case PieceLoad::kWholeFile:
          break;  // read again, whole: the file may have changed meanwhile
      }
    }
    std::string bytes;
    switch (PlatformReadWholeFile(file_name, &bytes, error)) {
      case FileReadStatus::kRead:
        break;
      case FileReadStatus::kMissing:
        return true;  // nothing to bind; `*error` says there is no file
      case FileReadStatus::kUnreadable:
      case FileReadStatus::kOutOfMemory:
        return false;
    }
    if (ConfigHasUtf16Mark(bytes.data(), bytes.size())) {
      *error = PlatformErrorCode(ModuleFailure::kUnsupportedText);
      return false;
    }
    // The settings' first section alone was tried on the pieces read (a
    // text changed since is bound right by the whole document all the same).
    if (!BindWholeDocumentForLoad(bytes, settings)) {
      *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
      return false;
    }
    *error = 0;
    return true;
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return false;
  }
}

bool MP4VConfigUpdateFile(const char* file_name, const FileDecider& decide,
                          uint32_t* error) {
  MP4VSettings probe{};
  if (!MP4VConfigCheckFileName(&probe, file_name)) {
    if (error != nullptr) *error = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return false;
  }
  return PlatformUpdateFile(file_name, decide, error);
}

// The requests set the calling thread's last error as the last thing before
// they return: the save after a failure, the load always (0 when it read the
// file; see platform/errors.h).

extern "C" int32_t MP4V_CDECL MP4VConfigLoad(MP4VSettings* settings,
                                            const char* file_name) {
  if (!MP4VConfigCheckFileName(settings, file_name)) {
    PlatformSetLastError(PlatformErrorCode(ModuleFailure::kRefusedArgument));
    return MP4V_STATUS_FAILED;
  }
  // Bound into a copy and handed over whole only when the file was read (or
  // is not there): a load that fails leaves every byte of the record as it
  // was, the frame rate unsnapped.
  MP4VSettings loaded;
  CopyFields(&loaded, settings);
  uint32_t reason = 0;
  if (!MP4VConfigTransfer("load", file_name, &loaded, &reason)) {
    PlatformSetLastError(reason);
    return MP4V_STATUS_FAILED;
  }
  MP4VSnapFrameRate(&loaded);
  CopyFields(settings, &loaded);
  PlatformSetLastError(reason);
  return MP4V_STATUS_OK;
}

extern "C" int32_t MP4V_CDECL MP4VConfigSave(const MP4VSettings* settings,
                                            const char* file_name) {
  if (!MP4VConfigCheckFileName(settings, file_name)) {
    PlatformSetLastError(PlatformErrorCode(ModuleFailure::kRefusedArgument));
    return MP4V_STATUS_FAILED;
  }
  // A save only reads the record; the binding interface takes one pointer
  // type for both directions.
  uint32_t error = 0;
  if (!MP4VConfigTransfer("save", file_name, const_cast<MP4VSettings*>(settings),
                          &error)) {
    PlatformSetLastError(error);
    return MP4V_STATUS_FAILED;
  }
  return MP4V_STATUS_OK;
}

FileDecision MP4VConfigDecideUpdate(const std::string& before, const void* loaded,
                                    const void* wanted, void* saved, FileText* after,
                                    uint32_t* error) {
  if (ConfigHasUtf16Mark(before.data(), before.size())) {
    *error = PlatformErrorCode(ModuleFailure::kUnsupportedText);
    return FileDecision::kStop;
  }
  try {
    // What a load of the file as it is now gives into the record as the
    // host loaded it; then the host's own changes over that.
    MP4VSettings record;
    CopyFields(&record, loaded);
    if (!BindForLoad(before, &record)) {
      *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
      return FileDecision::kStop;
    }
    MP4VSnapFrameRate(&record);
    for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
      const char* was = static_cast<const char*>(loaded) + row.offset;
      const char* now = static_cast<const char*>(wanted) + row.offset;
      if (std::memcmp(was, now, FieldWidth(row)) != 0) {
        std::memcpy(reinterpret_cast<char*>(&record) + row.offset, now, FieldWidth(row));
      }
    }
    const FileDecision decision = MP4VConfigDecideSave(before, &record, after, error);
    if (decision == FileDecision::kWrite) CopyFields(saved, &record);
    return decision;
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return FileDecision::kStop;
  }
}

extern "C" int32_t MP4V_CDECL MP4VConfigUpdate(MP4VSettings* settings,
                                              const MP4VSettings* loaded,
                                              const char* file_name) {
  if (loaded == nullptr || !MP4VConfigCheckFileName(settings, file_name)) {
    PlatformSetLastError(PlatformErrorCode(ModuleFailure::kRefusedArgument));
    return MP4V_STATUS_FAILED;
  }
  // Both records are read before the turn and the host's is written only
  // after it, so `settings` and `loaded` may be one record.
  MP4VSettings base;
  MP4VSettings wanted;
  MP4VSettings saved;
  CopyFields(&base, loaded);
  CopyFields(&wanted, settings);
  uint32_t error = 0;
  if (!PlatformUpdateFile(
          file_name,
          [&](const std::string& before, bool, FileText* after, uint32_t* why) {
            return MP4VConfigDecideUpdate(before, &base, &wanted, &saved, after, why);
          },
          &error)) {
    PlatformSetLastError(error);
    return MP4V_STATUS_FAILED;
  }
  CopyFields(settings, &saved);
  return MP4V_STATUS_OK;
}
