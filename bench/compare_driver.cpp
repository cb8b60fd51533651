// Times the module's requests as a host makes them, for bench/compare.sh,
// which runs it against two builds of the module: one timed request in a
// process of its own (what a host meets the first time), or many in a warm
// loop. Prints one duration in nanoseconds per line.
//
//   mp4v_compare_driver MODULE load|save FILE ROUNDS
//       ROUNDS of one request each; 1 for a fresh process
//   mp4v_compare_driver MODULE mixed FILE ROUNDS
//       each round the module's load and inih's parse, a plain read, the
//       module's save of the same file and the durable-write floor of its
//       bytes (a temporary file written, fsync'ed and renamed over a copy
//       beside it, the folder fsync'ed), the module first in every other
//       round; prints "load NS", "inih NS", "save NS" and "floor NS"
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_support.h"

namespace {

long long Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s MODULE load|save|mixed FILE ROUNDS\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[2];
  const char* file = argv[3];
  const long rounds = std::strtol(argv[4], nullptr, 10);
  bench::Module module;
  std::string error;
  if (!bench::LoadModule(&module, &error, argv[1])) {
    std::fprintf(stderr, "cannot load the module: %s\n", error.c_str());
    return 2;
  }
  // The record the file holds (from inih, so that the module's first load
  // is the one timed), saved back unchanged every time.
  MP4VSettings record = bench::DistinctRecord();
  if (!bench::InihLoad(file, &record)) return 2;
  for (long i = 0; i < rounds; ++i) {
    if (mode == "load" || mode == "save") {
      const long long start = Now();
      const int32_t status =
          mode == "load" ? module.load(&record, file) : module.save(&record, file);
      const long long took = Now() - start;
      if (status != MP4V_STATUS_OK) return 1;
      std::printf("%lld\n", took);
      continue;
    }
    if (mode != "mixed") return 2;
    // The module and its peer take turns going first: the first to read a
    // file a save has just replaced also pays for the file system's note
    // of that read, and the first write after a read for its own.
    const bool module_first = i % 2 == 0;
    long long load = 0;
    long long inih = 0;
    MP4VSettings peer = record;
    auto time_load = [&] {
      const long long start = Now();
      const bool ok = module.load(&record, file) == MP4V_STATUS_OK;
      load = Now() - start;
      return ok;
    };
    auto time_inih = [&] {
      const long long start = Now();
      const bool ok = bench::InihLoad(file, &peer);
      inih = Now() - start;
      return ok;
    };
    if (module_first ? !(time_load() && time_inih()) : !(time_inih() && time_load())) return 1;
    std::string bytes;
    if (!bench::ReadFileStdio(file, &bytes)) return 1;
    const std::string copy = std::string(file) + ".floor";
    long long save = 0;
    long long floor = 0;
    auto time_save = [&] {
      const long long start = Now();
      const bool ok = module.save(&record, file) == MP4V_STATUS_OK;
      save = Now() - start;
      return ok;
    };
    auto time_floor = [&] {
      const long long start = Now();
      const bool ok = bench::SafeWrite(copy.c_str(), bytes, true);
      floor = Now() - start;
      return ok;
    };
    if (module_first ? !(time_save() && time_floor()) : !(time_floor() && time_save())) return 1;
    std::printf("load %lld\ninih %lld\nsave %lld\nfloor %lld\n", load, inih, save, floor);
  }
  return 0;
}
