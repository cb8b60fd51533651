// Any file bytes through whole load and save requests, as a host makes them:
// no fault, every load and save succeeds but of a file that begins with a
// UTF-16 byte-order mark (the load fails, the record untouched; the save
// is refused, the file left as it was), an unchanged save
// keeps every value (load, save, load gives the same record; a finite frame
// rate as its ten-decimal text, an infinite one, which no such text holds,
// bit for bit from the line it was read from) and a second unchanged save
// changes no byte of the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/module.h"
#include "check_property.h"
#include "config/value_text.h"
#include "settings/key_table.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using check_property::ReadAll;

std::string RateText(const MP4VSettings& record) {
  char text[kConfigTextCapacity];
  ConfigFormatScalar(&record.frame_rate, ConfigType::kDbl, text);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      "mp4v-fuzz-request-" + std::to_string(getpid()) + ".cfg";
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check_property::WriteAll(path, bytes);

  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  MP4VSettings first, second, third;
  std::memset(&first, 0x5A, sizeof first);
  std::memset(&second, 0xA5, sizeof second);
  std::memset(&third, 0x3C, sizeof third);
  const MP4VSettings untouched = first;
  if (check_property::BeginsWithUtf16Mark(bytes)) {
    // Not 8-bit text: the load fails and leaves the record as it was, the
    // save refuses it.
    if (load(&first, path.c_str()) != MP4V_STATUS_FAILED) std::abort();
    if (std::memcmp(&first, &untouched, sizeof first) != 0) std::abort();
    if (save(&first, path.c_str()) != MP4V_STATUS_FAILED) std::abort();
    if (ReadAll(path) != bytes) std::abort();
    std::remove(path.c_str());
    return 0;
  }
  if (load(&first, path.c_str()) != MP4V_STATUS_OK) std::abort();
  if (save(&first, path.c_str()) != MP4V_STATUS_OK) std::abort();
  const std::string once = ReadAll(path);
  if (load(&second, path.c_str()) != MP4V_STATUS_OK) std::abort();
  const bool finite = first.frame_rate - first.frame_rate == 0.0;
  MP4VSettings rounded = first;
  if (finite) rounded.frame_rate = second.frame_rate;
  if (!check_property::SameFields(rounded, second)) std::abort();
  if (finite && RateText(first) != RateText(second)) std::abort();
  if (save(&second, path.c_str()) != MP4V_STATUS_OK) std::abort();
  if (ReadAll(path) != once) std::abort();
  if (load(&third, path.c_str()) != MP4V_STATUS_OK) std::abort();
  if (!check_property::SameFields(second, third)) std::abort();
  std::remove(path.c_str());
  return 0;
}
