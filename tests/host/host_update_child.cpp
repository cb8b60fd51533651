// One copy of a host that shares its settings file with another copy, run
// as a program of its own by TwoHostsKeepEachOthersChanges. It waits until
// the file GO exists, so that both copies begin together; then ROUNDS times
// it loads the file through the module, sets its own setting (quality for
// host "a", max_bitrate for host "b") to the round's number, pauses a
// moment as a person at the settings pages would (up to half a millisecond,
// varying by round, so the other copy's saves land in between), and saves
// the change with the update request, as the host's guide does. It checks
// what each update hands back: its own value, and the other host's never
// older than what its load saw. At the end it writes into the file REPORT
// how many rounds handed back a value of the other host's that its load had
// not seen. Exit status 0 when every round did what the module promises, 1
// when not (it says why on standard error), 2 for a wrong command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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
  if (argc != 6 || (std::strcmp(argv[2], "a") != 0 && std::strcmp(argv[2], "b") != 0)) {
    std::fprintf(stderr, "usage: host_update_child FILE a|b ROUNDS GO REPORT\n");
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
  // Bounded: a copy whose partner never starts gives up after 20 s.
  for (int waited = 0;; ++waited) {
    if (std::FILE* go = std::fopen(argv[4], "rb")) {
      std::fclose(go);
      break;
    }
    if (waited == 10000) {
      std::fprintf(stderr, "host_update_child %s: %s never came\n", argv[2], argv[4]);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
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
    std::this_thread::sleep_for(std::chrono::microseconds((round * 37 + (host_a ? 0 : 250)) % 500));
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
  std::FILE* report = std::fopen(argv[5], "wb");
  if (report == nullptr || std::fprintf(report, "%d\n", newer) < 0 || std::fclose(report) != 0) {
    std::fprintf(stderr, "host_update_child %s: cannot write %s\n", argv[2], argv[5]);
    return 1;
  }
  return 0;
}
