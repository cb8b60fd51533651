#include "config/config_file.h"

#include <cstring>
#include <new>

#include "config/white_space.h"
#include "platform/files.h"

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkSize = 3;
constexpr size_t kKeyColumn = 31;

inline bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

void CopyPart(char (&field)[kConfigTextCapacity], const char* data,
              size_t size) {
  if (size > kConfigTextMax) size = kConfigTextMax;
  std::memcpy(field, data, size);
  field[size] = '\0';
}

}  // namespace

char* ConfigReadLine(char* buffer, int capacity, std::FILE* stream) {
  if (capacity <= 1) {
    if (capacity == 1) buffer[0] = '\0';
    return buffer;
  }
  int stored = 0;
  while (stored < capacity - 1) {
    int c = std::getc(stream);
    if (c == EOF) break;
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n' || c == '\r') break;
  }
  buffer[stored] = '\0';
  return stored == 0 ? nullptr : buffer;
}

void ConfigMatchLine(const char* line, ConfigLineMatch* match) {
  *match = ConfigLineMatch{};
  using Kind = ConfigLineKind;

  // "[%[^]\n\r] %[^\n\r]": section header.
  if (line[0] == '[') {
    const char* name = line + 1;
    const char* end = name;
    while (*end != '\0' && *end != ']' && !IsLineEnd(*end)) ++end;
    if (end != name) {
      match->kind = Kind::kSection;
      match->parts = 1;
      match->part[0] = {name, static_cast<size_t>(end - name)};
      const char* rest = end;
      while (ConfigIsWhiteSpace(*rest)) ++rest;
      const char* rest_end = rest;
      while (*rest_end != '\0' && !IsLineEnd(*rest_end)) ++rest_end;
      if (rest_end != rest) {
        match->parts = 2;
        match->part[1] = {rest, static_cast<size_t>(rest_end - rest)};
      }
      return;
    }
  }

  // "%[^#=\n\r]=%[^#\n\r] #%[^\n\r]": entry.
  const char* key_end = line;
  while (*key_end != '\0' && *key_end != '#' && *key_end != '=' &&
         !IsLineEnd(*key_end)) {
    ++key_end;
  }
  if (key_end != line) {
    match->kind = Kind::kEntry;
    match->parts = 1;
    match->part[0] = {line, static_cast<size_t>(key_end - line)};
    if (*key_end != '=') return;
    const char* value = key_end + 1;
    const char* value_end = value;
    while (*value_end != '\0' && *value_end != '#' && !IsLineEnd(*value_end)) {
      ++value_end;
    }
    if (value_end == value) return;
    match->parts = 2;
    match->part[1] = {value, static_cast<size_t>(value_end - value)};
    const char* hash = value_end;
    while (ConfigIsWhiteSpace(*hash)) ++hash;
    if (*hash != '#') return;
    const char* comment = hash + 1;
    const char* comment_end = comment;
    while (*comment_end != '\0' && !IsLineEnd(*comment_end)) ++comment_end;
    if (comment_end != comment) {
      match->parts = 3;
      match->part[2] = {comment, static_cast<size_t>(comment_end - comment)};
    }
    return;
  }

  // "%[^\n\r]": free line.
  const char* end = line;
  while (*end != '\0' && !IsLineEnd(*end)) ++end;
  if (end != line) {
    match->kind = Kind::kFreeLine;
    match->parts = 1;
    match->part[0] = {line, static_cast<size_t>(end - line)};
  }
}

ConfigNode* ConfigNodeFromLine(const char* line, bool* out_of_memory) {
  ConfigLineMatch match;
  ConfigMatchLine(line, &match);
  if (match.kind == ConfigLineKind::kEmpty) return nullptr;

  ConfigNode* node = nullptr;
  switch (match.kind) {
    case ConfigLineKind::kSection: {
      node = ConfigNewSection(nullptr, nullptr);
      if (node == nullptr) break;
      CopyPart(node->name, match.part[0].data, match.part[0].size);
      if (match.parts == 2) {
        // The comment is what follows the first "#" after the "]".
        const char* rest = match.part[1].data;
        const char* rest_end = rest + match.part[1].size;
        const char* hash =
            static_cast<const char*>(std::memchr(rest, '#', rest_end - rest));
        if (hash != nullptr && hash + 1 < rest_end) {
          CopyPart(node->comment, hash + 1, rest_end - (hash + 1));
        }
      }
      break;
    }
    case ConfigLineKind::kEntry: {
      node = ConfigNewEntry(nullptr, nullptr, nullptr);
      if (node == nullptr) break;
      // The key is the first word of the key text.
      const char* key = match.part[0].data;
      const char* key_text_end = key + match.part[0].size;
      while (key < key_text_end && ConfigIsWhiteSpace(*key)) ++key;
      const char* key_end = key;
      while (key_end < key_text_end && !ConfigIsWhiteSpace(*key_end)) ++key_end;
      CopyPart(node->name, key, key_end - key);
      if (match.parts >= 2) {
        // Blanks (not tabs) around the value are dropped.
        const char* value = match.part[1].data;
        const char* value_end = value + match.part[1].size;
        while (value_end > value && value_end[-1] == ' ') --value_end;
        while (value < value_end && *value == ' ') ++value;
        CopyPart(node->value, value, value_end - value);
      }
      if (match.parts == 3) {
        CopyPart(node->comment, match.part[2].data, match.part[2].size);
      }
      break;
    }
    case ConfigLineKind::kFreeLine:
      node = ConfigNewFreeLine(nullptr);
      if (node == nullptr) break;
      CopyPart(node->name, match.part[0].data, match.part[0].size);
      break;
    case ConfigLineKind::kEmpty:
      break;
  }
  if (node == nullptr && out_of_memory != nullptr) *out_of_memory = true;
  return node;
}

ConfigNode* ConfigParseText(const char* data, size_t size,
                            bool* out_of_memory) {
  size_t pos = 0;
  if (size >= kByteOrderMarkSize &&
      std::memcmp(data, kByteOrderMark, kByteOrderMarkSize) == 0) {
    pos = kByteOrderMarkSize;
  }
  ConfigNode* first = nullptr;
  ConfigNode* last = nullptr;
  char line[kConfigLineMax + 1];
  while (pos < size) {
    // One line as the line reader takes it: up to and including its line
    // end, at most kConfigLineMax characters.
    size_t length = 0;
    while (pos < size && length < kConfigLineMax) {
      char c = data[pos++];
      line[length++] = c;
      if (IsLineEnd(c)) break;
    }
    line[length] = '\0';
    bool failed = false;
    ConfigNode* node = ConfigNodeFromLine(line, &failed);
    if (failed) {
      ConfigFreeDocument(first);
      if (out_of_memory != nullptr) *out_of_memory = true;
      return nullptr;
    }
    if (node == nullptr) continue;
    if (last == nullptr) {
      first = node;
    } else {
      last->next = node;
    }
    last = node;
  }
  return first;
}

namespace {

// Appends the line of one node (without its line end) to `out`.
void AppendSection(const ConfigNode& node, std::string* out) {
  const size_t name = std::strlen(node.name);
  const size_t comment = std::strlen(node.comment);
  // Preferred "[name] #comment"; when that is longer than a line the reader
  // takes whole, drop the blank, and without a comment the "]" (both read
  // back as the same header).
  out->push_back('[');
  out->append(node.name, name);
  if (comment == 0) {
    if (1 + name + 1 <= kConfigLineMax) out->push_back(']');
    return;
  }
  out->push_back(']');
  if (1 + name + 1 + 2 + comment <= kConfigLineMax) out->push_back(' ');
  out->push_back('#');
  out->append(node.comment, comment);
}

void AppendEntry(const ConfigNode& node, bool aligned, std::string* out) {
  const size_t key = std::strlen(node.name);
  const size_t value = std::strlen(node.value);
  const size_t comment = std::strlen(node.comment);
  // An empty key, or a key "[" followed by anything but "]", would read back
  // as a free line or a section header at the start of a line; a leading
  // blank keeps it an entry (the key is read as the first word).
  // So does a key that begins the file with the bytes of a byte-order mark,
  // which the reader would skip.
  const bool starts_file_with_mark =
      out->empty() &&
      std::strncmp(node.name, kByteOrderMark, kByteOrderMarkSize) == 0;
  const size_t lead = (key == 0 || (node.name[0] == '[' && node.name[1] != ']') ||
                       starts_file_with_mark)
                          ? 1
                          : 0;
  size_t pad = aligned && key + lead < kKeyColumn ? kKeyColumn - key - lead : 0;
  size_t separator = aligned ? 3 : 1;  // " = " or "="
  size_t comment_lead = comment != 0 ? 1 : 0;  // the blank before "#"
  auto length = [&] {
    return lead + key + pad + separator + value +
           (comment != 0 ? comment_lead + 1 + comment : 0);
  };
  // Shrink only what the reader ignores, in this order, until the line fits.
  if (length() > kConfigLineMax) {
    size_t over = length() - kConfigLineMax;
    pad -= over < pad ? over : pad;
  }
  if (length() > kConfigLineMax && separator == 3) separator = 1;
  // "=#" would read as an empty value without its comment: keep the blank
  // when the value is empty.
  if (length() > kConfigLineMax && comment_lead != 0 && value != 0) {
    comment_lead = 0;
  }
  // A key alone reads as the key with an empty value.
  if (length() > kConfigLineMax && value == 0 && comment == 0) separator = 0;
  if (lead) out->push_back(' ');
  out->append(node.name, key);
  out->append(pad, ' ');
  if (separator != 0) out->append(separator == 3 ? " = " : "=");
  out->append(node.value, value);
  if (comment != 0) {
    if (comment_lead) out->push_back(' ');
    out->push_back('#');
    out->append(node.comment, comment);
  }
}

}  // namespace

bool ConfigSerialize(const ConfigNode* document, bool aligned,
                     std::string* out) {
  try {
    out->clear();
    for (const ConfigNode* node = document; node != nullptr;
         node = node->next) {
      switch (node->kind) {
        case kConfigSection:
          out->push_back('\n');
          AppendSection(*node, out);
          break;
        case kConfigEntry:
          AppendEntry(*node, aligned, out);
          break;
        default:
          out->append(node->name);
          break;
      }
      out->push_back('\n');
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

ConfigNode* ConfigReadFileEx(const char* path, FileReadStatus* status) {
  FileReadStatus result = FileReadStatus::kOutOfMemory;
  ConfigNode* document = nullptr;
  try {
    std::string bytes;
    result = PlatformReadWholeFile(path, &bytes);
    if (result == FileReadStatus::kRead) {
      bool out_of_memory = false;
      document = ConfigParseText(bytes.data(), bytes.size(), &out_of_memory);
      if (out_of_memory) result = FileReadStatus::kOutOfMemory;
    }
  } catch (const std::bad_alloc&) {
    result = FileReadStatus::kOutOfMemory;
  }
  if (document == nullptr && result != FileReadStatus::kOutOfMemory) {
    document = ConfigNewFreeLine(kConfigPlaceholderLine);
    if (document == nullptr) result = FileReadStatus::kOutOfMemory;
  }
  if (status != nullptr) *status = result;
  return document;
}

ConfigNode* ConfigReadFile(const char* path) {
  return ConfigReadFileEx(path, nullptr);
}

bool ConfigWriteFile(ConfigNode* document, const char* path, int aligned) {
  bool written = false;
  try {
    std::string text;
    if (path != nullptr && ConfigSerialize(document, aligned != 0, &text)) {
      std::string bytes;
      if (PlatformFileStartsWith(path, kByteOrderMark, kByteOrderMarkSize)) {
        bytes.assign(kByteOrderMark, kByteOrderMarkSize);
      }
      // What a text stream does on this platform: every "\n" becomes the
      // platform's line end.
      const size_t line_end = std::strlen(kPlatformTextLineEnd);
      bytes.reserve(bytes.size() + text.size() + text.size() / 16);
      for (char c : text) {
        if (c == '\n') {
          bytes.append(kPlatformTextLineEnd, line_end);
        } else {
          bytes.push_back(c);
        }
      }
      written = PlatformReplaceFile(path, bytes.data(), bytes.size());
    }
  } catch (const std::bad_alloc&) {
    written = false;
  }
  ConfigFreeDocument(document);
  return written;
}
