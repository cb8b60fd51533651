#include "config/document.h"

#include <cstdlib>
#include <cstring>

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

void ConfigFreeDocument(ConfigNode* first) {
  while (first != nullptr) {
    ConfigNode* next = first->next;
    std::free(first);
    first = next;
  }
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
    } else if (inside && ConfigNamesEqual(node->name, key)) {
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
  if (std::strlen(value) > kConfigTextMax) return nullptr;

  // A new entry is made before anything is linked, so running out of memory
  // leaves the document as it was.
  auto new_entry = [&]() -> ConfigNode* {
    ConfigNode* entry = ConfigNewEntry(key, value, nullptr);
    if (entry == nullptr && out_of_memory != nullptr) *out_of_memory = true;
    return entry;
  };

  // A new header followed by a new entry, or null (and nothing made) when
  // either cannot be allocated.
  auto new_section_with_entry = [&]() -> ConfigNode* {
    ConfigNode* header = ConfigNewSection(section, nullptr);
    ConfigNode* entry = header != nullptr ? new_entry() : nullptr;
    if (entry == nullptr) {
      std::free(header);
      if (out_of_memory != nullptr) *out_of_memory = true;
      return nullptr;
    }
    header->next = entry;
    return header;
  };

  if (first == nullptr) return new_section_with_entry();

  bool inside = false;
  bool seen = false;
  ConfigNode* last = first;
  for (ConfigNode* node = first; node != nullptr; node = node->next) {
    last = node;
    if (node->kind == kConfigSection) {
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
    if (!inside) continue;
    if (ConfigNamesEqual(node->name, key)) {
      std::memcpy(node->value, value, std::strlen(value) + 1);
      return nullptr;
    }
    if (node->next != nullptr && node->next->kind == kConfigSection) {
      ConfigNode* entry = new_entry();
      return entry != nullptr ? LinkAfter(node, entry) : nullptr;
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
