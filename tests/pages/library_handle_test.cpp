// The library handle record: composing the file name, loading it through the
// safe search, looking entries up and unloading.
#include "pages/library_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/libraries.h"
#include "pages_test_support.h"

namespace {

using pages_test::Fixture;
using pages_test::IsLoaded;
namespace fs = std::filesystem;

constexpr size_t kCapacity = kLibraryPathCapacity;

TEST(LibraryComposeFileNameTest, ComposesWhatFitsAndRefusesTheRest) {
  const std::u16string fills(kCapacity - 5, u'a');  // + ".dll" + NUL = 2048
  const std::u16string overflows(kCapacity - 4, u'a');
  struct Case {
    const char* what;
    const char16_t* name;
    const char16_t* extension;
    size_t capacity;
    std::u16string expected;  // empty: refused
  };
  const Case cases[] = {
      {"no extension asks for .dll", u"demo_config_gui_mp4v", nullptr,
       kCapacity, u"demo_config_gui_mp4v.dll"},
      {"extension given", u"probe", u"bin", kCapacity, u"probe.bin"},
      {"empty extension keeps the dot", u"probe", u"", kCapacity, u"probe."},
      {"exactly fills the buffer", u"abcd", u"dll", 9, u"abcd.dll"},
      {"one character short", u"abcd", u"dll", 8, u""},
      {"name alone too long", u"abcdefgh", nullptr, 8, u""},
      {"only room for the terminator", u"a", u"b", 1, u""},
      {"null name", nullptr, u"dll", kCapacity, u""},
      {"longest name the record takes", fills.c_str(), nullptr, kCapacity,
       fills + u".dll"},
      {"one past the record's capacity", overflows.c_str(), nullptr, kCapacity,
       u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Exactly `capacity` characters, so any write past it is caught by the
    // address sanitizer.
    std::vector<char16_t> out(c.capacity, u'x');
    const int32_t result =
        LibraryComposeFileName(c.name, c.extension, out.data(), out.size());
    EXPECT_EQ(c.expected.empty() ? 0 : 1, result);
    EXPECT_EQ(c.expected, std::u16string(out.data()));
  }
}

// A record whose every field is something a load must not keep.
LibraryHandle DirtyRecord() {
  LibraryHandle record;
  std::memset(&record, 0x5A, sizeof record);
  record.owned = 0;  // a load frees nothing, but stay safe if it did
  record.path[kCapacity - 1] = u'\0';
  record.error_text[kCapacity - 1] = '\0';
  return record;
}

void ExpectReset(const LibraryHandle& record) {
  EXPECT_EQ(nullptr, record.module);
  EXPECT_EQ(0, record.owned);
  EXPECT_EQ(u"", std::u16string(record.path));
  EXPECT_EQ(0u, record.last_error);
  EXPECT_STREQ("", record.error_text);
}

class LibraryHandleTest : public pages_test::PagesFixtureTest {};

TEST_F(LibraryHandleTest, LoadsTheComposedNameFromThisModulesDirectory) {
  struct Case {
    const char16_t* planted;  // file placed beside this program
    const char16_t* name;
    const char16_t* extension;
    const char16_t* loaded_as;  // null: the load fails
  };
  const Case cases[] = {
      {u"pages_probe.bin", u"pages_probe", u"bin", u"pages_probe.bin"},
      {u"pages_probe.bin", u"pages_probe", nullptr, nullptr},
      {u"pages_probe.dll", u"pages_probe", nullptr, u"pages_probe.dll"},
      {u"pages_probe.dll", u"pages_probe", u"bin", nullptr},
      // Beyond ASCII and beyond the basic plane (a surrogate pair).
      {u"pag\u00e9s_pr\u00f8be_\U0001F600.dll", u"pag\u00e9s_pr\u00f8be_\U0001F600",
       nullptr, u"pag\u00e9s_pr\u00f8be_\U0001F600.dll"},
  };
  for (const Case& c : cases) {
    const fs::path planted = BesideProgram(c.planted);
    SCOPED_TRACE(planted.u8string());
    Plant(Fixture::kWithEntry, planted);
    LibraryHandle record = DirtyRecord();
    const int32_t result = LibraryHandleLoad(&record, c.name, c.extension);
    if (c.loaded_as == nullptr) {
      EXPECT_EQ(0, result);
      ExpectReset(record);
    } else {
      EXPECT_EQ(1, result);
      EXPECT_NE(nullptr, record.module);
      EXPECT_EQ(1, record.owned);
      EXPECT_EQ(std::u16string(c.loaded_as), std::u16string(record.path));
      EXPECT_EQ(0u, record.last_error);
      EXPECT_STREQ("", record.error_text);
      EXPECT_TRUE(IsLoaded(c.loaded_as));
      LibraryHandleUnload(&record);
      EXPECT_FALSE(IsLoaded(c.loaded_as));
    }
    Unplant(planted);
  }
}

TEST_F(LibraryHandleTest, LoadRefusesANameThatDoesNotFitAndLeavesTheRecordReset) {
  const std::u16string too_long(kCapacity - 4, u'a');  // + ".dll" = 2048
  LibraryHandle record = DirtyRecord();
  EXPECT_EQ(0, LibraryHandleLoad(&record, too_long.c_str(), nullptr));
  ExpectReset(record);

  record = DirtyRecord();
  EXPECT_EQ(0, LibraryHandleLoad(&record, nullptr, nullptr));
  ExpectReset(record);
}

TEST_F(LibraryHandleTest, LookupKeepsTheRecordOnSuccessAndStoresTheErrorOnFailure) {
  Plant(Fixture::kWithEntry, BesideProgram(u"pages_probe.dll"));
  LibraryHandle record;
  ASSERT_EQ(1, LibraryHandleInit(&record));
  ASSERT_EQ(1, LibraryHandleLoad(&record, u"pages_probe", nullptr));
  record.last_error = 99;
  std::strcpy(record.error_text, "kept");

  auto entry = reinterpret_cast<PagesFixtureEntry>(
      LibraryHandleGetProc(&record, "showMP4VEncoderPages"));
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(PAGES_FIXTURE_MAGIC, entry());
  EXPECT_EQ(99u, record.last_error);
  EXPECT_STREQ("kept", record.error_text);

  // Entry names match exactly, case included.
  for (const char* missing :
       {"showmp4vencoderpages", "showMP4VDecoderPages", "showMP4VEncoderPage"}) {
    SCOPED_TRACE(missing);
    record.last_error = 0;
    std::strcpy(record.error_text, "stale");
    EXPECT_EQ(nullptr, LibraryHandleGetProc(&record, missing));
    EXPECT_EQ(kPlatformErrorProcNotFound, record.last_error);
    EXPECT_STREQ("", record.error_text);
    EXPECT_NE(nullptr, record.module);
    EXPECT_EQ(1, record.owned);
  }
  LibraryHandleUnload(&record);
}

TEST_F(LibraryHandleTest, LookupInARecordWithoutLibraryFindsNothingElsewhere) {
  // The null module handle must not turn into "any loaded library": the C
  // library's "free" is loaded in every process.
  LibraryHandle record;
  LibraryHandleInit(&record);
  EXPECT_EQ(nullptr, LibraryHandleGetProc(&record, "free"));
  EXPECT_NE(0u, record.last_error);
}

TEST_F(LibraryHandleTest, UnloadFreesOnlyWhatTheRecordOwns) {
  Plant(Fixture::kWithEntry, BesideProgram(u"pages_probe.dll"));
  LibraryHandle record;
  LibraryHandleInit(&record);
  ASSERT_EQ(1, LibraryHandleLoad(&record, u"pages_probe", nullptr));
  void* const module = record.module;
  record.owned = 0;
  record.last_error = 5;
  std::strcpy(record.error_text, "kept");

  EXPECT_EQ(1, LibraryHandleUnload(&record));
  EXPECT_EQ(nullptr, record.module);
  EXPECT_EQ(0, record.owned);
  EXPECT_EQ(u"pages_probe.dll", std::u16string(record.path));
  EXPECT_EQ(5u, record.last_error);
  EXPECT_STREQ("kept", record.error_text);
  EXPECT_TRUE(IsLoaded(u"pages_probe.dll")) << "an unowned library was freed";
  PlatformLibraryFree(module);
  EXPECT_FALSE(IsLoaded(u"pages_probe.dll"));

  ASSERT_EQ(1, LibraryHandleLoad(&record, u"pages_probe", nullptr));
  EXPECT_EQ(1, LibraryHandleUnload(&record));
  EXPECT_FALSE(IsLoaded(u"pages_probe.dll")) << "an owned library was kept";
  EXPECT_EQ(u"pages_probe.dll", std::u16string(record.path));
  // Unloading again frees nothing more.
  EXPECT_EQ(1, LibraryHandleUnload(&record));
}

TEST_F(LibraryHandleTest, NamesWithADirectoryPartAreRefused) {
  // Copies everywhere such a name could point: the current directory, a
  // directory below it, and beside this program.
  Plant(Fixture::kWithEntry, scratch_ / u"pages_probe.dll");
  Plant(Fixture::kWithEntry, scratch_ / u"sub" / u"pages_probe.dll");
  Plant(Fixture::kWithEntry, BesideProgram(u"pages_probe.dll"));
  std::vector<std::u16string> names = {
      u"./pages_probe.dll", u"sub/pages_probe.dll",
      BesideProgram(u"pages_probe.dll").generic_u16string()};
#ifdef _WIN32
  names.push_back(u".\\pages_probe.dll");
  names.push_back(u"sub\\pages_probe.dll");
  names.push_back(BesideProgram(u"pages_probe.dll").u16string());
#endif
  for (const std::u16string& name : names) {
    SCOPED_TRACE(fs::path(name).u8string());
    void* module = PlatformLibraryLoad(name.c_str());
    EXPECT_EQ(nullptr, module);
    PlatformLibraryFree(module);
    EXPECT_FALSE(IsLoaded(u"pages_probe.dll"));
  }
}

}  // namespace
