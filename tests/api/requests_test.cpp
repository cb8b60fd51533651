#include "api/requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/module.h"
#include "config/document.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "settings/key_table.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WithLineEnds;
using testutil::WriteBytes;

// The requests as a host reaches them: through the table.
int32_t Load(MP4VSettings* s, const std::string& name) {
  auto fn = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  return fn(s, name.c_str());
}
int32_t Save(const MP4VSettings* s, const std::string& name) {
  auto fn = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  return fn(s, name.c_str());
}

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

bool IsFieldByte(size_t offset) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    size_t width = std::strcmp(row.type_name, "dbl") == 0 ? 8 : 4;
    if (offset >= row.offset && offset < row.offset + width) return true;
  }
  return false;
}

MP4VSettings ExampleRecord() {
  MP4VSettings s;
  std::memset(&s, 0, sizeof s);
  s.width = 720;
  s.height = 576;
  s.frame_rate = 29.97;
  return s;
}

// The file of the example record: the placeholder line, an empty line, the
// header and 56 aligned entries.
std::string ExampleFile(const char* rate_text) {
  std::string text = "# config file\n\n[MP4V Settings]\n";
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    std::string key = row.key;
    std::string value = key == "width"        ? "720"
                        : key == "height"     ? "576"
                        : key == "frame_rate" ? rate_text
                                              : "0";
    text += key + std::string(31 - key.size(), ' ') + " = " + value + "\n";
  }
  return text;
}

TEST(RequestsTest, WorkedExampleSaveLoadSave) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  MP4VSettings record = ExampleRecord();
  const MP4VSettings before = record;
  ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
  EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);

  const std::string first = ReadBytes(path);
  EXPECT_EQ(first, WithLineEnds(ExampleFile("29.9700000000")));
  // Spot checks of the literal layout.
  EXPECT_NE(first.find(WithLineEnds("\nprofile_id                      = 0\n")),
            std::string::npos);
  EXPECT_NE(first.find(WithLineEnds("\nframe_rate                      = 29.9700000000\n")),
            std::string::npos);
  size_t lines = 0;
  for (char c : first) lines += c == '\n';
  EXPECT_EQ(lines, 59u);

  MP4VSettings loaded;
  std::memset(&loaded, 0x77, sizeof loaded);
  const MP4VSettings untouched = loaded;
  ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
  EXPECT_EQ(loaded.width, 720);
  EXPECT_EQ(loaded.height, 576);
  EXPECT_EQ(loaded.profile_id, 0);
  EXPECT_EQ(loaded.num_threads, 0);
  EXPECT_EQ(Bits(loaded.frame_rate), kFrameRate2997Bits);
  const auto* a = reinterpret_cast<const unsigned char*>(&loaded);
  const auto* b = reinterpret_cast<const unsigned char*>(&untouched);
  for (size_t i = 0; i < sizeof loaded; ++i) {
    if (!IsFieldByte(i)) {
      ASSERT_EQ(a[i], b[i]) << "byte " << i;
    }
  }

  ASSERT_EQ(Save(&loaded, path), MP4V_STATUS_OK);
  EXPECT_EQ(ReadBytes(path), WithLineEnds(ExampleFile("29.9700299700")));
  // Loading never writes the file.
  ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
  EXPECT_EQ(ReadBytes(path), WithLineEnds(ExampleFile("29.9700299700")));
}

TEST(RequestsTest, LoadChangesOnlyTheFieldsBytes) {
  ScratchDir dir;
  const std::string path = dir.File("full.ini");
  MP4VSettings source = ExampleRecord();
  ASSERT_EQ(Save(&source, path), MP4V_STATUS_OK);
  unsigned char record[sizeof(MP4VSettings) + 64];
  std::memset(record, 0xAA, sizeof record);
  ASSERT_EQ(Load(reinterpret_cast<MP4VSettings*>(record), path), MP4V_STATUS_OK);
  for (size_t i = 0; i < sizeof record; ++i) {
    if (i < sizeof(MP4VSettings) && IsFieldByte(i)) continue;
    ASSERT_EQ(record[i], 0xAA) << "byte " << i;
  }
  EXPECT_EQ(reinterpret_cast<MP4VSettings*>(record)->width, 720);
}

TEST(RequestsTest, IntegerFieldsSurviveSaveAndLoadBitForBit) {
  ScratchDir dir;
  const std::string path = dir.File("x.cfg");
  std::mt19937 rng(99);
  const int32_t extremes[] = {INT32_MIN, INT32_MAX, -1, 0, 1, INT32_MIN + 1};
  for (int round = 0; round < 8; ++round) {
    MP4VSettings out;
    std::memset(&out, 0, sizeof out);
    size_t k = 0;
    for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
      if (std::strcmp(row.type_name, "int") != 0) continue;
      int32_t v = round < 2 ? extremes[(k + round) % 6]
                            : static_cast<int32_t>(rng());
      std::memcpy(reinterpret_cast<char*>(&out) + row.offset, &v, 4);
      ++k;
    }
    ASSERT_EQ(Save(&out, path), MP4V_STATUS_OK);
    MP4VSettings in;
    std::memset(&in, 0x3C, sizeof in);
    ASSERT_EQ(Load(&in, path), MP4V_STATUS_OK);
    for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
      if (std::strcmp(row.type_name, "int") != 0) continue;
      ASSERT_EQ(std::memcmp(reinterpret_cast<char*>(&in) + row.offset,
                            reinterpret_cast<char*>(&out) + row.offset, 4),
                0)
          << row.key;
    }
  }
}

TEST(RequestsTest, SnappedRatesRoundTripThroughTheText) {
  ScratchDir dir;
  const std::string path = dir.File("r.cfg");
  for (uint64_t bits : {kFrameRate23976Bits, kFrameRate2997Bits, kFrameRate5994Bits}) {
    MP4VSettings s{};
    std::memcpy(&s.frame_rate, &bits, 8);
    ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
    MP4VSettings back{};
    ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
    EXPECT_EQ(Bits(back.frame_rate), bits);
  }
}

struct NameCase {
  const char* name;
  bool accepted;
};

class FileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, ChecksTheRestAfterTheLastDot) {
  ScratchDir dir;
  const std::string path = dir.File(GetParam().name);
  MP4VSettings s = ExampleRecord();
  EXPECT_EQ(MP4VConfigCheckFileName(&s, path.c_str()), GetParam().accepted);
  if (!GetParam().accepted) {
    EXPECT_EQ(Save(&s, path), MP4V_STATUS_FAILED);
    MP4VSettings before = s;
    EXPECT_EQ(Load(&s, path), MP4V_STATUS_FAILED);
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);  // not even snapped
    EXPECT_TRUE(testutil::ListDir(dir.path()).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNameTest,
    testing::Values(NameCase{"enc.cfg", true}, NameCase{"enc.ini", true},
                    NameCase{"x.y.ini", true}, NameCase{".cfg", true},
                    NameCase{"enc.CFG", false}, NameCase{"enc.Ini", false},
                    NameCase{"enc.cfg.bak", false}, NameCase{"enc.cfgx", false},
                    NameCase{"enc.", false}, NameCase{"enc", false},
                    NameCase{"enc.cfg ", false}));

TEST(FileNameTest, DirectoriesWithDotsAndNullArguments) {
  MP4VSettings s{};
  EXPECT_TRUE(MP4VConfigCheckFileName(&s, "a.d/b.e/enc.cfg"));
  EXPECT_FALSE(MP4VConfigCheckFileName(&s, "a.cfg/enc"));
  EXPECT_FALSE(MP4VConfigCheckFileName(nullptr, "enc.cfg"));
  EXPECT_FALSE(MP4VConfigCheckFileName(&s, nullptr));
  EXPECT_EQ(Load(nullptr, "enc.cfg"), MP4V_STATUS_FAILED);
  EXPECT_EQ(Save(nullptr, "enc.cfg"), MP4V_STATUS_FAILED);
  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  EXPECT_EQ(load(&s, nullptr), MP4V_STATUS_FAILED);
}

TEST(RequestsTest, LoadOfMissingOrHeaderOnlyFileBindsNothingButSnaps) {
  ScratchDir dir;
  WriteBytes(dir.File("header.cfg"), "[MP4V Settings]\n");
  WriteBytes(dir.File("one.cfg"), "[MP4V Settings]\nwidth=640\n");
  for (const char* name : {"missing.cfg", "header.cfg"}) {
    MP4VSettings s;
    std::memset(&s, 0x42, sizeof s);
    s.frame_rate = 29.97;
    MP4VSettings before = s;
    EXPECT_EQ(Load(&s, dir.File(name)), MP4V_STATUS_OK);
    EXPECT_EQ(Bits(s.frame_rate), kFrameRate2997Bits);
    s.frame_rate = before.frame_rate;
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << name;
  }
  EXPECT_FALSE(testutil::Exists(dir.File("missing.cfg")));
  MP4VSettings s;
  std::memset(&s, 0x42, sizeof s);
  s.frame_rate = 59.94;
  MP4VSettings before = s;
  EXPECT_EQ(Load(&s, dir.File("one.cfg")), MP4V_STATUS_OK);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(Bits(s.frame_rate), kFrameRate5994Bits);
  s.width = before.width;
  s.frame_rate = before.frame_rate;
  EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);
}

TEST(RequestsTest, OtherCapitalsAndOtherContentAreKept) {
  ScratchDir dir;
  const std::string path = dir.File("mixed.cfg");
  WriteBytes(path,
             "# preamble\n[Other]\nwidth = 1 # not ours\n"
             "[mp4v settings] # ours\nWIDTH = 320 # px\nheight=240\n"
             "# tail of section\n[Third]\nx=y\n[MP4V Settings]\nquality=9\n");
  MP4VSettings s;
  std::memset(&s, 0, sizeof s);
  ASSERT_EQ(Load(&s, path), MP4V_STATUS_OK);
  EXPECT_EQ(s.width, 320);
  EXPECT_EQ(s.height, 240);
  EXPECT_EQ(s.quality, 9);  // found in the second section of the name
  s.width = 1280;
  s.quality = 3;
  ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
  const std::string saved = ReadBytes(path);
  std::string expected =
      "# preamble\n\n[Other]\nwidth = 1 # not ours\n"
      "\n[mp4v settings] # ours\nWIDTH                           = 1280 # px\n"
      "height=240\n# tail of section\n";
  // Keys the section lacked follow its last line, in table order.
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    std::string key = row.key;
    if (key == "width" || key == "height") continue;
    std::string value = key == "frame_rate" ? "0.0000000000"
                        : key == "quality"  ? "3"
                                            : "0";
    expected += key + std::string(31 - key.size(), ' ') + " = " + value + "\n";
  }
  expected += "\n[Third]\nx=y\n\n[MP4V Settings]\nquality=9\n";
  EXPECT_EQ(saved, WithLineEnds(expected));
  // Saving the same record again gives the same file.
  ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
  EXPECT_EQ(ReadBytes(path), saved);
}

TEST(RequestsTest, FailedSavesAreReportedAndChangeNothing) {
  ScratchDir dir;
  MP4VSettings s = ExampleRecord();
  // A directory that does not exist gets nothing.
  EXPECT_EQ(Save(&s, dir.File("missing") + "/enc.cfg"), MP4V_STATUS_FAILED);
  EXPECT_TRUE(testutil::ListDir(dir.path()).empty());
  // A read-only file is not replaced.
  const std::string ro = dir.File("ro.cfg");
  WriteBytes(ro, "[MP4V Settings]\nwidth=1\n");
  testutil::SetReadOnly(ro, true);
  EXPECT_EQ(Save(&s, ro), MP4V_STATUS_FAILED);
  testutil::SetReadOnly(ro, false);
  EXPECT_EQ(ReadBytes(ro), "[MP4V Settings]\nwidth=1\n");
  // A directory with the name of a settings file is neither read nor
  // replaced.
  testutil::ScratchDir sub;
  const std::string as_dir = sub.File("d.cfg");
  std::string mkdir_target = as_dir;
  ASSERT_TRUE(std::filesystem::create_directory(mkdir_target));
  EXPECT_EQ(Save(&s, as_dir), MP4V_STATUS_FAILED);
  EXPECT_TRUE(std::filesystem::is_directory(as_dir));
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

// The check before a save names a folder of the file's name as such: the
// save could not read it, and would not replace it.
TEST(SaveCheckTest, NamesAFolderOfTheFilesName) {
  ScratchDir dir;
  const std::string folder = dir.File("folder.cfg");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  std::string before = "stale";
  std::string reason;
  bool exists = false;
  EXPECT_EQ(MP4VConfigCheckSave(folder.c_str(), &before, &exists, &reason),
            MP4VSaveCheck::kUnreadable);
  EXPECT_TRUE(exists);
  EXPECT_TRUE(before.empty());
  EXPECT_EQ(reason, "it is a folder or a device, not a file");
}

// An unchanged save of a file whose lines are as long as the reader takes
// them: the values a load gives survive, and a second save changes no byte.
// A value that grows when it is written (25 becomes 25.0000000000) next to a
// long comment moves the comment onto a line of its own instead of pushing
// its tail onto a line the next load would read as an entry.
TEST(RequestsTest, UnchangedSavesOfFullLinesKeepEveryValue) {
  ScratchDir dir;
  const std::string path = dir.File("long.cfg");
  const std::string tail = " width=99999";
  struct Case {
    const char* what;
    std::string line_start;  // the entry up to its comment's "#"
  };
  const Case cases[] = {
      {"rate 25", "frame_rate=25#"},
      {"rate .5", "frame_rate=.5#"},
      {"empty rate", "frame_rate= #"},
      {"empty width", "width= #"},
      {"hex width", "width=0x2D0#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string comment(kConfigLineMax - c.line_start.size() - tail.size(), 'c');
    const std::string line = c.line_start + comment + tail;
    ASSERT_EQ(line.size(), kConfigLineMax);
    WriteBytes(path, "[MP4V Settings]\n" + line + "\nwidth=720\n");
    MP4VSettings first, second;
    std::memset(&first, 0x5A, sizeof first);
    std::memset(&second, 0xA5, sizeof second);
    ASSERT_EQ(Load(&first, path), MP4V_STATUS_OK);
    ASSERT_EQ(Save(&first, path), MP4V_STATUS_OK);
    const std::string once = ReadBytes(path);
    ASSERT_EQ(Load(&second, path), MP4V_STATUS_OK);
    EXPECT_EQ(second.width, first.width);
    EXPECT_EQ(Bits(second.frame_rate), Bits(first.frame_rate));
    EXPECT_NE(second.width, 99999);
    EXPECT_NE(once.find(comment + tail), std::string::npos);  // kept whole
    ASSERT_EQ(Save(&second, path), MP4V_STATUS_OK);
    EXPECT_EQ(ReadBytes(path), once);
  }
}

// The temporary file of a save has a short name of its own: a target whose
// name is as long as the system allows is saved too.
TEST(RequestsTest, SavesUnderTheLongestNameTheSystemTakes) {
  ScratchDir dir;
  // The longest name this directory takes: 255 characters on most systems,
  // fewer where the whole path reaches the system's limit first.
  std::string longest;
  for (size_t length = 5; length <= 300; ++length) {
    const std::string name = std::string(length - 4, 'n') + ".cfg";
    if (!testutil::CanCreateFile(dir.File(name))) break;
    longest = name;
  }
  ASSERT_GE(longest.size(), 200u);
  const std::string path = dir.File(longest);
  WriteBytes(path, "[MP4V Settings]\nwidth=1\n");
  MP4VSettings s = ExampleRecord();
  ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
  MP4VSettings back{};
  ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
  EXPECT_EQ(back.width, 720);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

// The calling thread's last error, where a host reads why a request failed.
uint32_t LastError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

// A code no request reports: left there, it shows that a request set none.
constexpr uint32_t kNoReason = 0xDEAD;

void ForgetLastError() {
#ifdef _WIN32
  SetLastError(kNoReason);
#else
  errno = static_cast<int>(kNoReason);
#endif
}

#ifndef _WIN32
// A path under a regular file ("a/b.cfg" where "a" is a file): no file of
// that name, and none can be made. The check says that the folder is
// missing, not that the file cannot be read; the save fails with ENOTDIR
// and the file "a" keeps its bytes.
TEST(SaveCheckTest, APathUnderAFileHasNoFolder) {
  ScratchDir dir;
  const std::string file = dir.File("a");
  const char kTheFile[] = "[MP4V Settings]\nwidth = 1\n";
  WriteBytes(file, kTheFile);
  const std::string path = file + "/b.cfg";
  std::string before = "stale";
  std::string reason;
  bool exists = true;
  uint32_t code = 0;
  EXPECT_EQ(MP4VConfigCheckSave(path.c_str(), &before, &exists, &reason, &code),
            MP4VSaveCheck::kNotReplaceable);
  EXPECT_FALSE(exists);
  EXPECT_TRUE(before.empty());
  EXPECT_EQ(reason, "its folder does not exist");
  EXPECT_EQ(code, static_cast<uint32_t>(ENOTDIR));
  MP4VSettings record = ExampleRecord();
  ForgetLastError();
  EXPECT_EQ(Save(&record, path), MP4V_STATUS_FAILED);
  EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOTDIR));
  EXPECT_EQ(ReadBytes(file), kTheFile);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}
#endif

// The reasons a failed request leaves, in the platform's codes.
#ifdef _WIN32
constexpr uint32_t kRefused = ERROR_INVALID_NAME;
constexpr uint32_t kNoFile = ERROR_FILE_NOT_FOUND;
constexpr uint32_t kDenied = ERROR_ACCESS_DENIED;
constexpr uint32_t kNoFolder = ERROR_PATH_NOT_FOUND;
constexpr uint32_t kIsAFolder = ERROR_ACCESS_DENIED;  // what opening it for reading says
constexpr uint32_t kUnderAFile = ERROR_PATH_NOT_FOUND;
#else
constexpr uint32_t kRefused = EINVAL;
constexpr uint32_t kNoFile = ENOENT;
constexpr uint32_t kDenied = EACCES;
constexpr uint32_t kNoFolder = ENOENT;
constexpr uint32_t kIsAFolder = EISDIR;  // what reading it says
constexpr uint32_t kUnderAFile = ENOTDIR;
#endif

// Every outcome of a load and a save, as the host's guide states them: the
// result, whether the load read the file's value and the last error it
// leaves (0 when it read the file), what the file holds afterwards, and the
// reason a failed request leaves as the last error.
enum class FileAfter { kAsBefore, kWritten, kNone, kDirectory, kLinkToNull };

struct OutcomeCase {
  const char* what;
  // Prepares the scratch directory; returns the name to pass. `hold` keeps
  // whatever must stay open during the requests.
  std::function<std::string(const ScratchDir&, std::shared_ptr<void>* hold)> prepare;
  int32_t load_result;
  bool load_reads;
  uint32_t load_reason;  // the last error after a load that returns 0
  int32_t save_result;
  FileAfter after;
  uint32_t reason = 0;  // of each request that returns 1
};

const char kOutcomeFile[] = "[MP4V Settings]\nwidth=1234\n";

std::string Existing(const ScratchDir& dir, std::shared_ptr<void>*) {
  WriteBytes(dir.File("enc.cfg"), kOutcomeFile);
  return dir.File("enc.cfg");
}

TEST(RequestsOutcomesTest, EveryOutcomeOfALoadAndASave) {
  std::vector<OutcomeCase> cases = {
      {"existing file", Existing, 0, true, 0, 0, FileAfter::kWritten},
      {"missing file",
       [](const ScratchDir& dir, std::shared_ptr<void>*) { return dir.File("new.cfg"); }, 0,
       false, kNoFile, 0, FileAfter::kWritten},
      {"empty file",
       [](const ScratchDir& dir, std::shared_ptr<void>*) {
         WriteBytes(dir.File("empty.cfg"), "");
         return dir.File("empty.cfg");
       },
       0, false, 0, 0, FileAfter::kWritten},
      {"missing folder",
       [](const ScratchDir& dir, std::shared_ptr<void>*) {
         return dir.File("nodir") + "/enc.cfg";
       },
       0, false, kNoFolder, 1, FileAfter::kNone, kNoFolder},
      {"a folder of that name",
       [](const ScratchDir& dir, std::shared_ptr<void>*) {
         std::filesystem::create_directory(dir.File("folder.cfg"));
         return dir.File("folder.cfg");
       },
       1, false, 0, 1, FileAfter::kDirectory, kIsAFolder},
      {"read-only file",
       [](const ScratchDir& dir, std::shared_ptr<void>* hold) {
         const std::string path = Existing(dir, hold);
         testutil::SetReadOnly(path, true);
         *hold = std::shared_ptr<void>(nullptr, [path](void*) {
           testutil::SetReadOnly(path, false);
         });
         return path;
       },
       0, true, 0, 1, FileAfter::kAsBefore, kDenied},
      {"a path under a file",
       [](const ScratchDir& dir, std::shared_ptr<void>* hold) {
         return Existing(dir, hold) + "/x.cfg";
       },
       0, false, kUnderAFile, 1, FileAfter::kNone, kUnderAFile},
#ifndef _WIN32
      // The save follows the links itself and gives up at the 40th with the
      // system's code for too many links; a load reads through them (the
      // system follows 40).
      {"a chain of 40 links",
       [](const ScratchDir& dir, std::shared_ptr<void>* hold) {
         std::string name = Existing(dir, hold);
         for (int i = 1; i <= 40; ++i) {
           const std::string link = dir.File("link" + std::to_string(i) + ".cfg");
           std::filesystem::create_symlink(name, link);
           name = link;
         }
         return name;
       },
       0, true, 0, 1, FileAfter::kAsBefore, ELOOP},
      // A device is no file a save replaces.
      {"a link to /dev/null",
       [](const ScratchDir& dir, std::shared_ptr<void>*) {
         std::filesystem::create_symlink("/dev/null", dir.File("null.cfg"));
         return dir.File("null.cfg");
       },
       0, false, 0, 1, FileAfter::kLinkToNull, EPERM},
#endif
      {"refused name (.CFG)",
       [](const ScratchDir& dir, std::shared_ptr<void>*) { return dir.File("enc.CFG"); },
       1, false, 0, 1, FileAfter::kNone, kRefused},
#ifdef _WIN32
      // Opened by another user of the file with no sharing, for longer than
      // a request waits for it: neither read nor replaced.
      {"locked file",
       [](const ScratchDir& dir, std::shared_ptr<void>* hold) {
         const std::string path = Existing(dir, hold);
         HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
         EXPECT_NE(file, INVALID_HANDLE_VALUE);
         *hold = std::shared_ptr<void>(file, [](void* h) { CloseHandle(h); });
         return path;
       },
       1, false, 0, 1, FileAfter::kAsBefore, ERROR_SHARING_VIOLATION},
#endif
  };
  // A held file is waited out only briefly here.
  PlatformSetWaitsForTesting(0, 200);
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::shared_ptr<void> hold;
    const std::string name = c.prepare(dir, &hold);
    MP4VSettings record;
    std::memset(&record, 0x5A, sizeof record);
    record.width = 640;
    ForgetLastError();
    const int32_t loaded = Load(&record, name);
    const uint32_t load_reason = LastError();
    EXPECT_EQ(loaded, c.load_result);
    EXPECT_EQ(load_reason, c.load_result != 0 ? c.reason : c.load_reason);
    EXPECT_EQ(record.width, c.load_reads ? 1234 : 640);
    record.width = 720;
    ForgetLastError();
    const int32_t saved = Save(&record, name);
    const uint32_t save_reason = LastError();
    EXPECT_EQ(saved, c.save_result);
    if (c.save_result != 0) {
      EXPECT_EQ(save_reason, c.reason);
    }
    hold.reset();
    switch (c.after) {
      case FileAfter::kAsBefore:
        EXPECT_EQ(ReadBytes(name), kOutcomeFile);
        break;
      case FileAfter::kWritten: {
        MP4VSettings back{};
        ASSERT_EQ(Load(&back, name), MP4V_STATUS_OK);
        EXPECT_EQ(back.width, 720);
        break;
      }
      case FileAfter::kNone:
        EXPECT_FALSE(testutil::Exists(name));
        break;
      case FileAfter::kDirectory:
        EXPECT_TRUE(std::filesystem::is_directory(name));
        break;
      case FileAfter::kLinkToNull:
        EXPECT_EQ(std::filesystem::read_symlink(name), "/dev/null");
        break;
    }
  }
  PlatformSetWaitsForTesting(0, 0);
  // Null arguments: refused, nothing touched, the reason a refused name's.
  MP4VSettings record{};
  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  const std::function<int32_t()> refused[] = {
      [&] { return load(nullptr, "enc.cfg"); }, [&] { return load(&record, nullptr); },
      [&] { return save(nullptr, "enc.cfg"); }, [&] { return save(&record, nullptr); }};
  for (const auto& request : refused) {
    ForgetLastError();
    const int32_t result = request();
    const uint32_t reason = LastError();
    EXPECT_EQ(result, MP4V_STATUS_FAILED);
    EXPECT_EQ(reason, kRefused);
  }
}

// Requests on different records and files from several threads give what
// the same requests give one after another.
TEST(RequestsTest, ConcurrentRequestsOnDifferentFilesAgreeWithSequentialOnes) {
  ScratchDir dir;
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  auto run = [&](int t, const std::string& prefix, MP4VSettings* last) {
    const std::string path = dir.File(prefix + std::to_string(t) + ".cfg");
    WriteBytes(path, "# thread " + std::to_string(t) + "\n[Other]\nk=v\n");
    MP4VSettings s;
    std::memset(&s, 0, sizeof s);
    for (int r = 0; r < kRounds; ++r) {
      s.width = t * 1000 + r;
      s.frame_rate = 29.97 + t;
      s.num_threads = -r;
      if (Save(&s, path) != MP4V_STATUS_OK) return;
      std::memset(&s, 0x11, sizeof s);
      Load(&s, path);
    }
    *last = s;
  };
  std::vector<MP4VSettings> parallel(kThreads), sequential(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(run, t, "p", &parallel[t]);
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) run(t, "s", &sequential[t]);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(std::memcmp(&parallel[t], &sequential[t], sizeof(MP4VSettings)), 0) << t;
    EXPECT_EQ(parallel[t].width, t * 1000 + kRounds - 1);
    EXPECT_EQ(ReadBytes(dir.File("p" + std::to_string(t) + ".cfg")),
              ReadBytes(dir.File("s" + std::to_string(t) + ".cfg")));
  }
}

}  // namespace

namespace {

// A settings record whose last byte (offset 731) is the last readable byte
// before an inaccessible page: any touch past the record faults.
class GuardedRecord {
 public:
  GuardedRecord() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    base_ = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
#else
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    base_ = static_cast<unsigned char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page_, page_, PROT_NONE);
#endif
    std::memset(base_, 0xAA, page_);
  }
  ~GuardedRecord() {
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, 2 * page_);
#endif
  }
  MP4VSettings* record() {
    return reinterpret_cast<MP4VSettings*>(base_ + page_ - sizeof(MP4VSettings));
  }

 private:
  size_t page_ = 0;
  unsigned char* base_ = nullptr;
};

TEST(RequestsHardeningTest, RecordAtTheEndOfReadableMemory) {
  ScratchDir dir;
  const std::string path = dir.File("all.cfg");
  MP4VSettings full = ExampleRecord();
  ASSERT_EQ(Save(&full, path), MP4V_STATUS_OK);
  GuardedRecord guarded;
  ASSERT_EQ(Load(guarded.record(), path), MP4V_STATUS_OK);
  EXPECT_EQ(guarded.record()->num_threads, 0);
  EXPECT_EQ(guarded.record()->width, 720);
  ASSERT_EQ(Save(guarded.record(), path), MP4V_STATUS_OK);
}

TEST(RequestsHardeningTest, FileThatVanishesOrChangesBetweenRequests) {
  ScratchDir dir;
  const std::string path = dir.File("v.cfg");
  MP4VSettings s = ExampleRecord();
  ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
  std::remove(path.c_str());
  MP4VSettings loaded;
  std::memset(&loaded, 0x33, sizeof loaded);
  MP4VSettings before = loaded;
  EXPECT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
  EXPECT_EQ(std::memcmp(&loaded, &before, sizeof loaded), 0);
  WriteBytes(path, "[MP4V Settings]\nwidth=1920\n");
  EXPECT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
  EXPECT_EQ(loaded.width, 1920);
  EXPECT_EQ(loaded.height, before.height);
}

#ifndef _WIN32
// A save whose write fails after every possible number of bytes reports the
// failure, with the write's own reason (past the file size limit: EFBIG, as
// a full disk gives ENOSPC), and leaves the old file as it was.
TEST(RequestsHardeningTest, SaveFailingAtEveryByteKeepsTheOldFile) {
  ScratchDir dir;
  const std::string path = dir.File("f.cfg");
  const std::string old_bytes = "# mine\n[MP4V Settings]\nwidth = 1 # w\n[Other]\nx=1\n";
  MP4VSettings s = ExampleRecord();
  WriteBytes(path, old_bytes);
  ASSERT_EQ(Save(&s, path), MP4V_STATUS_OK);
  const std::string full = ReadBytes(path);
  for (size_t limit = 0; limit < full.size(); limit += (limit < 64 ? 1 : 7)) {
    WriteBytes(path, old_bytes);
    const bool failed = testutil::RunWithFileSizeLimit(limit, [&] {
      const int32_t result = Save(&s, path);
      return result == MP4V_STATUS_FAILED && errno == EFBIG;
    });
    ASSERT_TRUE(failed) << limit;
    ASSERT_EQ(ReadBytes(path), old_bytes) << limit;
    ASSERT_EQ(testutil::ListDir(dir.path()).size(), 1u) << limit;
  }
}

// A file this user may not read: the load reads nothing (and says nothing),
// the save refuses to replace what it could not read, with the reading's
// reason. (Unprivileged: a privileged user reads every file.)
TEST(RequestsOutcomesTest, UnreadableFileIsNeitherReadNorReplaced) {
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string path = dir.File("secret.cfg");
  WriteBytes(path, kOutcomeFile);
  ASSERT_EQ(chmod(path.c_str(), 0222), 0);  // writable, not readable
  const bool as_stated = testutil::RunInChildProcess([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    MP4VSettings record{};
    record.width = 640;
    if (Load(&record, path) != MP4V_STATUS_FAILED || errno != EACCES || record.width != 640) {
      return false;
    }
    const int32_t result = Save(&record, path);
    return result == MP4V_STATUS_FAILED && errno == EACCES;
  });
  chmod(path.c_str(), 0644);
  EXPECT_TRUE(as_stated);
  EXPECT_EQ(ReadBytes(path), kOutcomeFile);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

// The safe save creates its temporary file beside the target: in a
// directory where the process may not create files, a writable file is not
// saved, the save says so (EACCES, as creating the file gave), and so does
// the check made before a save. (Run as an unprivileged user: a privileged
// one may create files anywhere.)
TEST(RequestsHardeningTest, WritableFileInAReadOnlyDirectoryIsNotSaved) {
  ScratchDir dir;
  const std::string sub = dir.File("ro");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string path = sub + "/enc.cfg";
  const std::string old_bytes = "[MP4V Settings]\nwidth=1\n";
  WriteBytes(path, old_bytes);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  MP4VSettings s = ExampleRecord();
  const bool refused = testutil::RunInChildProcess([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    if (access(path.c_str(), W_OK) != 0 ||
        PlatformCheckReplace(path.c_str()) != ReplaceCheck::kFolderNotWritable) {
      return false;
    }
    const int32_t result = Save(&s, path);
    return result == MP4V_STATUS_FAILED && errno == EACCES;
  });
  chmod(sub.c_str(), 0755);
  EXPECT_TRUE(refused);
  EXPECT_EQ(ReadBytes(path), old_bytes);
  EXPECT_EQ(testutil::ListDir(sub).size(), 1u);
}
#endif

}  // namespace

#include "config/bind_key.h"
#include "config/config_file.h"

namespace {

// The requests give what binding every key of the table from the first node
// of the document gives, on files with the section missing, repeated, in
// other capitals, or holding only some keys.
TEST(RequestsTest, AgreeWithBindingEveryKeyFromTheFirstNode) {
  ScratchDir dir;
  const std::string path = dir.File("a.cfg");
  const std::string reference = dir.File("b.cfg");
  std::mt19937 rng(4242);
  const char* headers[] = {"[MP4V Settings]", "[mp4v settings]", "[Other]",
                           "[MP4V Settings ]", "# free", "width = 5"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int lines = static_cast<int>(rng() % 40);
    for (int i = 0; i < lines; ++i) {
      if (rng() % 4 == 0) {
        text += headers[rng() % 6];
      } else {
        const MP4VSettingsKey& row = MP4VSettingsKeyTable[rng() % kMP4VSettingsKeyCount];
        text += std::string(row.key) + " = " + std::to_string(static_cast<int>(rng() % 1000));
      }
      text += "\n";
    }
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    record.width = round;
    record.frame_rate = 25.0;

    // Save: the request against bindings made the long way.
    WriteBytes(path, text);
    WriteBytes(reference, text);
    ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
    ConfigDocument doc = ConfigReadFile(reference.c_str());
    for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
      ConfigBindKey(doc.first(), "save", kMP4VSettingsSection, row.key, row.type_name,
                    reinterpret_cast<char*>(&record) + row.offset, nullptr);
    }
    ASSERT_TRUE(ConfigWriteFile(std::move(doc), reference.c_str(), 1));
    ASSERT_EQ(ReadBytes(path), ReadBytes(reference)) << text;

    // Load of the original text, both ways.
    WriteBytes(path, text);
    MP4VSettings loaded, expected;
    std::memset(&loaded, 0x5C, sizeof loaded);
    std::memset(&expected, 0x5C, sizeof expected);
    ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
    doc = ConfigReadFile(path.c_str());
    if (doc.first()->next != nullptr) {
      for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
        ConfigBindKey(doc.first(), "load", kMP4VSettingsSection, row.key, row.type_name,
                      reinterpret_cast<char*>(&expected) + row.offset, nullptr);
      }
    }
    MP4VSnapFrameRate(&expected);
    ASSERT_EQ(std::memcmp(&loaded, &expected, sizeof loaded), 0) << text;
  }
}

}  // namespace

namespace {

// The lines of `text` between the platform's line ends.
std::vector<std::string> SavedLines(const std::string& text) {
  std::vector<std::string> lines;
  const std::string end = testutil::LineEnd();
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    lines.push_back(text.substr(start, stop - start));
    start = stop + end.size();
  }
  return lines;
}

// Whether `line` is a line a save writes for a setting: a key of the table,
// padded, " = " and a value.
bool IsSettingLine(const std::string& line) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    const size_t key = std::strlen(row.key);
    if (line.compare(0, key, row.key) == 0 && line.size() >= 34 &&
        line.find_first_not_of(' ', key) == 32 && line.compare(32, 2, "= ") == 0) {
      return true;
    }
  }
  return false;
}

// Every line that is not a setting's line in the first settings section is
// written with exactly its bytes, wherever it stands (before the first
// section, in another program's section, among the settings, in a second
// settings section), whatever the file's line ends: the other programs that
// share the file read what they read before. The save writes only the lines
// of the settings it changes and adds; a load binds what it bound before,
// and a second save changes no byte.
TEST(SaveKeepsLinesTest, EveryLineButTheSettingsKeepsItsBytes) {
  using namespace std::string_literals;
  const std::string lines[] = {
      "C:\\Videos\\a.avi",                 // a list of recent files
      "flag",                              // a bare name
      "path=C:\\dir#1\\a.avi",             // a "#" inside a value
      "   indented = yes  ",               // blanks at both ends
      ";quality = 5",                      // a comment of another program
      "parts =",                           // a value continued on
      "    one",                           //   indented lines
      "    two",
      "name  =  two  blanks  inside ",     // blanks another reader keeps
      "compact=1",
      "Key=Value;with;semicolons # and a comment",
      "bare word here",
      "k4 # x = y",
      "k1 =#lost",
      "k2 = v #",
      "  # an indented comment",
      "# a comment",
      "=starts with equals",
      "   ",
      "\t",
      "\0 a line led by a zero byte"s,
      "key=val\0ue"s,
      "\xEF\xBB\xBF; a mark inside the file",
      "bitrate kbps = 5000",               // no key of the settings
      "  [Indented header]",
  };
  const std::string headers[] = {"[broken", "[Section] trailing text", "[a][b]", "[c] #",
                                 "[ spaced ]"};
  for (const char* line_end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(line_end[0] == '\r' ? (line_end[1] ? "CR LF" : "CR") : "LF");
    std::string before;
    auto add = [&](const std::string& line) { before += line + line_end; };
    for (const std::string& line : lines) add(line);
    add("[Other]");
    add("width = 99 px");  // a key of the settings, in another program's section
    for (const std::string& line : lines) add(line);
    add("[MP4V Settings]");
    add("width = 1");
    for (const std::string& line : lines) add(line);
    add("width = 2 # the same key again");
    add("[mp4v settings]");
    add("height = 3 px");  // only here: it loads from this line
    for (const std::string& line : lines) add(line);
    for (const std::string& header : headers) add(header);
    const size_t kept_lines = 4 * std::size(lines) + std::size(headers) + 7;

    ScratchDir dir;
    const std::string path = dir.File("kept.cfg");
    WriteBytes(path, before);
    MP4VSettings loaded{};
    ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
    ASSERT_EQ(loaded.width, 1);
    ASSERT_EQ(loaded.height, 3);
    for (int change : {0, 1}) {
      SCOPED_TRACE(change ? "width changed" : "the record the file loads as");
      WriteBytes(path, before);
      MP4VSettings record = loaded;
      if (change) record.width = 720;
      ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
      const std::string once = ReadBytes(path);
      const std::vector<std::string> saved = SavedLines(once);
      // The lines read, in order and byte for byte; the rest are empty lines
      // before headers and the settings' lines the save wrote.
      std::vector<std::string> read;
      for (size_t start = 0; start < before.size();) {
        const size_t stop = before.find(line_end, start);
        read.push_back(before.substr(start, stop - start));
        start = stop + std::strlen(line_end);
      }
      ASSERT_EQ(read.size(), kept_lines);
      if (change) read.erase(std::find(read.begin(), read.end(), "width = 1"));
      size_t at = 0;
      std::vector<std::string> written;
      for (const std::string& line : saved) {
        if (at < read.size() && line == read[at]) {
          ++at;
        } else {
          written.push_back(line);
        }
      }
      ASSERT_EQ(at, read.size())
          << "first line not kept: " << testing::PrintToString(read[at]);
      size_t settings = 0;
      for (const std::string& line : written) {
        if (line.empty()) continue;
        EXPECT_TRUE(IsSettingLine(line)) << testing::PrintToString(line);
        ++settings;
      }
      // The width's line when it changes, and the 55 keys the section lacked.
      EXPECT_EQ(settings, change ? 56u : 55u);
      MP4VSettings back{};
      ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
      EXPECT_EQ(std::memcmp(&back, &record, sizeof back), 0);
      ASSERT_EQ(Save(&back, path), MP4V_STATUS_OK);
      EXPECT_EQ(ReadBytes(path), once);
    }
  }
}

// A line longer than a line the reader takes whole is read in parts, and
// written whole again: in another program's section, as the file's last
// line with or without a line end.
TEST(SaveKeepsLinesTest, ALongLineIsWrittenWhole) {
  const std::string long_line = "recent=" + std::string(593, 'x');  // 600 characters
  for (const char* last_end : {"\n", ""}) {
    for (bool last : {false, true}) {
      SCOPED_TRACE(std::string(last ? "last line" : "inside") + (*last_end ? "" : ", no end"));
      std::string before = "[Other]\n" + long_line + "\n";
      before = last ? "[MP4V Settings]\nwidth = 720\n[Other]\n" + long_line + last_end
                    : before + "[MP4V Settings]\nwidth = 720" + last_end;
      ScratchDir dir;
      const std::string path = dir.File("long.cfg");
      WriteBytes(path, before);
      MP4VSettings record = ExampleRecord();
      ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
      const std::vector<std::string> saved = SavedLines(ReadBytes(path));
      EXPECT_EQ(std::count(saved.begin(), saved.end(), long_line), 1);
      for (const std::string& line : saved) {
        EXPECT_TRUE(line == long_line || line.size() <= 511) << line.size();
      }
    }
  }
}

// A file that begins with a UTF-16 byte-order mark is not 8-bit text: a
// save refuses it, says why, and leaves it byte for byte; a load reads
// nothing from it.
TEST(SaveKeepsLinesTest, AUtf16FileIsRefusedAndLeftAsItIs) {
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "FE FF" : "FF FE");
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : std::string("[MP4V Settings]\r\nwidth=640\r\n")) {
      bytes += big_endian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
    }
    ScratchDir dir;
    const std::string path = dir.File("wide.cfg");
    WriteBytes(path, bytes);
    MP4VSettings record = ExampleRecord();
    ForgetLastError();
    EXPECT_EQ(Save(&record, path), MP4V_STATUS_FAILED);
#ifdef _WIN32
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ERROR_INVALID_DATA));
#else
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EILSEQ));
#endif
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
    ForgetLastError();
    ASSERT_EQ(Load(&record, path), MP4V_STATUS_FAILED);
    EXPECT_EQ(record.width, 720);
#ifdef _WIN32
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ERROR_INVALID_DATA));
#else
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EILSEQ));
#endif
    std::string after;
    EXPECT_EQ(MP4VConfigSaveText(bytes, &record, &after), MP4VSaveTextResult::kUtf16);
  }
  // 8-bit text whose first line, after an empty one the save drops, begins
  // with those bytes: the save keeps an empty line in front, so that what it
  // wrote is no file it refuses, and a second save changes no byte.
  ScratchDir dir;
  const std::string path = dir.File("narrow.cfg");
  WriteBytes(path, "\r\xFF\xFE\xFF\x85 = x\r\r");
  MP4VSettings record = ExampleRecord();
  ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
  const std::string once = ReadBytes(path);
  const std::string begins = testutil::LineEnd() + std::string("\xFF\xFE\xFF\x85 = x");
  EXPECT_EQ(once.compare(0, begins.size(), begins), 0) << testing::PrintToString(once);
  ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
  EXPECT_EQ(ReadBytes(path), once);
}

// A frame rate no value text holds (an infinity or NaN: its ten-decimal
// text would be "inf" or "nan", which a load reads as 0) is never written.
// Its line stays as it stands where a load takes that very rate from it
// (the first line of the key in any settings section); otherwise the save
// refuses and leaves the file as it was. Either way no save writes a text
// that its own load reads as another rate.
TEST(SaveKeepsLinesTest, ARateNoTextHoldsKeepsItsLineOrIsRefused) {
  const double nan = std::nan("");
  const struct {
    const char* what;
    const char* file;  // null: no file
    double rate;
    const char* kept;  // the line kept, or null: the save is refused
  } cases[] = {
      {"read from 1e400", "[MP4V Settings]\nframe_rate = 1e400 # big\nwidth=5\n", HUGE_VAL,
       "frame_rate = 1e400 # big"},
      {"negative", "# x\n[mp4v settings]\nFRAME_RATE=-1e999\n", -HUGE_VAL, "FRAME_RATE=-1e999"},
      {"from a later section",
       "[MP4V Settings]\nwidth=5\n[Other]\n[MP4V Settings]\nframe_rate=1e400\n", HUGE_VAL,
       "frame_rate=1e400"},
      {"a line that loads as 0", "[MP4V Settings]\nframe_rate = inf\n", HUGE_VAL, nullptr},
      {"a line of the other sign", "[MP4V Settings]\nframe_rate=1e400\n", -HUGE_VAL, nullptr},
      {"NaN", "[MP4V Settings]\nframe_rate=1e400\n", nan, nullptr},
      {"a line before the section", "frame_rate=1e400\n[MP4V Settings]\n", HUGE_VAL, nullptr},
      {"no line", "[MP4V Settings]\nwidth=5\n", HUGE_VAL, nullptr},
      {"no file", nullptr, -nan, nullptr},
  };
#ifdef _WIN32
  constexpr uint32_t kNoText = ERROR_INVALID_DATA;
#else
  constexpr uint32_t kNoText = EDOM;
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir.File("rate.cfg");
    const std::string before = c.file != nullptr ? c.file : "";
    if (c.file != nullptr) WriteBytes(path, before);
    MP4VSettings record = ExampleRecord();
    record.frame_rate = c.rate;
    std::string after;
    EXPECT_EQ(MP4VConfigSaveText(before, &record, &after),
              c.kept != nullptr ? MP4VSaveTextResult::kWritten : MP4VSaveTextResult::kNoValueText);
    ForgetLastError();
    const int32_t saved = Save(&record, path);
    const uint32_t reason = LastError();
    if (c.kept == nullptr) {
      EXPECT_EQ(saved, MP4V_STATUS_FAILED);
      EXPECT_EQ(reason, kNoText);
      bool exists = false;
      EXPECT_EQ(ReadBytes(path, &exists), before);
      EXPECT_EQ(exists, c.file != nullptr);
      continue;
    }
    ASSERT_EQ(saved, MP4V_STATUS_OK);
    const std::string once = ReadBytes(path);
    const std::vector<std::string> lines = SavedLines(once);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), c.kept), 1) << once;
    MP4VSettings back{};
    ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
    EXPECT_EQ(Bits(back.frame_rate), Bits(c.rate));
    EXPECT_EQ(back.width, record.width);
    ASSERT_EQ(Save(&back, path), MP4V_STATUS_OK);
    EXPECT_EQ(ReadBytes(path), once);
  }
}

// The ten-decimal texts of the largest rates run to 321 characters (that of
// -DBL_MAX), more than the 255 of a value some readers take: a save writes
// them whole on the setting's line, and they load back as the very rate.
TEST(SaveKeepsLinesTest, TheLongestRateTextsLoadBackAsTheRate) {
  ScratchDir dir;
  const std::string path = dir.File("huge.cfg");
  for (double rate : {DBL_MAX, -DBL_MAX, 1e300, 1e244, -1e243, -0.0}) {
    SCOPED_TRACE(rate);
    WriteBytes(path, "[MP4V Settings]\nframe_rate=1 # kept\n");
    MP4VSettings record = ExampleRecord();
    record.frame_rate = rate;
    ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
    const std::string once = ReadBytes(path);
    MP4VSettings back{};
    ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
    EXPECT_EQ(Bits(back.frame_rate), Bits(rate));
    ASSERT_EQ(Save(&back, path), MP4V_STATUS_OK);
    EXPECT_EQ(ReadBytes(path), once);
  }
}

// A line whose setting the save changes is written in the writer's form;
// one it sets to the same text stays as it stands.
TEST(SaveKeepsLinesTest, AChangedSettingIsRewrittenAnUnchangedOneIsNot) {
  ScratchDir dir;
  const std::string path = dir.File("set.cfg");
  WriteBytes(path, "[MP4V Settings]\nwidth = 720 #\nheight=#576\n");
  MP4VSettings record{};
  ASSERT_EQ(Load(&record, path), MP4V_STATUS_OK);
  ASSERT_EQ(record.width, 720);
  record.height = 480;
  ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
  const std::vector<std::string> saved = SavedLines(ReadBytes(path));
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "width = 720 #"), 1);
  EXPECT_EQ(std::count(saved.begin(), saved.end(),
                       "height                          = 480"),
            1);
}

// The save text the dry run and check show is the one the save writes.
TEST(SaveKeepsLinesTest, TheSaveTextIsWhatTheSaveWrites) {
  const std::string before = "# top\r\n[MP4V Settings]\r\nwidth=5 # w\r\n; note\r\n";
  ScratchDir dir;
  const std::string path = dir.File("text.cfg");
  WriteBytes(path, before);
  MP4VSettings record = ExampleRecord();
  std::string after;
  MP4VSaveAccount account;
  const std::vector<MP4VSavedLine>& lines = account.lines;
  ASSERT_EQ(MP4VConfigSaveText(before, &record, &after, &account), MP4VSaveTextResult::kWritten);
  ASSERT_EQ(Save(&record, path), MP4V_STATUS_OK);
  EXPECT_EQ(ReadBytes(path), after);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].kind, MP4VSavedLineKind::kKept);
  EXPECT_EQ(lines[1].kind, MP4VSavedLineKind::kKept);
  EXPECT_EQ(lines[2].kind, MP4VSavedLineKind::kSettingRewritten);
  EXPECT_EQ(lines[2].old_value, "5");
  EXPECT_EQ(lines[3].kind, MP4VSavedLineKind::kKept);
  EXPECT_EQ(lines[3].written, "; note");
  // What goes: the old value of the setting the save was asked to change,
  // and nothing else. The layout: CR LF line ends become the platform's, and
  // an empty line goes before the header.
  EXPECT_EQ(lines[2].change, MP4VLineChange::kAsked);
  EXPECT_TRUE(lines[2].asked);
  EXPECT_EQ(lines[2].loaded, 5);
  EXPECT_EQ(lines[2].saved, 720);
  EXPECT_EQ(lines[2].reloaded, 720);
  EXPECT_FALSE(account.loses_text);
  const MP4VLineEnd platform =
      std::string(testutil::LineEnd()) == "\r\n" ? MP4VLineEnd::kCrLf : MP4VLineEnd::kLf;
  for (const MP4VSavedLine& line : lines) {
    EXPECT_EQ(line.end, MP4VLineEnd::kCrLf);
    EXPECT_EQ(line.written_end, platform);
    EXPECT_FALSE(line.loses_text);
  }
  EXPECT_EQ(lines[1].empty_before, 0u);
  EXPECT_EQ(lines[1].written_empty_before, 1u);
  EXPECT_EQ(account.empty_at_end, 0u);

  // Every verdict of a line, one row each: how the line's text fares when
  // the record holds width 640 and the rest as the text loads.
  const struct {
    const char* line;
    MP4VLineChange change;
    const char* dropped;
    bool loses;
  } verdicts[] = {
      {"height = 576\t# tab", MP4VLineChange::kSameNumber, "\t", false},
      {"height = 0x240", MP4VLineChange::kSameNumber, "", false},
      {"height =\t", MP4VLineChange::kSameNumber, "\t", false},
      {"frame_rate = 29.97", MP4VLineChange::kSameValue, "", false},
      {"width = 720 \t# tab", MP4VLineChange::kAsked, "", false},
      {"width = 720 px", MP4VLineChange::kWordsAfterFirst, "px", true},
      {"width x = 720", MP4VLineChange::kRestOfLine, "", true},
      {"height = 576\tpx", MP4VLineChange::kTextAfterNumber, "\tpx", true},
      {"height = px", MP4VLineChange::kNoNumber, "", true},
      {"height = 99999999999", MP4VLineChange::kOutOfRange, "", true},
      {"frame_rate = 1e-11", MP4VLineChange::kOtherValue, "", true},
      {"frame_rate = 1e400", MP4VLineChange::kKept, "", false},
      {"height = 576", MP4VLineChange::kKept, "", false},
  };
  for (const auto& v : verdicts) {
    SCOPED_TRACE(v.line);
    const std::string text = std::string("[MP4V Settings]\n") + v.line + "\n";
    MP4VSettings loaded{};
    MP4VConfigLoadText(text, &loaded);
    loaded.width = 640;
    ASSERT_EQ(MP4VConfigSaveText(text, &loaded, &after, &account), MP4VSaveTextResult::kWritten);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].change, v.change);
    EXPECT_EQ(lines[1].dropped, v.dropped);
    EXPECT_EQ(lines[1].loses_text, v.loses);
    EXPECT_EQ(account.loses_text, v.loses);
  }

  // A text the save begins with an empty line (its first line begins with
  // the bytes of a UTF-16 mark): each account still quotes its own line.
  const std::string marked = "\n\xFF\xFE\n[MP4V Settings]\nwidth x=0720\n";
  ASSERT_EQ(MP4VConfigSaveText(marked, &record, &after, &account), MP4VSaveTextResult::kWritten);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].offset, 1u);
  EXPECT_EQ(lines[0].written, "\xFF\xFE");
  EXPECT_EQ(lines[1].written, "[MP4V Settings]");
  EXPECT_EQ(lines[2].kind, MP4VSavedLineKind::kSettingRewritten);
  EXPECT_EQ(lines[2].written, "width                           = 720");
}

}  // namespace

namespace {

// ---- What another program writes while a save works ------------------------
//
// The save reads the file, decides, writes its temporary file, and looks at
// the target once more before the temporary file takes its place; the hook
// below acts there as another program would.

struct Meanwhile {
  const char* what;
  const char* before;  // the file the save reads (null: no file)
  // What the other program does at the save's look number `look` (0, 1, ...),
  // before that look, or, with `after_look`, between it and the replacement.
  std::function<void(const std::string& path, int look)> write;
  int32_t result;
  // What the file then holds: the save of the record over these bytes
  // (null: no file), or, for a save that failed, these very bytes.
  const char* decided_from;
  int looks;  // how often the save looked before it replaced the file or gave up
  bool after_look = false;
};

struct HookState {
  const Meanwhile* c = nullptr;
  int looks = 0;
};

void AtTheLastLook(const char* target, ReplaceMoment moment, void* context) {
  auto* state = static_cast<HookState*>(context);
  if (moment == ReplaceMoment::kBeforeLastLook) ++state->looks;
  if ((moment == ReplaceMoment::kAfterLastLook) == state->c->after_look) {
    state->c->write(target, state->looks - 1);
  }
}

#ifndef _WIN32
// Writes `text` over the start of the file where it stands, through a
// descriptor of its own, as a program writing in place does.
void WriteInPlace(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
  close(fd);
}
#endif

// `text` with the platform's line ends.
std::string PlatformEnds(const char* text) {
  std::string out;
  for (; *text != '\0'; ++text) {
    if (*text == '\n') {
      out += kPlatformTextLineEnd;
    } else {
      out += *text;
    }
  }
  return out;
}

// Files whose lines around the settings are as this module writes them, so
// that where saves are made as the file is read (Windows), a save looks,
// exactly, at a file it never held whole.
const std::string kPeerBefore = PlatformEnds("\n[Peer]\nstamp=0\n\n[MP4V Settings]\nwidth = 1\n");
const std::string kPeerAfter = PlatformEnds("\n[Peer]\nstamp=1\n\n[MP4V Settings]\nwidth = 1\n");
// kPeerBefore and a note after it: cut to kPeerBefore, the note is gone.
const std::string kPeerNoted =
    PlatformEnds("\n[Peer]\nstamp=0\n\n[MP4V Settings]\nwidth = 1\n[Notes]\n; the person's note\n");

TEST(SaveKeepsWhatLandedMeanwhile, EachWayAnotherProgramWritesTheFile) {
  const Meanwhile cases[] = {
      {"it changes its own line", kPeerBefore.c_str(),
       [](const std::string& path, int look) {
         if (look == 0) WriteBytes(path, kPeerAfter);
       },
       MP4V_STATUS_OK, kPeerAfter.c_str(), 2},
      {"it creates the file the save found missing", nullptr,
       [](const std::string& path, int look) {
         if (look == 0) WriteBytes(path, "[Peer]\nstamp=1\n");
       },
       MP4V_STATUS_OK, "[Peer]\nstamp=1\n", 2},
      {"it deletes the file", kPeerBefore.c_str(),
       [](const std::string& path, int look) {
         if (look == 0) std::remove(path.c_str());
       },
       MP4V_STATUS_OK, nullptr, 2},
      // A file that now holds only the first bytes the save read (or none)
      // is another file: the save builds on the cut text.
      {"it cuts the file to a prefix of what the save read", kPeerNoted.c_str(),
       [](const std::string& path, int look) {
         if (look == 0) WriteBytes(path, kPeerBefore);
       },
       MP4V_STATUS_OK, kPeerBefore.c_str(), 2},
      {"it empties the file", kPeerNoted.c_str(),
       [](const std::string& path, int look) {
         if (look == 0) WriteBytes(path, "");
       },
       MP4V_STATUS_OK, "", 2},
      {"it writes the same bytes again: the contents decide, not the time", kPeerBefore.c_str(),
       [](const std::string& path, int) { WriteBytes(path, kPeerBefore); },
       MP4V_STATUS_OK, kPeerBefore.c_str(), 1},
      {"it changes the file at every look", kPeerBefore.c_str(),
       [](const std::string& path, int look) {
         WriteBytes(path, "[Peer]\nstamp=" + std::to_string(look + 1) + "\n");
       },
       MP4V_STATUS_FAILED, "[Peer]\nstamp=8\n", 8},
#ifndef _WIN32
      // Into the file the save is about to replace, after its last look: the
      // save notices that the file it replaced changed, and builds on it.
      // (On Windows a program holding the file keeps it from being
      // replaced, and a write in between is not seen.)
      {"it writes in place between the last look and the replacement", kPeerBefore.c_str(),
       [](const std::string& path, int look) {
         if (look == 0) WriteInPlace(path, PlatformEnds("\n[Peer]\nstamp=1"));
       },
       MP4V_STATUS_OK, kPeerAfter.c_str(), 2, true},
      // Its own file, put in the target's place in that moment: the save's
      // file and the old one swap places, so the save sees that it displaced
      // another file than the one it read, and builds on that one.
      {"it replaces the file between the last look and the replacement", kPeerBefore.c_str(),
       [](const std::string& path, int look) {
         if (look != 0) return;
         WriteBytes(path + ".peer", kPeerAfter.c_str());
         ASSERT_EQ(std::rename((path + ".peer").c_str(), path.c_str()), 0);
       },
       MP4V_STATUS_OK, kPeerAfter.c_str(), 2, true},
#endif
  };
  for (const Meanwhile& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir.File("shared.cfg");
    if (c.before != nullptr) WriteBytes(path, c.before);
    MP4VSettings record = ExampleRecord();
    HookState state;
    state.c = &c;
    PlatformSetReplaceHookForTesting(AtTheLastLook, &state);
    PlatformSetStreamedUpdateMinimumForTesting(1);  // small files read in pieces too
    ForgetLastError();
    const int32_t result = Save(&record, path);
    const uint32_t reason = LastError();
    PlatformSetStreamedUpdateMinimumForTesting(0);
    PlatformSetReplaceHookForTesting(nullptr, nullptr);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(state.looks, c.looks);
    if (c.result == MP4V_STATUS_OK) {
      std::string expected;
      ASSERT_EQ(MP4VConfigSaveText(c.decided_from != nullptr ? c.decided_from : "", &record,
                                   &expected),
                MP4VSaveTextResult::kWritten);
      EXPECT_EQ(ReadBytes(path), expected);
    } else {
      EXPECT_EQ(reason, PlatformErrorCode(ModuleFailure::kKeptChanging));
      EXPECT_EQ(ReadBytes(path), c.decided_from);
    }
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u) << "a temporary file was left";
  }
}

// ---- A load that could not read fails ------------------------------------

// What a host that follows the guide does: its defaults, a load, then
// (after `between`: another program lets go of the file, say) a save only
// when the load succeeded. Returns what went against the contract of a
// load that cannot read the file: it fails with `reason`, the record keeps
// every byte (the frame rate unsnapped), and the file keeps its bytes,
// `*file_before` (unless null: a caller that may not read the file checks
// it itself; a folder stays a folder).
std::string HostLoadsThenSaves(const std::string& path, uint32_t reason,
                               const std::function<void()>& between,
                               const std::string* file_before) {
  MP4VSettings record;
  std::memset(&record, 0x5A, sizeof record);
  record.quality = 50;
  record.target_bitrate = 0;
  record.frame_rate = 29.97;
  const MP4VSettings defaults = record;
  ForgetLastError();
  const int32_t loaded = Load(&record, path);
  const uint32_t why = LastError();
  between();
  if (loaded == MP4V_STATUS_OK) {
    record.width = 720;
    Save(&record, path);
  }
  std::string wrong;
  if (loaded != MP4V_STATUS_FAILED) wrong += "the load returned " + std::to_string(loaded) + "; ";
  if (why != reason) wrong += "its last error is " + std::to_string(why) + "; ";
  if (std::memcmp(&record, &defaults, sizeof record) != 0) wrong += "the record changed; ";
  if (file_before != nullptr && !std::filesystem::is_directory(path) &&
      ReadBytes(path) != *file_before) {
    wrong += "the file changed; ";
  }
  return wrong;
}

const char kPersonsFile[] = "[MP4V Settings]\nquality = 90\ntarget_bitrate = 8000000\n";

// The person's file as UTF-16 text (little-endian, with its byte-order mark).
std::string PersonsFileInUtf16() {
  std::string bytes = "\xFF\xFE";
  for (char c : std::string(kPersonsFile)) bytes += std::string(1, c) + '\0';
  return bytes;
}

#ifdef _WIN32
constexpr uint32_t kUtf16Reason = ERROR_INVALID_DATA;
constexpr uint32_t kNoMemory = ERROR_NOT_ENOUGH_MEMORY;
#else
constexpr uint32_t kUtf16Reason = EILSEQ;
constexpr uint32_t kNoMemory = ENOMEM;
#endif

TEST(FailedLoadTest, ALoadThatCannotReadFailsAndTheHostWritesNoDefaults) {
  struct Case {
    const char* what;
    std::function<std::string(const ScratchDir&, std::function<void()>* let_go)> prepare;
    uint32_t reason;
    std::string kept;  // the file's bytes, before and after
  };
  const Case cases[] = {
      {"UTF-16 text",
       [](const ScratchDir& dir, std::function<void()>*) {
         WriteBytes(dir.File("wide.cfg"), PersonsFileInUtf16());
         return dir.File("wide.cfg");
       },
       kUtf16Reason, PersonsFileInUtf16()},
      {"a folder of the file's name",
       [](const ScratchDir& dir, std::function<void()>*) {
         std::filesystem::create_directory(dir.File("folder.cfg"));
         return dir.File("folder.cfg");
       },
       kIsAFolder, ""},
#ifdef _WIN32
      // Held without sharing past the load's wait, let go before the save.
      {"a file another program holds",
       [](const ScratchDir& dir, std::function<void()>* let_go) {
         const std::string path = dir.File("held.cfg");
         WriteBytes(path, kPersonsFile);
         HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
         EXPECT_NE(file, INVALID_HANDLE_VALUE);
         *let_go = [file] { CloseHandle(file); };
         return path;
       },
       ERROR_SHARING_VIOLATION, kPersonsFile},
#endif
  };
  PlatformSetWaitsForTesting(0, 200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::function<void()> let_go = [] {};
    const std::string path = c.prepare(dir, &let_go);
    EXPECT_EQ(HostLoadsThenSaves(path, c.reason, let_go, &c.kept), "");
  }
  PlatformSetWaitsForTesting(0, 0);
}

#ifndef _WIN32
#if !defined(__SANITIZE_ADDRESS__)
// The process's mapped memory now, in bytes.
size_t MappedBytes() {
  size_t pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%zu", &pages) != 1) pages = 0;
  std::fclose(statm);
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// A file too large for the memory at hand (here: the address space a limit
// leaves, smaller than the file's own bytes); the same file loads without it.
// The host runs as a new program (this test program again, started for this
// test alone): memory a long-running process freed stays mapped, and a load
// there could take the file's bytes from it whatever the limit.
constexpr char kLowMemoryHostFile[] = "MP4V_LOW_MEMORY_HOST_FILE";

// The host's steps, as HostLoadsThenSaves takes them, without holding the
// file's bytes itself: they would not fit either. Exits 0 when the load
// failed with the out-of-memory reason and left the record untouched.
[[noreturn]] void RunLowMemoryHost(const std::string& path) {
  const size_t limit = MappedBytes() + (24u << 20);  // the file alone is 32 MiB
  struct rlimit rl = {limit, limit};
  if (MappedBytes() == 0 || setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
  MP4VSettings record;
  std::memset(&record, 0x5A, sizeof record);
  const MP4VSettings defaults = record;
  ForgetLastError();
  const int32_t loaded = Load(&record, path);
  const uint32_t why = LastError();
  if (loaded == MP4V_STATUS_OK) Save(&record, path);
  _exit(loaded == MP4V_STATUS_FAILED && why == kNoMemory &&
                std::memcmp(&record, &defaults, sizeof record) == 0
            ? 0
            : 1);
}

#endif  // !__SANITIZE_ADDRESS__

TEST(FailedLoadTest, ALoadThatRunsOutOfMemoryFails) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow: no address-space limit holds";
#else
  if (const char* file = std::getenv(kLowMemoryHostFile)) RunLowMemoryHost(file);
  ScratchDir dir;
  const std::string path = dir.File("large.cfg");
  std::string text = kPersonsFile;
  const std::string padding(64, '-');
  while (text.size() < (32u << 20)) text += "# " + padding + " " + std::to_string(text.size()) + "\n";
  WriteBytes(path, text);
  const pid_t pid = fork();
  if (pid == 0) {
    setenv(kLowMemoryHostFile, path.c_str(), 1);
    execl("/proc/self/exe", "core_tests", "--gtest_filter=FailedLoadTest.ALoadThatRunsOutOfMemoryFails",
          static_cast<char*>(nullptr));
    _exit(4);
  }
  int status = -1;
  ASSERT_GT(pid, 0);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the host died";
  EXPECT_NE(WEXITSTATUS(status), 3) << "no address-space limit could be set";
  EXPECT_NE(WEXITSTATUS(status), 4) << "this test program could not be started again";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a load under the limit did not fail with ENOMEM, untouched";
  EXPECT_TRUE(ReadBytes(path) == text) << "the file changed";
  MP4VSettings whole{};
  ASSERT_EQ(Load(&whole, path), MP4V_STATUS_OK) << "the file loads where memory suffices";
  EXPECT_EQ(whole.quality, 90);
#endif
}

// A file this user may not read (as an unprivileged user: root reads every
// file): the load fails with EACCES, the host saves nothing.
TEST(FailedLoadTest, AnUnreadableFileFailsForAnUnprivilegedHost) {
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string path = dir.File("secret.cfg");
  WriteBytes(path, kPersonsFile);
  ASSERT_EQ(chmod(path.c_str(), 0222), 0);
  const bool dropped = testutil::RunInChildProcess([] {
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0 && geteuid() == 65534);
  });
  if (!dropped) GTEST_SKIP() << "cannot become the unprivileged user 65534 (setuid refused)";
  const bool as_stated = testutil::RunInChildProcess([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return HostLoadsThenSaves(path, EACCES, [] {}, nullptr).empty();
  });
  chmod(path.c_str(), 0644);
  EXPECT_TRUE(as_stated);
  EXPECT_EQ(ReadBytes(path), kPersonsFile);
}

// A file that becomes unreadable (but stays writable) for this user at the
// save's last look (as an unprivileged user: root reads every file) is not
// another program's change, nor a file the save may go on to replace: the save fails at once with EACCES, looks once, replaces nothing
// and leaves no temporary file.
TEST(SaveKeepsWhatLandedMeanwhile, AFileThatBecomesUnreadableAtTheLastLookFailsWithEacces) {
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string path = dir.File("shared.cfg");
  const bool dropped = testutil::RunInChildProcess([] {
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0 && geteuid() == 65534);
  });
  if (!dropped) GTEST_SKIP() << "cannot become the unprivileged user 65534 (setuid refused)";
  const bool as_stated = testutil::RunInChildProcess([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    WriteBytes(path, kPeerBefore);  // this user's own file
    int looks = 0;
    PlatformSetReplaceHookForTesting(
        [](const char* target, ReplaceMoment moment, void* context) {
          if (moment != ReplaceMoment::kBeforeLastLook) return;
          ++*static_cast<int*>(context);
          chmod(target, 0200);  // still writable: only the look can tell
        },
        &looks);
    MP4VSettings record = ExampleRecord();
    ForgetLastError();
    const int32_t result = Save(&record, path);
    const uint32_t reason = LastError();
    PlatformSetReplaceHookForTesting(nullptr, nullptr);
    std::fprintf(stderr, "result %d, last error %u, %d looks\n", static_cast<int>(result),
                 reason, looks);
    return result == MP4V_STATUS_FAILED && reason == EACCES && looks == 1;
  });
  EXPECT_TRUE(as_stated);
  chmod(path.c_str(), 0644);
  EXPECT_EQ(ReadBytes(path), kPeerBefore);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u) << "a temporary file was left";
}
#endif

// ---- The update request ----------------------------------------------------

int32_t Update(MP4VSettings* s, const MP4VSettings* loaded, const std::string& name) {
  auto fn = reinterpret_cast<MP4VConfigUpdateFn>(MP4VConfigGetAPIExt(MP4V_FUNC_UPDATE));
  return fn(s, loaded, name.c_str());
}

// A host loads, changes some settings, and in the meantime another writer
// changes the file: the update writes the host's changes onto the file as
// it is then and hands back the record as saved.
TEST(UpdateRequestTest, WritesOnlyTheHostsChangesOntoTheFileAsItIs) {
  struct Case {
    const char* what;
    std::function<void(MP4VSettings* wanted)> change;  // the host's
    const char* meanwhile;                              // the file, rewritten by another
    std::vector<std::pair<std::string, std::string>> file_after;  // lines expected
    std::function<bool(const MP4VSettings&)> handed_back;
  };
  const char kStart[] = "# kept\n[MP4V Settings]\nwidth = 640\nquality = 90\n[Other]\nx=1\n";
  const Case cases[] = {
      {"the other writer's settings stay and come back",
       [](MP4VSettings* s) { s->width = 720; },
       "# kept\n[MP4V Settings]\nwidth = 640\nquality = 70\ntarget_bitrate = 8000000\n"
       "[Other]\nx=2\n",
       {{"width", "720"}, {"quality", "70"}, {"target_bitrate", "8000000"}, {"x", "2"}},
       [](const MP4VSettings& s) {
         return s.width == 720 && s.quality == 70 && s.target_bitrate == 8000000;
       }},
      {"a setting both changed takes the host's value",
       [](MP4VSettings* s) { s->quality = 95; },
       "[MP4V Settings]\nwidth = 800\nquality = 10\n",
       {{"width", "800"}, {"quality", "95"}},
       [](const MP4VSettings& s) { return s.width == 800 && s.quality == 95; }},
      {"a setting the file lost keeps the host's loaded value",
       [](MP4VSettings* s) { s->height = 576; },
       "[MP4V Settings]\nquality = 90\n",
       {{"width", "640"}, {"height", "576"}, {"quality", "90"}},
       [](const MP4VSettings& s) { return s.width == 640 && s.height == 576; }},
      {"nothing meanwhile: the host's change alone",
       [](MP4VSettings* s) { s->frame_rate = 25.0; },
       nullptr,
       {{"width", "640"}, {"quality", "90"}, {"frame_rate", "25.0000000000"}},
       [](const MP4VSettings& s) { return s.width == 640 && s.frame_rate == 25.0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir.File("enc.cfg");
    WriteBytes(path, kStart);
    MP4VSettings loaded;
    std::memset(&loaded, 0x5A, sizeof loaded);
    loaded.frame_rate = 30.0;
    ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
    MP4VSettings wanted = loaded;
    c.change(&wanted);
    if (c.meanwhile != nullptr) WriteBytes(path, c.meanwhile);
    ASSERT_EQ(Update(&wanted, &loaded, path), MP4V_STATUS_OK);
    EXPECT_TRUE(c.handed_back(wanted));
    EXPECT_EQ(wanted.reserved_64[0], 0x5A) << "a byte outside the fields was written";
    // What the file holds is what was handed back.
    MP4VSettings reloaded = wanted;
    ASSERT_EQ(Load(&reloaded, path), MP4V_STATUS_OK);
    EXPECT_EQ(std::memcmp(&reloaded, &wanted, sizeof wanted), 0);
    const std::string text = ReadBytes(path);
    for (const auto& line : c.file_after) {
      const std::string compact = line.first + "=" + line.second;
      const std::string aligned = line.first + std::string(31 - line.first.size(), ' ') +
                                  " = " + line.second;
      const std::string as_is = line.first + " = " + line.second;
      EXPECT_TRUE(text.find(compact) != std::string::npos ||
                  text.find(aligned) != std::string::npos ||
                  text.find(as_is) != std::string::npos)
          << line.first << " is not " << line.second << " in\n" << text;
    }
    if (c.meanwhile != nullptr && std::string(c.meanwhile).find("# kept") == 0) {
      EXPECT_EQ(text.find("# kept"), 0u);
    }
  }
}

// A change that lands in the update's own turn (after it read the file) is
// built on too, as a save's is.
void WriteQualityOnFirstLook(const char* target, ReplaceMoment moment, void* looks) {
  int& count = *static_cast<int*>(looks);
  if (moment == ReplaceMoment::kBeforeLastLook && count++ == 0) {
    WriteBytes(target, "[MP4V Settings]\nwidth = 640\nquality = 33\n");
  }
}

TEST(UpdateRequestTest, AChangeDuringItsTurnIsKeptAndHandedBack) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[MP4V Settings]\nwidth = 640\nquality = 90\n");
  MP4VSettings loaded{};
  ASSERT_EQ(Load(&loaded, path), MP4V_STATUS_OK);
  MP4VSettings wanted = loaded;
  wanted.width = 720;
  int looks = 0;
  PlatformSetReplaceHookForTesting(&WriteQualityOnFirstLook, &looks);
  const int32_t result = Update(&wanted, &loaded, path);
  PlatformSetReplaceHookForTesting(nullptr, nullptr);
  ASSERT_EQ(result, MP4V_STATUS_OK);
  EXPECT_GE(looks, 2);
  EXPECT_EQ(wanted.width, 720);
  EXPECT_EQ(wanted.quality, 33);
  MP4VSettings back{};
  ASSERT_EQ(Load(&back, path), MP4V_STATUS_OK);
  EXPECT_EQ(back.width, 720);
  EXPECT_EQ(back.quality, 33);
}

// Refused and failed updates: the save's results and last errors, the
// host's record untouched, the file as it was.
TEST(UpdateRequestTest, FailsAsTheSaveDoesAndTouchesNothing) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, kPersonsFile);
  const std::string wide = PersonsFileInUtf16();
  WriteBytes(dir.File("wide.cfg"), wide);
  MP4VSettings loaded{};
  MP4VSettings record{};
  record.width = 720;
  struct Case {
    const char* what;
    MP4VSettings* settings;
    const MP4VSettings* loaded;
    std::string name;
    uint32_t reason;
  };
  const Case cases[] = {
      {"null record", nullptr, &loaded, path, kRefused},
      {"null loaded record", &record, nullptr, path, kRefused},
      {"refused name", &record, &loaded, dir.File("enc.CFG"), kRefused},
      {"UTF-16 text", &record, &loaded, dir.File("wide.cfg"), kUtf16Reason},
      {"a folder that does not exist", &record, &loaded, dir.File("no") + "/enc.cfg",
       kNoFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MP4VSettings before = record;
    ForgetLastError();
    auto fn = reinterpret_cast<MP4VConfigUpdateFn>(MP4VConfigGetAPIExt(MP4V_FUNC_UPDATE));
    const int32_t result = fn(c.settings, c.loaded, c.name.c_str());
    const uint32_t reason = LastError();
    EXPECT_EQ(result, MP4V_STATUS_FAILED);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  }
  EXPECT_EQ(ReadBytes(path), kPersonsFile);
  EXPECT_EQ(ReadBytes(dir.File("wide.cfg")), wide);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 2u);
}

}  // namespace
