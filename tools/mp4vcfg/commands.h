// The commands of mp4vcfg, one source file each (commands/*.cpp), as the
// command line (command_line.h) calls them.
//
// Every command returns its exit status (output.h: kExitSuccess,
// kExitFailure) and throws Trouble for a failure (exit status 2: a refused
// key or value, a file that cannot be read or written, a refused name, a
// failed save, a module that cannot be loaded), the file as it was. Results
// go to `out`, findings and messages to `err`; nothing is printed to `out`
// before the command is sure to succeed (short of a failing stream).
// `module_path` names the configuration module to load, empty for the one
// beside the program; a command that uses the module loads it first.
#ifndef MP4VCFG_COMMANDS_H_
#define MP4VCFG_COMMANDS_H_

#include <ostream>
#include <string>
#include <vector>

namespace mp4vcfg {

// `info`: the module's file, its information items and (on Windows) its
// version resource.
int Info(const std::string& module_path, std::ostream& out);

// `show FILE`: all 56 settings in the record's order, each marked set or
// default; with `json` one JSON object.
int Show(const std::string& module_path, const std::string& file, bool json,
         std::ostream& out);

// `get FILE KEY...`: the values of the settings `keys`, one a line, in the
// order asked.
int Get(const std::string& module_path, const std::string& file,
        const std::vector<std::string>& keys, std::ostream& out);

// `set FILE KEY=VALUE...`: changes the settings of `assignments` and saves
// FILE through the module. A save that would lose text is refused with
// status 1 unless `force`; `dry_run` writes nothing and prints, as a
// unified diff against FILE, exactly what the save would write.
int Set(const std::string& module_path, const std::string& file,
        const std::vector<std::string>& assignments, bool dry_run, bool force,
        std::ostream& out, std::ostream& err);

// `check FILE`: what a save would not keep of FILE, and the layout it
// changes, as the module's own save (linked from the core, no module
// loaded) reports it: status 0 when a save loses no text, 1 when it does.
int Check(const std::string& file, bool json, std::ostream& out);

// `diff FILE1 FILE2`: the settings whose values differ, exiting as diff and
// cmp do: 0 when they agree, 1 when they differ.
int Diff(const std::string& module_path, const std::string& first, const std::string& second,
         bool json, std::ostream& out);

// `edit FILE`: FILE's settings on the settings pages (the library that
// request 0x2008 loads from beside the module), saved when OK is pressed;
// a save that would lose text is refused with status 1 unless `force`. The
// native build throws Trouble: the pages are a Windows library.
int Edit(const std::string& module_path, const std::string& file, bool force,
         std::ostream& out, std::ostream& err);

}  // namespace mp4vcfg

#endif  // MP4VCFG_COMMANDS_H_
