// What the commands of mp4vcfg ask of the configuration module and of the
// file a command reads or saves. `show`, `get`, `diff` and `edit`'s pages
// load the module at run time as any host loads it, and so do the saves of
// `set` and `edit`, through its update request (the module that --module
// names). What a save would do comes from the module's own save code,
// linked from the core (MP4VConfigCheckSave, mp4vcfg::CheckSave). Every
// failure throws Trouble (exit status 2) with the reason, the file as it
// was.
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

class Session;

// What ChangeInOneTurn did.
enum class TurnResult {
  kSaved,    // the changed settings are in the file
  kRefused,  // the save would lose text: listed on `err`, nothing written
};

// Changes some settings of `file` through the update request of the
// session's module: reads the file and makes the checks a save makes
// (CheckSavePossible's), loads the record the bytes give, lets `change`
// alter it, judges the save of the result on those bytes unless `force`
// (RefuseLosingText), and hands the record as loaded and as changed to the
// update request, which writes the changed settings, and only those, onto
// the file as it is in its turn (what another program wrote meanwhile
// stays). The judging and the turn are two steps: a write by another
// program between them is kept by the update but not judged. The bytes
// judged are let go before the update reads the file again, so a large
// file is not held twice. `*loaded`
// and `*saved` (when given) receive the record the file gave and the one
// the module saved (others' settings included). A module without the
// update request, a file that cannot be read or written, and a failed
// update throw Trouble, worded for the cause (SaveFailureMessage).
TurnResult ChangeInOneTurn(const Session& session, const std::string& file,
                           const std::function<void(MP4VSettings* record)>& change,
                           bool force, const char* command, std::ostream& err,
                           MP4VSettings* loaded = nullptr, MP4VSettings* saved = nullptr);

// The message for a save or update of `file` that failed with the last
// error `code`, naming its cause: another save held the file's turn past
// the wait; other writers kept changing the file; another program holds it
// (Windows); the name cannot be written in the code page (Windows); its
// folder cannot be read (Linux); otherwise the system's words for `code`.
std::string SaveFailureMessage(const std::string& file, uint32_t code);

// One command's use of the module, loaded for the session's lifetime.
class Session {
 public:
  // Loads the module at `module_path`, or the one beside the program when
  // it is empty; throws Trouble when it cannot be loaded. A module once
  // loaded under a `module_path` stays loaded until the process ends, and
  // later sessions with the same `module_path` use it: a program that runs
  // many commands in one process (the tests) loads each module once.
  explicit Session(const std::string& module_path);

  const mp4v_host::ModuleLibrary& module() const { return *module_; }

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
  const mp4v_host::ModuleLibrary* module_;
};

}  // namespace mp4vcfg

#endif  // MP4VCFG_SESSION_H_
