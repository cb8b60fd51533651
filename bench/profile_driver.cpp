// A small driver for instruction-level profiles (valgrind --tool=callgrind):
// loads the module as a host does and repeats one request on one file.
//
//   mp4v_profile_driver load|save FILE COUNT
//   mp4v_profile_driver generate LINES FILE   (a host file as the benchmark
//                                              makes it)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_support.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "generate") == 0) {
    const size_t lines = std::strtoul(argv[2], nullptr, 10);
    const std::string text =
        bench::GenerateConfigText(lines, bench::DistinctRecord());
    return bench::WriteFilePlain(argv[3], text) ? 0 : 1;
  }
  if (argc != 4 || (std::strcmp(argv[1], "load") != 0 &&
                    std::strcmp(argv[1], "save") != 0)) {
    std::fprintf(stderr,
                 "usage: %s load|save FILE COUNT\n       %s generate LINES FILE\n",
                 argv[0], argv[0]);
    return 2;
  }
  bench::Module module;
  std::string error;
  if (!bench::LoadModule(&module, &error)) {
    std::fprintf(stderr, "cannot load the module: %s\n", error.c_str());
    return 2;
  }
  const long count = std::strtol(argv[3], nullptr, 10);
  MP4VSettings record = bench::DistinctRecord();
  // The file's own values, so that repeated saves leave it unchanged.
  module.load(&record, argv[2]);
  for (long i = 0; i < count; ++i) {
    const int32_t status = argv[1][0] == 'l' ? module.load(&record, argv[2])
                                             : module.save(&record, argv[2]);
    if (status != MP4V_STATUS_OK) {
      std::fprintf(stderr, "request %ld failed\n", i);
      return 1;
    }
  }
  return 0;
}
