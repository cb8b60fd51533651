#include "mp4vcfg/commands.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/requests.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Edit(const std::string& module_path, const std::string& file, bool force,
         std::ostream& out, std::ostream& err) {
  const Session session(module_path);
#ifdef _WIN32
  // The record the pages show: the file as it is now. Nothing holds the file
  // while they are open, which may be for minutes.
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  MP4VSettings shown;
  std::memset(&shown, 0, sizeof shown);
  MP4VConfigLoadText(bytes, &shown);
  // A file that loses text even when no setting changes is refused before
  // the pages open; the save is judged again, on the file as it is then.
  if (exists && !force && RefuseLosingText(file, bytes, shown, false, "edit", err)) {
    return kExitFailure;
  }
  auto show = reinterpret_cast<MP4VShowEncoderPagesFn>(
      session.module().get_api()(MP4V_FUNC_SETTINGS_PAGES));
  if (show == nullptr) {
    throw Trouble(
        "the settings pages library (demo_config_gui_mp4v.dll) is missing beside \"" +
        session.module().path() + "\" or has no " MP4V_SHOW_ENCODER_PAGES_NAME);
  }
  MP4VSettings edited = shown;
  const int32_t result = show(nullptr, &edited);
  if (result == MP4V_PAGES_FAILED) {
    // With no owner and a record of its own, the pages fail only when no
    // window could be made.
    throw Trouble("the settings pages could not be shown (no window could be made: is there a "
                  "display?); " + file + " is left as it was");
  }
  if (result != MP4V_PAGES_OK) {
    out << "no changes\n";
    return kExitSuccess;
  }
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  std::vector<const mp4v_host::SettingKey*> changed;
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    if (!mp4v_host::SameFieldBytes(shown, edited, keys[i])) changed.push_back(&keys[i]);
  }
  // Only what the person changed goes into the file as it is now; a setting
  // the file changed meanwhile takes the person's value all the same.
  std::vector<std::string> meanwhile(changed.size());
  const TurnResult turn = ChangeInOneTurn(
      session, file,
      [&](MP4VSettings* record) {
        for (size_t i = 0; i < changed.size(); ++i) {
          const mp4v_host::SettingKey& key = *changed[i];
          meanwhile[i] = mp4v_host::SameFieldBytes(*record, shown, key)
                             ? std::string()
                             : mp4v_host::FormatField(*record, key);
          const size_t width = key.type == mp4v_host::FieldType::kDouble ? 8 : 4;
          std::memcpy(reinterpret_cast<char*>(record) + key.offset,
                      reinterpret_cast<const char*>(&edited) + key.offset, width);
        }
      },
      force, "edit", err);
  if (turn == TurnResult::kRefused) return kExitFailure;
  std::string lines;
  for (size_t i = 0; i < changed.size(); ++i) {
    lines += std::string(changed[i]->name) + ": " + mp4v_host::FormatField(shown, *changed[i]) +
             " -> " + mp4v_host::FormatField(edited, *changed[i]);
    if (!meanwhile[i].empty()) {
      lines += " (the file had " + meanwhile[i] + " meanwhile; the value set here was saved)";
    }
    lines += "\n";
  }
  out << (lines.empty() ? "no changes\n" : lines);
  return kExitSuccess;
#else
  (void)session;
  (void)force;
  (void)out;
  (void)err;
  throw Trouble(file + ": edit needs the Windows build (mp4vcfg.exe under "
                       "Windows or Wine): the settings pages are a Windows library");
#endif
}

}  // namespace mp4vcfg
