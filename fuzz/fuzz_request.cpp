// Any file bytes through a whole load and save request, as a host makes
// them: no fault, the save succeeds, and loading the saved file gives back
// every integer field that was saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/module.h"
#include "settings/key_table.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      "mp4v-fuzz-request-" + std::to_string(getpid()) + ".cfg";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  MP4VSettings first, second;
  std::memset(&first, 0x5A, sizeof first);
  std::memset(&second, 0xA5, sizeof second);
  if (load(&first, path.c_str()) != MP4V_STATUS_OK) std::abort();
  if (save(&first, path.c_str()) != MP4V_STATUS_OK) std::abort();
  if (load(&second, path.c_str()) != MP4V_STATUS_OK) std::abort();
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (std::strcmp(row.type_name, "int") != 0) continue;
    if (std::memcmp(reinterpret_cast<char*>(&first) + row.offset,
                    reinterpret_cast<char*>(&second) + row.offset, 4) != 0) {
      std::abort();
    }
  }
  std::remove(path.c_str());
  return 0;
}
