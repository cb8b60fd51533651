// Any file bytes through whole load and save requests, as a host makes them:
// no fault, every load and save succeeds but of a file that begins with a
// UTF-16 byte-order mark (the load fails, the record untouched; the save
// is refused, the file left as it was), an unchanged save
// keeps every value (load, save, load gives the same record; a finite frame
// rate as its ten-decimal text, an infinite one, which no such text holds,
// bit for bit from the line it was read from) and a second unchanged save
// changes no byte of the file. A save written as the file is read, in
// pieces whose sizes the bytes choose, writes what the decision from the
// whole bytes writes, wherever it writes, and what it holds back, put in
// place of the section it wrote, is the file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/module.h"
#include "api/requests.h"
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
  {
    FileText whole;
    uint32_t error = 0;
    const FileDecision decision = MP4VConfigDecideSave(bytes, &first, &whole, &error);
    size_t at = 0;
    std::string written;
    FileSplice splice;
    const StreamDecision streamed = MP4VConfigStreamSave(
        [&](char* into, size_t room, size_t* got) {
          const size_t piece = 1 + (at < size ? data[at] : 0) * 8;
          *got = std::min({piece, room, size - at});
          std::memcpy(into, data + at, *got);
          at += *got;
          return true;
        },
        [&](const char* text, size_t length) {
          written.append(text, length);
          return true;
        },
        &first, &splice, &error);
    if (streamed == StreamDecision::kWritten) {
      if (decision != FileDecision::kWrite || written != whole.Whole(bytes)) std::abort();
      if (splice.at + splice.size > written.size() ||
          written.substr(0, splice.at) + splice.held + written.substr(splice.at + splice.size) !=
              bytes) {
        std::abort();
      }
    } else if (streamed != StreamDecision::kWholeFile) {
      std::abort();
    }
  }
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
