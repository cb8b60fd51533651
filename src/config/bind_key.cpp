// The key binding operation: one field, one key, one direction.
#include "config/bind_key.h"

#include <cstdlib>
#include <cstring>

#include "config/value_text.h"

namespace {

// `text` as a C string in `buffer` (a node's text is at most kConfigTextMax
// bytes).
char* CText(std::string_view text, char (&buffer)[kConfigTextCapacity]) {
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return buffer;
}

// Stores the value text into a scalar field of `type`; an unknown type
// stores nothing. A "str" field receives the address of the text itself.
void LoadScalar(char* text, ConfigType type, void* field) {
  switch (type) {
    case ConfigType::kByte:
    case ConfigType::kUint8:
    case ConfigType::kInt8: {
      uint8_t value = static_cast<uint8_t>(ConfigParseInt32(text));
      std::memcpy(field, &value, sizeof value);
      break;
    }
    case ConfigType::kShort:
    case ConfigType::kUint16:
    case ConfigType::kInt16: {
      uint16_t value = static_cast<uint16_t>(ConfigParseInt32(text));
      std::memcpy(field, &value, sizeof value);
      break;
    }
    case ConfigType::kUint32:
    case ConfigType::kInt32:
    case ConfigType::kInt: {
      int32_t value = ConfigParseInt32(text);
      std::memcpy(field, &value, sizeof value);
      break;
    }
    case ConfigType::kInt64: {
      int64_t value = ConfigParseInt64(text);
      std::memcpy(field, &value, sizeof value);
      break;
    }
    case ConfigType::kDbl: {
      double value = ConfigParseDouble(text);
      std::memcpy(field, &value, sizeof value);
      break;
    }
    case ConfigType::kStr:
      std::memcpy(field, &text, sizeof text);
      break;
    default:
      break;
  }
}

// Loads a list: sets `*count` and, when `field` is not null, fills the
// caller's array. A "str" list's element texts are a copy of the entry's
// value kept with the entry's node, so they live as long as the document and
// the entry itself is left as it was. Returns false when memory ran out.
bool LoadList(ConfigNode* node, ConfigType type, const char* type_name,
              void* field, int32_t* count) {
  char text[kConfigTextCapacity];
  void* block = ConfigParseList(CText(node->value(), text), count, type_name);
  if (block == nullptr || field == nullptr || type == ConfigType::kUnknown) {
    std::free(block);
    return true;
  }
  if (type == ConfigType::kStr) {
    // The block holds the element pointers followed by their texts.
    if (!ConfigKeepWithNode(node, block)) {
      std::free(block);
      *count = 0;
      return false;
    }
    std::memcpy(field, block, static_cast<size_t>(*count) * sizeof(char*));
    return true;
  }
  std::memcpy(field, block, static_cast<size_t>(*count) * ConfigTypeSize(type));
  std::free(block);
  return true;
}

}  // namespace

int32_t ConfigBindKey(ConfigNode* document, const char* mode,
                      const char* section, const char* key,
                      const char* type_name, void* field, int32_t* count) {
  if (mode == nullptr) return 1;
  if (std::strcmp(mode, "load") == 0) {
    return ConfigBindFound(ConfigLookupNode(document, section, key), type_name, field, count);
  }
  if (std::strcmp(mode, "save") == 0) {
    if (document == nullptr) return 1;
    bool stored = count != nullptr
                      ? ConfigPutList(document, section, key, field, type_name,
                                      *count)
                      : ConfigPutScalar(document, section, key, field, type_name);
    return stored ? 0 : 1;
  }
  return 1;
}

int32_t ConfigBindFound(ConfigNode* node, const char* type_name, void* field,
                        int32_t* count) {
  if (node == nullptr) return 1;
  return ConfigBindFoundAs(node, ConfigResolveType(type_name), type_name, field, count);
}

int32_t ConfigBindFoundAs(ConfigNode* node, ConfigType type, const char* type_name,
                          void* field, int32_t* count) {
  if (node == nullptr) return 1;
  if (count != nullptr) {
    if (!LoadList(node, type, type_name, field, count)) return 1;
  } else if (field != nullptr) {
    if (type == ConfigType::kStr) {
      // The field views the value inside the document, a C string.
      if (!ConfigOwnTexts(node)) return 1;
      LoadScalar(const_cast<char*>(node->value().data()), type, field);
    } else {
      char text[kConfigTextCapacity];
      LoadScalar(CText(node->value(), text), type, field);
    }
  }
  return 0;
}
