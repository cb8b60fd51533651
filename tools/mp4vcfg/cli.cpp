#include "mp4vcfg/cli.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/requests.h"
#include "host/setting_text.h"
#include "host/settings_catalogue.h"
#include "host/module_library.h"
#include "mp4v_config.h"
#include "mp4vcfg/check.h"
#include "mp4vcfg/unified_diff.h"
#include "host/number_text.h"
#include "host/settings_fields.h"

namespace {

using mp4v_host::FieldType;
using mp4v_host::ModuleLibrary;
using mp4v_host::SettingKey;

// The exit status of every command, as kExitStatusHelp tells the person.
constexpr int kExitSuccess = 0;  // done; a save loses no text; the settings agree
constexpr int kExitFailure = 1;  // a save would lose text, nothing written; the settings differ
constexpr int kExitUsage = 2;    // trouble: the command line, a key or value, a file, a save

// The same table in every command's --help and in README.md.
constexpr char kExitStatusHelp[] =
    "Exit status, the same for every command:\n"
    "  0  done; a save loses no text (check, set, edit); the settings agree (diff)\n"
    "  1  a save would lose text and nothing was written (check, set, edit); the\n"
    "     settings differ (diff). set --dry-run exits as set would.\n"
    "  2  trouble: a usage error, an unknown key or a refused value, a file that\n"
    "     cannot be read or written or whose name the module refuses, a failed save";

// A failure: a key or value refused, a file that cannot be read or
// written, a refused name, a failed save, a module that cannot be loaded.
// Ends the command with status 2, the file as it was.
class Trouble : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string PadRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// A JSON string of `text`, valid for any bytes: well-formed UTF-8 passes
// through; every other byte from 0x80 up is written as the character of the
// same number (U+0080 to U+00FF, as Latin-1 reads it), control characters
// as escapes.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': json += "\\\""; continue;
      case '\\': json += "\\\\"; continue;
      case '\n': json += "\\n"; continue;
      case '\r': json += "\\r"; continue;
      case '\t': json += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
      continue;
    }
    if (c < 0x80) {
      json += static_cast<char>(c);
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, or 0.
    size_t length = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    }
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
      if ((next & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      length = 0;
    }
    if (length == 0) {
      json += static_cast<char>(0xC0 | (c >> 6));
      json += static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    json.append(text, i, length);
    i += length - 1;
  }
  return json + "\"";
}

// The findings of `check`, one block each: "FILE:LINE: reason", then the
// line as it stands, indented.
std::string FindingsText(const std::string& file,
                         const std::vector<mp4vcfg::Finding>& findings) {
  std::string text;
  for (const mp4vcfg::Finding& f : findings) {
    text += file + ":" + std::to_string(f.line) + ": " + f.reason +
            (f.loses_text ? "" : " (no text is lost)") + "\n    " +
            mp4vcfg::DisplayLine(f.text, 72) + "\n";
  }
  return text;
}

size_t CountLosses(const std::vector<mp4vcfg::Finding>& findings) {
  size_t losses = 0;
  for (const mp4vcfg::Finding& f : findings) losses += f.loses_text;
  return losses;
}

// What a save of `file` meets before it writes, as the module's save checks
// it: the file's bytes in `*bytes`, `*exists` whether it is there. Throws
// Trouble (exit status 2) when the save would not write: a refused name,
// a file that cannot be read, or one that cannot be replaced.
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

// `check FILE`: what a save would not keep of FILE. Returns the exit status:
// 0 when a save loses no text, 1 when it does; a file a save cannot read or
// write throws Trouble.
int Check(const std::string& file, bool json, std::ostream& out) {
  std::string bytes;
  bool exists = false;
  CheckSavePossible(file, &bytes, &exists);
  if (!exists) {
    if (json) {
      out << "{\n  \"file\": " << JsonString(file)
          << ",\n  \"exists\": false,\n  \"loses_text\": false,\n  \"findings\": []\n}\n";
    } else {
      out << file << ": no such file; a save would create it\n";
    }
    return kExitSuccess;
  }
  const std::vector<mp4vcfg::Finding> findings = mp4vcfg::CheckSettingsText(bytes);
  const size_t losses = CountLosses(findings);
  if (json) {
    out << "{\n  \"file\": " << JsonString(file) << ",\n  \"exists\": true"
        << ",\n  \"loses_text\": " << (losses > 0 ? "true" : "false")
        << ",\n  \"findings\": [";
    for (size_t i = 0; i < findings.size(); ++i) {
      const mp4vcfg::Finding& f = findings[i];
      out << (i == 0 ? "\n" : ",\n") << "    {\"line\": " << f.line
          << ", \"loses_text\": " << (f.loses_text ? "true" : "false")
          << ", \"reason\": " << JsonString(f.reason)
          << ", \"text\": " << JsonString(f.text) << "}";
    }
    out << (findings.empty() ? "]\n}\n" : "\n  ]\n}\n");
  } else if (findings.empty()) {
    out << file << ": a save keeps every line as it stands\n";
  } else {
    out << FindingsText(file, findings);
    out << file << ": a save would change " << findings.size()
        << (findings.size() == 1 ? " line" : " lines") << " and lose text from "
        << losses << (losses == 1 ? " of them" : " of them") << "\n";
  }
  return losses > 0 ? kExitFailure : kExitSuccess;
}

// One command's use of the module: loads it, then carries out the command.
// A failure is a Trouble; a save that would lose text is refused with
// status 1 (RefuseLosingText); nothing is printed to `out` before the command is sure to succeed (short
// of a failing stream).
class Session {
 public:
  Session(std::ostream& out, const std::string& module_path) : out_(out) {
    std::string error;
    if (!module_.Open(module_path, &error)) throw Trouble(error);
  }

  void Info() {
    struct Item {
      uint32_t id;
      const char* label;
      bool is_text;
    };
    static const Item kItems[] = {{MP4V_INFO_MODULE_NAME, "name", true},
                                  {MP4V_INFO_VALUE_0, "item 2", false},
                                  {MP4V_INFO_VALUE_2, "item 3", false},
                                  {MP4V_INFO_VERSION, "version", true},
                                  {MP4V_INFO_PLATFORM, "platform", true}};
    std::string text = PadRight("module", 26) + module_.path() + "\n";
    for (const Item& item : kItems) {
      // One byte more than any item takes, so every text ends with a zero.
      unsigned char buffer[MP4V_INFO_MAX_BYTES + 1] = {};
      if (module_.get_info()(item.id, buffer) != MP4V_STATUS_OK) {
        throw Trouble("the module refuses information item " + std::to_string(item.id));
      }
      std::string value;
      if (item.is_text) {
        value = reinterpret_cast<const char*>(buffer);
      } else {
        const uint32_t number = buffer[0] | buffer[1] << 8 | buffer[2] << 16 |
                                static_cast<uint32_t>(buffer[3]) << 24;
        value = mp4v_host::FormatInt32(static_cast<int32_t>(number));
      }
      text += PadRight(item.label, 26) + value + "\n";
    }
    const auto resource = module_.VersionResource();
    if (!resource.empty()) text += "version resource:\n";
    for (const auto& entry : resource) {
      text += "  " + PadRight(entry.first, 24) + entry.second + "\n";
    }
    out_ << text;
  }

  void Show(const std::string& file, bool json) {
    MP4VSettings zeros;
    MP4VSettings ones;
    LoadTwice(file, &zeros, &ones);
    const SettingKey* keys = mp4v_host::SettingKeys();
    if (json) {
      out_ << "{\n  \"file\": " << JsonString(file) << ",\n  \"settings\": {\n";
    }
    for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
      const SettingKey& key = keys[i];
      const bool set = mp4v_host::SameFieldBytes(zeros, ones, key);
      std::string value = mp4v_host::FormatField(zeros, key);
      if (json) {
        // JSON has no infinities or NaN; a file can still hold them.
        if (key.type == FieldType::kDouble &&
            !std::isfinite(mp4v_host::LoadDouble(zeros, key))) {
          value = "null";
        }
        out_ << "    " << JsonString(key.name) << ": {\"value\": " << value
             << ", \"set\": " << (set ? "true" : "false") << "}"
             << (i + 1 < mp4v_host::kSettingKeyCount ? ",\n" : "\n");
      } else {
        out_ << PadRight(key.name, 28) << PadRight(value, 26)
             << (set ? "set" : "default") << "\n";
      }
    }
    if (json) out_ << "  }\n}\n";
  }

  void Get(const std::string& file, const std::vector<std::string>& names) {
    std::vector<const SettingKey*> keys;
    for (const std::string& name : names) keys.push_back(&FindKey(name));
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    Load(file, &record);
    RequireReadable(file);
    for (const SettingKey* key : keys) {
      out_ << mp4v_host::FormatField(record, *key) << "\n";
    }
  }

  // Returns the exit status.
  int Set(const std::string& file, const std::vector<std::string>& assignments,
          bool dry_run, bool force, std::ostream& err) {
    struct Change {
      const SettingKey* key;
      int32_t integer;
      double real;
    };
    // Every assignment is checked before the file is read or written.
    std::vector<Change> changes;
    for (const std::string& assignment : assignments) {
      const size_t equals = assignment.find('=');
      Change change{&FindKey(assignment.substr(0, equals)), 0, 0.0};
      RequireValue(*change.key, assignment.substr(equals + 1), force, &change.integer,
                   &change.real);
      changes.push_back(change);
    }
    // The checks the save makes before it writes, on the real file: a dry
    // run ends where the save would fail.
    std::string bytes;
    bool exists = false;
    CheckSavePossible(file, &bytes, &exists);
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    Load(file, &record);
    for (const Change& change : changes) {
      if (change.key->type == FieldType::kDouble) {
        mp4v_host::StoreDouble(&record, *change.key, change.real);
      } else {
        mp4v_host::StoreInt32(&record, *change.key, change.integer);
      }
    }
    // Judged for the record this save writes, changes included.
    const bool refused = exists && !force &&
                         RefuseLosingText(file, bytes, record, dry_run, "set", err);
    if (dry_run) {
      // The bytes the module's save computes from these, before it writes.
      std::string after;
      if (MP4VConfigSaveText(bytes, &record, &after) != MP4VSaveTextResult::kWritten) {
        throw std::bad_alloc();  // UTF-16 text was refused above
      }
      out_ << mp4vcfg::UnifiedDiff(file, bytes, after);
      return refused ? kExitFailure : kExitSuccess;
    }
    if (refused) return kExitFailure;
    if (module_.save()(&record, file.c_str()) != MP4V_STATUS_OK) {
      throw Trouble(file +
                    ": could not save the file (missing directory, read-only or "
                    "unreadable file, or a full disk); it is left as it was");
    }
    return kExitSuccess;
  }

  // `text` for the setting `key` by the rule of the settings pages' OK, the
  // one function both call: the setting's row of the page table gives its
  // range and the words of the message. A whole number outside that range
  // is taken with `force` (a record may hold it, and the pages keep it);
  // any other refused text ends the command.
  static void RequireValue(const SettingKey& key, const std::string& text, bool force,
                           int32_t* integer, double* real) {
    const mp4v_host::PageField& field =
        mp4v_host::FieldAt(static_cast<size_t>(&key - mp4v_host::SettingKeys()));
    const mp4v_host::TextStatus status =
        mp4v_host::ParseSettingText(field, text, integer, real);
    if (status == mp4v_host::TextStatus::kOk) return;
    const bool outside_range = status == mp4v_host::TextStatus::kBelowRange ||
                               status == mp4v_host::TextStatus::kAboveRange;
    if (outside_range && force &&
        mp4v_host::ParseIntegerText(text, integer) == mp4v_host::TextStatus::kOk) {
      return;
    }
    throw Trouble(std::string(key.name) + ": " +
                  mp4v_host::SettingProblemText(field, status, text) +
                  (outside_range ? " --force saves it anyway." : ""));
  }

  // Whether a save of `record` over the file contents `bytes` would rob
  // them of text, as the module's save computes it: the lines are then
  // listed on `err` with what becomes of the command (`dry_run`: it writes
  // nothing anyway), and the command must not save.
  static bool RefuseLosingText(const std::string& file, const std::string& bytes,
                               const MP4VSettings& record, bool dry_run,
                               const char* command, std::ostream& err) {
    const std::vector<mp4vcfg::Finding> findings = mp4vcfg::CheckSave(bytes, record);
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

  // `diff FILE1 FILE2`: the settings whose values differ. Returns the exit
  // status, as diff and cmp give it: 0 when they agree, 1 when they differ.
  int Diff(const std::string& first, const std::string& second, bool json) {
    MP4VSettings a, a_ones, b, b_ones;
    LoadTwice(first, &a, &a_ones);
    LoadTwice(second, &b, &b_ones);
    const SettingKey* keys = mp4v_host::SettingKeys();
    struct Difference {
      const SettingKey* key;
      std::string first, second;
      bool first_set, second_set;
    };
    std::vector<Difference> differences;
    for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
      const SettingKey& key = keys[i];
      if (mp4v_host::SameFieldBytes(a, b, key)) continue;
      differences.push_back({&key, mp4v_host::FormatField(a, key),
                             mp4v_host::FormatField(b, key),
                             mp4v_host::SameFieldBytes(a, a_ones, key),
                             mp4v_host::SameFieldBytes(b, b_ones, key)});
    }
    if (json) {
      auto number = [](const SettingKey& key, const MP4VSettings& record,
                       const std::string& text) {
        return key.type == FieldType::kDouble &&
                       !std::isfinite(mp4v_host::LoadDouble(record, key))
                   ? std::string("null")
                   : text;
      };
      out_ << "{\n  \"files\": [" << JsonString(first) << ", " << JsonString(second)
           << "],\n  \"differences\": {";
      for (size_t i = 0; i < differences.size(); ++i) {
        const Difference& d = differences[i];
        out_ << (i == 0 ? "\n" : ",\n") << "    " << JsonString(d.key->name) << ": ["
             << number(*d.key, a, d.first) << ", " << number(*d.key, b, d.second) << "]";
      }
      out_ << (differences.empty() ? "}\n}\n" : "\n  }\n}\n");
      return differences.empty() ? kExitSuccess : kExitFailure;
    }
    if (differences.empty()) {
      out_ << "the 56 settings of " << first << " and " << second << " agree\n";
      return kExitSuccess;
    }
    auto shown = [](const std::string& value, bool set) {
      return set ? value : value + " (default)";
    };
    out_ << PadRight("setting", 28) << PadRight(first, 26) << second << "\n";
    for (const Difference& d : differences) {
      out_ << PadRight(d.key->name, 28) << PadRight(shown(d.first, d.first_set), 26)
           << shown(d.second, d.second_set) << "\n";
    }
    return kExitFailure;
  }

  // Shows FILE's settings on the settings pages (the library that request
  // 0x2008 loads from beside the module) and saves them when OK is pressed.
  // Returns the exit status.
  int Edit(const std::string& file, bool force, std::ostream& err) {
#ifdef _WIN32
    std::string bytes;
    bool exists = false;
    CheckSavePossible(file, &bytes, &exists);
    MP4VSettings before;
    std::memset(&before, 0, sizeof before);
    Load(file, &before);
    // A file that loses text even when no setting changes is refused before
    // the pages open; the record the pages give back is judged again below.
    if (exists && !force && RefuseLosingText(file, bytes, before, false, "edit", err)) {
      return kExitFailure;
    }
    auto show = reinterpret_cast<MP4VShowEncoderPagesFn>(
        module_.get_api()(MP4V_FUNC_SETTINGS_PAGES));
    if (show == nullptr) {
      throw Trouble(
          "the settings pages library (demo_config_gui_mp4v.dll) is missing beside \"" +
          module_.path() + "\" or has no " MP4V_SHOW_ENCODER_PAGES_NAME);
    }
    MP4VSettings after = before;
    const int32_t result = show(nullptr, &after);
    if (result == MP4V_PAGES_FAILED) {
      throw Trouble("the settings pages could not be shown; " + file + " is left as it was");
    }
    if (result != MP4V_PAGES_OK) {
      out_ << "no changes\n";
      return kExitSuccess;
    }
    if (exists && !force && RefuseLosingText(file, bytes, after, false, "edit", err)) {
      return kExitFailure;
    }
    if (module_.save()(&after, file.c_str()) != MP4V_STATUS_OK) {
      throw Trouble(file +
                    ": could not save the file (missing directory, read-only or "
                    "unreadable file, or a full disk); it is left as it was");
    }
    std::string changes;
    const SettingKey* keys = mp4v_host::SettingKeys();
    for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
      if (mp4v_host::SameFieldBytes(before, after, keys[i])) continue;
      changes += std::string(keys[i].name) + ": " + mp4v_host::FormatField(before, keys[i]) +
                 " -> " + mp4v_host::FormatField(after, keys[i]) + "\n";
    }
    out_ << (changes.empty() ? "no changes\n" : changes);
    return kExitSuccess;
#else
    (void)force;
    (void)err;
    throw Trouble(file + ": edit needs the Windows build (mp4vcfg.exe under "
                         "Windows or Wine): the settings pages are a Windows library");
#endif
  }

 private:
  static const SettingKey& FindKey(const std::string& name) {
    const SettingKey* key = mp4v_host::FindSettingKey(name);
    if (key == nullptr) {
      throw Trouble("unknown key " + Quoted(name) + " (\"mp4vcfg show FILE\" lists every key)");
    }
    return *key;
  }

  void Load(const std::string& file, MP4VSettings* record) {
    if (module_.load()(record, file.c_str()) != MP4V_STATUS_OK) {
      throw Trouble(file +
                    ": the module refuses this file name (it must end in "
                    "\".cfg\" or \".ini\", in lower case)");
    }
  }

  // The module reads a missing file as an empty one; someone asking what a
  // file holds has most likely mistyped its name.
  static void RequireReadable(const std::string& file) {
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) {
      throw Trouble(file + ": cannot open the file: " + std::strerror(errno));
    }
    std::fclose(stream);
  }

  // The file loaded into two records of different fill bytes: a field that
  // the file does not set keeps its fill and so differs between the two.
  void LoadTwice(const std::string& file, MP4VSettings* zeros, MP4VSettings* ones) {
    std::memset(zeros, 0x00, sizeof *zeros);
    std::memset(ones, 0xFF, sizeof *ones);
    Load(file, zeros);
    RequireReadable(file);
    Load(file, ones);
  }

  std::ostream& out_;
  ModuleLibrary module_;
};

CLI::Validator AssignmentShape() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return text.find('=') == std::string::npos
                   ? "expected KEY=VALUE, not " + Quoted(text)
                   : std::string();
      },
      "");
}

// The one JSON object `--json` prints when a command fails: `files`, the
// file it names as JSON ("file": ...; for diff "files": [..., ...]), its exit
// status and the line it wrote on the error stream.
std::string FailureJson(const std::string& files, int status, const std::string& line) {
  return "{\n  " + files + ",\n  \"exit_code\": " + std::to_string(status) +
         ",\n  \"error\": " + JsonString(line) + "\n}\n";
}

}  // namespace

int RunMp4vcfg(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               void (*bytes_out)()) {
  CLI::App app{
      "Looks at and changes the encoder settings files of the MPEG-4 part 2 "
      "video encoder through its configuration module (" +
          std::string(mp4v_host::ModuleFileName()) + ").",
      "mp4vcfg"};
  app.require_subcommand(1, 1);
  app.footer(kExitStatusHelp);
  // "/presets/enc.cfg" is a file name, not a Windows-style option, on every
  // platform (Wine, MSYS and root-relative paths on Windows itself).
  app.allow_windows_style_options(false);
  app.fallthrough();  // --module is taken after the command as well
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "mp4vcfg: " + std::string(e.what()) +
           "\nRun with --help for more information.\n";
  });
  std::string module_path;
  app.add_option("--module", module_path,
                 "The configuration module to load (default: " +
                     std::string(mp4v_host::ModuleFileName()) +
                     " beside this program)")
      ->type_name("PATH");
  // Each command's own words, then the table every command shares.
  auto footer = [](const std::string& text) {
    return (text.empty() ? std::string() : text + "\n\n") + kExitStatusHelp;
  };

  CLI::App* info = app.add_subcommand("info",
#ifdef _WIN32
                                       "Print the module's file, information items "
                                       "and version resource"
#else
                                       "Print the module's file and information items"
#endif
  );
  info->footer(footer(""));

  std::string file;
  bool json = false;
  CLI::App* show = app.add_subcommand(
      "show", "Print all 56 settings of FILE, each marked set or default");
  show->footer(footer(
      "A setting is \"set\" when FILE gives it and \"default\" when it keeps "
      "the value 0 of a new record. They are listed in the record's order. "
      "Frame rates near 23.976, 29.97 and 59.94 read back as 24/1.001, "
      "30/1.001 and 60/1.001. With --json a failure prints "
      "{\"file\", \"exit_code\", \"error\"} as well."));
  CLI::Option* show_file =
      show->add_option("FILE", file, "Settings file (the name ends in .cfg or .ini)")
          ->type_name("")
          ->required();
  show->add_flag("--json", json,
                 "Print a JSON object: {\"file\": ..., \"settings\": {KEY: "
                 "{\"value\": NUMBER, \"set\": BOOL}, ...}}");

  std::vector<std::string> keys;
  CLI::App* get = app.add_subcommand(
      "get", "Print the values of the named settings of FILE, one per line, in the order asked");
  get->footer(footer(""));
  get->add_option("FILE", file, "Settings file (the name ends in .cfg or .ini)")
      ->type_name("")
      ->required();
  get->add_option("KEY", keys, "Setting names, e.g. width frame_rate")->required();

  std::vector<std::string> assignments;
  CLI::App* set = app.add_subcommand(
      "set", "Change settings of FILE and save it through the module");
  set->footer(footer(
      "FILE is created when missing. The module writes only the settings' "
      "lines, keeps every other line byte for byte and adds the keys the file "
      "lacked, with the value 0. A save that would lose text of FILE besides "
      "the old values of the settings changed is refused unless --force. "
      "Nothing is written unless every KEY=VALUE is valid. A value is taken as "
      "the settings pages take it, blanks around it ignored: a whole number "
      "(an optional sign, decimal or 0x hexadecimal digits) within the "
      "setting's range, which a refused value's message names (an on/off "
      "setting takes 0 or 1); --force saves a 32-bit whole number outside "
      "its setting's range. frame_rate takes a number greater than 0 "
      "or a fraction such as 30000/1001 and stores what a save and a load of it "
      "give back: ten decimals, and about 29.97 as 30/1.001, so it must be at "
      "least 0.0000000001."));
  set->add_option("FILE", file, "Settings file (the name ends in .cfg or .ini)")
      ->type_name("")
      ->required();
  set->add_option("settings", assignments, "Settings to change, e.g. width=720")
      ->type_name("KEY=VALUE")
      ->required()
      ->check(AssignmentShape());
  bool dry_run = false;
  bool force = false;
  set->add_flag("--dry-run", dry_run,
                "Write nothing: print, as a unified diff against FILE, exactly what the "
                "save would write");
  set->add_flag("--force", force,
                "Save even when the save would lose text of FILE (see \"mp4vcfg check\"), "
                "or a whole number is outside its setting's range; without it such a file "
                "is left untouched");

  CLI::App* check = app.add_subcommand(
      "check", "List each line of FILE that a save would not keep byte for byte");
  check->footer(footer(
      "A save writes only the settings' lines and keeps every other line's bytes. "
      "Every setting's line whose text a save would drop or change is listed, with "
      "its line number and why. With --json a failure prints {\"file\", "
      "\"exit_code\", \"error\"}."));
  CLI::Option* check_file =
      check->add_option("FILE", file, "Settings file")->type_name("")->required();
  check->add_flag("--json", json,
                  "Print a JSON object: {\"file\", \"exists\", \"loses_text\", "
                  "\"findings\": [{\"line\", \"loses_text\", \"reason\", \"text\"}]}");

  std::string second_file;
  CLI::App* diff = app.add_subcommand(
      "diff", "Print the settings whose values differ between FILE1 and FILE2");
  diff->footer(footer(
      "A setting a file does not give is marked (default): it keeps the value 0. "
      "With --json a failure prints {\"files\", \"exit_code\", \"error\"}."));
  CLI::Option* diff_first =
      diff->add_option("FILE1", file, "First settings file")->type_name("")->required();
  CLI::Option* diff_second =
      diff->add_option("FILE2", second_file, "Second settings file")->type_name("")->required();
  diff->add_flag("--json", json,
                 "Print a JSON object: {\"files\": [FILE1, FILE2], \"differences\": "
                 "{KEY: [VALUE1, VALUE2], ...}}");

  CLI::App* edit = app.add_subcommand(
      "edit", "Edit the settings of FILE on the settings pages and save them on OK");
  edit->footer(footer(
      "Windows build only. The pages come from demo_config_gui_mp4v.dll beside "
      "the module, through its request 0x2008. OK saves FILE through the module "
      "(created when missing) and prints each changed setting as "
      "\"key: old -> new\"; Cancel leaves it untouched and prints \"no changes\"."));
  edit->add_option("FILE", file, "Settings file (the name ends in .cfg or .ini)")
      ->type_name("")
      ->required();
  edit->add_flag("--force", force,
                 "Show the pages and save even when a save would lose text of FILE "
                 "(see \"mp4vcfg check\")");

  // With --json, a failure's object on the output, where nothing else was
  // printed: `line` is what the error stream got. A command line that
  // failed to parse may not have set the flag yet.
  auto json_failure = [&](int status, const std::string& line) {
    bool asked = json;
    for (int i = 1; i < argc; ++i) asked = asked || std::strcmp(argv[i], "--json") == 0;
    if (!asked || !(show->parsed() || check->parsed() || diff->parsed())) return;
    // A name the command line did not give is null.
    auto name = [](const CLI::Option* option, const std::string& text) {
      return option->count() > 0 ? JsonString(text) : std::string("null");
    };
    const std::string files =
        diff->parsed() ? "\"files\": [" + name(diff_first, file) + ", " +
                             name(diff_second, second_file) + "]"
                       : "\"file\": " + name(show->parsed() ? show_file : check_file, file);
    out << FailureJson(files, status, line);
    out.flush();
  };
  auto fail = [&](int status, const std::string& reason) {
    const std::string line = "mp4vcfg: " + reason;
    err << line << "\n";
    json_failure(status, line);
    return status;
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    json_failure(kExitUsage, "mp4vcfg: " + std::string(e.what()));
    return kExitUsage;
  } catch (const std::exception& e) {
    return fail(kExitUsage, e.what());
  }

  try {
    // The dry run's diff carries the file's own line ends, and diff prints
    // for programs as diff and cmp do: both reach the output byte for byte.
    if (bytes_out != nullptr && ((set->parsed() && dry_run) || diff->parsed())) bytes_out();
    // check reads the file with the module's own rules, linked in; every
    // other command goes through the module itself.
    if (check->parsed()) {
      const int status = Check(file, json, out);
      out.flush();
      return status;
    }
    Session session(out, module_path);
    int status = kExitSuccess;
    if (info->parsed()) session.Info();
    if (show->parsed()) session.Show(file, json);
    if (get->parsed()) session.Get(file, keys);
    if (set->parsed()) status = session.Set(file, assignments, dry_run, force, err);
    if (diff->parsed()) status = session.Diff(file, second_file, json);
    if (edit->parsed()) status = session.Edit(file, force, err);
    out.flush();
    return status;
  } catch (const Trouble& e) {
    return fail(kExitUsage, e.what());
  } catch (const std::bad_alloc&) {
    return fail(kExitUsage, "out of memory");
  } catch (const std::exception& e) {
    return fail(kExitUsage, std::string("internal error: ") + e.what());
  } catch (...) {
    return fail(kExitUsage, "internal error");
  }
}
