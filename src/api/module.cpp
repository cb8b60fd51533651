#include "api/module.h"

#include <cstring>

#include "api/requests.h"
#include "api/version.h"
#include "pages/pages_loader.h"

namespace {

constexpr char kModuleName[] = MP4V_MAKER_NAME " " MP4V_MODULE_DESCRIPTION;
constexpr char kVersionText[] = MP4V_VERSION_TEXT;
constexpr char kPlatformText[] = MP4V_PLATFORM_TEXT;
static_assert(sizeof(kModuleName) - 1 == MP4V_INFO_MODULE_NAME_LENGTH,
              "module name is 67 bytes");
static_assert(sizeof(kVersionText) - 1 == MP4V_INFO_VERSION_LENGTH,
              "version text is 10 bytes");
static_assert(sizeof(kPlatformText) - 1 == MP4V_INFO_PLATFORM_LENGTH,
              "platform text is as long as the header says");

void StoreLittleEndian32(void* buffer, uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 24)};
  std::memcpy(buffer, bytes, sizeof bytes);
}

// Function addresses leave the module as untyped data pointers, as the host
// interface has them; every supported platform converts losslessly.
template <typename Fn>
void* AsAddress(Fn* fn) {
  return reinterpret_cast<void*>(fn);
}

}  // namespace

extern "C" int32_t MP4V_CDECL MP4VConfigGetInfo(uint32_t item, void* buffer) {
  if (buffer == nullptr) return MP4V_STATUS_FAILED;
  switch (item) {
    case MP4V_INFO_MODULE_NAME:
      std::memcpy(buffer, kModuleName, sizeof(kModuleName) - 1);
      return MP4V_STATUS_OK;
    case MP4V_INFO_VALUE_0:
      StoreLittleEndian32(buffer, 0);
      return MP4V_STATUS_OK;
    case MP4V_INFO_VALUE_2:
      StoreLittleEndian32(buffer, 2);
      return MP4V_STATUS_OK;
    case MP4V_INFO_VERSION:
      std::memcpy(buffer, kVersionText, sizeof(kVersionText) - 1);
      return MP4V_STATUS_OK;
    case MP4V_INFO_PLATFORM:
      std::memcpy(buffer, kPlatformText, sizeof(kPlatformText) - 1);
      return MP4V_STATUS_OK;
    default:
      return MP4V_STATUS_FAILED;
  }
}

extern "C" __attribute__((visibility("default"))) void* MP4V_CDECL
MP4VConfigGetAPIExt(uint32_t function_id) {
  switch (function_id) {
    case MP4V_FUNC_GET_INFO:
      return AsAddress(&MP4VConfigGetInfo);
    case MP4V_FUNC_LOAD:
      return AsAddress(&MP4VConfigLoad);
    case MP4V_FUNC_SAVE:
      return AsAddress(&MP4VConfigSave);
    case MP4V_FUNC_UPDATE:
      return AsAddress(&MP4VConfigUpdate);
    case MP4V_FUNC_SETTINGS_PAGES:
      return GetEncoderPagesEntry();
    default:
      return nullptr;
  }
}
