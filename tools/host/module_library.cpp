#include "host/module_library.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace mp4v_host {

#ifdef _WIN32

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                              nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], n);
  return wide;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                              nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &narrow[0], n, nullptr, nullptr);
  return narrow;
}

std::wstring ModuleFilePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string LastErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0,
                           nullptr);
  std::wstring message = n ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  char code_text[32];
  std::snprintf(code_text, sizeof code_text, "error %lu", static_cast<unsigned long>(code));
  return message.empty() ? code_text : Utf8(message) + " (" + code_text + ")";
}

}  // namespace

const char* ModuleFileName() { return "demo_config_mp4v.dll"; }

std::string ProgramDirectory() {
  const std::wstring self = ModuleFilePath(nullptr);
  return Utf8(self.substr(0, self.find_last_of(L"\\/") + 1));
}

bool ModuleLibrary::Open(const std::string& path, std::string* error) {
  Close();
  std::wstring wide;
  if (path.empty()) {
    wide = ModuleFilePath(nullptr);
    wide = wide.substr(0, wide.find_last_of(L"\\/") + 1) + Widen(ModuleFileName());
  } else {
    // A full path, so that the system's search order never picks another
    // file of the same name.
    const std::wstring given = Widen(path);
    DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    wide.assign(n, L'\0');
    n = n ? GetFullPathNameW(given.c_str(), n, &wide[0], nullptr) : 0;
    wide.resize(n);
    if (wide.empty()) wide = given;
  }
  HMODULE module = LoadLibraryW(wide.c_str());
  if (module == nullptr) {
    *error = "cannot load the module \"" + Utf8(wide) + "\": " + LastErrorText(GetLastError());
    return false;
  }
  handle_ = module;
  path_ = Utf8(ModuleFilePath(module));
  // Through an untyped address, as FARPROC names no real signature.
  auto get_api = reinterpret_cast<MP4VConfigGetAPIExtFn>(
      reinterpret_cast<void*>(GetProcAddress(module, MP4V_CONFIG_GET_API_EXT_NAME)));
#else

const char* ModuleFileName() { return "demo_config_mp4v.so"; }

std::string ProgramDirectory() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  const std::string file(self, static_cast<size_t>(n));
  return file.substr(0, file.rfind('/') + 1);
}

bool ModuleLibrary::Open(const std::string& path, std::string* error) {
  Close();
  std::string file = path;
  if (file.empty()) {
    const std::string directory = ProgramDirectory();
    if (directory.empty()) {
      *error = "cannot find the running program's directory";
      return false;
    }
    file = directory + ModuleFileName();
  } else if (file.find('/') == std::string::npos) {
    file = "./" + file;  // a name without '/' would be searched for
  }
  dlerror();
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    *error = "cannot load the module \"" + file + "\": " + (why ? why : "unknown error");
    return false;
  }
  handle_ = module;
  char resolved[PATH_MAX];
  path_ = realpath(file.c_str(), resolved) ? resolved : file;
  auto get_api = reinterpret_cast<MP4VConfigGetAPIExtFn>(
      dlsym(module, MP4V_CONFIG_GET_API_EXT_NAME));
#endif
  if (get_api == nullptr) {
    *error = "\"" + path_ + "\" has no export " MP4V_CONFIG_GET_API_EXT_NAME;
    Close();
    return false;
  }
  get_api_ = get_api;
  get_info_ = reinterpret_cast<MP4VConfigGetInfoFn>(get_api(MP4V_FUNC_GET_INFO));
  load_ = reinterpret_cast<MP4VConfigLoadFn>(get_api(MP4V_FUNC_LOAD));
  save_ = reinterpret_cast<MP4VConfigSaveFn>(get_api(MP4V_FUNC_SAVE));
  update_ = reinterpret_cast<MP4VConfigUpdateFn>(get_api(MP4V_FUNC_UPDATE));
  if (get_info_ == nullptr || load_ == nullptr || save_ == nullptr) {
    *error = "\"" + path_ + "\" does not hand out the information query, load and save functions";
    Close();
    return false;
  }
  return true;
}

ModuleLibrary::~ModuleLibrary() { Close(); }

void ModuleLibrary::Close() {
  if (handle_ != nullptr) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }
  handle_ = nullptr;
  path_.clear();
  get_api_ = nullptr;
  get_info_ = nullptr;
  load_ = nullptr;
  save_ = nullptr;
  update_ = nullptr;
}

std::vector<std::pair<std::string, std::string>> ModuleLibrary::VersionResource() const {
  std::vector<std::pair<std::string, std::string>> values;
#ifdef _WIN32
  if (handle_ == nullptr) return values;
  const std::wstring file = ModuleFilePath(static_cast<HMODULE>(handle_));
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return values;
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return values;

  auto version = [](DWORD high, DWORD low) {
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(high)),
                  static_cast<unsigned>(LOWORD(high)), static_cast<unsigned>(HIWORD(low)),
                  static_cast<unsigned>(LOWORD(low)));
    return std::string(text);
  };
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
      fixed != nullptr && length >= sizeof *fixed) {
    values.emplace_back("file version (fixed)",
                        version(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    values.emplace_back("product version (fixed)",
                        version(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  }

  WORD* translation = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      translation == nullptr || length < 2 * sizeof(WORD)) {
    return values;
  }
  wchar_t block[40];
  _snwprintf(block, sizeof block / sizeof block[0], L"\\StringFileInfo\\%04x%04x\\",
             translation[0], translation[1]);
  char language[32];
  std::snprintf(language, sizeof language, "%04x, code page %u",
                static_cast<unsigned>(translation[0]), static_cast<unsigned>(translation[1]));
  values.emplace_back("language", language);
  static const wchar_t* const kNames[] = {
      L"FileDescription", L"FileVersion",  L"ProductVersion", L"InternalName",
      L"OriginalFilename", L"ProductName", L"CompanyName",    L"LegalCopyright",
      L"Comments",         L"PrivateBuild", L"SpecialBuild"};
  for (const wchar_t* name : kNames) {
    void* value = nullptr;
    if (VerQueryValueW(data.data(), (std::wstring(block) + name).c_str(), &value, &length) &&
        value != nullptr && length > 0) {
      const wchar_t* text = static_cast<const wchar_t*>(value);
      values.emplace_back(Utf8(name), Utf8(std::wstring(text, wcsnlen(text, length))));
    }
  }
#endif
  return values;
}

}  // namespace mp4v_host
