// Safe file replacement: long paths, and every way the step that puts the
// new file in place can fail.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/replacement.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WriteBytes;

// Directory calls of the family the module uses (the ANSI
// functions on Windows), so that "the longest path" is the longest path the
// module itself is handed.
bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
  std::error_code error;
  return fs::create_directory(path, error);
#endif
}

void RemoveDir(const std::string& path) {
#ifdef _WIN32
  RemoveDirectoryA(path.c_str());
#else
  std::error_code ignored;
  fs::remove(path, ignored);
#endif
}

// The last look compares the file with what the save read in pieces: a
// difference anywhere, in the first or last byte of a piece, or in the
// length, is found, and then the file's whole text is handed over.
TEST(CompareFileTest, FindsEveryDifferenceAcrossPieces) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  auto text = [](size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
  };
  auto flipped = [](std::string bytes, size_t at) {
    bytes[at] = '#';
    return bytes;
  };
  struct Case {
    const char* what;
    std::string expected;  // what the save read
    std::string file;      // what the file holds
  };
  const size_t kPiece = 16384;
  const std::vector<Case> cases = {
      {"empty", "", ""},
      {"one piece exactly", text(kPiece), text(kPiece)},
      {"a byte past a piece", text(kPiece + 1), text(kPiece + 1)},
      {"large", text(300000), text(300000)},
      {"first byte", text(40000), flipped(text(40000), 0)},
      {"last byte of a piece", text(40000), flipped(text(40000), kPiece - 1)},
      {"first byte of the next", text(40000), flipped(text(40000), kPiece)},
      {"last byte", text(40000), flipped(text(40000), 39999)},
      {"deep in a large file", text(300000), flipped(text(300000), 200000)},
      {"one byte longer", text(kPiece), text(kPiece + 1)},
      {"one byte shorter", text(kPiece + 1), text(kPiece)},
      {"emptied", text(100), ""},
      {"filled", "", text(100)},
  };
  // The same text expected as a string, and as a save that held only a
  // stretch of it expects it: its new file, with that stretch in place of
  // the new one (which is longer, shorter, or as long as the old).
  const std::string spliced_path = dir.File("new.cfg");
  for (const Case& c : cases) {
    for (const size_t new_size : {size_t{0}, size_t{7}, size_t{20000}}) {
      const size_t at = c.expected.size() / 3;
      const size_t held_size = std::min<size_t>(c.expected.size() - at, 5000);
      ExpectedFile spliced;
      spliced.spliced = true;
      spliced.bytes = c.expected.substr(at, held_size);
      spliced.splice_at = at;
      spliced.splice_size = new_size;
      const std::string new_file = c.expected.substr(0, at) + std::string(new_size, '!') +
                                   c.expected.substr(at + held_size);
      WriteBytes(spliced_path, new_file);
#ifdef _WIN32
      const HANDLE reads = CreateFileA(spliced_path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(reads, INVALID_HANDLE_VALUE);
      spliced.written = reinterpret_cast<intptr_t>(reads);
#else
      const int reads = open(spliced_path.c_str(), O_RDONLY);
      ASSERT_GE(reads, 0);
      spliced.written = reads;
#endif
      spliced.written_size = new_file.size();
      ExpectedFile plain_file;
      plain_file.bytes = c.expected;
      const ExpectedFile* const both[] = {&plain_file, &spliced};
      for (const ExpectedFile* expected : both) {
        const std::string how = std::string(c.what) + (expected->spliced ? ", spliced " : "") +
                                (expected->spliced ? std::to_string(new_size) : "");
        WriteBytes(path, c.file);
        std::string now = "stale";
        intptr_t kept = -1;
        uint32_t error = 0;
        const ExpectedText text = ExpectedText::Of(*expected);
        EXPECT_EQ(text.size(), c.expected.size()) << how;
        const FileComparison got = PlatformCompareFile(path.c_str(), text, &now, &kept, &error);
        if (kept != -1) PlatformCloseKept(kept);
        if (c.file == c.expected) {
          EXPECT_EQ(got, FileComparison::kSame) << how;
        } else {
          EXPECT_EQ(got, FileComparison::kOther) << how;
          EXPECT_TRUE(now == c.file) << how << ": the file's text is handed over whole";
        }
        std::string whole;
        EXPECT_TRUE(text.Whole(&whole));
        EXPECT_TRUE(whole == c.expected) << how;
      }
#ifdef _WIN32
      CloseHandle(reads);
#else
      close(reads);
#endif
    }
  }
  std::string now;
  intptr_t kept = -1;
  const std::string x = "x";
  EXPECT_EQ(PlatformCompareFile(dir.File("none.cfg").c_str(), ExpectedText(x), &now, &kept,
                                nullptr),
            FileComparison::kMissing);
  EXPECT_EQ(kept, -1);
}

TEST(TemporaryNameTest, ShortFormIsAsLongAsTheTargetsName) {
  for (const char* target : {"a.cfg", "dir/a.cfg", ".cfg", "x/y/some_long_name.ini"}) {
    const TargetParts parts = SplitTarget(target, "/");
    for (unsigned attempt = 0; attempt < 3; ++attempt) {
      const std::string fixed = TemporaryPath(parts, false, 42, attempt);
      const std::string short_form = TemporaryPath(parts, true, 42, attempt);
      EXPECT_EQ(fixed.size(), parts.directory.size() + kTemporaryNameLength);
      EXPECT_EQ(short_form.size(), std::string(target).size()) << target;
      EXPECT_EQ(short_form.substr(0, parts.directory.size()), parts.directory);
      EXPECT_NE(short_form, target);
    }
    EXPECT_NE(TemporaryPath(parts, false, 42, 0), TemporaryPath(parts, false, 42, 1));
    EXPECT_NE(TemporaryPath(parts, true, 42, 0), TemporaryPath(parts, true, 42, 1));
  }
}

// A target whose path is as long as the system's file functions take, with
// a short name, in a directory where the preferred temporary name would make
// the path too long: the replacement still works, through a temporary name
// no longer than the target's.
TEST(ReplaceFileTest, WorksAtTheLongestPathTheSystemTakes) {
  ScratchDir scratch;
  const char separator = fs::path::preferred_separator;
  const std::string name = "a.cfg";
  // Directories of up to 200 characters, as deep as files can still be
  // created in them; then the last one as long as it can be.
  std::vector<std::string> made;
  std::string directory = scratch.path();
  for (;;) {
    const std::string deeper = directory + separator + std::string(200, 'd');
    if (!MakeDirectory(deeper)) break;
    made.push_back(deeper);
    if (!testutil::CanCreateFile(deeper + separator + name)) break;
    directory = deeper;
  }
  std::string longest;
  for (size_t length = 1; length <= 200; ++length) {
    const std::string candidate = directory + separator + std::string(length, 'e');
    if (!MakeDirectory(candidate)) break;
    made.push_back(candidate);
    if (!testutil::CanCreateFile(candidate + separator + name)) break;
    longest = candidate;
  }
  ASSERT_FALSE(longest.empty());
  const std::string target = longest + separator + name;
  // The preferred temporary name does not fit here.
  EXPECT_FALSE(testutil::CanCreateFile(longest + separator + std::string(kTemporaryNameLength, 't')));

  const std::string first = "first\n";
  const std::string second = "second\n";
  EXPECT_TRUE(PlatformReplaceFile(target.c_str(), first.data(), first.size()));
  std::string bytes;
  EXPECT_EQ(PlatformReadWholeFile(target.c_str(), &bytes), FileReadStatus::kRead);
  EXPECT_EQ(bytes, first);
  EXPECT_TRUE(PlatformReplaceFile(target.c_str(), second.data(), second.size()));
  EXPECT_EQ(PlatformReadWholeFile(target.c_str(), &bytes), FileReadStatus::kRead);
  EXPECT_EQ(bytes, second);
  std::printf("longest path taken: %zu characters\n", target.size());

  // Only the target is left beside it; the deep directories go again.
#ifdef _WIN32
  EXPECT_TRUE(DeleteFileA(target.c_str()));
#else
  EXPECT_EQ(std::remove(target.c_str()), 0);
#endif
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDir(*it);
  EXPECT_TRUE(testutil::ListDir(scratch.path()).empty());
}

// What a replacement keeps of the old file, on the platform where it runs
// (the host's guide states these).
#ifdef _WIN32
// The attributes of a saved file, by what the old file had: hidden, system
// and not-content-indexed stay, the archive bit is set as by any write, and
// offline is not put back.
TEST(ReplaceFileTest, SetsTheArchiveBitAndDropsOffline) {
  struct Case {
    const char* name;
    DWORD before;
    DWORD after;
  };
  const Case cases[] = {
      {"none", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_ARCHIVE},
      {"hidden", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {"offline", FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_SYSTEM,
       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
      {"not indexed", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE},
  };
  constexpr DWORD kLooked = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  ScratchDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File(std::string(c.name) + ".cfg");
    WriteBytes(path, "old\n");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.before));
    // A system that cannot keep an attribute (Wine without extended
    // attributes) cannot show that a save keeps it.
    const DWORD held = GetFileAttributesA(path.c_str()) & kLooked;
    if ((held & ~FILE_ATTRIBUTE_ARCHIVE) != (c.before & kLooked)) {
      std::printf("%s: this file system keeps only %#lx of %#lx\n", c.name,
                  static_cast<unsigned long>(held), static_cast<unsigned long>(c.before));
      continue;
    }
    const std::string bytes = "new\n";
    EXPECT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size())) << c.name;
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & kLooked, c.after) << c.name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  // A new file gets the archive bit too.
  const std::string fresh = dir.File("fresh.cfg");
  EXPECT_TRUE(PlatformReplaceFile(fresh.c_str(), "x\n", 2));
  EXPECT_EQ(GetFileAttributesA(fresh.c_str()) & kLooked, FILE_ATTRIBUTE_ARCHIVE);
}

TEST(ReplaceFileTest, KeepsTheAttributesAPersonSets) {
  ScratchDir dir;
  const std::string path = dir.File("hidden.cfg");
  WriteBytes(path, "old\n");
  const DWORD set = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), set));
  // The file system must keep them before a save can be asked to: Wine keeps
  // them in extended attributes, which its emulator may have been built
  // without.
  ASSERT_EQ(GetFileAttributesA(path.c_str()) & set, set)
      << "this system does not keep the hidden and system attributes a person "
         "sets (under Wine on a machine without native 32-bit execution: "
         "scripts/wine-setup.sh builds qemu-i386 with extended attributes; run it "
         "again, or remove /usr/local/lib/wine-qemu so that it does)";
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & set, set);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes(path), bytes);
}

// The access rights (the DACL) of `path` as text, or empty where they
// cannot be read.
std::string AccessRightsText(const std::string& path) {
  DWORD needed = 0;
  GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return std::string();
  std::vector<char> descriptor(needed);
  LPSTR text = nullptr;
  if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                        &needed) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return std::string();
  }
  std::string result = text;
  LocalFree(text);
  return result;
}

bool SetAccessRightsText(const std::string& path, const char* text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor,
                                                           nullptr)) {
    return false;
  }
  const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
  LocalFree(descriptor);
  return set;
}

// The calling process's user as a SID string ("S-1-5-21-..."), or empty.
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  std::vector<char> user(needed > 0 ? needed : 1);
  LPSTR text = nullptr;
  const bool ok = GetTokenInformation(token, TokenUser, user.data(), needed, &needed) &&
                  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid,
                                         &text);
  CloseHandle(token);
  if (!ok) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

// A file with access rights of its own: the save's temporary file has them
// from its creation (seen while the save pauses after writing it, before it
// takes the file's place), not the folder's, and so does the saved file.
TEST(ReplaceFileTest, TheTemporaryFileHasTheTargetsAccessRightsFromTheStart) {
  ScratchDir dir;
  const std::string path = dir.File("own.cfg");
  const std::string fresh = dir.File("fresh.cfg");
  WriteBytes(path, "old\n");
  WriteBytes(fresh, "");
  // A private file: the system and this user may do anything, nobody else
  // anything at all; not inherited from the folder.
  const std::string me = CurrentUserSid();
  ASSERT_FALSE(me.empty());
  const std::string private_rights = "D:P(A;;FA;;;SY)(A;;FA;;;" + me + ")";
  ASSERT_TRUE(SetAccessRightsText(path, private_rights.c_str())) << GetLastError();
  const std::string own = AccessRightsText(path);
  if (own.empty() || own == AccessRightsText(fresh)) {
    GTEST_SKIP() << "this file system keeps no access rights of a file's own";
  }
  bool saved = false;
  std::thread save([&] {
    PlatformSetSyncDelayForTesting(1500);
    saved = PlatformReplaceFile(path.c_str(), "new\n", 4);
    PlatformSetSyncDelayForTesting(0);
  });
  std::string temporary_rights;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (temporary_rights.empty() && std::chrono::steady_clock::now() < deadline) {
    for (const std::string& name : testutil::ListDir(dir.path())) {
      if (IsTemporaryName(name.c_str())) temporary_rights = AccessRightsText(dir.File(name));
    }
    Sleep(5);
  }
  save.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(temporary_rights, own) << "the temporary file, while the save paused";
  EXPECT_EQ(AccessRightsText(path), own) << "the saved file";
  EXPECT_EQ(ReadBytes(path), "new\n");
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name") !=
         nullptr;
}

FILETIME CreationTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftCreationTime;
}

// A file with a second name gets a new file under the name saved to; the
// creation time is kept on Windows (ReplaceFile keeps it) but not under
// Wine, which cannot set it on a Unix file system.
TEST(ReplaceFileTest, HardLinksAndCreationTime) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  const std::string other = dir.File("other_name.cfg");
  WriteBytes(path, "old\n");
  const FILETIME created = CreationTime(path);
  Sleep(1100);
  ASSERT_TRUE(CreateHardLinkA(other.c_str(), path.c_str(), nullptr));
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(ReadBytes(other), "old\n");
  const FILETIME now = CreationTime(path);
  EXPECT_EQ(CompareFileTime(&created, &now) == 0, !UnderWine());
}

// Under Wine a Unix symbolic link (made by the build beside the test
// program): the link stays, the file it names gets the new contents, and
// nothing else appears or goes.
TEST(ReplaceFileTest, ReplacesTheFileBehindALink) {
  const std::string link = "link-fixture\\link.cfg";
  const std::string real = "link-fixture\\real.cfg";
  if (!testutil::Exists(link)) {
    // The Windows build makes the fixture beside the test program; only a
    // program run on Windows itself, away from its build, lacks it.
    ASSERT_FALSE(UnderWine()) << "no bin/link-fixture/link.cfg beside the test program: "
                                 "configure the build again (tests/CMakeLists.txt makes it)";
    GTEST_SKIP() << "no link fixture (the build makes it for Wine)";
  }
  WriteBytes(real, "old\n");
  ASSERT_EQ(ReadBytes(link), "old\n");
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(link.c_str(), bytes.data(), bytes.size()));
  EXPECT_EQ(ReadBytes(real), bytes);
  EXPECT_EQ(ReadBytes(link), bytes);
  WriteBytes(real, "again\n");  // still one file under two names
  EXPECT_EQ(ReadBytes(link), "again\n");
  EXPECT_EQ(testutil::ListDir("link-fixture").size(), 2u);
}

// The attributes kept are those of the file the link names.
TEST(ReplaceFileTest, KeepsTheAttributesOfTheFileBehindALink) {
  const std::string link = "link-fixture\\link.cfg";
  const std::string real = "link-fixture\\real.cfg";
  if (!testutil::Exists(link)) GTEST_SKIP() << "no link fixture (only made for Wine)";
  WriteBytes(real, "old\n");
  if (!SetFileAttributesA(real.c_str(), FILE_ATTRIBUTE_HIDDEN) ||
      (GetFileAttributesA(real.c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
    GTEST_SKIP() << "this file system keeps no hidden attribute (Wine needs extended "
                    "attributes: scripts/wine-setup.sh)";
  }
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(link.c_str(), bytes.data(), bytes.size()));
  EXPECT_NE(GetFileAttributesA(real.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(ReadBytes(link), bytes);
  SetFileAttributesA(real.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(testutil::ListDir("link-fixture").size(), 2u);
}

// A save through a link that names no file yet creates that file and keeps
// the link, as on Linux: afterwards the link reads what was saved, and
// writing the file shows through the link. A failed save there leaves
// nothing behind.
TEST(ReplaceFileTest, SavesThroughADanglingLink) {
  const std::string link = "dangling-fixture\\dangling.cfg";
  const std::string missing = "dangling-fixture\\missing.cfg";
  const std::string nowhere = "dangling-fixture\\nowhere.cfg";
  if (!testutil::Exists("dangling-fixture")) {
    GTEST_SKIP() << "no dangling link fixture (only made for Wine)";
  }
  DeleteFileA(missing.c_str());  // what an earlier run saved
  ASSERT_FALSE(testutil::Exists(link));
  // The link names a file in a folder that is not there: nothing is saved,
  // nothing made.
  EXPECT_FALSE(PlatformReplaceFile(nowhere.c_str(), "x\n", 2));
  EXPECT_FALSE(testutil::Exists("dangling-fixture\\absent"));
  EXPECT_FALSE(testutil::Exists(nowhere));

  const std::string bytes = "saved\n";
  EXPECT_TRUE(PlatformReplaceFile(link.c_str(), bytes.data(), bytes.size()));
  EXPECT_EQ(ReadBytes(missing), bytes);
  EXPECT_EQ(ReadBytes(link), bytes);
  WriteBytes(missing, "again\n");  // one file under two names: the link stayed
  EXPECT_EQ(ReadBytes(link), "again\n");
  EXPECT_NE(GetFileAttributesA(missing.c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);
  // A second save goes through the link that now leads somewhere.
  EXPECT_TRUE(PlatformReplaceFile(link.c_str(), bytes.data(), bytes.size()));
  EXPECT_EQ(ReadBytes(missing), bytes);
  WriteBytes(missing, "once more\n");
  EXPECT_EQ(ReadBytes(link), "once more\n");
  EXPECT_TRUE(DeleteFileA(missing.c_str()));
  EXPECT_FALSE(testutil::Exists(link));  // dangling again
}
#else
TEST(ReplaceFileTest, KeepsModeAndOwnerAndReplacesAHardLink) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  const std::string other = dir.File("other_name.cfg");
  WriteBytes(path, "old\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const bool privileged = geteuid() == 0;
  if (privileged) {
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
  struct stat status;
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (privileged) {
    EXPECT_EQ(status.st_uid, 65534u);  // the owner stays where it may be set
    EXPECT_EQ(status.st_gid, 65534u);
  }
  EXPECT_EQ(status.st_nlink, 1u);          // a new file under this name
  EXPECT_EQ(ReadBytes(other), "old\n");   // the other name keeps the old text
  EXPECT_EQ(ReadBytes(path), bytes);
}

// A folder whose set-group-ID bit gives new files its own group: the new
// file still takes the group of the file it replaces, whatever group the
// process itself has.
TEST(ReplaceFileTest, KeepsTheGroupInAFolderThatGivesItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give the folder and the file other groups";
  ScratchDir dir;
  const std::string folder = dir.File("shared");
  ASSERT_EQ(mkdir(folder.c_str(), 0775), 0);
  ASSERT_EQ(chown(folder.c_str(), 0, 65534), 0);
  ASSERT_EQ(chmod(folder.c_str(), 02775), 0);
  const std::string path = folder + "/enc.cfg";
  WriteBytes(path, "old\n");
  struct stat status;
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  ASSERT_EQ(status.st_gid, 65534u) << "the folder gave no group: set-group-ID folders unsupported";
  for (const gid_t group : {getegid(), static_cast<gid_t>(12345)}) {
    ASSERT_EQ(chown(path.c_str(), 0, group), 0);
    const std::string bytes = "new\n";
    ASSERT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, group);
    EXPECT_EQ(ReadBytes(path), bytes);
  }
}

// The creation mask decides the mode of a new file only: a replaced file
// keeps the mode it had, also bits the mask would have taken away.
TEST(ReplaceFileTest, KeepsTheModeUnderARestrictiveCreationMask) {
  ScratchDir dir;
  const std::string kept = dir.File("kept.cfg");
  const std::string fresh = dir.File("fresh.cfg");
  WriteBytes(kept, "old\n");
  ASSERT_EQ(chmod(kept.c_str(), 0664), 0);
  EXPECT_TRUE(testutil::RunInChildProcess([&] {
    umask(077);
    const std::string bytes = "new\n";
    return PlatformReplaceFile(kept.c_str(), bytes.data(), bytes.size()) &&
           PlatformReplaceFile(fresh.c_str(), bytes.data(), bytes.size());
  }));
  struct stat status;
  ASSERT_EQ(stat(kept.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0664u);
  ASSERT_EQ(stat(fresh.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadBytes(kept), "new\n");
}

// Linux has no locks that keep a file from being replaced, and the module
// takes none: a file another process holds a lock on is saved all the same.
TEST(ReplaceFileTest, ALockedFileIsReplacedOnLinux) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "old\n");
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const std::string bytes = "new\n";
  EXPECT_TRUE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
  close(fd);
  EXPECT_EQ(ReadBytes(path), bytes);
}
#endif

// The checks a dry run makes are the replacement's own: where they say it
// would go ahead it does, where they refuse it fails, and they leave
// nothing behind.
TEST(ReplaceCheckTest, AgreesWithTheReplacement) {
  struct Case {
    const char* what;
    std::function<std::string(const ScratchDir&)> prepare;
    ReplaceCheck expected;
  };
  const Case cases[] = {
      {"existing file",
       [](const ScratchDir& d) { WriteBytes(d.File("a.cfg"), "old\n"); return d.File("a.cfg"); },
       ReplaceCheck::kPossible},
      {"new file", [](const ScratchDir& d) { return d.File("new.cfg"); }, ReplaceCheck::kPossible},
      {"missing folder",
       [](const ScratchDir& d) { return d.File("nodir") + "/a.cfg"; }, ReplaceCheck::kNoFolder},
      {"a folder",
       [](const ScratchDir& d) {
         MakeDirectory(d.File("dir.cfg"));
         return d.File("dir.cfg");
       },
       ReplaceCheck::kNotAFile},
      {"read-only file",
       [](const ScratchDir& d) {
         WriteBytes(d.File("ro.cfg"), "old\n");
         testutil::SetReadOnly(d.File("ro.cfg"), true);
         return d.File("ro.cfg");
       },
       ReplaceCheck::kReadOnly},
      {"no name", [](const ScratchDir&) { return std::string(); }, ReplaceCheck::kNoName},
      {"a path under a file",
       [](const ScratchDir& d) {
         WriteBytes(d.File("file.cfg"), "old\n");
         return d.File("file.cfg") + "/x.cfg";
       },
       ReplaceCheck::kNoFolder},
#ifndef _WIN32
      // A link that names no file yet: the replacement creates that file,
      // in the link's target's folder, which here does not exist.
      {"a link into a missing folder",
       [](const ScratchDir& d) {
         fs::create_symlink("absent/file.cfg", d.File("nowhere.cfg"));
         return d.File("nowhere.cfg");
       },
       ReplaceCheck::kNoFolder},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = c.prepare(dir);
    const std::vector<std::string> before = testutil::ListDir(dir.path());
    EXPECT_EQ(PlatformCheckReplace(path.c_str()), c.expected);
    EXPECT_EQ(testutil::ListDir(dir.path()), before);
    const std::string bytes = "new\n";
    EXPECT_EQ(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()),
              c.expected == ReplaceCheck::kPossible);
    if (c.expected == ReplaceCheck::kReadOnly) testutil::SetReadOnly(path, false);
  }
#ifdef _WIN32
  // Another program holds the file open, sharing reading only.
  ScratchDir dir;
  const std::string path = dir.File("held.cfg");
  WriteBytes(path, "old\n");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(PlatformCheckReplace(path.c_str()), ReplaceCheck::kInUse);
  const std::string bytes = "new\n";
  EXPECT_FALSE(PlatformReplaceFile(path.c_str(), bytes.data(), bytes.size()));
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(path), "old\n");
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
#endif
}

#ifdef _WIN32
// The DOS name Wine gives the Unix path `unix_path`, or empty.
std::string DosNameOf(const char* unix_path) {
  using ToDos = WCHAR* (*)(const char*);
  const auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
  if (to_dos == nullptr) return std::string();
  WCHAR* wide = to_dos(unix_path);
  if (wide == nullptr) return std::string();
  std::string name;
  for (const WCHAR* c = wide; *c != 0; ++c) name += static_cast<char>(*c);
  HeapFree(GetProcessHeap(), 0, wide);
  return name;
}

// Links that name no file yet (made by the build beside the test program,
// see tests/CMakeLists.txt): a save creates the file the link names, in that
// file's folder, so the check must look there too, not in the link's folder.
// Where the save fails the check says why, where it goes ahead the check
// said so, and the check leaves the link as it found it.
TEST(ReplaceCheckTest, LooksWhereALinkThatNamesNoFileLeads) {
  if (!testutil::Exists("dangling-fixture")) {
    ASSERT_FALSE(UnderWine()) << "no bin/dangling-fixture beside the test program: "
                                 "configure the build again (tests/CMakeLists.txt makes it)";
    GTEST_SKIP() << "no dangling link fixture (the build makes it for Wine)";
  }
  // unwritable.cfg leads into a folder of the Unix system in which nobody,
  // root included, may create a file; the test needs it to be one.
  const std::string unwritable_folder = DosNameOf(MP4V_UNWRITABLE_FOLDER);
  ASSERT_FALSE(unwritable_folder.empty()) << "Wine names no DOS path for " MP4V_UNWRITABLE_FOLDER;
  ASSERT_NE(GetFileAttributesA(unwritable_folder.c_str()), INVALID_FILE_ATTRIBUTES)
      << MP4V_UNWRITABLE_FOLDER " is missing: the fixture needs the Linux sysfs mounted there";
  ASSERT_FALSE(testutil::CanCreateFile(unwritable_folder + "\\mp4v-probe.cfg"))
      << "a file can be created in " MP4V_UNWRITABLE_FOLDER
         ", so unwritable.cfg leads nowhere unwritable: mount the Linux sysfs there";
  struct Case {
    const char* link;
    ReplaceCheck expected;
  };
  const Case cases[] = {
      {"dangling-fixture\\nowhere.cfg", ReplaceCheck::kNoFolder},
      {"dangling-fixture\\unwritable.cfg", ReplaceCheck::kFolderNotWritable},
      {"dangling-fixture\\dangling.cfg", ReplaceCheck::kPossible},
  };
  const std::string missing = "dangling-fixture\\missing.cfg";  // dangling.cfg's file
  DeleteFileA(missing.c_str());  // what an earlier run saved
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const std::vector<std::string> before = testutil::ListDir("dangling-fixture");
    EXPECT_EQ(PlatformCheckReplace(c.link), c.expected);
    EXPECT_EQ(testutil::ListDir("dangling-fixture"), before);
    EXPECT_FALSE(testutil::Exists(c.link));  // still leads nowhere
    const std::string bytes = "new\n";
    EXPECT_EQ(PlatformReplaceFile(c.link, bytes.data(), bytes.size()),
              c.expected == ReplaceCheck::kPossible);
  }
  EXPECT_EQ(ReadBytes(missing), "new\n");
  EXPECT_TRUE(DeleteFileA(missing.c_str()));
}
#endif

// A temporary name that some file has already (another writer's, or one
// left over) costs only an attempt: the replacement goes on with the next
// name and leaves that file alone. The test sets the names' seed, so that
// it knows the first name the replacement tries.
TEST(ReplaceFileTest, TakesTheNextTemporaryNameWhenOneIsTaken) {
  ScratchDir dir;
  const std::string target = dir.File("enc.cfg");
  WriteBytes(target, "old\n");
#ifdef _WIN32
  const char* separators = "/\\:";
#else
  const char* separators = "/";
#endif
  constexpr uint64_t kSeed = 0x5EED;
  const std::string taken = TemporaryPath(SplitTarget(target, separators), false, kSeed, 0);
  WriteBytes(taken, "another writer's\n");
  PlatformSetTemporarySeedForTesting(kSeed);
  const ReplaceCheck check = PlatformCheckReplace(target.c_str());
  const std::string bytes = "new\n";
  const bool replaced = PlatformReplaceFile(target.c_str(), bytes.data(), bytes.size());
  PlatformSetTemporarySeedForTesting(0);
  EXPECT_EQ(check, ReplaceCheck::kPossible);
  EXPECT_TRUE(replaced);
  EXPECT_EQ(ReadBytes(target), bytes);
  EXPECT_EQ(ReadBytes(taken), "another writer's\n");
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 2u);
}

// ---- The replace step failing ----------------------------------------------
//
// The steps below stand in for the system's: each first does what the system
// is documented to leave behind for one failure, then reports it.

// Error codes of the documented failures.
#ifdef _WIN32
constexpr uint32_t kUnableToRemoveReplaced = ERROR_UNABLE_TO_REMOVE_REPLACED;
constexpr uint32_t kUnableToMoveReplacement = ERROR_UNABLE_TO_MOVE_REPLACEMENT;
constexpr uint32_t kUnableToMoveReplacement2 = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
constexpr uint32_t kSharingViolation = ERROR_SHARING_VIOLATION;
constexpr uint32_t kAccessDenied = ERROR_ACCESS_DENIED;
constexpr uint32_t kDiskFull = ERROR_DISK_FULL;
#else
constexpr uint32_t kUnableToRemoveReplaced = EBUSY;
constexpr uint32_t kUnableToMoveReplacement = EXDEV;
constexpr uint32_t kUnableToMoveReplacement2 = EIO;
constexpr uint32_t kSharingViolation = ETXTBSY;
constexpr uint32_t kAccessDenied = EACCES;
constexpr uint32_t kDiskFull = ENOSPC;
#endif

enum class ReplaceOutcome {
  kSucceeds,
  kBothKept,          // both files keep their names
  kTargetGone,        // the old file is deleted, the new one keeps its name
  kTargetToBackup,    // the old file is under the backup name
  kNewInPlace,        // the new file reached its place, yet the call failed
};
enum class MoveOutcome { kWorks, kFails, kFailsForTheNewFile };

ReplaceOutcome g_replace = ReplaceOutcome::kSucceeds;
uint32_t g_replace_error = 0;
MoveOutcome g_move = MoveOutcome::kWorks;
uint32_t g_move_error = kAccessDenied;
std::string g_temporary;  // what the replace step was given last

bool RealMove(const char* from, const char* to, uint32_t* error) {
  return PlatformReplaceSteps().move(from, to, error);
}

bool FakeReplace(const char* target, const char* temporary, const char* backup,
                 uint32_t* error) {
  g_temporary = temporary;
  uint32_t ignored = 0;
  switch (g_replace) {
    case ReplaceOutcome::kSucceeds:
      return PlatformReplaceSteps().replace(target, temporary, backup, error);
    case ReplaceOutcome::kBothKept:
      break;
    case ReplaceOutcome::kTargetGone:
      PlatformReplaceSteps().remove(target, &ignored);
      break;
    case ReplaceOutcome::kTargetToBackup:
      if (backup != nullptr) RealMove(target, backup, &ignored);
      break;
    case ReplaceOutcome::kNewInPlace:
      RealMove(temporary, target, &ignored);
      break;
  }
  *error = g_replace_error;
  return false;
}

bool FakeMove(const char* from, const char* to, uint32_t* error) {
  if (g_move == MoveOutcome::kFails ||
      (g_move == MoveOutcome::kFailsForTheNewFile && g_temporary == from)) {
    *error = g_move_error;
    return false;
  }
  return RealMove(from, to, error);
}

bool RealRemove(const char* path, uint32_t* error) {
  return PlatformReplaceSteps().remove(path, error);
}

constexpr ReplaceSteps kFakeSteps = {FakeReplace, FakeMove, RealRemove};

enum class Target { kNew, kOld, kMissing };

struct StepCase {
  const char* what;
  ReplaceOutcome replace;
  uint32_t error;
  MoveOutcome move;
  bool result;
  Target target;
  // Files other than the target left in the directory, by their contents.
  std::vector<std::string> others;
  // The code a failed replacement gives: that of the step that failed, not
  // of the moves that tried to recover.
  uint32_t reason = 0;
  bool target_exists = true;
  uint32_t move_error = kAccessDenied;
};

class ReplaceStepTest : public testing::TestWithParam<StepCase> {
 protected:
  void RunStepCase(const StepCase& c, bool in_pieces);
};

// Each case once with the new bytes in one piece, and once in three (one
// of them empty), as a save that keeps lines as read writes them: the
// recovery judges the pieces together.
TEST_P(ReplaceStepTest, NeverLosesBothCopies) {
  for (const bool in_pieces : {false, true}) {
    SCOPED_TRACE(in_pieces ? "in three pieces" : "in one piece");
    RunStepCase(GetParam(), in_pieces);
  }
}

void ReplaceStepTest::RunStepCase(const StepCase& c, bool in_pieces) {
  SCOPED_TRACE(c.what);
  ScratchDir dir;
  const std::string target = dir.File("enc.cfg");
  const std::string old_bytes = "old contents\n";
  const std::string new_bytes = "new contents\n";
  if (c.target_exists) WriteBytes(target, old_bytes);
  g_replace = c.replace;
  g_replace_error = c.error;
  g_move = c.move;
  g_move_error = c.move_error;
  g_temporary.clear();
  // A step that fails as if another program held the file is tried again
  // for the sharing wait: a short one here.
  PlatformSetWaitsForTesting(0, 50);
  uint32_t reason = 0;
  const TextPiece pieces[3] = {{new_bytes.data(), 4}, {new_bytes.data() + 4, 0},
                               {new_bytes.data() + 4, new_bytes.size() - 4}};
  EXPECT_EQ(in_pieces ? PlatformReplaceFilePieces(kFakeSteps, target.c_str(), pieces, 3, &reason)
                      : PlatformReplaceFileWith(kFakeSteps, target.c_str(), new_bytes.data(),
                                                new_bytes.size(), &reason),
            c.result);
  PlatformSetWaitsForTesting(0, 0);
  if (!c.result) {
    EXPECT_EQ(reason, c.reason);
  }
  bool exists = false;
  const std::string now = ReadBytes(target, &exists);
  switch (c.target) {
    case Target::kNew:
      EXPECT_EQ(now, new_bytes);
      break;
    case Target::kOld:
      EXPECT_EQ(now, old_bytes);
      break;
    case Target::kMissing:
      EXPECT_FALSE(exists);
      break;
  }
  std::vector<std::string> others;
  for (const std::string& name : testutil::ListDir(dir.path())) {
    if (name != "enc.cfg") others.push_back(ReadBytes(dir.File(name)));
  }
  std::sort(others.begin(), others.end());
  std::vector<std::string> expected = c.others;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(others, expected);
}

const std::string kOld = "old contents\n";
const std::string kNew = "new contents\n";

INSTANTIATE_TEST_SUITE_P(
    Failures, ReplaceStepTest,
    testing::Values(
        StepCase{"replace works", ReplaceOutcome::kSucceeds, 0, MoveOutcome::kWorks,
                 true, Target::kNew, {}},
        StepCase{"old file cannot be removed; the move takes over",
                 ReplaceOutcome::kBothKept, kUnableToRemoveReplaced,
                 MoveOutcome::kWorks, true, Target::kNew, {}},
        StepCase{"old file cannot be removed, nor replaced by a move",
                 ReplaceOutcome::kBothKept, kUnableToRemoveReplaced,
                 MoveOutcome::kFails, false, Target::kOld, {}, kUnableToRemoveReplaced},
        StepCase{"new file cannot be moved, both kept their names",
                 ReplaceOutcome::kBothKept, kUnableToMoveReplacement,
                 MoveOutcome::kFails, false, Target::kOld, {}, kUnableToMoveReplacement},
        StepCase{"sharing violation", ReplaceOutcome::kBothKept, kSharingViolation,
                 MoveOutcome::kFails, false, Target::kOld, {}, kSharingViolation},
        StepCase{"access denied", ReplaceOutcome::kBothKept, kAccessDenied,
                 MoveOutcome::kWorks, true, Target::kNew, {}},
        StepCase{"old file deleted, new one moved after all",
                 ReplaceOutcome::kTargetGone, kUnableToMoveReplacement,
                 MoveOutcome::kWorks, true, Target::kNew, {}},
        StepCase{"old file deleted, new one cannot be moved: it stays",
                 ReplaceOutcome::kTargetGone, kUnableToMoveReplacement,
                 MoveOutcome::kFails, false, Target::kMissing, {kNew}, kUnableToMoveReplacement},
        StepCase{"old file under the backup name, new one moved after all",
                 ReplaceOutcome::kTargetToBackup, kUnableToMoveReplacement2,
                 MoveOutcome::kWorks, true, Target::kNew, {}},
        StepCase{"old file under the backup name is put back",
                 ReplaceOutcome::kTargetToBackup, kUnableToMoveReplacement2,
                 MoveOutcome::kFailsForTheNewFile, false, Target::kOld, {},
                 kUnableToMoveReplacement2},
        StepCase{"nothing can be moved: both copies stay",
                 ReplaceOutcome::kTargetToBackup, kUnableToMoveReplacement2,
                 MoveOutcome::kFails, false, Target::kMissing, {kOld, kNew},
                 kUnableToMoveReplacement2},
        StepCase{"disk full: neither the replacement nor the move works",
                 ReplaceOutcome::kBothKept, kDiskFull, MoveOutcome::kFails, false,
                 Target::kOld, {}, kDiskFull},
        // No old file: the one step is a move, and its code is the reason;
        // the new file stays under its temporary name.
        StepCase{"no old file, and the disk is full", ReplaceOutcome::kSucceeds, 0,
                 MoveOutcome::kFails, false, Target::kMissing, {kNew}, kDiskFull, false,
                 kDiskFull},
        StepCase{"no old file: the move works", ReplaceOutcome::kSucceeds, 0,
                 MoveOutcome::kWorks, true, Target::kNew, {}, 0, false},
        StepCase{"the new file reached its place before the error",
                 ReplaceOutcome::kNewInPlace, kUnableToRemoveReplaced,
                 MoveOutcome::kFails, true, Target::kNew, {}}));

}  // namespace
