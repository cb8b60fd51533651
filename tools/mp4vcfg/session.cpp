#include "mp4vcfg/session.h"

#include <cstring>
#include <new>
#include <vector>

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

TurnResult ChangeInOneTurn(const std::string& file,
                           const std::function<void(MP4VSettings* record)>& change,
                           bool force, const char* command, std::ostream& err,
                           MP4VSettings* loaded, MP4VSettings* saved) {
  // What the last attempt met.
  bool decided = false;
  MP4VSaveCheck check = MP4VSaveCheck::kPossible;
  std::string reason;
  bool exists = false;
  std::vector<Finding> losses;
  MP4VSettings was{};
  MP4VSettings now{};
  uint32_t code = 0;
  const bool written = MP4VConfigUpdateFile(
      file.c_str(),
      [&](const std::string& before, bool there, std::string* after, uint32_t* why) {
        decided = true;
        exists = there;
        losses.clear();
        uint32_t check_code = 0;
        check = MP4VConfigCheckSaveOf(file.c_str(), before, there, &reason, &check_code);
        if (check != MP4VSaveCheck::kPossible) {
          *why = check_code != 0 ? check_code : PlatformErrorCode(ModuleFailure::kOutOfMemory);
          return FileDecision::kStop;
        }
        std::memset(&was, 0, sizeof was);
        MP4VConfigLoadText(before, &was);
        now = was;
        change(&now);
        if (there && !force) {
          std::vector<Finding> findings = CheckSave(before, now);
          if (CountLosses(findings) > 0) {
            losses = std::move(findings);
            return FileDecision::kStop;  // nothing written, and no failure
          }
        }
        return MP4VConfigDecideSave(before, &now, after, why);
      },
      &code);
  if (!losses.empty()) {
    ReportLosses(file, losses, false, command, err);
    return TurnResult::kRefused;
  }
  if (written) {
    if (loaded != nullptr) *loaded = was;
    if (saved != nullptr) *saved = now;
    return TurnResult::kSaved;
  }
  if (code == PlatformErrorCode(ModuleFailure::kOutOfMemory)) throw std::bad_alloc();
  if (decided && check != MP4VSaveCheck::kPossible) {
    throw Trouble(CheckMessage(file, check, reason, exists, code));
  }
  if (code == PlatformErrorCode(ModuleFailure::kRefusedArgument)) {
    throw Trouble(CheckMessage(file, MP4VSaveCheck::kNameRefused, reason, false, code));
  }
  if (code == PlatformErrorCode(ModuleFailure::kTurnTimedOut)) {
    throw Trouble(file + ": another save of the file held it for " +
                  std::to_string(kSaveTurnWaitMilliseconds / 1000) + " seconds (" +
                  SystemMessage(code) + "); it is left as it is");
  }
  if (!decided) {
    // The file could not be read: the save's check words what it is.
    std::string bytes;
    bool there = false;
    const MP4VSaveCheck again = MP4VConfigCheckSave(file.c_str(), &bytes, &there, &reason);
    throw Trouble(CheckMessage(file, MP4VSaveCheck::kUnreadable,
                               again == MP4VSaveCheck::kUnreadable ? reason : std::string(), true,
                               code));
  }
  if (code == PlatformErrorCode(ModuleFailure::kKeptChanging)) {
    throw Trouble(file + ": other programs changed the file under every attempt to save it (" +
                  SystemMessage(code) + "); it is as they left it");
  }
  throw Trouble(file + ": could not save the file (" + SystemMessage(code) +
                "); it is left as it was");
}

Session::Session(const std::string& module_path) {
  std::string error;
  if (!module_.Open(module_path, &error)) throw Trouble(error);
}

void Session::Load(const std::string& file, MP4VSettings* record) const {
  if (module_.load()(record, file.c_str()) != MP4V_STATUS_OK) {
    throw Trouble(file +
                  ": the module refuses this file name (it must end in "
                  "\".cfg\" or \".ini\", in lower case)");
  }
  // Set by the load as its last step: 0 when it read the file.
  const uint32_t reason = LastError();
  if (reason != 0) throw Trouble(file + ": cannot read the file (" + SystemMessage(reason) + ")");
}

void Session::LoadTwice(const std::string& file, MP4VSettings* zeros,
                        MP4VSettings* ones) const {
  std::memset(zeros, 0x00, sizeof *zeros);
  std::memset(ones, 0xFF, sizeof *ones);
  Load(file, zeros);
  Load(file, ones);
}

}  // namespace mp4vcfg
