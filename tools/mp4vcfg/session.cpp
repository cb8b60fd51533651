#include "mp4vcfg/session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "api/requests.h"
#include "mp4vcfg/check.h"
#include "mp4vcfg/output.h"

namespace mp4vcfg {

const mp4v_host::SettingKey& FindKey(const std::string& name) {
  const mp4v_host::SettingKey* key = mp4v_host::FindSettingKey(name);
  if (key == nullptr) {
    throw Trouble("unknown key " + Quoted(name) + " (\"mp4vcfg show FILE\" lists every key)");
  }
  return *key;
}

void CheckSavePossible(const std::string& file, std::string* bytes, bool* exists) {
  std::string reason;
  switch (MP4VConfigCheckSave(file.c_str(), bytes, exists, &reason)) {
    case MP4VSaveCheck::kPossible:
      return;
    case MP4VSaveCheck::kNameRefused:
      throw Trouble(file + ": the module refuses this file name (it must end in "
                           "\".cfg\" or \".ini\", in lower case)");
    case MP4VSaveCheck::kUnreadable:
      throw Trouble(file + ": a save cannot read the file" +
                    (reason.empty() ? std::string() : " (" + reason + ")") +
                    "; it is left as it is");
    case MP4VSaveCheck::kUtf16:
      throw Trouble(file + ": a save does not write the file: " + reason +
                    "; it is left as it is");
    case MP4VSaveCheck::kNotReplaceable:
      throw Trouble(file + ": a save cannot write the file: " + reason +
                    (*exists ? "; it is left as it is" : ""));
    case MP4VSaveCheck::kOutOfMemory:
      throw std::bad_alloc();
  }
}

bool RefuseLosingText(const std::string& file, const std::string& bytes,
                      const MP4VSettings& record, bool dry_run, const char* command,
                      std::ostream& err) {
  const std::vector<Finding> findings = CheckSave(bytes, record);
  const size_t losses = CountLosses(findings);
  if (losses == 0) return false;
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
  return true;
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
}

void Session::LoadTwice(const std::string& file, MP4VSettings* zeros,
                        MP4VSettings* ones) const {
  std::memset(zeros, 0x00, sizeof *zeros);
  std::memset(ones, 0xFF, sizeof *ones);
  Load(file, zeros);
  RequireReadable(file);
  Load(file, ones);
}

void Session::RequireReadable(const std::string& file) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) {
    throw Trouble(file + ": cannot open the file: " + std::strerror(errno));
  }
  std::fclose(stream);
}

void Session::Save(const MP4VSettings& record, const std::string& file) const {
  if (module_.save()(&record, file.c_str()) != MP4V_STATUS_OK) {
    throw Trouble(file +
                  ": could not save the file (missing directory, read-only or "
                  "unreadable file, or a full disk); it is left as it was");
  }
}

}  // namespace mp4vcfg
