#include "pages_test_support.h"

#include <algorithm>
#include <system_error>

#include "pages/pages_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <link.h>
#endif

namespace fs = std::filesystem;

namespace pages_test {

namespace {

fs::path BuiltFixture(Fixture fixture) {
  return ProgramDirectory() / (fixture == Fixture::kWithEntry
                                   ? PAGES_FIXTURE_WITH_ENTRY_FILE
                                   : PAGES_FIXTURE_WITHOUT_ENTRY_FILE);
}

#ifndef _WIN32
struct LoadedSearch {
  const fs::path* file_name;
  bool found;
};

int MatchLoaded(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<LoadedSearch*>(data);
  if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' &&
      fs::path(info->dlpi_name).filename() == *search->file_name) {
    search->found = true;
    return 1;
  }
  return 0;
}
#endif

}  // namespace

fs::path ProgramDirectory() {
#ifdef _WIN32
  std::wstring file(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
  file.resize(length);
  return fs::path(file).parent_path();
#else
  return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

bool IsLoaded(const fs::path& file_name) {
#ifdef _WIN32
  return GetModuleHandleW(file_name.c_str()) != nullptr;
#else
  LoadedSearch search{&file_name, false};
  dl_iterate_phdr(MatchLoaded, &search);
  return search.found;
#endif
}

void PagesFixtureTest::SetUp() {
  ReleaseEncoderPagesLibrary();
  ASSERT_FALSE(IsLoaded(kPagesFileName)) << "left loaded by an earlier test";
  original_directory_ = fs::current_path();
  scratch_ = ProgramDirectory() / "pages_scratch";
  fs::remove_all(scratch_);
  fs::create_directories(scratch_);
  fs::current_path(scratch_);
  // A copy left behind by an interrupted run would change what loads.
  fs::remove(BesideProgram(kPagesFileName));
}

void PagesFixtureTest::TearDown() {
  ReleaseEncoderPagesLibrary();
  EXPECT_FALSE(IsLoaded(kPagesFileName)) << "a pages library is still loaded";
  for (const fs::path& file : planted_) {
    std::error_code error;
    fs::remove(file, error);
    EXPECT_FALSE(error) << "cannot remove " << file << ": " << error.message();
  }
  fs::current_path(original_directory_);
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
}

void PagesFixtureTest::Plant(Fixture fixture, const fs::path& destination) {
  fs::create_directories(destination.parent_path());
  fs::copy_file(BuiltFixture(fixture), destination,
                fs::copy_options::overwrite_existing);
  planted_.push_back(destination);
}

void PagesFixtureTest::Unplant(const fs::path& destination) {
  fs::remove(destination);
  planted_.erase(std::remove(planted_.begin(), planted_.end(), destination),
                 planted_.end());
}

}  // namespace pages_test
