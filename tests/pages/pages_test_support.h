// Fixture libraries for the pages tests: where they are built, where a test
// plants copies of them, and how to tell whether one is loaded.
//
// "This module", whose directory the loader searches first, is the test
// program itself here: the core library is linked into it statically.
#ifndef MP4V_TESTS_PAGES_PAGES_TEST_SUPPORT_H_
#define MP4V_TESTS_PAGES_PAGES_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "fixtures/pages_fixture_api.h"

namespace pages_test {

enum class Fixture { kWithEntry, kWithoutEntry };

// The file name the settings-pages request asks for.
inline const std::filesystem::path kPagesFileName = u"demo_config_gui_mp4v.dll";

// The directory holding this test program and the built fixtures.
std::filesystem::path ProgramDirectory();

// Whether a library with the file name `file_name` is loaded in this
// process, wherever it came from. Takes no load of its own.
bool IsLoaded(const std::filesystem::path& file_name);

// Each test starts with no current pages record, nothing planted, and the
// current directory set to an empty scratch directory that is not this
// program's directory. Afterwards the record is released, planted files are
// removed and the test fails if a pages library is still loaded.
class PagesFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Copies the built `fixture` to `destination`, to be removed afterwards.
  void Plant(Fixture fixture, const std::filesystem::path& destination);
  // Removes a planted copy now (its library must not be loaded).
  void Unplant(const std::filesystem::path& destination);

  // `file_name` in this program's directory.
  static std::filesystem::path BesideProgram(
      const std::filesystem::path& file_name) {
    return ProgramDirectory() / file_name;
  }

  std::filesystem::path scratch_;  // the current directory during the test

 private:
  std::filesystem::path original_directory_;
  std::vector<std::filesystem::path> planted_;
};

}  // namespace pages_test

#endif  // MP4V_TESTS_PAGES_PAGES_TEST_SUPPORT_H_
