// mp4vcfg.exe as Windows sees the program: its application manifest and
// version resource read back from the built file, and what the manifest
// promises seen in a run of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "api/version.h"
#include "support/patch_util.h"
#include "support/test_util.h"

namespace {

// The built program, beside this test program.
std::wstring ProgramPath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"mp4vcfg.exe";
}

std::string ManifestText() {
  HMODULE program = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (program == nullptr) return std::string();
  std::string text;
  // 1 of type 24 (RT_MANIFEST): the manifest the loader reads at start.
  if (HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    HGLOBAL loaded = LoadResource(program, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes != nullptr) text.assign(bytes, SizeofResource(program, found));
  }
  FreeLibrary(program);
  return text;
}

// The text of the first element named `name` (its opening tag may carry
// attributes), or "(missing)".
std::string ElementText(const std::string& xml, const std::string& name) {
  size_t open = 0;
  for (;;) {
    open = xml.find("<" + name, open);
    if (open == std::string::npos) return "(missing)";
    const char after = xml[open + 1 + name.size()];
    if (after == ' ' || after == '>') break;
    ++open;
  }
  const size_t start = xml.find('>', open) + 1;
  const size_t end = xml.find("</" + name + ">", start);
  return end == std::string::npos ? "(missing)" : xml.substr(start, end - start);
}

// The values of attribute `attribute` in every element named `name`.
std::vector<std::string> AttributeValues(const std::string& xml, const std::string& name,
                                         const std::string& attribute) {
  std::vector<std::string> values;
  for (size_t open = xml.find("<" + name + " "); open != std::string::npos;
       open = xml.find("<" + name + " ", open + 1)) {
    const size_t close = xml.find('>', open);
    const std::string tag = xml.substr(open, close - open);
    const size_t at = tag.find(" " + attribute + "=\"");
    if (at == std::string::npos) continue;
    const size_t start = at + attribute.size() + 3;
    values.push_back(tag.substr(start, tag.find('"', start) - start));
  }
  return values;
}

TEST(Mp4vcfgProgram, ManifestDeclaresWhatTheProgramRelies) {
  const std::string xml = ManifestText();
  ASSERT_FALSE(xml.empty()) << "no manifest resource in mp4vcfg.exe";
  const struct {
    const char* element;
    const char* text;
  } settings[] = {
      {"dpiAwareness", "PerMonitorV2, PerMonitor"},  // Windows 10 1607 and later
      {"dpiAware", "true/pm"},                        // the older systems' form
      {"activeCodePage", "UTF-8"},
      {"longPathAware", "true"},
  };
  for (const auto& setting : settings) {
    EXPECT_EQ(ElementText(xml, setting.element), setting.text) << setting.element;
  }
  // Common Controls 6, whatever the architecture.
  const std::vector<std::string> names = AttributeValues(xml, "assemblyIdentity", "name");
  ASSERT_EQ(names, std::vector<std::string>{"Microsoft.Windows.Common-Controls"});
  EXPECT_EQ(AttributeValues(xml, "assemblyIdentity", "version"),
            std::vector<std::string>{"6.0.0.0"});
  EXPECT_EQ(AttributeValues(xml, "assemblyIdentity", "processorArchitecture"),
            std::vector<std::string>{"*"});
  EXPECT_EQ(AttributeValues(xml, "assemblyIdentity", "publicKeyToken"),
            std::vector<std::string>{"6595b64144ccf1df"});
  // Windows 7, 8, 8.1, and 10 and 11 (which share one entry).
  const std::vector<std::string> os = AttributeValues(xml, "supportedOS", "Id");
  EXPECT_EQ(std::set<std::string>(os.begin(), os.end()),
            (std::set<std::string>{"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                   "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                   "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}));
  EXPECT_EQ(os.size(), 4u);
  EXPECT_EQ(AttributeValues(xml, "requestedExecutionLevel", "level"),
            std::vector<std::string>{"asInvoker"});
}

std::wstring QueryString(const std::vector<char>& data, const wchar_t* name) {
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904E4\\") + name;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      length == 0) {
    return L"(missing)";
  }
  return std::wstring(value, length - 1);
}

TEST(Mp4vcfgProgram, VersionResourceComesFromTheOneVersionSource) {
  const std::wstring path = ProgramPath();
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MP4V_VERSION_MAJOR << 16 | MP4V_VERSION_MINOR));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MP4V_VERSION_PATCH << 16 | MP4V_VERSION_BUILD));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const std::string version = MP4V_VERSION_TEXT;
  EXPECT_EQ(QueryString(data, L"FileVersion"), std::wstring(version.begin(), version.end()));
  EXPECT_EQ(QueryString(data, L"ProductVersion"), std::wstring(version.begin(), version.end()));
  EXPECT_EQ(QueryString(data, L"OriginalFilename"), L"mp4vcfg.exe");
}

// Runs mp4vcfg.exe with `arguments`, its standard output going to the new
// file `output` when one is named (as "> output" in a command prompt does);
// its exit code, or -1.
int RunProgram(const std::wstring& arguments, const std::wstring& output = std::wstring()) {
  std::wstring command = L"\"" + ProgramPath() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!output.empty()) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = file;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, !output.empty(), 0,
                                      nullptr, nullptr, &startup, &process);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

std::string ReadWide(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes(65536, '\0');
  DWORD got = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// The UTF-8 code page of the manifest: a name that no 8-bit code page but
// UTF-8 holds (Greek and Cyrillic letters, a CJK character) is saved under
// exactly that name.
TEST(Mp4vcfgProgram, TakesAnyFileNameThroughTheUtf8CodePage) {
  // Wine applies the manifest's code page whatever Windows version it
  // reports (Windows 7 by default); Windows from 10 1903 on.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW os{};
  os.dwOSVersionInfoSize = sizeof os;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
  auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (!wine && get_version != nullptr && get_version(&os) == 0 &&
      (os.dwMajorVersion < 10 || (os.dwMajorVersion == 10 && os.dwBuildNumber < 18362))) {
    GTEST_SKIP() << "the UTF-8 code page of a manifest needs Windows 10 1903 or later";
  }
  testutil::ScratchDir dir;
  const std::wstring folder(dir.path().begin(), dir.path().end());
  const std::wstring path = folder + L"\\\u03a9\u043c\u4e2d.cfg";
  ASSERT_EQ(RunProgram(L"set \"" + path + L"\" width=720"), 0);
  EXPECT_NE(ReadWide(path).find("720"), std::string::npos) << ReadWide(path);
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// Redirected to a file, the dry run's diff and diff's table arrive byte for
// byte: the diff carries the file's own CR LF and gains no second CR, so it
// applies to the file and gives exactly what the real save writes. The
// other commands keep the text mode: their lines end in CR LF.
TEST(Mp4vcfgProgram, DryRunAndDiffWriteTheirBytesUnchanged) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  const std::string other = dir.File("other.cfg");
  const std::wstring wide_path(path.begin(), path.end());  // ASCII scratch paths
  const std::wstring wide_other(other.begin(), other.end());
  const std::wstring folder(dir.path().begin(), dir.path().end());
  ASSERT_EQ(RunProgram(L"set \"" + wide_path + L"\" width=720 height=576 frame_rate=25"), 0);
  ASSERT_EQ(RunProgram(L"set \"" + wide_other + L"\" width=352 height=576 frame_rate=25"), 0);
  const std::string before = testutil::ReadBytes(path);
  ASSERT_NE(before.find("\r\n"), std::string::npos) << "the save writes CR LF on Windows";

  ASSERT_EQ(RunProgram(L"set \"" + wide_path + L"\" height=480 --dry-run",
                       folder + L"\\dry.diff"),
            0);
  const std::string diff = testutil::ReadBytes(dir.File("dry.diff"));
  EXPECT_EQ(diff.find("\r\r\n"), std::string::npos) << diff;
  EXPECT_EQ(diff.find("--- " + path + "\n+++ " + path + "\n@@ "), 0u) << diff;
  EXPECT_NE(diff.find("\n-height                          = 576\r\n"
                      "+height                          = 480\r\n"),
            std::string::npos)
      << diff;
  EXPECT_EQ(testutil::ReadBytes(path), before);
  ASSERT_EQ(RunProgram(L"set \"" + wide_path + L"\" height=480"), 0);
  EXPECT_EQ(testutil::ApplyUnifiedDiff(before, diff), testutil::ReadBytes(path));

  // diff and diff --json: LF alone, as written; 1 as the settings differ.
  for (const wchar_t* json : {L"", L" --json"}) {
    ASSERT_EQ(RunProgram(L"diff \"" + wide_path + L"\" \"" + wide_other + L"\"" + json,
                         folder + L"\\table.txt"),
              1);
    const std::string table = testutil::ReadBytes(dir.File("table.txt"));
    EXPECT_NE(table.find("width"), std::string::npos) << table;
    EXPECT_EQ(table.find('\r'), std::string::npos) << table;
  }
  // show stays text: every line ends in CR LF.
  ASSERT_EQ(RunProgram(L"show \"" + wide_path + L"\"", folder + L"\\show.txt"), 0);
  const std::string shown = testutil::ReadBytes(dir.File("show.txt"));
  size_t ends = 0;
  for (size_t at = shown.find('\n'); at != std::string::npos; at = shown.find('\n', at + 1)) {
    ++ends;
    EXPECT_TRUE(at > 0 && shown[at - 1] == '\r' && (at < 2 || shown[at - 2] != '\r')) << at;
  }
  EXPECT_EQ(ends, 56u);
}

}  // namespace
