#include "support/doc_util.h"

#include <new>

#include "config/config_file.h"

namespace testutil {

Document Parse(const std::string& text) {
  bool out_of_memory = false;
  return ConfigParseText(text, &out_of_memory);
}

Document ParseRewritten(const std::string& text) {
  Document doc = Parse(text);
  for (ConfigNode* node = doc.first(); node != nullptr; node = node->next) {
    // A line led by a zero byte holds no key, so no save rewrites it.
    if (node->kind == kConfigFreeLine && node->name().empty()) continue;
    if (!ConfigWriteInOwnForm(node)) throw std::bad_alloc();
  }
  return doc;
}

std::string Describe(const ConfigNode* first) {
  std::string out;
  for (const ConfigNode* node = first; node != nullptr; node = node->next) {
    if (!out.empty()) out += "|";
    switch (node->kind) {
      case kConfigSection:
        out += "[" + std::string(node->name()) + "]";
        break;
      case kConfigEntry:
        out += std::string(node->name()) + "=" + std::string(node->value());
        break;
      default:
        out += "~" + std::string(node->name());
        if (!node->value().empty()) out += "=" + std::string(node->value());
        break;
    }
    if (!node->comment().empty()) out += "#" + std::string(node->comment());
  }
  return out;
}

}  // namespace testutil
