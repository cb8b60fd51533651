// Other Windows programs share the settings file: after a save through the
// module, each of them reads its own sections through the profile functions
// (GetPrivateProfileSectionA) exactly as it did before. Run on files shaped
// like the configuration files of unrelated programs and on generated ones.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "mp4v_config.h"
#include "support/test_util.h"

namespace {

// Every section of the file at `path` as the profile functions read it: its
// name, then the "key=value" strings of GetPrivateProfileSectionA.
std::map<std::string, std::vector<std::string>> ReadSections(const std::string& path) {
  std::map<std::string, std::vector<std::string>> sections;
  std::vector<char> buffer(1 << 20);
  const DWORD names = GetPrivateProfileSectionNamesA(
      buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
  EXPECT_LT(names, buffer.size() - 2) << path;
  std::vector<std::string> list;
  for (const char* name = buffer.data(); *name != '\0'; name += std::strlen(name) + 1) {
    list.emplace_back(name);
  }
  for (const std::string& name : list) {
    const DWORD size = GetPrivateProfileSectionA(name.c_str(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), path.c_str());
    EXPECT_LT(size, buffer.size() - 2) << path << " [" << name << "]";
    std::vector<std::string>& entries = sections[name];
    for (const char* entry = buffer.data(); *entry != '\0'; entry += std::strlen(entry) + 1) {
      entries.emplace_back(entry);
    }
  }
  return sections;
}

bool IsSettingsSection(const std::string& name) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), -1, "MP4V Settings",
                        -1) == CSTR_EQUAL;
}

class PeerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(module_.Open(std::string(), &error)) << error;
  }

  // Saves a copy of `bytes` with a changed width through the module and
  // compares what the profile functions read of every section that is not
  // the settings' before and after. Empty when they agree.
  std::string SaveAndCompare(const std::string& bytes) {
    const std::string before = dir_.File("before.ini");
    const std::string after = dir_.File("after-" + std::to_string(++count_) + ".ini");
    testutil::WriteBytes(before, bytes);
    testutil::WriteBytes(after, bytes);
    MP4VSettings record{};
    if (module_.load()(&record, after.c_str()) != MP4V_STATUS_OK) return "load refused";
    record.width = 720;
    if (module_.save()(&record, after.c_str()) != MP4V_STATUS_OK) return "save failed";
    auto read_before = ReadSections(before);
    auto read_after = ReadSections(after);
    std::remove(after.c_str());
    for (auto* sections : {&read_before, &read_after}) {
      for (auto it = sections->begin(); it != sections->end();) {
        it = IsSettingsSection(it->first) ? sections->erase(it) : std::next(it);
      }
    }
    if (read_before == read_after) return "";
    std::string report;
    for (const auto& section : read_before) {
      const auto other = read_after.find(section.first);
      if (other == read_after.end()) {
        report += "[" + section.first + "] is gone\n";
      } else if (other->second != section.second) {
        report += "[" + section.first + "] reads differently\n";
      }
    }
    for (const auto& section : read_after) {
      if (read_before.count(section.first) == 0) report += "[" + section.first + "] is new\n";
    }
    return report;
  }

  static mp4v_host::ModuleLibrary module_;
  testutil::ScratchDir dir_;
  int count_ = 0;
};

mp4v_host::ModuleLibrary PeerTest::module_;

// The files of the test suite, or those of the folder MP4V_PEER_FILES names
// in the environment (to measure any other set of files).
TEST_F(PeerTest, ProgramsSharingTheFileReadTheirSectionsAsBefore) {
  const char* folder = std::getenv("MP4V_PEER_FILES");
  const bool own = folder == nullptr;
  int files = 0, differ = 0;
  for (const auto& entry : std::filesystem::directory_iterator(own ? MP4V_PEER_FILES : folder)) {
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    const std::string bytes = testutil::ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    const std::string report = SaveAndCompare(bytes);
    EXPECT_EQ(report, "");
    differ += !report.empty();
    ++files;
  }
  std::printf("%d of %d files read differently after a save\n", differ, files);
  EXPECT_GE(files, own ? 19 : 1);
}

// Random files of the lines other programs write: names alone, values with
// "#", ";" and blanks, indented continuation lines, comments of both kinds,
// headers without "]", lines longer than 511 characters, every line end.
TEST_F(PeerTest, GeneratedFilesReadTheirSectionsAsBefore) {
  static const char* const kLines[] = {
      "[Recent]", "[Paths]", "[broken", "[ spaced ]", "[MP4V Settings]", "[mp4v settings]",
      "C:\\Videos\\a.avi", "flag", "path=C:\\dir#1\\a.avi", "   indented = yes  ",
      ";quality = 5", "# a comment", "parts =", "    one", "    two", "key = value ; note",
      "k=v # c", "a=b=c", "  = odd", "width = 640", "height=#480", "quality = 5 x",
      "name  =  two  blanks  ", "tab\t=\tvalue\t", "x=", "=y"};
  static const char* const kEnds[] = {"\n", "\r\n"};
  std::mt19937 rng(25);
  for (int round = 0; round < 150; ++round) {
    std::string bytes;
    for (int i = static_cast<int>(rng() % 25); i >= 0; --i) {
      if (rng() % 30 == 0) {
        bytes += "long=" + std::string(505 + rng() % 200, static_cast<char>('a' + rng() % 3));
      } else {
        bytes += kLines[rng() % std::size(kLines)];
      }
      bytes += kEnds[rng() % 2];
    }
    SCOPED_TRACE(testing::PrintToString(bytes));
    ASSERT_EQ(SaveAndCompare(bytes), "");
  }
}

}  // namespace
