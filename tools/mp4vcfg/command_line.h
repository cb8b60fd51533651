// mp4vcfg: looks at and changes encoder settings files through the
// configuration module, loaded at run time as any host loads it.
#ifndef MP4VCFG_COMMAND_LINE_H_
#define MP4VCFG_COMMAND_LINE_H_

#include <ostream>

// Runs one command line (argv[0] is the program's name). Results go to
// `out`, messages and errors to `err`. Returns the exit status, the same for
// every command: 0 done (a save loses no text, the settings agree), 1 a save
// would lose text and nothing was written, or the settings differ (diff),
// 2 trouble (a usage error, an unknown key or a refused value, a file that
// cannot be read or written or whose name the module refuses, a failed
// save). `bytes_out`, when given, is called before a command whose output
// must reach `out` byte for byte (set --dry-run, whose diff carries the
// file's own line ends, and diff): on Windows the program puts its standard
// output in binary mode there.
int RunMp4vcfg(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               void (*bytes_out)() = nullptr);

#endif  // MP4VCFG_COMMAND_LINE_H_
