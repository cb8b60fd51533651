#include "api/requests.h"

#include <cstring>

#include "config/bind_key.h"
#include "config/config_file.h"
#include "config/document.h"
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
    if (node->kind == kConfigSection && ConfigNamesEqual(node->name, section)) {
      return node;
    }
  }
  return nullptr;
}

}  // namespace

bool MP4VConfigBindDocument(ConfigNode* document, const char* mode,
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
  bool complete = true;
  for (size_t i = 0; bind && i < kMP4VSettingsKeyCount; ++i) {
    const MP4VSettingsKey& row = MP4VSettingsKeyTable[i];
    int32_t result = ConfigBindKey(
        start != nullptr ? start : document, mode, kMP4VSettingsSection,
        row.key, row.type_name, static_cast<char*>(settings) + row.offset,
        nullptr);
    if (start == nullptr) start = FindSection(document, kMP4VSettingsSection);
    // On load a missing key is no failure; on save a binding fails only
    // when memory ran out.
    if (save && result != 0) complete = false;
  }
  return complete;
}

bool MP4VConfigTransfer(const char* mode, const char* file_name,
                        void* settings) {
  const bool save = std::strcmp(mode, "save") == 0;
  FileReadStatus status;
  ConfigNode* document = ConfigReadFileEx(file_name, &status);
  if (save && (status == FileReadStatus::kUnreadable ||
               status == FileReadStatus::kOutOfMemory)) {
    // Writing now would replace a file whose contents were never read.
    ConfigFreeDocument(document);
    return false;
  }
  if (document == nullptr) return !save;
  // No partial file is written when memory ran out.
  const bool complete = MP4VConfigBindDocument(document, mode, settings);
  if (save && complete) return ConfigWriteFile(document, file_name, 1);
  ConfigFreeDocument(document);
  return !save;
}

extern "C" int32_t MP4V_CDECL MP4VConfigLoad(MP4VSettings* settings,
                                            const char* file_name) {
  if (!MP4VConfigCheckFileName(settings, file_name)) return MP4V_STATUS_FAILED;
  MP4VConfigTransfer("load", file_name, settings);
  MP4VSnapFrameRate(settings);
  return MP4V_STATUS_OK;
}

extern "C" int32_t MP4V_CDECL MP4VConfigSave(const MP4VSettings* settings,
                                            const char* file_name) {
  if (!MP4VConfigCheckFileName(settings, file_name)) return MP4V_STATUS_FAILED;
  // A save only reads the record; the binding interface takes one pointer
  // type for both directions.
  const bool written = MP4VConfigTransfer(
      "save", file_name, const_cast<MP4VSettings*>(settings));
  return written ? MP4V_STATUS_OK : MP4V_STATUS_FAILED;
}
