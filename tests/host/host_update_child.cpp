// One copy of a host that shares its settings file with another copy, run
// as a program of its own by TwoHostsKeepEachOthersChanges: ROUNDS times it
// loads the file through the module, sets its own setting (quality for
// host "a", max_bitrate for host "b") to the round's number, and saves the
// change with the update request, as the host's guide does. It checks what
// each update hands back: its own value, and the other host's never older
// than what its load saw. At the end it prints how many rounds handed back
// a value of the other host's that its load had not seen. Exit status 0
// when every round did what the module promises, 1 when not (it says why on
// standard error), 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/module_library.h"
#include "mp4v_config.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

unsigned long LastError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<unsigned long>(errno);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "a") != 0 && std::strcmp(argv[2], "b") != 0)) {
    std::fprintf(stderr, "usage: host_update_child FILE a|b ROUNDS\n");
    return 2;
  }
  const std::string file = argv[1];
  const bool host_a = argv[2][0] == 'a';
  const int rounds = std::atoi(argv[3]);
  mp4v_host::ModuleLibrary module;
  std::string error;
  if (!module.Open(std::string(), &error) || module.update() == nullptr) {
    std::fprintf(stderr, "host_update_child: %s\n",
                 error.empty() ? "the module has no update request" : error.c_str());
    return 1;
  }
  auto own = [host_a](MP4VSettings* s) -> int32_t& {
    return host_a ? s->quality : s->max_bitrate;
  };
  auto other = [host_a](MP4VSettings* s) -> int32_t& {
    return host_a ? s->max_bitrate : s->quality;
  };
  int newer = 0;
  for (int round = 1; round <= rounds; ++round) {
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    if (module.load()(&record, file.c_str()) != MP4V_STATUS_OK) {
      std::fprintf(stderr, "host_update_child %s: round %d: load failed, reason %lu\n", argv[2],
                   round, LastError());
      return 1;
    }
    MP4VSettings loaded = record;
    own(&record) = round;
    if (module.update()(&record, &loaded, file.c_str()) != MP4V_STATUS_OK) {
      std::fprintf(stderr, "host_update_child %s: round %d: update failed, reason %lu\n",
                   argv[2], round, LastError());
      return 1;
    }
    if (own(&record) != round || other(&record) < other(&loaded)) {
      std::fprintf(stderr,
                   "host_update_child %s: round %d: handed back own %d, other %d after a "
                   "load that gave other %d\n",
                   argv[2], round, static_cast<int>(own(&record)),
                   static_cast<int>(other(&record)), static_cast<int>(other(&loaded)));
      return 1;
    }
    if (other(&record) > other(&loaded)) ++newer;
  }
  std::printf("%d\n", newer);
  return 0;
}
