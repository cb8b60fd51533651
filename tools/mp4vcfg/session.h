// What the commands of mp4vcfg ask of the configuration module and of the
// file a command reads or saves. The module is loaded at run time as any
// host loads it; what a save would do is asked of the module's own save,
// linked from the core (MP4VConfigCheckSave, mp4vcfg::CheckSave). Every
// failure throws Trouble (exit status 2) with the reason, the file as it
// was.
#ifndef MP4VCFG_SESSION_H_
#define MP4VCFG_SESSION_H_

#include <ostream>
#include <string>

#include "host/module_library.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"

namespace mp4vcfg {

// The setting called `name` (ASCII case ignored); an unknown name throws
// Trouble.
const mp4v_host::SettingKey& FindKey(const std::string& name);

// What a save of `file` meets before it writes, as the module's save checks
// it: the file's bytes in `*bytes`, `*exists` whether it is there. Throws
// Trouble when the save would not write: a refused name, a file that cannot
// be read, or one that cannot be replaced; std::bad_alloc when memory runs
// out.
void CheckSavePossible(const std::string& file, std::string* bytes, bool* exists);

// Whether a save of `record` over the file contents `bytes` would rob them
// of text, as the module's save computes it. If so, the lines are listed on
// `err` with what becomes of `command` ("set" or "edit"; `dry_run`: it
// writes nothing anyway), and the command must not save.
bool RefuseLosingText(const std::string& file, const std::string& bytes,
                      const MP4VSettings& record, bool dry_run, const char* command,
                      std::ostream& err);

// One command's use of the module, loaded for the session's lifetime.
class Session {
 public:
  // Loads the module at `module_path`, or the one beside the program when
  // it is empty; throws Trouble when it cannot be loaded.
  explicit Session(const std::string& module_path);

  const mp4v_host::ModuleLibrary& module() const { return module_; }

  // Loads `file` into `*record` through the module's load request: the
  // fields the file gives change, the others keep their bytes. A missing
  // file loads as an empty one; a refused name throws Trouble.
  void Load(const std::string& file, MP4VSettings* record) const;

  // The file loaded into two records of different fill bytes: a field that
  // the file does not set keeps its fill and so differs between the two.
  // A file that cannot be opened throws Trouble: someone asking what a file
  // holds has most likely mistyped its name.
  void LoadTwice(const std::string& file, MP4VSettings* zeros, MP4VSettings* ones) const;

  // Throws Trouble when `file` cannot be opened for reading (the module
  // reads a missing file as an empty one).
  static void RequireReadable(const std::string& file);

  // Saves `record` into `file` through the module's save request; a failed
  // save throws Trouble (the module leaves the file as it was).
  void Save(const MP4VSettings& record, const std::string& file) const;

 private:
  mp4v_host::ModuleLibrary module_;
};

}  // namespace mp4vcfg

#endif  // MP4VCFG_SESSION_H_
