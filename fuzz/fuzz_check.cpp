// Any file bytes: what `mp4vcfg check` says of them agrees with what the
// module's real load and save requests then do (see check_property.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check_property.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "mp4v-fuzz-check-" + std::to_string(getpid()) + ".cfg";
  const std::string failure =
      check_property::Verify(std::string(reinterpret_cast<const char*>(data), size), path);
  std::remove(path.c_str());
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
