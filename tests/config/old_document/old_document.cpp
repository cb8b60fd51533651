#include "config/old_document/old_document.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace old_document {

namespace {

void CopyText(char (&field)[kConfigTextCapacity], const char* text) {
  if (text == nullptr) return;  // the node is zero-filled: stays empty
  size_t length = std::strlen(text);
  if (length > kConfigTextMax) length = kConfigTextMax;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

ConfigNode* NewNode(int32_t kind, const char* name, const char* value,
                    const char* comment) {
  auto* node = static_cast<ConfigNode*>(std::calloc(1, sizeof(ConfigNode)));
  if (node == nullptr) return nullptr;
  node->kind = kind;
  CopyText(node->name, name);
  CopyText(node->value, value);
  if (comment != nullptr && comment[0] != '\0') CopyText(node->comment, comment);
  return node;
}

// Whether `node` can hold `key`: a line led by a zero byte (a free line of
// no name, kept only for its bytes) holds none, as when it was not read at
// all.
bool HoldsKey(const ConfigNode& node, const char* key) {
  // The names first: every lookup walks many nodes that do not match.
  return ConfigNamesEqual(node.name, key) &&
         (node.kind != kConfigFreeLine || node.name[0] != '\0');
}

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Links `node` after `prev`, keeping what followed `prev`.
ConfigNode* LinkAfter(ConfigNode* prev, ConfigNode* node) {
  node->next = prev->next;
  prev->next = node;
  return node;
}

}  // namespace

ConfigNode* ConfigNewFreeLine(const char* text) {
  return NewNode(kConfigFreeLine, text, nullptr, nullptr);
}

ConfigNode* ConfigNewSection(const char* name, const char* comment) {
  return NewNode(kConfigSection, name, nullptr, comment);
}

ConfigNode* ConfigNewEntry(const char* key, const char* value,
                           const char* comment) {
  return NewNode(kConfigEntry, key, value, comment);
}

struct ConfigKeptBlock {
  ConfigKeptBlock* next;
  void* block;
};

void ConfigFreeDocument(ConfigNode* first) {
  while (first != nullptr) {
    ConfigNode* next = first->next;
    while (first->kept != nullptr) {
      ConfigKeptBlock* kept = first->kept;
      first->kept = kept->next;
      std::free(kept->block);
      std::free(kept);
    }
    std::free(first);
    first = next;
  }
}

ConfigDocument::ConfigDocument(std::string text)
    : text_(std::make_unique<const std::string>(std::move(text))) {}

ConfigDocument::ConfigDocument(ConfigDocument&& other) noexcept
    : first_(other.first_), last_(other.last_), text_(std::move(other.text_)) {
  other.first_ = nullptr;
  other.last_ = nullptr;
}

ConfigDocument& ConfigDocument::operator=(ConfigDocument&& other) noexcept {
  if (this != &other) {
    ConfigFreeDocument(first_);
    first_ = other.first_;
    last_ = other.last_;
    text_ = std::move(other.text_);
    other.first_ = nullptr;
    other.last_ = nullptr;
  }
  return *this;
}

const std::string& ConfigDocument::text() const noexcept {
  static const std::string kNone;
  return text_ != nullptr ? *text_ : kNone;
}

void ConfigDocument::Append(ConfigNode* nodes) noexcept {
  if (nodes == nullptr) return;
  // As addresses: a view may point anywhere, and only integers of unrelated
  // places compare with a defined result (below `begin`, `at - begin`
  // wraps to a huge number).
  const uintptr_t begin =
      text_ != nullptr ? reinterpret_cast<uintptr_t>(text_->data()) : 0;
  const uintptr_t size = text_ != nullptr ? text_->size() : 0;
  ConfigNode* tail = nodes;
  for (;; tail = tail->next) {
    // (A null view stays null either way.)
    const uintptr_t at = reinterpret_cast<uintptr_t>(tail->as_read);
    if (at - begin > size - tail->as_read_size || tail->as_read_size > size) {
      tail->as_read = nullptr;
      tail->as_read_size = 0;
    }
    if (tail->next == nullptr) break;
  }
  if (first_ == nullptr) {
    first_ = nodes;
  } else {
    // ConfigSetEntry may have linked nodes after the last one appended.
    if (last_ == nullptr) last_ = first_;
    while (last_->next != nullptr) last_ = last_->next;
    last_->next = nodes;
  }
  last_ = tail;
}

bool ConfigKeepWithNode(ConfigNode* node, void* block) {
  auto* kept =
      static_cast<ConfigKeptBlock*>(std::malloc(sizeof(ConfigKeptBlock)));
  if (kept == nullptr) return false;
  kept->block = block;
  kept->next = node->kept;
  node->kept = kept;
  return true;
}

bool ConfigSectionNameFits(const char* section) {
  if (section == nullptr) return false;
  const size_t length = std::strlen(section);
  return length >= 1 && length <= kConfigLineMax - 1 &&
         std::strpbrk(section, "]\r\n") == nullptr;
}

namespace {

// A value that can be stored whole and written on one line.
bool ValueFits(const char* value) {
  return std::strlen(value) <= kConfigTextMax &&
         std::strpbrk(value, "\r\n") == nullptr;
}

// Whether the entry line of `key` and `value`, with the blank that guards an
// empty key or one beginning with "[", fits one line.
bool EntryLineFits(const char* key, const char* value) {
  const size_t key_length = std::strlen(key);
  const size_t guard =
      key_length == 0 || (key[0] == '[' && key[1] != ']') ? 1 : 0;
  return guard + key_length + 1 + std::strlen(value) <= kConfigLineMax;
}

}  // namespace

bool ConfigEntryFits(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return false;
  return std::strpbrk(key, " \t\n\v\f\r#=") == nullptr && ValueFits(value) &&
         EntryLineFits(key, value);
}

bool ConfigNamesEqual(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    if (*x != *y && FoldAscii(*x) != FoldAscii(*y)) return false;
    if (*x == '\0') return true;  // both ended together
  }
}

ConfigNode* ConfigLookupNode(ConfigNode* first, const char* section,
                             const char* key) {
  if (section == nullptr || key == nullptr) return nullptr;
  bool inside = false;
  for (ConfigNode* node = first; node != nullptr; node = node->next) {
    if (node->kind == kConfigSection) {
      inside = ConfigNamesEqual(node->name, section);
    } else if (inside && HoldsKey(*node, key)) {
      return node;
    }
  }
  return nullptr;
}

const char* ConfigLookup(const ConfigNode* first, const char* section,
                         const char* key) {
  // The walk changes nothing; the node is only viewed.
  const ConfigNode* node =
      ConfigLookupNode(const_cast<ConfigNode*>(first), section, key);
  return node != nullptr ? node->value : nullptr;
}

ConfigNode* ConfigSetEntry(ConfigNode* first, const char* section,
                           const char* key, const char* value,
                           bool* out_of_memory) {
  if (section == nullptr || key == nullptr || value == nullptr) return nullptr;
  if (!ValueFits(value)) return nullptr;

  // New nodes are made before anything is linked, so running out of memory
  // leaves the document as it was. Only a key and section name that a file
  // can hold are ever added.
  auto new_entry = [&]() -> ConfigNode* {
    if (!ConfigEntryFits(key, value)) return nullptr;
    ConfigNode* entry = ConfigNewEntry(key, value, nullptr);
    if (entry == nullptr && out_of_memory != nullptr) *out_of_memory = true;
    return entry;
  };
  // A new header followed by a new entry, or null (and nothing made).
  auto new_section_with_entry = [&]() -> ConfigNode* {
    if (!ConfigSectionNameFits(section)) return nullptr;
    ConfigNode* header = ConfigNewSection(section, nullptr);
    if (header == nullptr) {
      if (out_of_memory != nullptr) *out_of_memory = true;
      return nullptr;
    }
    header->next = new_entry();
    if (header->next == nullptr) {
      std::free(header);
      return nullptr;
    }
    return header;
  };

  if (first == nullptr) return new_section_with_entry();

  bool inside = false;
  bool seen = false;
  ConfigNode* last = first;
  // The node after which the line of `node` begins, and whether that line
  // begins inside the section's body: a line longer than kConfigLineMax
  // characters is read in parts, and a new entry goes before all of them
  // where it can, so that the line stays whole.
  ConfigNode* line_before = nullptr;
  bool line_in_body = false;
  for (ConfigNode *node = first, *prev = nullptr; node != nullptr; prev = node, node = node->next) {
    last = node;
    const bool line_starts = prev == nullptr || !prev->continued;
    if (line_starts) line_before = prev;
    if (node->kind == kConfigSection) {
      if (line_starts) line_in_body = false;
      if (seen) {
        // The first matching section has ended; a later one is never used.
        inside = false;
        continue;
      }
      inside = ConfigNamesEqual(node->name, section);
      if (!inside) continue;
      seen = true;
      if (node->next == nullptr || node->next->kind == kConfigSection) {
        ConfigNode* entry = new_entry();
        return entry != nullptr ? LinkAfter(node, entry) : nullptr;
      }
      continue;
    }
    if (line_starts) line_in_body = inside;
    if (!inside) continue;
    if (HoldsKey(*node, key)) {
      // An entry's line must still fit with the new value; a free line's
      // value is never written.
      if (node->kind == kConfigEntry && !EntryLineFits(node->name, value)) {
        return nullptr;
      }
      if (std::strcmp(node->value, value) != 0) {
        // The line changes: it is written in the writer's form.
        node->as_read = nullptr;
        node->as_read_size = 0;
        std::memcpy(node->value, value, std::strlen(value) + 1);
      }
      return nullptr;
    }
    if (node->next != nullptr && node->next->kind == kConfigSection) {
      // The body's last line may go on into the next header: then the entry
      // goes before that line, unless it began with the section's own header.
      ConfigNode* after = node->continued && line_in_body ? line_before : node;
      ConfigNode* entry = new_entry();
      return entry != nullptr ? LinkAfter(after, entry) : nullptr;
    }
  }

  if (seen) {
    ConfigNode* entry = new_entry();
    return entry != nullptr ? LinkAfter(last, entry) : nullptr;
  }
  ConfigNode* header = new_section_with_entry();
  if (header == nullptr) return nullptr;
  last->next = header;  // `last` is the document's last node
  return header->next;
}

}  // namespace old_document
