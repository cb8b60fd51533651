#include "mp4vcfg/session.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "api/requests.h"
#include "mp4vcfg/check.h"
#include "mp4vcfg/output.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace mp4vcfg {

const mp4v_host::SettingKey& FindKey(const std::string& name) {
  const mp4v_host::SettingKey* key = mp4v_host::FindSettingKey(name);
  if (key == nullptr) {
    throw Trouble("unknown key " + Quoted(name) + " (\"mp4vcfg show FILE\" lists every key)");
  }
  return *key;
}

namespace {

// The module's words for `check`, and the system's for `code` where the
// system gave it: what CheckSavePossible and ChangeInOneTurn throw.
std::string CheckMessage(const std::string& file, MP4VSaveCheck check, const std::string& reason,
                         bool exists, uint32_t code) {
  const std::string system = code != 0 ? " (" + SystemMessage(code) + ")" : std::string();
  switch (check) {
    case MP4VSaveCheck::kPossible:
      break;
    case MP4VSaveCheck::kNameRefused:
      return file + ": the module refuses this file name (it must end in \".cfg\" or \".ini\", "
                    "in lower case)";
    case MP4VSaveCheck::kUnreadable:
      return file + ": a save cannot read the file" + (reason.empty() ? "" : ": " + reason) +
             system + "; it is left as it is";
    case MP4VSaveCheck::kUtf16:
      return file + ": a save does not write the file: " + reason + "; it is left as it is";
    case MP4VSaveCheck::kNotReplaceable:
      return file + ": a save cannot write the file: " + reason + system +
             (exists ? "; it is left as it is" : "");
    case MP4VSaveCheck::kOutOfMemory:
      throw std::bad_alloc();
  }
  return file + ": a save cannot write the file" + system;
}

// The findings of a save that would lose text, and what becomes of
// `command`, on `err`.
void ReportLosses(const std::string& file, const std::vector<Finding>& findings, bool dry_run,
                  const char* command, std::ostream& err) {
  const size_t losses = CountLosses(findings);
  err << FindingsText(file, findings);
  const std::string what = file + ": a save would lose text from " + std::to_string(losses) +
                           (losses == 1 ? " line" : " lines") + " (listed above)";
  if (dry_run) {
    err << "mp4vcfg: " << what << ": " << command << " refuses it without --force\n";
  } else {
    err << "mp4vcfg: " << what << "; nothing was written. "
        << (std::string(command) == "set" ? "--dry-run shows the change, " : "")
        << "--force saves anyway\n";
  }
}

}  // namespace

void CheckSavePossible(const std::string& file, std::string* bytes, bool* exists) {
  std::string reason;
  uint32_t code = 0;
  const MP4VSaveCheck check = MP4VConfigCheckSave(file.c_str(), bytes, exists, &reason, &code);
  if (check != MP4VSaveCheck::kPossible) {
    throw Trouble(CheckMessage(file, check, reason, *exists, code));
  }
}

bool RefuseLosingText(const std::string& file, const std::string& bytes,
                      const MP4VSettings& record, bool dry_run, const char* command,
                      std::ostream& err) {
  const std::vector<Finding> findings = CheckSave(bytes, record);
  if (CountLosses(findings) == 0) return false;
  ReportLosses(file, findings, dry_run, command, err);
  return true;
}

std::string SaveFailureMessage(const std::string& file, uint32_t code) {
  const std::string system = " (" + SystemMessage(code) + ")";
  if (code == PlatformErrorCode(ModuleFailure::kTurnTimedOut)) {
    return file + ": another save of this file held its turn past the " +
           std::to_string(kSaveTurnWaitMilliseconds / 1000) + "-second wait" + system +
           "; it is left as it was";
  }
  if (code == PlatformErrorCode(ModuleFailure::kKeptChanging)) {
    return file + ": other writers kept changing the file under all " +
           std::to_string(kUpdateAttempts) + " attempts to save it" + system +
           "; this change was not saved, and the file is left as it was, with theirs";
  }
  if (code == PlatformErrorCode(ModuleFailure::kLateWriteReplaced)) {
    return file + ": this change is saved, but another program wrote into the file in the "
                  "moment before the last of " +
           std::to_string(kUpdateAttempts) + " attempts put it in place, and that write is "
           "not in it" + system;
  }
#ifdef _WIN32
  // The system hands the program its arguments in the ANSI code page and
  // puts '?' for each character that page lacks; no file name holds one
  // (the system then says ERROR_INVALID_NAME, as for a refused name).
  if (file.find('?') != std::string::npos) {
    return file + ": the name cannot be written in this code page (" +
           std::to_string(GetACP()) + "): a character of it became \"?\"" + system;
  }
#endif
  if (code == PlatformErrorCode(ModuleFailure::kRefusedArgument)) {
    return CheckMessage(file, MP4VSaveCheck::kNameRefused, std::string(), false, code);
  }
#ifdef _WIN32
  if (code == ERROR_SHARING_VIOLATION) {
    return file + ": another program holds the file open without sharing it" + system +
           "; it is left as it was";
  }
#else
  // Access refused where the folder cannot be read: that is the cause to name.
  const size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  if (code == EACCES && access(folder.c_str(), F_OK) == 0 && access(folder.c_str(), R_OK) != 0) {
    return file + ": the folder cannot be read" + system + "; the file is left as it was";
  }
#endif
  return file + ": could not save the file" + system + "; it is left as it was";
}

TurnResult ChangeInOneTurn(const Session& session, const std::string& file,
                           const std::function<void(MP4VSettings* record)>& change,
                           bool force, const char* command, std::ostream& err,
                           MP4VSettings* loaded, MP4VSettings* saved) {
  const MP4VConfigUpdateFn update = session.module().update();
  if (update == nullptr) {
    throw Trouble("\"" + session.module().path() +
                  "\" has no update request (0x2004): it is older than this mp4vcfg");
  }
#ifdef _WIN32
  if (file.find('?') != std::string::npos) {
    throw Trouble(SaveFailureMessage(file, ERROR_INVALID_NAME));
  }
#endif
  // The checks a save makes, on the file as it is now, so that a save that
  // cannot be made is refused in the save's own words.
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  MP4VSettings was;
  std::memset(&was, 0, sizeof was);
  MP4VConfigLoadText(bytes, &was);
  MP4VSettings now = was;
  change(&now);
  // Judged on these bytes; the module's update then writes the changed
  // settings, and only those, onto the file as it is in its turn.
  if (exists && !force && RefuseLosingText(file, bytes, now, false, command, err)) {
    return TurnResult::kRefused;
  }
  // The update reads the file again in its turn: these bytes are done with,
  // and a large file is not held twice while it works.
  std::string().swap(bytes);
  if (update(&now, &was, file.c_str()) != MP4V_STATUS_OK) {
    const uint32_t code = LastError();
    if (code == PlatformErrorCode(ModuleFailure::kOutOfMemory)) throw std::bad_alloc();
    throw Trouble(SaveFailureMessage(file, code));
  }
  if (loaded != nullptr) *loaded = was;
  if (saved != nullptr) *saved = now;
  return TurnResult::kSaved;
}

Session::Session(const std::string& module_path) {
  // Never freed: a module stays loaded until the process ends, as a host
  // keeps it (the pages' library it loaded stays too).
  static std::mutex* const lock = new std::mutex;
  static auto* const loaded =
      new std::map<std::string, std::unique_ptr<mp4v_host::ModuleLibrary>>;
  const std::lock_guard<std::mutex> hold(*lock);
  std::unique_ptr<mp4v_host::ModuleLibrary>& module = (*loaded)[module_path];
  if (module == nullptr) {
    auto opened = std::make_unique<mp4v_host::ModuleLibrary>();
    std::string error;
    if (!opened->Open(module_path, &error)) {
      loaded->erase(module_path);
      throw Trouble(error);
    }
    module = std::move(opened);
  }
  module_ = module.get();
}

void Session::Load(const std::string& file, MP4VSettings* record) const {
  const int32_t result = module_->load()(record, file.c_str());
  // Set by the load as its last step: 0 when it read the file.
  const uint32_t reason = LastError();
  if (result != MP4V_STATUS_OK && reason == PlatformErrorCode(ModuleFailure::kRefusedArgument)) {
    throw Trouble(file +
                  ": the module refuses this file name (it must end in "
                  "\".cfg\" or \".ini\", in lower case)");
  }
  // The system's words for this code speak of multibyte characters, not of
  // the text the file holds.
  if (result != MP4V_STATUS_OK && reason == PlatformErrorCode(ModuleFailure::kUnsupportedText)) {
    throw Trouble(file + ": cannot read the file: it is UTF-16 text, not 8-bit text");
  }
  if (reason != 0) throw Trouble(file + ": cannot read the file (" + SystemMessage(reason) + ")");
  if (result != MP4V_STATUS_OK) throw Trouble(file + ": the module could not load the file");
}

void Session::LoadTwice(const std::string& file, MP4VSettings* zeros,
                        MP4VSettings* ones) const {
  std::memset(zeros, 0x00, sizeof *zeros);
  std::memset(ones, 0xFF, sizeof *ones);
  Load(file, zeros);
  Load(file, ones);
}

}  // namespace mp4vcfg
