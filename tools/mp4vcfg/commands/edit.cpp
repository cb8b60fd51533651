#include "mp4vcfg/commands.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"

namespace mp4vcfg {

int Edit(const std::string& module_path, const std::string& file, bool force,
         std::ostream& out, std::ostream& err) {
  const Session session(module_path);
#ifdef _WIN32
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  MP4VSettings before;
  std::memset(&before, 0, sizeof before);
  session.Load(file, &before);
  // A file that loses text even when no setting changes is refused before
  // the pages open; the record the pages give back is judged again below.
  if (exists && !force && RefuseLosingText(file, bytes, before, false, "edit", err)) {
    return kExitFailure;
  }
  auto show = reinterpret_cast<MP4VShowEncoderPagesFn>(
      session.module().get_api()(MP4V_FUNC_SETTINGS_PAGES));
  if (show == nullptr) {
    throw Trouble(
        "the settings pages library (demo_config_gui_mp4v.dll) is missing beside \"" +
        session.module().path() + "\" or has no " MP4V_SHOW_ENCODER_PAGES_NAME);
  }
  MP4VSettings after = before;
  const int32_t result = show(nullptr, &after);
  if (result == MP4V_PAGES_FAILED) {
    throw Trouble("the settings pages could not be shown; " + file + " is left as it was");
  }
  if (result != MP4V_PAGES_OK) {
    out << "no changes\n";
    return kExitSuccess;
  }
  if (exists && !force && RefuseLosingText(file, bytes, after, false, "edit", err)) {
    return kExitFailure;
  }
  session.Save(after, file);
  std::string changes;
  const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    if (mp4v_host::SameFieldBytes(before, after, keys[i])) continue;
    changes += std::string(keys[i].name) + ": " + mp4v_host::FormatField(before, keys[i]) +
               " -> " + mp4v_host::FormatField(after, keys[i]) + "\n";
  }
  out << (changes.empty() ? "no changes\n" : changes);
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
