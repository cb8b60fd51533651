// Any bytes read as a configuration file: no fault, and what the writer
// writes reads back as the same document (writing it again gives the same
// bytes).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool out_of_memory = false;
  ConfigNode* document =
      ConfigParseText(reinterpret_cast<const char*>(data), size, &out_of_memory);
  // From an empty document the set-entry operation builds a new one.
  ConfigNode* created = ConfigSetEntry(document, "MP4V Settings", "width", "720");
  if (document == nullptr) document = created;
  (void)ConfigLookup(document, "MP4V Settings", "height");
  std::string once, twice;
  ConfigSerialize(document, true, &once);
  ConfigNode* again = ConfigParseText(once.data(), once.size(), &out_of_memory);
  ConfigSerialize(again, true, &twice);
  if (once != twice) std::abort();
  ConfigFreeDocument(document);
  ConfigFreeDocument(again);
  return 0;
}
