// mp4vcfg end to end: every command runs against the real module, loaded
// from beside this program as the tool loads it from beside itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <atomic>
#include <thread>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/settings_fields.h"
#include "mp4vcfg/check.h"
#include "mp4vcfg/command_line.h"
#include "mp4vcfg/output.h"
#include "mp4vcfg/session.h"
#include "mp4vcfg/unified_diff.h"
#include "support/patch_util.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#include <functional>

#include "gui/page_ids.h"
#include "gui/pages_driver.h"
#include "host/setting_text.h"
#include "host/settings_catalogue.h"
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// The system's codes the failures below meet.
#ifdef _WIN32
constexpr uint32_t kAccessDenied = ERROR_ACCESS_DENIED;
constexpr uint32_t kPathNotFound = ERROR_PATH_NOT_FOUND;
constexpr uint32_t kFileNotFound = ERROR_FILE_NOT_FOUND;
constexpr uint32_t kFolderUnreadable = ERROR_ACCESS_DENIED;
#else
constexpr uint32_t kAccessDenied = EACCES;
constexpr uint32_t kPathNotFound = ENOENT;
constexpr uint32_t kFileNotFound = ENOENT;
constexpr uint32_t kFolderUnreadable = EISDIR;
#endif

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTool(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"mp4vcfg"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int status =
      RunMp4vcfg(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The "key = value" entries of a file, in file order.
std::vector<std::pair<std::string, std::string>> FileEntries(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const std::string& line : Lines(text)) {
    const std::vector<std::string> words = Words(line);
    if (words.size() == 3 && words[1] == "=") entries.emplace_back(words[0], words[2]);
  }
  return entries;
}

struct ShownSetting {
  std::string key;
  std::string value;
  std::string mark;
};

// show's text output, one setting per line: key, value, "set" or "default".
std::vector<ShownSetting> ParseShow(const std::string& text) {
  std::vector<ShownSetting> settings;
  for (const std::string& line : Lines(text)) {
    const std::vector<std::string> words = Words(line);
    EXPECT_EQ(words.size(), 3u) << line;
    if (words.size() == 3) settings.push_back({words[0], words[1], words[2]});
  }
  return settings;
}

// A strict JSON reader (RFC 8259) that flattens a document into its
// scalars in document order, each under its path: "settings.width.value"
// -> "640". Strings are unescaped (ASCII only); numbers keep their digits.
class FlatJson {
 public:
  bool Read(const std::string& text) {
    text_ = text;
    pos_ = 0;
    values.clear();
    return Value("") && (Blanks(), pos_ == text_.size());
  }
  std::string Get(const std::string& path) const {
    for (const auto& v : values) {
      if (v.first == path) return v.second;
    }
    return "<missing>";
  }
  std::vector<std::pair<std::string, std::string>> values;

 private:
  void Blanks() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) && text_[pos_]) ++pos_;
  }
  bool Take(char c) {
    Blanks();
    return pos_ < text_.size() && text_[pos_] == c && (++pos_, true);
  }
  size_t Digits() {
    const size_t start = pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return pos_ - start;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (static_cast<unsigned char>(c) >= 0x80) {
        // JSON text is UTF-8: a well-formed sequence, taken whole.
        const unsigned char lead = static_cast<unsigned char>(c);
        const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                              : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        if (length == 0 || pos_ + length - 1 > text_.size()) return false;
        *out += c;
        for (size_t k = 1; k < length; ++k) {
          const char next = text_[pos_++];
          if ((static_cast<unsigned char>(next) & 0xC0) != 0x80) return false;
          *out += next;
        }
      } else if (c != '\\') {
        *out += c;
      } else if (pos_ < text_.size() && std::strchr("\"\\/bfnrt", text_[pos_]) && text_[pos_]) {
        const char e = text_[pos_++];
        *out += std::string("\"\\/\b\f\n\r\t")[std::string("\"\\/bfnrt").find(e)];
      } else if (text_.compare(pos_, 3, "u00") == 0 && pos_ + 5 <= text_.size() &&
                 std::isxdigit(static_cast<unsigned char>(text_[pos_ + 3])) &&
                 std::isxdigit(static_cast<unsigned char>(text_[pos_ + 4]))) {
        *out += static_cast<char>(std::stoi(text_.substr(pos_ + 3, 2), nullptr, 16));
        pos_ += 5;
      } else {
        return false;
      }
    }
    return false;
  }
  bool Value(const std::string& path) {
    const std::string prefix = path.empty() ? "" : path + ".";
    std::string scalar;
    if (Take('{')) {
      if (Take('}')) return true;
      do {
        std::string name;
        if (!String(&name) || !Take(':') || !Value(prefix + name)) return false;
      } while (Take(','));
      return Take('}');
    }
    if (Take('[')) {
      if (Take(']')) return true;
      int index = 0;
      do {
        if (!Value(prefix + std::to_string(index++))) return false;
      } while (Take(','));
      return Take(']');
    }
    if (pos_ < text_.size() && text_[pos_] == '"') {
      if (!String(&scalar)) return false;
    } else {
      for (const char* word : {"true", "false", "null"}) {
        if (text_.compare(pos_, std::strlen(word), word) == 0) scalar = word;
      }
      pos_ += scalar.size();
      if (scalar.empty()) {  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '0') {
          ++pos_;
        } else if (Digits() == 0) {
          return false;
        }
        if (pos_ < text_.size() && text_[pos_] == '.' && (++pos_, Digits() == 0)) return false;
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
          ++pos_;
          if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
          if (Digits() == 0) return false;
        }
        scalar = text_.substr(start, pos_ - start);
      }
    }
    values.emplace_back(path, scalar);
    return true;
  }

  std::string text_;
  size_t pos_ = 0;
};

// ---- info and the command line itself ----------------------------------

TEST(Mp4vcfgInfo, PrintsTheInformationItems) {
  const Outcome r = RunTool({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> expected_lines = {
      "name                      Brennovatix (Demo) MPEG-4 part 2 Video Encoder "
      "Configuration Module",
      "item 2                    0",
      "item 3                    2",
      "version                   9.6.8.3641",
      std::string("platform                  ") + testutil::kPlatformText,
  };
  const std::vector<std::string> lines = Lines(r.out);
  for (const std::string& line : expected_lines) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
        << line << "\n" << r.out;
  }
#ifdef _WIN32
  for (const char* line :
       {"  file version (fixed)    9.6.8.3641", "  FileVersion             9.6.8.3641",
        "  OriginalFilename        demo_config_mp4v.dll",
        "  FileDescription         MPEG-4 part 2 Video Encoder Configuration Module"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
        << line << "\n" << r.out;
  }
#endif
}

TEST(Mp4vcfgCommandLine, HelpAndUsageErrors) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* in_out;  // expected on stdout (status 0) or stderr
  } cases[] = {
      {{"--help"}, 0, "--module"},
      {{"-h"}, 0, "show"},
      {{"info", "--help"}, 0, "information items"},
      {{"show", "--help"}, 0, "--json"},
      {{"get", "--help"}, 0, "KEY"},
      {{"set", "--help"}, 0, "KEY=VALUE"},
      {{}, 2, "subcommand"},
      {{"frobnicate"}, 2, "subcommand"},
      {{"show"}, 2, "FILE"},
      {{"show", "a.cfg", "--bogus"}, 2, "--bogus"},
      {{"get", "a.cfg"}, 2, "KEY"},
      {{"set", "a.cfg"}, 2, "settings"},
      {{"set", "a.cfg", "width"}, 2, "KEY=VALUE"},
      {{"info", "extra"}, 2, "extra"},
      {{"info", "--module"}, 2, "--module"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const Outcome r = RunTool(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.status == 0) {
      EXPECT_TRUE(Contains(r.out, c.in_out)) << r.out;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(Contains(r.err, c.in_out)) << r.err;
      EXPECT_EQ(r.out, "");
    }
  }
}

// Every command's --help states the one exit-status table, word for word
// the program's own.
TEST(Mp4vcfgCommandLine, EveryHelpStatesTheSameExitStatusTable) {
  const Outcome program = RunTool({"--help"});
  ASSERT_EQ(program.status, 0);
  const size_t start = program.out.find("Exit status, the same for every command:\n");
  ASSERT_NE(start, std::string::npos) << program.out;
  const std::string table = program.out.substr(start);
  for (const char* line :
       {"\n  0  done; a save loses no text (check, set, edit); the settings agree (diff)\n",
        "\n  1  a save would lose text and nothing was written (check, set, edit); the\n"
        "     settings differ (diff). set --dry-run exits as set would.\n",
        "\n  2  trouble: a usage error, an unknown key or a refused value, a file that\n"
        "     cannot be read or written or whose name the module refuses, a failed save"}) {
    EXPECT_TRUE(Contains(table, line)) << line;
  }
  for (const char* command : {"info", "show", "get", "set", "check", "diff", "edit"}) {
    const Outcome r = RunTool({command, "--help"});
    EXPECT_EQ(r.status, 0) << command;
    const size_t at = r.out.find("Exit status, the same for every command:\n");
    ASSERT_NE(at, std::string::npos) << command << "\n" << r.out;
    EXPECT_EQ(r.out.substr(at), table) << command;
  }
}

// The output of set --dry-run (a diff that keeps the file's own CR LF) and
// of diff reaches a redirected output byte for byte: the command line asks
// for that (on Windows, binary mode) before either writes anything. Every
// other command, a plain set among them, leaves the output as it is.
std::ostringstream* g_bytes_out_stream = nullptr;
int g_bytes_out_calls = 0;
size_t g_written_before_bytes_out = 0;

void NoteBytesOut() {
  ++g_bytes_out_calls;
  g_written_before_bytes_out = g_bytes_out_stream->str().size();
}

TEST(Mp4vcfgCommandLine, OnlyTheDryRunAndDiffAskForTheirBytesUnchanged) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  const std::string other = dir.File("other.cfg");
  ASSERT_EQ(RunTool({"set", path, "width=720", "height=576"}).status, 0);
  ASSERT_EQ(RunTool({"set", other, "width=352"}).status, 0);
  const struct {
    std::vector<std::string> args;
    bool bytes;
  } cases[] = {
      {{"set", path, "height=480", "--dry-run"}, true},
      {{"set", "--dry-run", "--force", path, "height=480"}, true},
      {{"diff", path, other}, true},
      {{"diff", "--json", path, other}, true},
      {{"set", path, "height=576"}, false},
      {{"set", path, "height=576", "--force"}, false},
      {{"show", path}, false},
      {{"show", "--json", path}, false},
      {{"get", path, "width"}, false},
      {{"check", path}, false},
      {{"check", "--json", path}, false},
      {{"info"}, false},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"mp4vcfg"};
    std::string joined;
    for (const std::string& arg : c.args) {
      argv.push_back(arg.c_str());
      joined += arg + " ";
    }
    SCOPED_TRACE(joined);
    std::ostringstream out;
    std::ostringstream err;
    g_bytes_out_stream = &out;
    g_bytes_out_calls = 0;
    g_written_before_bytes_out = 1;
    const int status =
        RunMp4vcfg(static_cast<int>(argv.size()), argv.data(), out, err, &NoteBytesOut);
    EXPECT_EQ(status, c.args[0] == "diff" ? 1 : 0) << err.str();
    EXPECT_EQ(g_bytes_out_calls, c.bytes ? 1 : 0);
    if (c.bytes) {
      EXPECT_EQ(g_written_before_bytes_out, 0u) << out.str();
      EXPECT_FALSE(out.str().empty());
    }
  }
  g_bytes_out_stream = nullptr;
}

TEST(Mp4vcfgCommandLine, ModuleThatCannotBeLoaded) {
  testutil::ScratchDir dir;
  const std::string not_a_library = dir.File("fake_module.bin");
  testutil::WriteBytes(not_a_library, "not a library");
  for (const std::string& path : {dir.File("missing_module.bin"), not_a_library}) {
    const Outcome r = RunTool({"--module", path, "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "_module.bin")) << r.err;
  }
}

// ---- failures leave the file exactly as it was --------------------------

// Each failure: its whole line on stderr ("@" stands for the file's path),
// its exit status, nothing on stdout, the file untouched.
TEST(Mp4vcfgFailures, ReportedAndFileUntouched) {
  const std::string original = testutil::WithLineEnds(
      "# settings of the night job\n[Other]\nkeep = 1\n\n[MP4V Settings]\n"
      "width = 352   # CIF\nframe_rate = 25\n");
  const std::string whole = " Enter a whole number from ";
  const std::string digits = ", in decimal or in hexadecimal after 0x.";
  const std::string sides = whole + "1 to 8191" + digits;
  const std::string rate =
      " Enter a number of frames per second greater than 0, such as 25 or 29.97, or a "
      "fraction such as 30000/1001.";
  const std::string forced = " --force saves it anyway.";
  const std::string refused_name =
      "@: the module refuses this file name (it must end in \".cfg\" or \".ini\", in lower case)";
  // The module's words, then the system's for the code it gave.
  const std::string read_only = "@: a save cannot write the file: the file is read-only (" +
                                mp4vcfg::SystemMessage(kAccessDenied) + "); it is left as it is";
  const struct {
    const char* file_name;
    std::vector<std::string> args;  // "@" stands for the file's path
    std::string message;            // the whole line, without "mp4vcfg: "
    bool read_only = false;
    int status = 2;
  } cases[] = {
      {"enc.cfg", {"set", "@", "widht=5"},
       "unknown key \"widht\" (\"mp4vcfg show FILE\" lists every key)"},
      {"enc.cfg", {"set", "@", "width=abc"}, "width: \"abc\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width="}, "width: The value is empty." + sides},
      {"enc.cfg", {"set", "@", "width= \t"}, "width: The value is empty." + sides},
      {"enc.cfg", {"set", "@", "width=1.5"}, "width: \"1.5\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=1 2"}, "width: \"1 2\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=0x"}, "width: \"0x\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=0xG1"}, "width: \"0xG1\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=+-1"}, "width: \"+-1\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=2147483648"},
       "width: \"2147483648\" is outside the 32-bit range." + sides},
      {"enc.cfg", {"set", "@", "width=-2147483649"},
       "width: \"-2147483649\" is outside the 32-bit range." + sides},
      {"enc.cfg", {"set", "@", "width=0x80000000"},
       "width: \"0x80000000\" is outside the 32-bit range." + sides},
      {"enc.cfg", {"set", "@", "width=99999999999999999999999"},
       "width: \"99999999999999999999999\" is outside the 32-bit range." + sides},
      // Each setting's own range, from the settings pages' table.
      {"enc.cfg", {"set", "@", "width=-5"},
       "width: \"-5\" is less than this setting takes." + sides + forced},
      {"enc.cfg", {"set", "@", "height=0"},
       "height: \"0\" is less than this setting takes." + sides + forced},
      {"enc.cfg", {"set", "@", "height=0x2000"},
       "height: \"0x2000\" is more than this setting takes." + sides + forced},
      {"enc.cfg", {"set", "@", "quant_i=32"},
       "quant_i: \"32\" is more than this setting takes." + whole + "0 to 31" + digits + forced},
      {"enc.cfg", {"set", "@", "me_f_code=0"},
       "me_f_code: \"0\" is less than this setting takes." + whole + "1 to 7" + digits + forced},
      {"enc.cfg", {"set", "@", "target_bitrate=-1"},
       "target_bitrate: \"-1\" is less than this setting takes." + whole + "0 to 2147483647" +
           digits + forced},
      {"enc.cfg", {"set", "@", "deinterlacing_enable=2"},
       "deinterlacing_enable: \"2\" is more than this setting takes." + whole + "0 to 1" +
           digits + forced},
      // --force takes a number outside its range, never a text that is none.
      {"enc.cfg", {"set", "@", "width=abc", "--force"},
       "width: \"abc\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=2147483648", "--force"},
       "width: \"2147483648\" is outside the 32-bit range." + sides},
      {"enc.cfg", {"set", "@", "frame_rate=0", "--force"},
       "frame_rate: \"0\" is not a frame rate greater than 0." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=abc"},
       "frame_rate: \"abc\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate="}, "frame_rate: The value is empty." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=29,97"},
       "frame_rate: \"29,97\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=inf"},
       "frame_rate: \"inf\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=-nan"},
       "frame_rate: \"-nan\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=0x1p4"},
       "frame_rate: \"0x1p4\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=1e"},
       "frame_rate: \"1e\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=30000/"},
       "frame_rate: \"30000/\" is not a decimal number or a fraction." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=1e999"},
       "frame_rate: \"1e999\" is too large or too small to be stored." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=1/0"},
       "frame_rate: \"1/0\" is too large or too small to be stored." + rate},
      // The pages' frame-rate rule: greater than 0, and a rate a file holds.
      {"enc.cfg", {"set", "@", "frame_rate=-1.5"},
       "frame_rate: \"-1.5\" is not a frame rate greater than 0." + rate},
      {"enc.cfg", {"set", "@", "frame_rate=1e-11"},
       "frame_rate: \"1e-11\" is too small: a settings file keeps ten decimals and would hold "
       "it as 0. Enter a frame rate of at least 0.0000000001."},
      // One bad assignment among good ones stops them all.
      {"enc.cfg", {"set", "@", "width=720", "height=abc"},
       "height: \"abc\" is not a whole number." + sides},
      {"enc.cfg", {"set", "@", "width=720", "bogus=1"},
       "unknown key \"bogus\" (\"mp4vcfg show FILE\" lists every key)"},
      {"enc.cfg", {"get", "@", "width", "bogus"},
       "unknown key \"bogus\" (\"mp4vcfg show FILE\" lists every key)"},
      // Names the module refuses.
      {"enc.CFG", {"set", "@", "width=720"}, refused_name},
      {"enc.cfg.bak", {"set", "@", "width=720"}, refused_name},
      {"enc.Ini", {"show", "@"}, refused_name},
      {"enc.txt", {"get", "@", "width"}, refused_name},
      {"enc.INI", {"check", "@"}, refused_name},
      {"enc.Cfg", {"diff", "@", "@"}, refused_name},
      // A file a save cannot replace.
      {"locked.cfg", {"set", "@", "width=720"}, read_only, true},
      {"locked.cfg", {"set", "@", "width=720", "--dry-run"}, read_only, true},
      {"locked.cfg", {"set", "@", "width=720", "--force"}, read_only, true},
      {"locked.cfg", {"check", "@"}, read_only, true},
  };
  for (const auto& c : cases) {
    testutil::ScratchDir dir;
    const std::string path = dir.File(c.file_name);
    testutil::WriteBytes(path, original);
    if (c.read_only) testutil::SetReadOnly(path, true);
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
      if (arg == "@") arg = path;
    }
    std::string message = c.message;
    if (message[0] == '@') message.replace(0, 1, path);
    SCOPED_TRACE(std::string(c.file_name) + " " + args[0] + " " + args.back());
    const Outcome r = RunTool(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "mp4vcfg: " + message + "\n");
    EXPECT_EQ(testutil::ReadBytes(path), original);
    EXPECT_EQ(testutil::ListDir(dir.path()), std::vector<std::string>{c.file_name});
    if (c.read_only) testutil::SetReadOnly(path, false);
  }
}

TEST(Mp4vcfgFailures, MissingFileOrDirectory) {
  testutil::ScratchDir dir;
  const std::string in_missing_dir = dir.File("nodir") + "/enc.cfg";
  const std::string folder = dir.File("folder.cfg");
  const std::string absent = dir.File("absent.cfg");
  std::filesystem::create_directory(folder);
  // The module's words, then the system's for the code it gave.
  const std::string no_folder = in_missing_dir +
                                ": a save cannot write the file: its folder does not exist (" +
                                mp4vcfg::SystemMessage(kPathNotFound) + ")";
  // A folder of a settings file's name is no file a save can read.
  const std::string a_folder = folder +
                               ": a save cannot read the file: it is a folder or a device, "
                               "not a file (" +
                               mp4vcfg::SystemMessage(kFolderUnreadable) + "); it is left as it is";
  // show, get and diff say what the load met.
  const std::string cannot_open =
      absent + ": cannot read the file (" + mp4vcfg::SystemMessage(kFileNotFound) + ")";
  // set, its dry run and check all stop where the save would, with the
  // same reason; show and get refuse a file that is not there.
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"set", in_missing_dir, "width=720"}, no_folder},
      {{"set", in_missing_dir, "width=720", "--dry-run"}, no_folder},
      {{"check", in_missing_dir}, no_folder},
      {{"check", folder}, a_folder},
      {{"set", folder, "width=720"}, a_folder},
      {{"set", folder, "width=720", "--dry-run"}, a_folder},
      {{"show", absent}, cannot_open},
      {{"get", absent, "width"}, cannot_open},
      {{"diff", absent, absent}, cannot_open},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const Outcome r = RunTool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "mp4vcfg: " + c.message + "\n");
  }
  std::filesystem::remove(folder);
  EXPECT_TRUE(testutil::ListDir(dir.path()).empty());
}

// With --json a failure prints one JSON object too: the file, the exit
// status and the very line stderr got, whatever bytes the name holds.
TEST(Mp4vcfgFailures, JsonOutputAlsoOnFailure) {
  testutil::ScratchDir dir;
  const std::string folder = dir.File("folder.cfg");
  std::filesystem::create_directory(folder);
  const std::string locked = dir.File("locked.cfg");
  testutil::WriteBytes(locked, "[MP4V Settings]\nwidth=720\n");
  testutil::SetReadOnly(locked, true);
  const std::string absent = dir.File("absent.cfg");
  const std::string present = dir.File("present.cfg");
  testutil::WriteBytes(present, "");
#ifdef _WIN32
  const std::string odd_name = dir.File("odd \"name\".CFG");
  const std::string odd_json = odd_name;
#else
  // Bytes that are no UTF-8 come out as the characters of their numbers.
  const std::string odd_name = dir.File("caf\xC3\xA9 \xFF \"q\"\x7F.CFG");
  const std::string odd_json = dir.File("caf\xC3\xA9 \xC3\xBF \"q\"\x7F.CFG");
#endif
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> files;  // as JSON reads them back; "null" for none
  } cases[] = {
      {{"check", "--json", folder}, {folder}},
      {{"check", "--json", dir.File("nodir") + "/enc.cfg"}, {dir.File("nodir") + "/enc.cfg"}},
      {{"check", "--json", locked}, {locked}},
      {{"check", "--json", odd_name}, {odd_json}},
      {{"show", "--json", absent}, {absent}},
      {{"show", odd_name, "--json"}, {odd_json}},
      {{"diff", "--json", absent, present}, {absent, present}},
      {{"diff", "--json", present, absent}, {present, absent}},
      {{"check", "--json"}, {"null"}},
      {{"diff", present, "--json"}, {present, "null"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const Outcome r = RunTool(c.args);
    EXPECT_EQ(r.status, 2);
    ASSERT_FALSE(r.err.empty());
    const std::string line = r.err.substr(0, r.err.find('\n'));
    FlatJson json;
    ASSERT_TRUE(json.Read(r.out)) << r.out;
    std::vector<std::pair<std::string, std::string>> expected;
    if (c.files.size() == 1) {
      expected.emplace_back("file", c.files[0]);
    } else {
      expected.emplace_back("files.0", c.files[0]);
      expected.emplace_back("files.1", c.files[1]);
    }
    expected.emplace_back("exit_code", "2");
    std::string error_line = line;
#ifndef _WIN32
    if (line.find(odd_name) != std::string::npos) {
      error_line.replace(line.find(odd_name), odd_name.size(), odd_json);
    }
#endif
    expected.emplace_back("error", error_line);
    EXPECT_EQ(json.values, expected) << r.out;
  }
  // DEL is a control character: escaped like the others.
  const Outcome del = RunTool({"check", "--json", dir.File("del\x7F.CFG")});
  EXPECT_TRUE(Contains(del.out, "del\\u007f.CFG")) << del.out;
  EXPECT_FALSE(Contains(del.out, "\x7F")) << del.out;
  testutil::SetReadOnly(locked, false);
}

#ifdef _WIN32
// `path` as a name beginning with "/": under Wine the Unix path of the file
// (Wine reads such names as Unix paths), on Windows itself the path from the
// root of the current drive, which becomes the file's drive.
std::string SlashPath(const std::string& path) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_name != nullptr) {
    const std::wstring wide(path.begin(), path.end());  // ASCII scratch paths
    char* name = unix_name(wide.c_str());
    std::string result = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
  }
  std::filesystem::current_path(std::filesystem::path(path).parent_path());
  std::string rooted = path.substr(2);
  std::replace(rooted.begin(), rooted.end(), '\\', '/');
  return rooted;
}
#else
std::string SlashPath(const std::string& path) { return path; }
#endif

// A file name beginning with "/" is a file name, not a Windows-style option.
TEST(Mp4vcfgCommandLine, SlashPathsAreFileNames) {
  testutil::ScratchDir dir;
  const std::filesystem::path previous = std::filesystem::current_path();
  const std::string slash_path = SlashPath(dir.File("enc.cfg"));
  ASSERT_EQ(slash_path[0], '/');
  const Outcome set = RunTool({"set", slash_path, "width=720"});
  const Outcome get = RunTool({"get", slash_path, "width"});
  std::filesystem::current_path(previous);
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(get.out, "720\n");
  EXPECT_TRUE(testutil::Exists(dir.File("enc.cfg")));
}

// ---- set, show and get together ----------------------------------------

TEST(Mp4vcfgRoundTrip, ExampleSetThenShowAndGet) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("example.cfg");
  const Outcome set =
      RunTool({"set", path, "width=720", "height=576", "frame_rate=29.97"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "");
  EXPECT_EQ(set.err, "");

  const Outcome show = RunTool({"show", path});
  ASSERT_EQ(show.status, 0) << show.err;
  const std::vector<ShownSetting> shown = ParseShow(show.out);
  // The module wrote every key, in its own order: show lists the same keys
  // in the same order with the same values, all of them set.
  const auto entries = FileEntries(testutil::ReadBytes(path));
  ASSERT_EQ(entries.size(), 56u);
  ASSERT_EQ(shown.size(), 56u);
  for (size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].key, entries[i].first);
    EXPECT_EQ(shown[i].mark, "set") << shown[i].key;
    if (shown[i].key == "frame_rate") {
      // Stored as the load would give it: the snapped rate, also in the file.
      EXPECT_EQ(entries[i].second, "29.9700299700");
      EXPECT_EQ(shown[i].value, "29.970029970029973");
    } else {
      EXPECT_EQ(shown[i].value, entries[i].second) << shown[i].key;
    }
  }

  const Outcome get = RunTool({"get", path, "height", "frame_rate", "width", "num_threads"});
  ASSERT_EQ(get.status, 0) << get.err;
  EXPECT_EQ(Lines(get.out),
            (std::vector<std::string>{"576", "29.970029970029973", "720", "0"}));
}

// Distinct values in every field: a key bound to the wrong offset or width
// shows up as a value under the wrong key, in the file or in show.
TEST(Mp4vcfgRoundTrip, EveryKeyReachesItsOwnField) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("all.ini");
  ASSERT_EQ(RunTool({"set", path, "width=1"}).status, 0);
  const auto keys = FileEntries(testutil::ReadBytes(path));
  ASSERT_EQ(keys.size(), 56u);
  // Outside most settings' ranges: --force saves them all the same.
  std::vector<std::string> args = {"set", path, "--force"};
  std::map<std::string, std::string> expected;
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string& key = keys[i].first;
    // Negative values catch a field read with the wrong sign or width.
    expected[key] = key == "frame_rate" ? "47.952" : std::to_string(-1000003 * (int(i) + 1));
    args.push_back(key + "=" + expected[key]);
  }
  ASSERT_EQ(RunTool(args).status, 0);

  for (const auto& entry : FileEntries(testutil::ReadBytes(path))) {
    EXPECT_EQ(entry.second, entry.first == "frame_rate" ? "47.9520000000" : expected[entry.first])
        << entry.first;
  }
  const Outcome show = RunTool({"show", path});
  ASSERT_EQ(show.status, 0) << show.err;
  const std::vector<ShownSetting> shown = ParseShow(show.out);
  ASSERT_EQ(shown.size(), 56u);
  for (const ShownSetting& s : shown) EXPECT_EQ(s.value, expected[s.key]) << s.key;
}

TEST(Mp4vcfgRoundTrip, AcceptedValueForms) {
  const struct {
    std::vector<std::string> assignment;
    const char* key;
    const char* shown;
  } cases[] = {
      // A numbered choice takes any 32-bit number.
      {{"quality=+5"}, "quality", "5"},
      {{"quality=-5"}, "quality", "-5"},
      {{"quality=0x2D0"}, "quality", "720"},
      {{"quality=0X2d0"}, "quality", "720"},
      {{"quality=-0x10"}, "quality", "-16"},
      {{"quality=007"}, "quality", "7"},
      {{"quality=2147483647"}, "quality", "2147483647"},
      {{"quality=-2147483648"}, "quality", "-2147483648"},
      {{"quality=-0x80000000"}, "quality", "-2147483648"},
      {{"WIDTH=9"}, "width", "9"},
      // The ends of a setting's own range.
      {{"width=1"}, "width", "1"},
      {{"height=0x1FFF"}, "height", "8191"},
      {{"quant_b=31"}, "quant_b", "31"},
      {{"me_f_code=7"}, "me_f_code", "7"},
      {{"closed_gov=1"}, "closed_gov", "1"},
      {{"closed_gov=0x0"}, "closed_gov", "0"},
      // Blanks around a value are ignored, as the pages ignore them.
      {{"width= 720\t"}, "width", "720"},
      {{"frame_rate=25 "}, "frame_rate", "25"},
      {{"frame_rate= 30000/1001 "}, "frame_rate", "29.970029970029973"},
      // --force: a number outside its setting's range, as a record may hold.
      {{"width=-5", "--force"}, "width", "-5"},
      {{"deinterlacing_enable=5", "--force"}, "deinterlacing_enable", "5"},
      {{"me_f_code=2147483647", "--force"}, "me_f_code", "2147483647"},
      {{"frame_rate=25"}, "frame_rate", "25"},
      {{"frame_rate=2.5e1"}, "frame_rate", "25"},
      {{"frame_rate=+50"}, "frame_rate", "50"},
      {{"frame_rate=30000/1001"}, "frame_rate", "29.970029970029973"},
      {{"frame_rate=24000/1001"}, "frame_rate", "23.976023976023978"},
      {{"frame_rate=23.98"}, "frame_rate", "23.976023976023978"},
      {{"frame_rate=1/8"}, "frame_rate", "0.125"},
      {{"frame_rate=.5"}, "frame_rate", "0.5"},
      {{"frame_rate=59.94"}, "frame_rate", "59.940059940059946"},
      // What a save and a load of the rate give back.
      {{"frame_rate=29.96999999999"}, "frame_rate", "29.970029970029973"},
      {{"frame_rate=1/3"}, "frame_rate", "0.3333333333"},
  };
  testutil::ScratchDir dir;
  const std::string path = dir.File("forms.cfg");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.assignment[0]);
    std::vector<std::string> args = {"set", path};
    args.insert(args.end(), c.assignment.begin(), c.assignment.end());
    const Outcome set = RunTool(args);
    ASSERT_EQ(set.status, 0) << set.err;
    const Outcome get = RunTool({"get", path, c.key});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(Lines(get.out), std::vector<std::string>{c.shown});
  }
}

// A rate `set` stores is what the file gives back: a second save of the
// file writes the same bytes.
TEST(Mp4vcfgRoundTrip, StoredRatesKeepTheFileStable) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("stable.cfg");
  for (const char* rate : {"29.96999999999", "59.93999999996", "12.345678901234", "23.975"}) {
    SCOPED_TRACE(rate);
    ASSERT_EQ(RunTool({"set", path, std::string("frame_rate=") + rate}).status, 0);
    const std::string first = testutil::ReadBytes(path);
    ASSERT_EQ(RunTool({"set", path, "width=720"}).status, 0);
    EXPECT_EQ(RunTool({"check", path}).status, 0);
    const std::string second = testutil::ReadBytes(path);
    // Only the width's line changed.
    EXPECT_EQ(FileEntries(first).size(), FileEntries(second).size());
    for (size_t i = 0; i < FileEntries(first).size(); ++i) {
      if (FileEntries(first)[i].first == "width") continue;
      EXPECT_EQ(FileEntries(first)[i], FileEntries(second)[i]);
    }
  }
}

TEST(Mp4vcfgRoundTrip, SetKeepsTheRestOfTheFile) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("keep.cfg");
  testutil::WriteBytes(path, testutil::WithLineEnds(
                                 "# night job\n[Other]\nwidth = 1\n\n[MP4V Settings]\n"
                                 "width = 352   # CIF\n"));
  ASSERT_EQ(RunTool({"set", path, "width=720"}).status, 0);
  const std::string text = testutil::ReadBytes(path);
  EXPECT_TRUE(Contains(text, "# night job")) << text;
  EXPECT_TRUE(Contains(text, "[Other]")) << text;
  EXPECT_TRUE(Contains(text, "# CIF")) << text;
  const auto entries = FileEntries(text);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0], std::make_pair(std::string("width"), std::string("1")));
  EXPECT_EQ(Lines(RunTool({"get", path, "width"}).out), std::vector<std::string>{"720"});
}

// ---- what show marks as set ---------------------------------------------

const char kPartialFile[] =
    "[Other]\nheight = 5\n\n[MP4V Settings]\nwidth = 640\nFRAME_RATE = 25\n"
    "quality = 0\nno_limit_bitrate_by_level = 0x10\n";

TEST(Mp4vcfgShow, MarksOnlyWhatTheFileSets) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("partial.cfg");
  testutil::WriteBytes(path, testutil::WithLineEnds(kPartialFile));
  const Outcome r = RunTool({"show", path});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<ShownSetting> shown = ParseShow(r.out);
  ASSERT_EQ(shown.size(), 56u);
  const std::map<std::string, std::string> set = {
      {"width", "640"}, {"frame_rate", "25"}, {"quality", "0"},
      {"no_limit_bitrate_by_level", "16"}};
  for (const ShownSetting& s : shown) {
    const auto it = set.find(s.key);
    if (it != set.end()) {
      EXPECT_EQ(s.mark, "set") << s.key;
      EXPECT_EQ(s.value, it->second) << s.key;
    } else {
      EXPECT_EQ(s.mark, "default") << s.key;
      EXPECT_EQ(s.value, "0") << s.key;
    }
  }
}

TEST(Mp4vcfgShow, JsonParsesAndMatchesTheText) {
  testutil::ScratchDir dir;
  // A name whose JSON form needs escapes (Windows paths have backslashes).
#ifdef _WIN32
  const std::string path = dir.File("json.cfg");
#else
  const std::string path = dir.File("with \"quote\" and \\.cfg");
#endif
  testutil::WriteBytes(path, testutil::WithLineEnds(kPartialFile));
  const Outcome r = RunTool({"show", path, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  FlatJson json;
  ASSERT_TRUE(json.Read(r.out)) << r.out;
  ASSERT_EQ(json.values.size(), 1 + 2 * 56u) << r.out;
  EXPECT_EQ(json.values[0], std::make_pair(std::string("file"), path));
  EXPECT_EQ(json.Get("settings.width.value"), "640");
  EXPECT_EQ(json.Get("settings.width.set"), "true");
  EXPECT_EQ(json.Get("settings.frame_rate.value"), "25");
  EXPECT_EQ(json.Get("settings.height.set"), "false");

  // The same settings, in the same order, as the text output.
  const std::vector<ShownSetting> shown = ParseShow(RunTool({"show", path}).out);
  ASSERT_EQ(shown.size(), 56u);
  for (size_t i = 0; i < shown.size(); ++i) {
    const std::string key = "settings." + shown[i].key;
    EXPECT_EQ(json.values[1 + 2 * i], std::make_pair(key + ".value", shown[i].value));
    EXPECT_EQ(json.values[2 + 2 * i],
              std::make_pair(key + ".set", std::string(shown[i].mark == "set" ? "true" : "false")));
  }
}

// ---- numbers do not follow the locale -----------------------------------

TEST(Mp4vcfgLocale, CommaDecimalLocaleChangesNothing) {
  // The C library's locale (which decides strtod and printf) and, where the
  // C++ library has named locales, the global C++ locale (which decides
  // grouping and the decimal point of streams).
  bool c_locale = false;
  for (const char* name : {"de_DE.UTF-8", "German_Germany.1252"}) {
    if (!c_locale && std::setlocale(LC_ALL, name) != nullptr) c_locale = true;
  }
  std::locale previous;
  bool cpp_locale = false;
  try {
    previous = std::locale::global(std::locale("de_DE.UTF-8"));
    cpp_locale = true;
  } catch (const std::exception&) {
  }
  ASSERT_TRUE(c_locale || cpp_locale)
      << "no comma-decimal locale on this machine: scripts/setup.sh makes de_DE.UTF-8 "
         "(localedef -i de_DE -f UTF-8 de_DE.UTF-8)";
  testutil::ScratchDir dir;
  const std::string path = dir.File("locale.cfg");
  const Outcome set = RunTool({"set", path, "frame_rate=12.5", "target_bitrate=4000000"});
  const Outcome comma_value = RunTool({"set", path, "frame_rate=12,5"});
  const Outcome get = RunTool({"get", path, "frame_rate", "target_bitrate"});
  if (cpp_locale) std::locale::global(previous);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(comma_value.status, 2);
  EXPECT_EQ(Lines(get.out), (std::vector<std::string>{"12.5", "4000000"}));
}

// ---- edit: the settings pages over a file ---------------------------------

#ifdef _WIN32
// Runs "mp4vcfg edit PATH" on a thread of its own and, once the pages show,
// `drive`s them from this one as a person would.
Outcome EditDriven(const std::string& path, const std::function<void(HWND sheet)>& drive,
                   bool force = false) {
  Outcome outcome{-1, "", ""};
  pages_driver::UseTestDesktop();
  std::vector<std::string> args{"edit", path};
  if (force) args.push_back("--force");
  pages_driver::GuiThread gui([&](HWND) { outcome = RunTool(args); }, false);
  HWND sheet = pages_driver::WaitFor([&] { return pages_driver::FindSheet(gui.id()); });
  EXPECT_NE(sheet, nullptr) << "the pages did not show";
  if (sheet != nullptr) drive(sheet);
  EXPECT_TRUE(gui.Join());
  return outcome;
}

int FieldId(const char* key) {
  return mp4v_pages::kFieldIdBase +
         static_cast<int>(mp4v_host::FindSettingKey(key) - mp4v_host::SettingKeys());
}

const char kPreset[] =
    "# preset\n[Job]\nsource = tape.avi\n\n[MP4V Settings]\nwidth = 720 # PAL\n"
    "height = 576\nframe_rate = 25\n";

TEST(Mp4vcfgEdit, OkSavesTheChangeAndKeepsTheRestOfTheFile) {
  testutil::ScratchDir dir;
  const std::string edited = dir.File("edited.cfg");
  const std::string set = dir.File("set.cfg");
  testutil::WriteBytes(edited, kPreset);
  testutil::WriteBytes(set, kPreset);
  const Outcome r = EditDriven(edited, [](HWND sheet) {
    pages_driver::SetText(pages_driver::ShowControl(sheet, FieldId("height")), L"480");
    pages_driver::PressButton(sheet, IDOK);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "height: 576 -> 480\n");
  // Byte for byte what set writes for the same change: the other section,
  // the comments and every other value kept.
  ASSERT_EQ(RunTool({"set", set, "height=480"}).status, 0);
  EXPECT_EQ(testutil::ReadBytes(edited), testutil::ReadBytes(set));
}

// edit shows the pages in the person's language (the thread's UI language,
// which under Wine follows LANG; ctest runs this test again for a German
// user as mp4vcfg_edit_tests_de), the pages' refusal too, while edit's own
// output stays English for scripts and logs.
TEST(Mp4vcfgEdit, ThePagesSpeakThePersonsLanguageAndEditItsOwn) {
  const LANGID lang_id = GetThreadUILanguage();
  if (const char* expected = std::getenv("MP4V_EXPECT_LANGUAGE")) {
    ASSERT_EQ(std::string(expected) == "de" ? LANG_GERMAN : LANG_ENGLISH, PRIMARYLANGID(lang_id))
        << "the thread's UI language did not take: under Wine it follows LANG, LC_ALL and "
           "LC_MESSAGES (tests/tools/CMakeLists.txt sets them), which need that locale on "
           "the system (locale -a)";
  }
  const mp4v_host::Language language = mp4v_host::LanguageForLangId(lang_id);
  const std::wstring caption = mp4v_host::PhraseText(mp4v_host::Phrase::kCaption, language);
  const mp4v_host::PageField& height = mp4v_host::FieldAt(
      static_cast<size_t>(mp4v_host::FindSettingKey("height") - mp4v_host::SettingKeys()));
  testutil::ScratchDir dir;
  const std::string path = dir.File("preset.cfg");
  testutil::WriteBytes(path, kPreset);
  std::wstring shown_caption, message, message_caption;
  const Outcome r = EditDriven(path, [&](HWND sheet) {
    shown_caption = pages_driver::Text(sheet);
    HWND field = pages_driver::ShowControl(sheet, FieldId("height"));
    pages_driver::SetText(field, L"x");
    pages_driver::PressButton(sheet, IDOK);
    DWORD thread = GetWindowThreadProcessId(sheet, nullptr);
    HWND box = pages_driver::WaitFor([&] { return pages_driver::FindMessageBox(thread, sheet); });
    if (box != nullptr) {
      message = pages_driver::StaticTexts(box);
      message_caption = pages_driver::Text(box);
      pages_driver::PressButton(box, IDOK);
      pages_driver::WaitGone(box);
    }
    pages_driver::SetText(field, L"480");
    pages_driver::PressButton(sheet, IDOK);
  });
  EXPECT_EQ(caption, shown_caption);
  EXPECT_EQ(caption, message_caption);
  const std::wstring problem = mp4v_host::SettingProblemText(
      height, mp4v_host::TextStatus::kNotANumber, L"x", language);
  EXPECT_NE(std::wstring::npos, message.find(mp4v_host::Fill(
                                    mp4v_host::PhraseText(mp4v_host::Phrase::kRefusal, language),
                                    {mp4v_host::PlainLabel(height.label[language]), L"height",
                                     problem})))
      << "the refusal is not in the pages' language";
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "height: 576 -> 480\n");
}

// The pages hold nothing while they are open: what another writer saves
// meanwhile stays, and OK puts in only the settings the person changed. A
// setting both changed takes the person's value, and the output says so.
TEST(Mp4vcfgEdit, OkAppliesThePersonsChangesToTheFileAsItIsThen) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("shared.cfg");
  testutil::WriteBytes(path, kPreset);
  Outcome meanwhile{-1, "", ""};
  const Outcome r = EditDriven(path, [&](HWND sheet) {
    pages_driver::SetText(pages_driver::ShowControl(sheet, FieldId("height")), L"480");
    meanwhile = RunTool({"set", path, "width=352", "height=288", "quality=4"});
    pages_driver::PressButton(sheet, IDOK);
  });
  EXPECT_EQ(meanwhile.status, 0) << meanwhile.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "height: 576 -> 480 (the file had 288 meanwhile; the value set here was saved)\n");
  EXPECT_EQ(RunTool({"get", path, "width", "height", "quality"}).out, "352\n480\n4\n");
  EXPECT_TRUE(Contains(testutil::ReadBytes(path), "source = tape.avi"));
}

TEST(Mp4vcfgEdit, CancelPrintsNoChangesAndLeavesTheFile) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("preset.cfg");
  testutil::WriteBytes(path, kPreset);
  const Outcome r = EditDriven(path, [](HWND sheet) {
    pages_driver::SetText(pages_driver::ShowControl(sheet, FieldId("width")), L"1");
    pages_driver::PressButton(sheet, IDCANCEL);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "no changes\n");
  EXPECT_EQ(testutil::ReadBytes(path), kPreset);
}

// As set does, edit leaves a file whose save would lose text alone (before
// any page shows) unless forced.
TEST(Mp4vcfgEdit, RefusesToLoseTextUnlessForced) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("hand.cfg");
  // "; notes" is kept as it stands; the text after the bit rate is not.
  const std::string hand = std::string("; notes\n") + kPreset + "target_bitrate = 4000 kbit/s\n";
  testutil::WriteBytes(path, hand);
  Outcome refused{-1, "", ""};
  {
    pages_driver::UseTestDesktop();
    pages_driver::GuiThread gui([&](HWND) { refused = RunTool({"edit", path}); }, false);
    if (!gui.Join(10000)) {
      // The pages showed after all: closed, so the test fails instead of
      // waiting for a person.
      if (HWND sheet = pages_driver::FindSheet(gui.id())) {
        pages_driver::PressButton(sheet, IDCANCEL);
      }
      EXPECT_TRUE(gui.Join()) << "edit did not refuse the file";
    }
  }
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.err, path + ":10: ")) << refused.err;
  EXPECT_FALSE(Contains(refused.err, path + ":1: ")) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "--force")) << refused.err;
  EXPECT_EQ(testutil::ReadBytes(path), hand);
  const Outcome forced = EditDriven(
      path, [](HWND sheet) { pages_driver::PressButton(sheet, IDCANCEL); }, true);
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(forced.out, "no changes\n");
}

// With no display the pages show nothing: edit fails (exit 2) with its
// reason instead of reading that as a person's Cancel, and leaves the file.
// ctest runs this test (mp4vcfg_edit_no_display) with DISPLAY unset; it
// first makes sure that this process can make no window.
TEST(Mp4vcfgEditWithoutDisplay, FailsAndLeavesTheFile) {
  if (!pages_driver::UnderWine()) GTEST_SKIP() << pages_driver::WhyAWindowCanBeMade();
  const std::string why = pages_driver::WhyAWindowCanBeMade();
  ASSERT_TRUE(why.empty()) << why;
  testutil::ScratchDir dir;
  const std::string path = dir.File("preset.cfg");
  testutil::WriteBytes(path, kPreset);
  const Outcome r = RunTool({"edit", path});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "the settings pages could not be shown")) << r.err;
  EXPECT_TRUE(Contains(r.err, path + " is left as it was")) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testutil::ReadBytes(path), kPreset);
}

// What edit judges is the record the pages give back: a file an unchanged
// save keeps whole ("width x" keeps its " x") is refused once the person
// changes that setting, whose line the save would rewrite.
TEST(Mp4vcfgEdit, JudgesTheRecordThePagesGiveBack) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("words.cfg");
  const std::string before = "[MP4V Settings]\nwidth x = 720\nheight = 576\n";
  testutil::WriteBytes(path, before);
  const Outcome r = EditDriven(path, [](HWND sheet) {
    pages_driver::SetText(pages_driver::ShowControl(sheet, FieldId("width")), L"640");
    pages_driver::PressButton(sheet, IDOK);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, path + ":2: a save writes this setting's line as")) << r.err;
  EXPECT_TRUE(Contains(r.err, "nothing was written")) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testutil::ReadBytes(path), before);
}
#else
TEST(Mp4vcfgEdit, NeedsTheWindowsBuild) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("preset.cfg");
  const Outcome r = RunTool({"edit", path});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "needs the Windows build")) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(testutil::Exists(path));
}
#endif

}  // namespace

// ---- check, set --dry-run / --force, diff ---------------------------------

namespace {

// The line numbers of check --json's findings, and its exit status.
struct Checked {
  int status;
  std::vector<size_t> lines;
  std::vector<std::string> losing;  // "true"/"false" per finding
};

Checked CheckFile(const std::string& path) {
  const Outcome r = RunTool({"check", "--json", path});
  FlatJson json;
  EXPECT_TRUE(json.Read(r.out)) << r.out << r.err;
  Checked c{r.status, {}, {}};
  for (size_t i = 0;; ++i) {
    const std::string line = json.Get("findings." + std::to_string(i) + ".line");
    if (line == "<missing>") break;
    c.lines.push_back(std::stoul(line));
    c.losing.push_back(json.Get("findings." + std::to_string(i) + ".loses_text"));
  }
  return c;
}

// Values of the settings section whose text a save rewrites and loses, and
// one line of a setting whose writer's form drops text. They come first, in
// the settings section.
const char* const kLosingLines[] = {
    "width = 720px",
    "vbv_buffer = big",
    "target_bitrate = 99999999999",
    "height=#576",
};
// Lines the reader takes only in part: a save writes them exactly as they
// stand (the section header among them starts another section); and a rate
// no value text holds, which a save leaves as it stands since it loads as
// that very rate.
const char* const kKeptAsReadLines[] = {
    "frame_rate = 1e999",
    "; a semicolon comment",
    "  an indented continuation",
    "key # comment = 5",
    "quality=9 #",
    "two words = 5",
    "  # an indented comment",
    "[Job] junk",
    "[a][b]",
};
const char* const kKeptLines[] = {
    "# a comment",
    "plain = value # and a comment",
    "bare",
    "=free line",
    "tab\t=\tvalue\t# tabs",
    "[Other]  # its comment",
    "[no bracket",
};

}  // namespace

TEST(Mp4vcfgCheck, OneFindingPerLosingLineWithItsNumber) {
  for (const char* line_end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(line_end[0] == '\r' ? (line_end[1] ? "CR LF" : "CR") : "LF");
    std::string text;
    std::vector<size_t> losing;
    size_t number = 0;
    // The settings section first, so the bad values are in it.
    text += std::string("[MP4V Settings]") + line_end;
    ++number;
    auto add = [&](const char* line, bool loses, size_t i) {
      text += std::string(line) + line_end;
      ++number;
      if (loses) losing.push_back(number);
      text += std::string(kKeptLines[i % 5]) + line_end;
      ++number;
      text += line_end;  // an empty line: dropped, but nothing to lose
      ++number;
    };
    size_t i = 0;
    for (const char* line : kLosingLines) add(line, true, i++);
    for (const char* line : kKeptAsReadLines) add(line, false, i++);
    const std::string long_line(600, 'x');  // read in two parts, written whole
    text += long_line + line_end;
    ++number;
    text += std::string(511, 'y') + line_end;  // exactly as long as a line may be
    ++number;
    for (const char* kept : {kKeptLines[5], kKeptLines[6]}) {
      text += std::string(kept) + line_end;
      ++number;
    }
    testutil::ScratchDir dir;
    const std::string path = dir.File("mixed.cfg");
    testutil::WriteBytes(path, text);
    const Checked c = CheckFile(path);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.lines, losing);
    for (const std::string& l : c.losing) EXPECT_EQ(l, "true");
    EXPECT_EQ(testutil::ReadBytes(path), text);

    // The real save keeps every line the check does not name.
    ASSERT_EQ(RunTool({"set", path, "--force", "quality=9"}).status, 0);
    const std::string saved = testutil::ReadBytes(path);
    for (const char* line : kKeptAsReadLines) {
      EXPECT_TRUE(Contains(saved, std::string(line) + testutil::LineEnd())) << line;
    }
    EXPECT_TRUE(Contains(saved, testutil::LineEnd() + long_line + testutil::LineEnd()));
  }
}

TEST(Mp4vcfgCheck, FilesTheModuleWroteAndNewFilesNeedNothing) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("written.cfg");
  EXPECT_EQ(CheckFile(path).status, 0);  // no file yet
  testutil::WriteBytes(path, "# preset\n[Job]\nsource = tape.avi  # reel 2\n");
  ASSERT_EQ(RunTool({"set", path, "width=720", "frame_rate=29.97", "quality=-3"}).status, 0);
  const Checked c = CheckFile(path);
  EXPECT_EQ(c.status, 0);
  EXPECT_TRUE(c.lines.empty());
  const Outcome text = RunTool({"check", path});
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(Contains(text.out, "a save keeps every line")) << text.out;
}

// The layout a save changes (line ends, empty lines) is said in one
// summary line by check and on stderr by set --dry-run, which still exit 0
// when no text goes; white space before a comment is layout too, and a
// tab is quoted escaped.
TEST(Mp4vcfgCheck, SaysTheLayoutASaveChangesInOneLine) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("crlf.cfg");
  testutil::WriteBytes(path, "# top\r\n[MP4V Settings]\r\nwidth=720\r\n\r\n\r\n[Other]\r\nx=1\r\n");
  const std::string ends =
      std::string(testutil::LineEnd()) == "\n" ? "5 CR LF line ends become LF, " : "";
  const std::string layout = ends + "1 empty line is added, 1 empty line is dropped";
  const Outcome check = RunTool({"check", path});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, path + ": a save keeps the text of every line and changes only the "
                              "layout: " + layout + "\n");
  FlatJson json;
  const Outcome as_json = RunTool({"check", "--json", path});
  ASSERT_TRUE(json.Read(as_json.out)) << as_json.out;
  EXPECT_EQ(json.Get("layout.empty_lines_added"), "1");
  EXPECT_EQ(json.Get("layout.empty_lines_dropped"), "1");
  EXPECT_EQ(json.Get("layout.line_ends.0.from"), ends.empty() ? "<missing>" : "CR LF");
  const Outcome dry = RunTool({"set", path, "height=576", "--dry-run"});
  EXPECT_EQ(dry.status, 0);
  EXPECT_EQ(dry.err, path + ": a save changes the layout: " + layout + "\n");

  // A tab before a comment: the line is rewritten, and nothing is lost.
  const std::string tab = dir.File("tab.cfg");
  testutil::WriteBytes(tab, "[MP4V Settings]\nwidth = 720\t# note\n");
  const Outcome tab_check = RunTool({"check", tab});
  EXPECT_EQ(tab_check.status, 0);
  EXPECT_TRUE(Contains(tab_check.out, tab + ":2: a save writes the value '720\\x09' as 720, the "
                                            "same number (no text is lost)\n    width = 720\\x09# "
                                            "note\n"))
      << tab_check.out;
  EXPECT_FALSE(Contains(tab_check.out, "\t")) << tab_check.out;
  const Outcome set = RunTool({"set", tab, "height=576"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(Contains(testutil::ReadBytes(tab), "width                           = 720 # note" +
                                                     std::string(testutil::LineEnd())));
}

// Whatever bytes a file and its name hold, --json prints JSON: UTF-8 as it
// is, any other byte from 0x80 up as the character of that number.
TEST(Mp4vcfgCheck, JsonIsValidForAnyBytes) {
  testutil::ScratchDir dir;
#ifdef _WIN32
  const std::string path = dir.File("bytes.cfg");
#else
  const std::string path = dir.File("caf\xC3\xA9 \xFF.cfg");
#endif
  const std::string value = "720 caf\xC3\xA9 \xFF\xFE \xE2\x82 \x01 \x7F end";
  testutil::WriteBytes(path, "[MP4V Settings]\nwidth = " + value + "\n; caf\xC3\xA9\n");
  const Outcome r = RunTool({"check", "--json", path});
  EXPECT_EQ(r.status, 1);
  FlatJson json;
  ASSERT_TRUE(json.Read(r.out)) << r.out;
#ifndef _WIN32
  EXPECT_EQ(json.Get("file"), dir.File("caf\xC3\xA9 \xC3\xBF.cfg"));
#endif
  EXPECT_EQ(json.Get("findings.0.line"), "2");
  EXPECT_EQ(json.Get("findings.0.text"),
            "width = 720 caf\xC3\xA9 \xC3\xBF\xC3\xBE \xC3\xA2\xC2\x82 \x01 \x7F end");
  // Control characters, DEL among them, are escaped, never written raw.
  EXPECT_TRUE(Contains(r.out, " \\u0001 \\u007f end")) << r.out;
  EXPECT_FALSE(Contains(r.out, "\x7F")) << r.out;
  // A display text cut to its width never splits a character.
  EXPECT_EQ(mp4vcfg::DisplayLine("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4), "\xC3\xA9...");
  EXPECT_EQ(mp4vcfg::DisplayLine("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4),
            "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

// Rates too large for a double load as infinity: equal in two files they
// agree, of opposite signs they differ; the JSON stays JSON either way.
TEST(Mp4vcfgDiff, InfiniteRatesInJson) {
  testutil::ScratchDir dir;
  const std::string a = dir.File("a.cfg");
  const std::string b = dir.File("b.cfg");
  testutil::WriteBytes(a, "[MP4V Settings]\nframe_rate=1e999\n");
  for (const char* rate : {"1e999", "-1e999"}) {
    testutil::WriteBytes(b, std::string("[MP4V Settings]\nframe_rate=") + rate + "\n");
    const Outcome r = RunTool({"diff", "--json", a, b});
    ASSERT_EQ(r.status, rate[0] == '-' ? 1 : 0) << r.err;
    FlatJson json;
    ASSERT_TRUE(json.Read(r.out)) << r.out;
    EXPECT_EQ(json.Get("differences.frame_rate.0") != "<missing>", rate[0] == '-') << r.out;
  }
}

// UTF-16 text with a byte-order mark is refused by the save, so check and
// set say a save cannot write it (2) and leave it, and get and show say in
// words, not the system's, why they cannot read it; without a mark, the save
// would add 8-bit lines to it: one finding, text lost (1). A line of zero
// bytes in 8-bit text is no UTF-16.
TEST(Mp4vcfgCheck, Utf16TextIsNamed) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("wide.cfg");
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF", ""}) {
    SCOPED_TRACE(testing::PrintToString(std::string(mark)));
    std::string wide = mark;
    for (char c : std::string("[MP4V Settings]\r\nwidth=720\r\n")) {
      wide.push_back(mark[0] == '\xFE' ? '\0' : c);
      wide.push_back(mark[0] == '\xFE' ? c : '\0');
    }
    testutil::WriteBytes(path, wide);
    const Outcome check = RunTool({"check", path});
    const Outcome set = RunTool({"set", path, "width=640"});
    if (*mark != '\0') {
      EXPECT_EQ(check.status, 2);
      EXPECT_EQ(check.err, "mp4vcfg: " + path +
                               ": a save does not write the file: it is UTF-16 text, not "
                               "8-bit text; it is left as it is\n");
      EXPECT_EQ(set.status, 2);
      EXPECT_EQ(set.err, check.err);
      for (const std::vector<std::string>& args :
           {std::vector<std::string>{"get", path, "width"}, {"show", path}}) {
        const Outcome read = RunTool(args);
        EXPECT_EQ(read.status, 2) << args[0];
        EXPECT_EQ(read.err, "mp4vcfg: " + path +
                                ": cannot read the file: it is UTF-16 text, not 8-bit text\n")
            << args[0];
      }
    } else {
      const Checked c = CheckFile(path);
      EXPECT_EQ(c.status, 1);
      EXPECT_EQ(c.lines, std::vector<size_t>{1});
      EXPECT_TRUE(Contains(check.out, "UTF-16 text")) << check.out;
      EXPECT_EQ(set.status, 1);
    }
    EXPECT_EQ(testutil::ReadBytes(path), wide);
  }
  const std::string zeros = "[MP4V Settings]\nwidth=720\n" + std::string(14, '\0') + "\n";
  testutil::WriteBytes(path, zeros);
  const Outcome check = RunTool({"check", path});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_FALSE(Contains(check.out, "UTF-16")) << check.out;
}

// The dry run writes nothing, and its diff applied to the file gives
// exactly what the real save then writes.
TEST(Mp4vcfgSet, DryRunShowsExactlyWhatTheSaveWrites) {
  const std::string losing = std::string(kLosingLines[0]) + "\n" + kLosingLines[2] + "\n";
  const std::string files[] = {
      "",  // no file: the save creates it
      "# preset\n[MP4V Settings]\nwidth = 352 # CIF\n[Other]\nx=1\n",
      "[MP4V Settings]\r\nheight=576\r\nno_end = true",
      "\xEF\xBB\xBF[MP4V Settings]\nwidth=1\n",
      "[MP4V Settings]\n" + losing,
  };
  for (const std::string& before : files) {
    SCOPED_TRACE(before);
    testutil::ScratchDir dir;
    const std::string path = dir.File("dry.cfg");
    if (!before.empty()) testutil::WriteBytes(path, before);
    const Outcome dry =
        RunTool({"set", path, "width=720", "frame_rate=25", "--dry-run"});
    // As set would: it refuses the file whose values lose text.
    ASSERT_EQ(dry.status, Contains(before, losing) ? 1 : 0) << dry.err;
    EXPECT_EQ(testutil::Exists(path), !before.empty());
    if (!before.empty()) {
      EXPECT_EQ(testutil::ReadBytes(path), before);
    }
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), before.empty() ? 0u : 1u);
    EXPECT_TRUE(Contains(dry.out, "--- " + path + "\n+++ " + path + "\n")) << dry.out;

#ifndef _WIN32
    // The system's patch takes the diff as it stands: every hunk header's
    // line counts must be right.
    const std::string copy = dir.File("copy.cfg");
    const std::string diff = dir.File("dry.diff");
    testutil::WriteBytes(copy, before);
    testutil::WriteBytes(diff, dry.out);
    const std::string command = "patch --quiet --binary " + copy + " < " + diff;
    ASSERT_EQ(std::system(command.c_str()), 0) << dry.out;
#endif
    const Outcome real = RunTool({"set", path, "width=720", "frame_rate=25", "--force"});
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(testutil::ApplyUnifiedDiff(before, dry.out), testutil::ReadBytes(path));
#ifndef _WIN32
    EXPECT_EQ(testutil::ReadBytes(copy), testutil::ReadBytes(path));
    std::remove(copy.c_str());
    std::remove(diff.c_str());
#endif
    // Nothing to change: an empty diff.
    EXPECT_EQ(RunTool({"set", path, "width=720", "--dry-run"}).out, "");
  }
}

TEST(Mp4vcfgSet, RefusesToLoseTextUnlessForced) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("hand.cfg");
  const std::string before =
      "; hand-written notes\n[MP4V Settings]\nwidth = 352\nheight=#576\n";
  testutil::WriteBytes(path, before);
  const Outcome refused = RunTool({"set", path, "width=720"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  // The note on line 1 is kept as it stands; the setting on line 4 is
  // rewritten and loses its "#576".
  EXPECT_FALSE(Contains(refused.err, path + ":1: ")) << refused.err;
  EXPECT_TRUE(Contains(refused.err, path + ":4: ")) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "--force")) << refused.err;
  EXPECT_EQ(testutil::ReadBytes(path), before);

  const Outcome forced = RunTool({"set", path, "width=720", "--force"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(Lines(RunTool({"get", path, "width"}).out), std::vector<std::string>{"720"});
}

// The integrator's shared file: after "set FILE width=720", every line but
// the settings' own is there byte for byte, in order (the recent-files list,
// "#" inside a value, indentation and trailing blanks, ";" comments,
// continuation lines, a line of 600 characters and more, a header without
// "]"); the save wrote the lines of the width and of the rate (as the ten
// decimals a file holds) and added the missing settings.
TEST(Mp4vcfgSet, KeepsEveryLineOfAnotherProgram) {
  const std::string before =
      testutil::ReadBytes(std::string(MP4V_PEER_FILES) + "/integrator.cfg");
  ASSERT_NE(before.find("[broken\n"), std::string::npos);
  testutil::ScratchDir dir;
  const std::string path = dir.File("shared.cfg");
  testutil::WriteBytes(path, before);
  const Outcome r = RunTool({"set", path, "width=720"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> kept;
  for (const std::string& line : Lines(before)) {
    if (!line.empty() && line != "width = 640" && line != "frame_rate = 25") {
      kept.push_back(line);
    }
  }
  std::vector<std::string> saved;
  size_t settings = 0;
  for (const std::string& line : Lines(testutil::ReadBytes(path))) {
    if (line.empty()) continue;
    const bool setting = line.size() > 34 && line.compare(31, 3, " = ") == 0 &&
                         mp4v_host::FindSettingKey(Words(line)[0]) != nullptr;
    if (setting && std::find(kept.begin(), kept.end(), line) == kept.end()) {
      ++settings;
    } else {
      saved.push_back(line);
    }
  }
  EXPECT_EQ(saved, kept);
  EXPECT_EQ(settings, 55u);  // width, frame_rate and the 53 the section lacked
  EXPECT_TRUE(Contains(testutil::ReadBytes(path), "width                           = 720"));
}

// The words of a text as a person reads them: runs of characters between
// blanks, tabs and line ends, with "=", "#" and a zero byte words of their
// own (so a lost "#" or zero byte counts as a lost word).
std::multiset<std::string> TextWords(const std::string& text) {
  std::multiset<std::string> words;
  std::string word;
  for (char c : text) {
    const bool own = c == '=' || c == '#' || c == '\0';
    if (own || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!word.empty()) words.insert(word);
      word.clear();
      if (own) words.insert(std::string(1, c));
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.insert(word);
  return words;
}

// set judges the record it will save, changes included: on files whose
// settings lines carry extra text, either it refuses (1) and the file stays
// as it was, or it saves (0) and no word of the file is lost but the
// changed setting's old value. set --dry-run exits as set does. A file
// whose settings' lines differ only in white space (tabs before comments
// among it) is saved; one whose changed setting sits in the second part of
// a long line is refused, since the save splits that line.
TEST(Mp4vcfgSet, JudgesTheRecordItSaves) {
  struct Key {
    const char* name;
    const char* values[2];  // values as a save writes them
  };
  static const Key kKeys[] = {{"width", {"720", "640"}},
                              {"height", {"576", "480"}},
                              {"quality", {"5", "7"}},
                              {"num_threads", {"0", "4"}},
                              {"frame_rate", {"25.0000000000", "50.0000000000"}}};
  // Rates besides those: one no text of ten fraction digits holds (its line
  // stays as it stands), and two that load as 0.
  static const char* const kOddRates[] = {"1e400", "inf", "nan"};
  static const char* const kLeads[] = {"", "  ", "\t"};
  static const char* const kAfterKey[] = {"", " x", " two words"};
  static const char* const kSeparators[] = {"=", " = ", "  =  ", "\t=\t"};
  static const std::string kExtras[] = {"", "", "", " #", " # note", " ; note", " px", "px",
                                        std::string("\0junk", 5), " x y", "#", "\t# note",
                                        "\t#\ttabbed", " \t"};
  // What of these a save only lays out anew: a line of them loses no text
  // whether its setting changes or not.
  auto layout_only = [](const std::string& extra) {
    return extra.empty() || extra == " # note" || extra == "\t# note" || extra == "\t#\ttabbed" ||
           extra == " \t";
  };
  static const char* const kOthers[] = {"; a comment", "[Other]", "path=C:\\a#1",
                                        "  continued", "bare"};
  // The first part of a long line, whose second part holds a setting.
  static const std::string kFirstParts[] = {std::string(511, '0'), "#" + std::string(510, 'x')};
  std::mt19937 rng(26);
  testutil::ScratchDir dir;
  const std::string path = dir.File("s.cfg");
  int refused = 0, saved = 0, clean = 0, split = 0;
  for (int round = 0; round < 400; ++round) {
    std::string before = "[MP4V Settings]\n";
    std::map<std::string, std::string> old_values;  // as the first line holds it
    std::map<std::string, std::string> old_words;   // its first word ("720px")
    // Of each setting's first line in the settings section: whether a save
    // that changes it loses no text, whether one that keeps it loses none,
    // and whether it is the second part of a long line.
    struct First {
      bool clean_changed;
      bool clean_kept;
      bool second_part;
    };
    std::map<std::string, First> first_lines;
    bool in_settings = true;
    for (int i = static_cast<int>(rng() % 6); i >= 0; --i) {
      const Key& key = kKeys[rng() % std::size(kKeys)];
      std::string value = key.values[rng() % 2];
      if (rng() % 4 == 0) {
        const char* other = kOthers[rng() % std::size(kOthers)];
        in_settings = in_settings && std::string(other) != "[Other]";
        before += std::string(other) + "\n";
        continue;
      }
      if (std::string(key.name) == "frame_rate" && rng() % 3 == 0) {
        value = kOddRates[rng() % std::size(kOddRates)];
      }
      // A setting in the second part of a long line carries no text a
      // save would drop: what the save does to the line is its split.
      const std::string first_part =
          rng() % 6 == 0 ? kFirstParts[rng() % std::size(kFirstParts)] : std::string();
      const std::string after_key = first_part.empty() ? kAfterKey[rng() % 3] : "";
      const std::string separator = kSeparators[rng() % 4];
      const std::string extra =
          first_part.empty() ? kExtras[rng() % std::size(kExtras)] : rng() % 2 ? " # note" : "";
      old_values.emplace(key.name, value);
      old_words.emplace(key.name, value + extra.substr(0, extra.find_first_of(std::string(" \t#\0", 4))));
      before += first_part + kLeads[rng() % 3] + key.name + after_key + separator + value +
                extra + "\n";
      if (!in_settings || first_lines.count(key.name) != 0) continue;
      const bool loads_as_zero = value == "inf" || value == "nan";
      // Kept as it stands: its value text is the one a save writes.
      const bool as_written = separator.find('\t') == std::string::npos &&
                              (extra.empty() || extra == " # note") && !loads_as_zero;
      First first;
      first.clean_changed = first_part.empty() && after_key.empty() && layout_only(extra);
      first.clean_kept = first_part.empty()
                             ? (after_key.empty() || as_written) && layout_only(extra) &&
                                   !loads_as_zero
                             : as_written;
      first.second_part = !first_part.empty();
      first_lines.emplace(key.name, first);
    }
    const Key& key = kKeys[rng() % std::size(kKeys)];
    const auto old = old_values.find(key.name);
    const std::string value =
        old != old_values.end() && old->second == key.values[0] ? key.values[1] : key.values[0];
    const std::string assignment = std::string(key.name) + "=" + value;
    SCOPED_TRACE(testing::PrintToString(before) + " " + assignment);
    // What the save must do, where the lines above decide it.
    bool all_clean = true;
    bool changes_a_second_part = false;
    for (const auto& [name, first] : first_lines) {
      const bool changed = name == key.name;
      all_clean = all_clean && (changed ? first.clean_changed : first.clean_kept);
      changes_a_second_part = changes_a_second_part || (changed && first.second_part);
    }

    testutil::WriteBytes(path, before);
    const Outcome dry = RunTool({"set", path, assignment, "--dry-run"});
    ASSERT_EQ(testutil::ReadBytes(path), before);
    const Outcome set = RunTool({"set", path, assignment});
    EXPECT_EQ(dry.status, set.status) << set.err;
    if (all_clean) {
      ++clean;
      EXPECT_EQ(set.status, 0) << set.err;
    }
    if (changes_a_second_part) {
      ++split;
      EXPECT_EQ(set.status, 1) << set.err;
    }
    const std::string after = testutil::ReadBytes(path);
    if (set.status == 1) {
      ++refused;
      EXPECT_EQ(after, before);
      EXPECT_TRUE(Contains(set.err, "nothing was written")) << set.err;
      continue;
    }
    ASSERT_EQ(set.status, 0) << set.err;
    ++saved;
    std::multiset<std::string> lost = TextWords(before);
    for (const std::string& word : TextWords(after)) {
      const auto at = lost.find(word);
      if (at != lost.end()) lost.erase(at);
    }
    if (old != old_values.end() && old->second != value) {
      const auto at = lost.find(old_words[key.name]);
      if (at != lost.end()) lost.erase(at);
    }
    EXPECT_TRUE(lost.empty()) << testing::PrintToString(lost) << "\n" << after;
  }
  // Every outcome occurs.
  EXPECT_GT(refused, 30);
  EXPECT_GT(saved, 30);
  EXPECT_GT(clean, 30);
  EXPECT_GT(split, 5);
}

TEST(Mp4vcfgDiff, ListsTheSettingsThatDiffer) {
  testutil::ScratchDir dir;
  const std::string a = dir.File("a.cfg");
  const std::string b = dir.File("b.ini");
  testutil::WriteBytes(a, "[MP4V Settings]\nwidth=720\nheight=576\nframe_rate=25\n");
  testutil::WriteBytes(b, "[mp4v settings]\nWIDTH=0x2D0\nheight=480\nquality=0\n");
  const Outcome text = RunTool({"diff", a, b});
  ASSERT_EQ(text.status, 1) << text.err;  // as diff and cmp: they differ
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 3u) << text.out;  // heading, height, frame_rate
  EXPECT_EQ(Words(lines[1]), (std::vector<std::string>{"height", "576", "480"}));
  EXPECT_EQ(Words(lines[2]),
            (std::vector<std::string>{"frame_rate", "25", "0", "(default)"}));

  const Outcome json = RunTool({"diff", "--json", a, b});
  EXPECT_EQ(json.status, 1);
  FlatJson parsed;
  ASSERT_TRUE(parsed.Read(json.out)) << json.out;
  EXPECT_EQ(parsed.Get("differences.height.0"), "576");
  EXPECT_EQ(parsed.Get("differences.height.1"), "480");
  EXPECT_EQ(parsed.Get("differences.width.0"), "<missing>");
  const Outcome same = RunTool({"diff", a, a});
  EXPECT_EQ(same.status, 0);
  EXPECT_TRUE(Contains(same.out, "agree"));
  // The same settings spelled another way agree as well.
  const std::string c = dir.File("c.cfg");
  testutil::WriteBytes(c, "[MP4V Settings]\nwidth=0x2D0\nheight= 576\nframe_rate=25.0\n");
  EXPECT_EQ(RunTool({"diff", a, c}).status, 0);
  EXPECT_EQ(RunTool({"diff", "--json", a, c}).status, 0);
}

// Random edits of random texts: applying the diff gives the new text. Lines
// of a few letters repeat often, which is what makes a diff go wrong.
TEST(UnifiedDiffTest, AppliedItGivesTheNewText) {
  std::mt19937 rng(99);
  auto random_text = [&](size_t lines) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
      text += static_cast<char>('a' + rng() % 4);
      text += rng() % 5 == 0 ? "\r\n" : "\n";
    }
    if (rng() % 3 == 0 && !text.empty()) text.pop_back();  // no final line end
    return text;
  };
  for (int round = 0; round < 2000; ++round) {
    const std::string before = random_text(rng() % 30);
    std::string after = before;
    for (int edits = rng() % 4; edits > 0; --edits) {
      const size_t at = after.empty() ? 0 : rng() % after.size();
      if (rng() % 2 == 0) {
        after.insert(at, random_text(1 + rng() % 3));
      } else {
        after.erase(at, rng() % 8);
      }
    }
    const std::string diff = mp4vcfg::UnifiedDiff("f.cfg", before, after);
    ASSERT_EQ(diff.empty(), before == after);
    ASSERT_EQ(testutil::ApplyUnifiedDiff(before, diff), after) << before << "\n--\n" << diff;
  }
}

// Texts of many thousand lines, changed all through (as a save that puts an
// empty line before every header changes them) or in a few places: applying
// the diff still gives the new text, and a few changed lines give hunks
// around those alone.
TEST(UnifiedDiffTest, ALongTextIsDiffedAroundItsChanges) {
  std::mt19937 rng(35);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    std::string before, after;
    for (size_t i = 0; i < 20000; ++i) {
      // Few distinct lines in some rounds, which repeat all the time.
      const std::string line = round % 2 == 0 ? "key" + std::to_string(i) + " = 1\n"
                                              : std::string(1, 'a' + rng() % 3) + "\n";
      before += line;
      const uint32_t edit = rng() % (round < 4 ? 9 : 5000);
      if (edit == 0) after += "\n";                   // a line added
      if (edit == 1) continue;                        // one dropped
      after += edit == 2 ? "changed\n" : line;        // one changed
    }
    const std::string diff = mp4vcfg::UnifiedDiff("f.cfg", before, after);
    ASSERT_EQ(testutil::ApplyUnifiedDiff(before, diff), after);
    if (round >= 4) {
      size_t hunks = 0, lines = 0;
      for (size_t at = 0; at < diff.size(); at = diff.find('\n', at) + 1) {
        hunks += diff.compare(at, 3, "@@ ") == 0;
        ++lines;
      }
      EXPECT_LE(hunks, 20u);
      EXPECT_LE(lines, 2 + hunks * 10);  // three lines of context each side
    }
  }
}

// ---- set and edit save through the module's update request ----------------

namespace {

// set loads the module --module names and saves through it: a module that
// cannot be loaded fails the command before anything is read or written.
TEST(Mp4vcfgSetThroughTheModule, ANonexistentModuleFailsTheSet) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  testutil::WriteBytes(path, "[MP4V Settings]\nwidth = 352\n");
  for (const bool dry_run : {false, true}) {
    SCOPED_TRACE(dry_run ? "--dry-run" : "a save");
    std::vector<std::string> args = {"--module", dir.File("nowhere") + "/x.so", "set", path,
                                     "width=720"};
    if (dry_run) args.push_back("--dry-run");
    const Outcome r = RunTool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "x.so")) << r.err;
    EXPECT_EQ(testutil::ReadBytes(path), "[MP4V Settings]\nwidth = 352\n");
  }
  EXPECT_EQ(RunTool({"--module", dir.File("nowhere") + "/x.so", "set", dir.File("new.cfg"),
                     "width=720"}).status,
            2);
  EXPECT_FALSE(testutil::Exists(dir.File("new.cfg")));
}

// The causes a failed save names, for the codes the system gives them
// (compared with the system's own values, not with the module's names).
TEST(Mp4vcfgSetThroughTheModule, AFailedSaveNamesItsCause) {
  struct Case {
    uint32_t code;
    const char* says;
  };
  const Case cases[] = {
#ifdef _WIN32
      {ERROR_LOCK_VIOLATION, "another save of this file held its turn past the 5-second wait"},
      {ERROR_BUSY, "other writers kept changing the file under all 8 attempts"},
      {ERROR_SHARING_VIOLATION, "another program holds the file open without sharing it"},
      {ERROR_OPERATION_ABORTED, "this change is saved, but another program wrote into the file"},
#else
      {EWOULDBLOCK, "another save of this file held its turn past the 5-second wait"},
      {EBUSY, "other writers kept changing the file under all 8 attempts"},
      {ECANCELED, "this change is saved, but another program wrote into the file"},
#endif
  };
  for (const Case& c : cases) {
    const std::string message = mp4vcfg::SaveFailureMessage("enc.cfg", c.code);
    EXPECT_EQ(message.rfind("enc.cfg: ", 0), 0u) << message;
    EXPECT_TRUE(Contains(message, c.says)) << message;
    EXPECT_TRUE(Contains(message, mp4vcfg::SystemMessage(c.code))) << message;
  }
  // None of those words for another code.
  const std::string other = mp4vcfg::SaveFailureMessage("enc.cfg", kAccessDenied);
  for (const Case& c : cases) EXPECT_FALSE(Contains(other, c.says)) << other;
#ifdef _WIN32
  // A character the code page lacks reaches the program as '?'.
  EXPECT_TRUE(Contains(mp4vcfg::SaveFailureMessage("caf?.cfg", ERROR_INVALID_NAME),
                       "the name cannot be written in this code page"));
#else
  // A folder that may be written but not read (as an unprivileged user:
  // root reads every folder).
  testutil::ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string folder = dir.File("writeonly");
  ASSERT_EQ(mkdir(folder.c_str(), 0300), 0);
  const bool dropped = testutil::RunInChildProcess([] {
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
  });
  if (!dropped) GTEST_SKIP() << "cannot become the unprivileged user 65534 (setuid refused)";
  const bool says = testutil::RunInChildProcess([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return Contains(mp4vcfg::SaveFailureMessage(folder + "/enc.cfg", EACCES),
                    "the folder cannot be read");
  });
  EXPECT_TRUE(says);
  EXPECT_FALSE(Contains(mp4vcfg::SaveFailureMessage(dir.File("enc.cfg"), EACCES),
                        "the folder cannot be read"));
#endif
}

// Another writer rewrites the file without pause while set saves: every
// attempt of the update finds it changed, and set says so, naming the cause,
// with the file holding the other writer's text, not set's change.
TEST(Mp4vcfgSetThroughTheModule, AFileThatKeptChangingIsNamedAndLeftAsTheyWroteIt) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("busy.cfg");
  testutil::WriteBytes(path, "[Other]\nstamp = 0\n");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (unsigned i = 1; !stop; ++i) {
      const std::string temporary = dir.File("w.tmp");
      testutil::WriteBytes(temporary, "[Other]\nstamp = " + std::to_string(i) + "\n");
      // On Windows the rename fails while a reader has the file open; the
      // next one goes in.
      std::error_code failed;
      std::filesystem::rename(temporary, path, failed);
    }
  });
  Outcome r{0, "", ""};
  for (int round = 0; round < 3 && r.status != 2; ++round) {
    r = RunTool({"set", path, "width=720"});
  }
  stop = true;
  writer.join();
  ASSERT_EQ(r.status, 2) << "set saved under a writer that never paused: " << r.err;
  EXPECT_TRUE(Contains(r.err, "other writers kept changing the file")) << r.err;
  EXPECT_TRUE(Contains(r.err, "left as it was")) << r.err;
  EXPECT_FALSE(Contains(testutil::ReadBytes(path), "width")) << testutil::ReadBytes(path);
}

// --dry-run --force on a file whose save loses text: the diff of the save
// that --force would make, status 0, the file untouched; without --force,
// status 1.
TEST(Mp4vcfgSetThroughTheModule, DryRunWithForceShowsTheSaveThatLosesText) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("hand.cfg");
  const std::string before = "; notes\n[MP4V Settings]\nwidth = 352\nheight=#576\n";
  testutil::WriteBytes(path, before);
  const Outcome forced = RunTool({"set", path, "width=720", "--dry-run", "--force"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_TRUE(Contains(forced.out, "-height=#576")) << forced.out;
  EXPECT_TRUE(Contains(forced.out, "+width")) << forced.out;
  EXPECT_FALSE(Contains(forced.err, "refuses")) << forced.err;
  const Outcome refused = RunTool({"set", path, "width=720", "--dry-run"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.err, "refuses it without --force")) << refused.err;
  EXPECT_EQ(testutil::ReadBytes(path), before);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

// check --json says "loses_text": false for a file whose findings lose no
// text, and exits 0.
TEST(Mp4vcfgSetThroughTheModule, CheckJsonSaysNoTextIsLostWhenNoneIs) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("hex.cfg");
  testutil::WriteBytes(path, "[MP4V Settings]\nwidth = 0x10\n");
  const Outcome r = RunTool({"check", "--json", path});
  EXPECT_EQ(r.status, 0) << r.err;
  FlatJson json;
  ASSERT_TRUE(json.Read(r.out)) << r.out;
  EXPECT_EQ(json.Get("loses_text"), "false");
  EXPECT_EQ(json.Get("findings.0.line"), "2");
  EXPECT_EQ(json.Get("findings.0.loses_text"), "false");
}

// get of a key the file lacks prints what a record the file leaves alone
// holds, 0, beside the keys it has; the file is read, not written.
TEST(Mp4vcfgSetThroughTheModule, GetOfAKeyTheFileLacks) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("some.cfg");
  testutil::WriteBytes(path, "[MP4V Settings]\nwidth = 352\nframe_rate = 25\n");
  const Outcome r = RunTool({"get", path, "height", "width", "quality", "frame_rate"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"0", "352", "0", "25"}));
  EXPECT_EQ(testutil::ReadBytes(path), "[MP4V Settings]\nwidth = 352\nframe_rate = 25\n");
}

}  // namespace
