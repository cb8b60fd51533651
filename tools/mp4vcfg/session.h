// What the commands of mp4vcfg ask of the configuration module and of the
// file a command reads or saves. `show`, `get`, `diff` and `edit`'s pages
// load the module at run time as any host loads it. What a save would do,
// and the saves of `set` and `edit`, come from the module's own save,
// linked from the core (MP4VConfigCheckSave, MP4VConfigUpdateFile,
// mp4vcfg::CheckSave): a change of some settings must read, judge and write
// the file in one turn of its saves, which the module's two requests, a
// load and then a save, cannot do. Every failure throws Trouble (exit status
// 2) with the reason, the file as it was.
#ifndef MP4VCFG_SESSION_H_
#define MP4VCFG_SESSION_H_

#include <cstdint>
#include <functional>
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
// be read, or one that cannot be replaced, with the module's words for it
// and the system's for its code; std::bad_alloc when memory runs out.
void CheckSavePossible(const std::string& file, std::string* bytes, bool* exists);

// Whether a save of `record` over the file contents `bytes` would rob them
// of text, as the module's save computes it. If so, the lines are listed on
// `err` with what becomes of `command` ("set" or "edit"; `dry_run`: it
// writes nothing anyway), and the command must not save.
bool RefuseLosingText(const std::string& file, const std::string& bytes,
                      const MP4VSettings& record, bool dry_run, const char* command,
                      std::ostream& err);

// What ChangeInOneTurn did.
enum class TurnResult {
  kSaved,    // the changed record is in the file
  kRefused,  // the save would lose text: listed on `err`, nothing written
};

// Changes some settings of `file` as one turn of its saves: in that turn
// it reads the file, makes the checks a save makes (CheckSavePossible's),
// loads the record the bytes give, lets `change` alter it, judges the save
// of the result unless `force` (RefuseLosingText) and writes it. When
// another program changed the file meanwhile, all of it is done again on
// the new bytes, so that its write stays; `change` is then called again
// with the record those give. `*loaded` and `*saved` (when given) receive
// the record the file gave and the one written, of the last attempt. A file
// that cannot be read or written throws Trouble; one created anew gets the
// settings the record holds.
TurnResult ChangeInOneTurn(const std::string& file,
                           const std::function<void(MP4VSettings* record)>& change,
                           bool force, const char* command, std::ostream& err,
                           MP4VSettings* loaded = nullptr, MP4VSettings* saved = nullptr);

// One command's use of the module, loaded for the session's lifetime.
class Session {
 public:
  // Loads the module at `module_path`, or the one beside the program when
  // it is empty; throws Trouble when it cannot be loaded.
  explicit Session(const std::string& module_path);

  const mp4v_host::ModuleLibrary& module() const { return module_; }

  // Loads `file` into `*record` through the module's load request: the
  // fields the file gives change, the others keep their bytes. A refused
  // name, and a file the load could not read (as the load's last error
  // says: no file, no permission, held by another program, UTF-16 text),
  // throw Trouble: someone asking what a file holds has most likely
  // mistyped its name, and a default is not what the file holds.
  void Load(const std::string& file, MP4VSettings* record) const;

  // The file loaded into two records of different fill bytes: a field that
  // the file does not set keeps its fill and so differs between the two.
  void LoadTwice(const std::string& file, MP4VSettings* zeros, MP4VSettings* ones) const;

 private:
  mp4v_host::ModuleLibrary module_;
};

}  // namespace mp4vcfg

#endif  // MP4VCFG_SESSION_H_
