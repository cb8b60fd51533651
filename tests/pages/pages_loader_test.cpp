// The settings-pages request, with fixture libraries planted where a host
// would (or where an attacker might) put "demo_config_gui_mp4v.dll".
#include "pages/pages_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/module.h"
#include "host/module_library.h"
#include "platform/libraries.h"
#include "pages_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using pages_test::Fixture;
using pages_test::IsLoaded;
using pages_test::kPagesFileName;
namespace fs = std::filesystem;

class PagesLoaderTest : public pages_test::PagesFixtureTest {
 protected:
  void PlantBesideProgram(Fixture fixture) {
    Plant(fixture, BesideProgram(kPagesFileName));
  }

  static const LibraryHandle& Current() {
    const LibraryHandle* record = CurrentPagesLibraryHandle();
    if (record == nullptr) {
      ADD_FAILURE() << "no current record";
      static const LibraryHandle empty{};
      return empty;
    }
    return *record;
  }

  static void ExpectEntryOfFixture(void* address) {
    ASSERT_NE(nullptr, address);
    EXPECT_EQ(PAGES_FIXTURE_MAGIC,
              reinterpret_cast<PagesFixtureEntry>(address)());
  }
};

TEST_F(PagesLoaderTest, PresentWithTheEntryHandsOutItsAddress) {
  PlantBesideProgram(Fixture::kWithEntry);
  ExpectEntryOfFixture(GetEncoderPagesEntry());
  const LibraryHandle& record = Current();
  EXPECT_NE(nullptr, record.module);
  EXPECT_EQ(1, record.owned);
  EXPECT_EQ(u"demo_config_gui_mp4v.dll", std::u16string(record.path));
  EXPECT_EQ(0u, record.last_error);
  EXPECT_STREQ("", record.error_text);
  EXPECT_TRUE(IsLoaded(kPagesFileName));
}

TEST_F(PagesLoaderTest, AbsentGivesNullAndTheNextRequestTriesAgain) {
  EXPECT_EQ(nullptr, GetEncoderPagesEntry());
  const LibraryHandle* first = CurrentPagesLibraryHandle();
  ASSERT_NE(nullptr, first) << "the failed request's record stays current";
  EXPECT_EQ(nullptr, first->module);
  EXPECT_EQ(0, first->owned);
  EXPECT_EQ(u"", std::u16string(first->path));
  EXPECT_EQ(0u, first->last_error);

  // Still absent: the record without library is released (nothing to free)
  // and a new one stands in the same state.
  EXPECT_EQ(nullptr, GetEncoderPagesEntry());
  EXPECT_EQ(nullptr, Current().module);

  // Absent, then present.
  PlantBesideProgram(Fixture::kWithEntry);
  ExpectEntryOfFixture(GetEncoderPagesEntry());
  EXPECT_EQ(1, Current().owned);
}

TEST_F(PagesLoaderTest, WithoutTheEntryTheLibraryStaysLoadedUntilTheNextRequest) {
  PlantBesideProgram(Fixture::kWithoutEntry);
  EXPECT_EQ(nullptr, GetEncoderPagesEntry());
  EXPECT_NE(nullptr, Current().module);
  EXPECT_EQ(1, Current().owned);
  EXPECT_EQ(kPlatformErrorProcNotFound, Current().last_error);
  EXPECT_STREQ("", Current().error_text);
  EXPECT_TRUE(IsLoaded(kPagesFileName));

  // The next request frees that load before loading again, so releasing
  // its record leaves nothing loaded.
  EXPECT_EQ(nullptr, GetEncoderPagesEntry());
  EXPECT_TRUE(IsLoaded(kPagesFileName));
  ReleaseEncoderPagesLibrary();
  EXPECT_FALSE(IsLoaded(kPagesFileName)) << "a request kept an earlier load";
}

TEST_F(PagesLoaderTest, TwoSuccessfulRequestsHoldExactlyOneLoad) {
  PlantBesideProgram(Fixture::kWithEntry);
  ExpectEntryOfFixture(GetEncoderPagesEntry());
  ExpectEntryOfFixture(GetEncoderPagesEntry());
  ExpectEntryOfFixture(GetEncoderPagesEntry());
  EXPECT_TRUE(IsLoaded(kPagesFileName));
  // One release of the current record is one FreeLibrary: if any request
  // had kept an earlier load, the library would still be loaded.
  ReleaseEncoderPagesLibrary();
  EXPECT_FALSE(IsLoaded(kPagesFileName)) << "a request kept an earlier load";
  EXPECT_EQ(nullptr, CurrentPagesLibraryHandle());
}

TEST_F(PagesLoaderTest, ACopyInTheCurrentDirectoryIsNotLoaded) {
#ifndef _WIN32
  // An empty or relative LD_LIBRARY_PATH entry puts the current directory
  // into the loader's own search; that is the environment's choice, and the
  // test registered with ctest runs without it.
  const char* paths = std::getenv("LD_LIBRARY_PATH");
  if (paths != nullptr && paths[0] != '\0') {  // "" means none
    const std::string list = std::string(paths) + ":";
    for (size_t start = 0, end; (end = list.find(':', start)) !=
                                std::string::npos;
         start = end + 1) {
      if (list[start] != '/') {
        GTEST_SKIP() << "LD_LIBRARY_PATH searches the current directory";
      }
    }
  }
#endif
  Plant(Fixture::kWithEntry, scratch_ / kPagesFileName);
  ASSERT_EQ(fs::canonical(scratch_), fs::canonical(fs::current_path()));
  EXPECT_EQ(nullptr, GetEncoderPagesEntry());
  EXPECT_EQ(nullptr, Current().module);
  EXPECT_FALSE(IsLoaded(kPagesFileName));
#ifdef _WIN32
  // The plain system search would have loaded it.
  HMODULE unsafe = LoadLibraryW(L"demo_config_gui_mp4v.dll");
  EXPECT_NE(nullptr, unsafe) << "the test's premise does not hold";
  if (unsafe != nullptr) FreeLibrary(unsafe);
#endif

  // The same file beside this program is loaded.
  PlantBesideProgram(Fixture::kWithEntry);
  ExpectEntryOfFixture(GetEncoderPagesEntry());
}

#ifdef _WIN32
TEST_F(PagesLoaderTest, ACopyOnlyOnThePathIsNotLoaded) {
  const fs::path directory = scratch_ / L"on_path";
  Plant(Fixture::kWithEntry, directory / kPagesFileName);
  std::wstring saved(32768, L'\0');
  saved.resize(GetEnvironmentVariableW(L"PATH", saved.data(),
                                       static_cast<DWORD>(saved.size())));
  // Leave the current directory too, so that only PATH could find it.
  fs::current_path(pages_test::ProgramDirectory());
  ASSERT_TRUE(SetEnvironmentVariableW(
      L"PATH", (directory.wstring() + L";" + saved).c_str()));

  void* entry = GetEncoderPagesEntry();
  const bool loaded = IsLoaded(kPagesFileName);
  HMODULE unsafe = LoadLibraryW(L"demo_config_gui_mp4v.dll");
  if (unsafe != nullptr) FreeLibrary(unsafe);
  SetEnvironmentVariableW(L"PATH", saved.c_str());
  fs::current_path(scratch_);

  EXPECT_EQ(nullptr, entry);
  EXPECT_FALSE(loaded);
  EXPECT_NE(nullptr, unsafe) << "the test's premise does not hold";
}
#endif

TEST_F(PagesLoaderTest, TheModulesExportPerformsTheRequest) {
  EXPECT_EQ(nullptr, MP4VConfigGetAPIExt(MP4V_FUNC_SETTINGS_PAGES));
  EXPECT_EQ(nullptr, Current().module);

  PlantBesideProgram(Fixture::kWithEntry);
  ExpectEntryOfFixture(MP4VConfigGetAPIExt(MP4V_FUNC_SETTINGS_PAGES));
  EXPECT_EQ(u"demo_config_gui_mp4v.dll", std::u16string(Current().path));
  ExpectEntryOfFixture(MP4VConfigGetAPIExt(MP4V_FUNC_SETTINGS_PAGES));
  ReleaseEncoderPagesLibrary();
  EXPECT_FALSE(IsLoaded(kPagesFileName));
}

// The built module, loaded by its full path as a host loads it, and left
// loaded as a host leaves it: its current record lives until the process
// ends.
MP4VConfigGetAPIExtFn LoadBuiltModule(const fs::path& file) {
  // Never unloaded, as a host keeps the module until it ends: the module's
  // current pages record lives until then, and unloading the module at exit
  // would leave that record unreachable (a leak to LeakSanitizer).
  static mp4v_host::ModuleLibrary* const module = new mp4v_host::ModuleLibrary;
  std::string error;
  if (!module->Open(file.u8string(), &error)) return nullptr;
  return module->get_api();
}

TEST_F(PagesLoaderTest, TheBuiltModuleSearchesItsOwnDirectory) {
  // Only beside the module: neither beside this program (the host
  // application) nor in the current directory.
  const fs::path module_directory = pages_test::ProgramDirectory() / "module";
  const fs::path beside_module = module_directory / kPagesFileName;
  const fs::path moved = module_directory / "moved_pages_library.dll";
  Plant(Fixture::kWithEntry, beside_module);
  MP4VConfigGetAPIExtFn get_api =
      LoadBuiltModule(module_directory / PAGES_MODULE_FILE);
  ASSERT_NE(nullptr, get_api);

  ExpectEntryOfFixture(get_api(MP4V_FUNC_SETTINGS_PAGES));
  EXPECT_TRUE(IsLoaded(kPagesFileName));

  // Gone (moved: a loaded library can be renamed but not deleted on
  // Windows): the next request frees the held load and finds nothing.
  fs::rename(beside_module, moved);
  EXPECT_EQ(nullptr, get_api(MP4V_FUNC_SETTINGS_PAGES));
  EXPECT_FALSE(IsLoaded(kPagesFileName));
  Unplant(beside_module);
  fs::remove(moved);
}

#ifdef _WIN32
// A host that unloads the module, as the host's guide describes it: the
// module releases nothing when it goes, so the settings-pages library its
// last request loaded stays loaded and the entry that request handed out
// can still be called; only the process's end (here, the test) frees it.
TEST_F(PagesLoaderTest, UnloadingTheModuleLeavesThePagesLibraryLoaded) {
  // A copy of the built module of its own, so that no other test's load of
  // it keeps it in the process.
  const fs::path directory = scratch_ / "unloaded";
  fs::create_directories(directory);
  const fs::path module_file = directory / "unloaded_module.dll";
  fs::copy_file(pages_test::ProgramDirectory() / "module" / PAGES_MODULE_FILE, module_file);
  Plant(Fixture::kWithEntry, directory / kPagesFileName);
  HMODULE module = LoadLibraryExW(module_file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(nullptr, module);
  const auto get_api = reinterpret_cast<MP4VConfigGetAPIExtFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, MP4V_CONFIG_GET_API_EXT_NAME)));
  ASSERT_NE(nullptr, get_api);
  void* entry = get_api(MP4V_FUNC_SETTINGS_PAGES);
  ExpectEntryOfFixture(entry);

  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(IsLoaded(module_file.filename())) << "the module is still loaded";
  EXPECT_TRUE(IsLoaded(kPagesFileName));
  ExpectEntryOfFixture(entry);

  // The one load the module left behind.
  HMODULE left = GetModuleHandleW(kPagesFileName.c_str());
  ASSERT_NE(nullptr, left);
  FreeLibrary(left);
  EXPECT_FALSE(IsLoaded(kPagesFileName)) << "the module left more than one load";
  fs::remove(module_file);
}
#endif

}  // namespace
