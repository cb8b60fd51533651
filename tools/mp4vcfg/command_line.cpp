#include "mp4vcfg/command_line.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "mp4vcfg/commands.h"
#include "mp4vcfg/output.h"

namespace {

using mp4vcfg::kExitSuccess;
using mp4vcfg::kExitUsage;

// The same table in every command's --help and in README.md.
constexpr char kExitStatusHelp[] =
    "Exit status, the same for every command:\n"
    "  0  done; a save loses no text (check, set, edit); the settings agree (diff)\n"
    "  1  a save would lose text and nothing was written (check, set, edit); the\n"
    "     settings differ (diff). set --dry-run exits as set would.\n"
    "  2  trouble: a usage error, an unknown key or a refused value, a file that\n"
    "     cannot be read or written or whose name the module refuses, a failed save";

CLI::Validator AssignmentShape() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return text.find('=') == std::string::npos
                   ? "expected KEY=VALUE, not " + mp4vcfg::Quoted(text)
                   : std::string();
      },
      "");
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
      "set", "Change settings of FILE and save it with the module's own save");
  set->footer(footer(
      "FILE is created when missing. The save writes only the settings' "
      "lines, keeps every other line byte for byte and adds the keys the file "
      "lacked, with the value 0. FILE is read, judged and written in one turn "
      "of its saves: a set of another setting, or a host's save, running at "
      "the same time goes before or after it, and what another program writes "
      "meanwhile stays. A save that would lose text of FILE besides "
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
                "save would write, and on stderr the layout it changes (line ends, empty "
                "lines)");
  set->add_flag("--force", force,
                "Save even when the save would lose text of FILE (see \"mp4vcfg check\"), "
                "or a whole number is outside its setting's range; without it such a file "
                "is left untouched");

  CLI::App* check = app.add_subcommand(
      "check", "List each line of FILE that a save would not keep byte for byte");
  check->footer(footer(
      "A save writes only the settings' lines and keeps every other line's bytes. "
      "Every setting's line whose text a save would drop or change is listed, with "
      "its line number and why; white space around a value or before a comment is "
      "layout, not text. One summary line ends the list, with the layout a save "
      "changes (line ends, empty lines added or dropped). With --json a failure "
      "prints {\"file\", \"exit_code\", \"error\"}."));
  CLI::Option* check_file =
      check->add_option("FILE", file, "Settings file")->type_name("")->required();
  check->add_flag("--json", json,
                  "Print a JSON object: {\"file\", \"exists\", \"loses_text\", "
                  "\"findings\": [{\"line\", \"loses_text\", \"reason\", \"text\"}], "
                  "\"layout\": {\"line_ends\": [{\"from\", \"to\", \"lines\"}], "
                  "\"empty_lines_added\", \"empty_lines_dropped\"}}");

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
      "the module, through its request 0x2008. FILE is not held while the pages "
      "are open. OK saves the settings the person changed, and only those, into "
      "FILE as it is then (created when missing), keeping what another program "
      "or another mp4vcfg wrote meanwhile, and prints each as \"key: old -> new\"; "
      "where FILE's value of such a setting changed meanwhile, the person's value "
      "wins and the line says so. Cancel leaves FILE untouched and prints "
      "\"no changes\"."));
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
      return option->count() > 0 ? nlohmann::ordered_json(text) : nlohmann::ordered_json();
    };
    if (diff->parsed()) {
      out << mp4vcfg::FailureJson(
          "files",
          nlohmann::ordered_json::array({name(diff_first, file), name(diff_second, second_file)}),
          status, line);
    } else {
      out << mp4vcfg::FailureJson("file", name(show->parsed() ? show_file : check_file, file),
                                  status, line);
    }
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
    int status = kExitSuccess;
    if (info->parsed()) status = mp4vcfg::Info(module_path, out);
    if (show->parsed()) status = mp4vcfg::Show(module_path, file, json, out);
    if (get->parsed()) status = mp4vcfg::Get(module_path, file, keys, out);
    if (set->parsed()) {
      status = mp4vcfg::Set(module_path, file, assignments, dry_run, force, out, err);
    }
    if (check->parsed()) status = mp4vcfg::Check(file, json, out);
    if (diff->parsed()) status = mp4vcfg::Diff(module_path, file, second_file, json, out);
    if (edit->parsed()) status = mp4vcfg::Edit(module_path, file, force, out, err);
    out.flush();
    return status;
  } catch (const mp4vcfg::Trouble& e) {
    return fail(kExitUsage, e.what());
  } catch (const std::bad_alloc&) {
    return fail(kExitUsage, "out of memory");
  } catch (const std::exception& e) {
    return fail(kExitUsage, std::string("internal error: ") + e.what());
  } catch (...) {
    return fail(kExitUsage, "internal error");
  }
}
