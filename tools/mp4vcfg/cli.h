// mp4vcfg: looks at and changes encoder settings files through the
// configuration module, loaded at run time as any host loads it.
#ifndef MP4VCFG_CLI_H_
#define MP4VCFG_CLI_H_

#include <ostream>

// Runs one command line (argv[0] is the program's name). Results go to
// `out`, messages and errors to `err`. Returns the exit status: 0 success,
// 1 failure, 2 a command line that could not be understood.
int RunMp4vcfg(int argc, const char* const* argv, std::ostream& out,
               std::ostream& err);

#endif  // MP4VCFG_CLI_H_
