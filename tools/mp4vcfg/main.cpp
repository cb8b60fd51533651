#include <exception>
#include <iostream>

#include "mp4vcfg/cli.h"

int main(int argc, char** argv) {
  try {
    return RunMp4vcfg(argc, argv, std::cout, std::cerr);
  } catch (...) {
    // RunMp4vcfg reports its own failures; this is the last line of defence.
    std::cerr << "mp4vcfg: unexpected internal error\n";
    return 1;
  }
}
