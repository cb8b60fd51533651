#include <exception>
#include <iostream>

#include "mp4vcfg/command_line.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

// Standard output without the text mode's CR before each LF: what is
// written is what arrives, as the dry run's diff of a CR LF file needs.
void StdoutAsBytes() {
  std::cout.flush();
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace
#endif

int main(int argc, char** argv) {
  try {
#ifdef _WIN32
    return RunMp4vcfg(argc, argv, std::cout, std::cerr, &StdoutAsBytes);
#else
    return RunMp4vcfg(argc, argv, std::cout, std::cerr);
#endif
  } catch (...) {
    // RunMp4vcfg reports its own failures; this is the last line of defence.
    std::cerr << "mp4vcfg: unexpected internal error\n";
    return 2;
  }
}
