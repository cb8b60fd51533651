#include "mp4vcfg/commands.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "api/requests.h"
#include "host/setting_text.h"
#include "host/settings_catalogue.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"
#include "mp4vcfg/unified_diff.h"
#include "platform/errors.h"

namespace mp4vcfg {
namespace {

using mp4v_host::SettingKey;
using mp4v_host::TextStatus;

struct Change {
  const SettingKey* key;
  int32_t integer;
  double real;
};

// `text` for the setting `key` by the rule of the settings pages' OK, the
// one function both call: the setting's row of the catalogue gives its
// range and the words of the message. A whole number outside that range is
// taken with `force` (a record may hold it, and the pages keep it); any
// other refused text ends the command.
void RequireValue(const SettingKey& key, const std::string& text, bool force, int32_t* integer,
                  double* real) {
  const mp4v_host::PageField& field =
      mp4v_host::FieldAt(static_cast<size_t>(&key - mp4v_host::SettingKeys()));
  const TextStatus status = mp4v_host::ParseSettingText(field, text, integer, real);
  if (status == TextStatus::kOk) return;
  const bool outside_range =
      status == TextStatus::kBelowRange || status == TextStatus::kAboveRange;
  if (outside_range && force && mp4v_host::ParseIntegerText(text, integer) == TextStatus::kOk) {
    return;
  }
  throw Trouble(std::string(key.name) + ": " +
                mp4v_host::SettingProblemText(field, status, text) +
                (outside_range ? " --force saves it anyway." : ""));
}

}  // namespace

int Set(const std::string& module_path, const std::string& file,
        const std::vector<std::string>& assignments, bool dry_run, bool force,
        std::ostream& out, std::ostream& err) {
  // The settings' rules are the host side's; the save is the update request
  // of the module that `module_path` names, loaded first, so that a module
  // that cannot be loaded fails the command before anything is read.
  const Session session(module_path);
  // Every assignment is checked before the file is read or written.
  std::vector<Change> changes;
  for (const std::string& assignment : assignments) {
    const size_t equals = assignment.find('=');
    Change change{&FindKey(assignment.substr(0, equals)), 0, 0.0};
    RequireValue(*change.key, assignment.substr(equals + 1), force, &change.integer,
                 &change.real);
    changes.push_back(change);
  }
  auto apply = [&changes](MP4VSettings* record) {
    for (const Change& change : changes) {
      if (change.key->type == mp4v_host::FieldType::kDouble) {
        mp4v_host::StoreDouble(record, *change.key, change.real);
      } else {
        mp4v_host::StoreInt32(record, *change.key, change.integer);
      }
    }
  };
  if (!dry_run) {
    // Written in one turn of the file's saves: a set of another setting
    // running at the same time goes before or after it, and both stay.
    return ChangeInOneTurn(session, file, apply, force, "set", err) == TurnResult::kSaved
               ? kExitSuccess
               : kExitFailure;
  }
  // The checks the save makes before it writes, on the file as it is now:
  // a dry run ends where the save would fail.
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  MP4VConfigLoadText(bytes, &record);
  apply(&record);
  // Judged for the record this save writes, changes included.
  const bool refused =
      exists && !force && RefuseLosingText(file, bytes, record, true, "set", err);
  // What the save does to the layout, judged before the text it writes is
  // made, so that a large file's bytes are not held three times at once.
  const std::string layout = LayoutSummary(file, bytes, record);
  // The bytes the module's save decides from these, before it writes.
  std::string after;
  uint32_t why = 0;
  if (MP4VConfigDecideSave(bytes, &record, &after, &why) != FileDecision::kWrite) {
    if (why == PlatformErrorCode(ModuleFailure::kOutOfMemory)) throw std::bad_alloc();
    throw Trouble(file + ": a save does not write the file: no text holds the frame rate it "
                         "would save, and no line of the file loads as it; it is left as it is");
  }
  WriteUnifiedDiff(out, file, bytes, after);
  err << layout;
  return refused ? kExitFailure : kExitSuccess;
}

}  // namespace mp4vcfg
