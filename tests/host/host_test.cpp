// The built module as a host meets it: loaded dynamically from beside this
// program, reached only through its one export and the public header.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "mp4v_config.h"
#include "host/module_library.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <elf.h>
#endif

extern "C" size_t Mp4vHeaderCheckFrameRateOffsetInC(void);

namespace {

TEST(HeaderTest, CAndCppAgreeOnTheRecordLayout) {
  EXPECT_EQ(Mp4vHeaderCheckFrameRateOffsetInC(), offsetof(MP4VSettings, frame_rate));
  EXPECT_EQ(Mp4vHeaderCheckFrameRateOffsetInC(), 332u);
}

class HostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(module_.Open(std::string(), &error)) << error;
    get_api_ = module_.get_api();
  }

  void SetUp() override { ASSERT_NE(get_api_, nullptr); }

  template <typename Fn>
  static Fn Get(uint32_t id) {
    return reinterpret_cast<Fn>(get_api_(id));
  }

  static mp4v_host::ModuleLibrary module_;
  static MP4VConfigGetAPIExtFn get_api_;
};

mp4v_host::ModuleLibrary HostTest::module_;
MP4VConfigGetAPIExtFn HostTest::get_api_ = nullptr;

TEST_F(HostTest, TableAndInformationQuery) {
  for (uint32_t id : {0u, 2u, 0x2000u, 0x2003u, 0x2007u, 0x2009u, 0xFFFFFFFFu}) {
    EXPECT_EQ(get_api_(id), nullptr) << id;
  }
  auto info = Get<MP4VConfigGetInfoFn>(MP4V_FUNC_GET_INFO);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(get_api_(MP4V_FUNC_GET_INFO), reinterpret_cast<void*>(info));
  const struct {
    uint32_t item;
    std::string bytes;
  } items[] = {
      {1, "Brennovatix (Demo) MPEG-4 part 2 Video Encoder Configuration Module"},
      {2, std::string("\0\0\0\0", 4)},
      {3, std::string("\2\0\0\0", 4)},
      {4, "9.6.8.3641"},
      {5, testutil::kPlatformText}};
  for (const auto& item : items) {
    unsigned char buffer[80];
    std::memset(buffer, 0xFF, sizeof buffer);
    ASSERT_EQ(info(item.item, buffer), MP4V_STATUS_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), item.bytes.size()),
              item.bytes);
    EXPECT_EQ(buffer[item.bytes.size()], 0xFF) << item.item;
  }
  unsigned char buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(info(0, buffer), MP4V_STATUS_FAILED);
  EXPECT_EQ(info(6, buffer), MP4V_STATUS_FAILED);
  EXPECT_EQ(info(1, nullptr), MP4V_STATUS_FAILED);
  for (unsigned char b : buffer) EXPECT_EQ(b, 9);
}

TEST_F(HostTest, SaveAndLoadThroughTheModule) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  auto save = Get<MP4VConfigSaveFn>(MP4V_FUNC_SAVE);
  auto load = Get<MP4VConfigLoadFn>(MP4V_FUNC_LOAD);
  MP4VSettings s;
  std::memset(&s, 0, sizeof s);
  s.width = 720;
  s.height = 576;
  s.frame_rate = 29.97;
  ASSERT_EQ(save(&s, path.c_str()), MP4V_STATUS_OK);
  const std::string text = testutil::ReadBytes(path);
  const std::string head =
      testutil::WithLineEnds("# config file\n\n[MP4V Settings]\nprofile_id ");
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find(testutil::WithLineEnds(
                "\nframe_rate                      = 29.9700000000\n")),
            std::string::npos);
  MP4VSettings back;
  std::memset(&back, 0xAA, sizeof back);
  ASSERT_EQ(load(&back, path.c_str()), MP4V_STATUS_OK);
  EXPECT_EQ(back.width, 720);
  EXPECT_EQ(back.height, 576);
  uint64_t bits;
  std::memcpy(&bits, &back.frame_rate, 8);
  EXPECT_EQ(bits, 0x403DF853E2556B29ull);
  EXPECT_EQ(back.reserved_64[0], 0xAA);
  EXPECT_EQ(save(&s, (dir.File("nodir") + "/x.cfg").c_str()), MP4V_STATUS_FAILED);
  EXPECT_EQ(load(&back, "enc.CFG"), MP4V_STATUS_FAILED);
}

#ifdef _WIN32

// The module's path is UTF-8 text.
std::wstring Widen(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
  wide.resize(wide.size() - 1);
  return wide;
}

std::wstring QueryString(const std::vector<char>& data, const wchar_t* key) {
  std::wstring path = L"\\StringFileInfo\\040904E4\\";
  path += key;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), path.c_str(), &value, &length) || !value) {
    return L"<missing>";
  }
  std::wstring text(static_cast<const wchar_t*>(value));
  return text;
}

TEST_F(HostTest, VersionResource) {
  const std::wstring path = Widen(module_.path());
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (9u << 16) | 6u);
  EXPECT_EQ(fixed->dwFileVersionLS, (8u << 16) | 3641u);
  EXPECT_EQ(fixed->dwProductVersionMS, (9u << 16) | 6u);
  EXPECT_EQ(fixed->dwProductVersionLS, (8u << 16) | 3641u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_DOS_WINDOWS32));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1252);
  EXPECT_EQ(QueryString(data, L"FileDescription"),
            L"MPEG-4 part 2 Video Encoder Configuration Module");
  EXPECT_EQ(QueryString(data, L"FileVersion"), L"9.6.8.3641");
  EXPECT_EQ(QueryString(data, L"ProductVersion"), L"9.6.8.3641");
  EXPECT_EQ(QueryString(data, L"InternalName"), L"demo_config_mp4v");
  EXPECT_EQ(QueryString(data, L"OriginalFilename"), L"demo_config_mp4v.dll");
  EXPECT_EQ(QueryString(data, L"Comments"), L"official release build");
  EXPECT_EQ(QueryString(data, L"PrivateBuild"),
            L"Module for loading/saving encoder settings.");
  // The version text of the information query is the resource's.
  auto info = Get<MP4VConfigGetInfoFn>(MP4V_FUNC_GET_INFO);
  char text[16] = {};
  ASSERT_EQ(info(MP4V_INFO_VERSION, text), MP4V_STATUS_OK);
  EXPECT_EQ(std::wstring(text, text + 10), QueryString(data, L"FileVersion"));
}

TEST_F(HostTest, ExportsOneNameAndImportsOnlySystemLibraries) {
  const auto* base = static_cast<const unsigned char*>(module_.handle());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  // The headers of this process's own architecture: PE32 for IA-32, PE32+
  // for AMD64.
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
#ifdef _WIN64
  ASSERT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
#else
  ASSERT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
  const IMAGE_DATA_DIRECTORY& exports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
  ASSERT_EQ(dir->NumberOfNames, 1u);
  ASSERT_EQ(dir->NumberOfFunctions, 1u);
  const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + names[0]), "MP4VConfigGetAPIExt");

  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll"};
  int count = 0;
  for (const auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + imports.VirtualAddress);
       desc->Name != 0; ++desc, ++count) {
    std::string name = reinterpret_cast<const char*>(base + desc->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(system.count(name)) << name;
  }
  EXPECT_GT(count, 0);
}

#else

TEST_F(HostTest, ExportsOneDefinedSymbol) {
  std::ifstream in(module_.path(), std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(file.size(), sizeof(Elf64_Ehdr));
  const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
  std::vector<std::string> exported;
  for (int i = 0; i < eh->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[sections[i].sh_link];
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
    size_t n = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t k = 0; k < n; ++k) {
      const Elf64_Sym& sym = symbols[k];
      int bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      exported.push_back(file.data() + strings.sh_offset + sym.st_name);
    }
  }
  ASSERT_EQ(exported.size(), 1u) << exported[0] << " " << exported[1];
  EXPECT_EQ(exported[0], "MP4VConfigGetAPIExt");
}

#endif

}  // namespace
