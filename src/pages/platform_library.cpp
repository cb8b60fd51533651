#include "pages/platform_library.h"

#include <cstddef>
#include <cstdlib>

#ifdef _WIN32

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t),
              "wide text is UTF-16 on Windows");

namespace {

// Room for the longest file name Windows hands out, terminator included.
constexpr size_t kLongPathCapacity = 32768;

bool HasDirectoryPart(const wchar_t* name) {
  for (; *name != L'\0'; ++name) {
    if (*name == L'\\' || *name == L'/' || *name == L':') return true;
  }
  return false;
}

size_t WideLength(const wchar_t* text) {
  size_t length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

// Loads a library given by its full path. Its own dependencies are looked
// for in its directory and the system's default safe places. Systems whose
// loader predates the LOAD_LIBRARY_SEARCH_* flags refuse them with
// ERROR_INVALID_PARAMETER; there the older altered search order stands in.
HMODULE LoadFullPath(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(
      path, nullptr,
      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

// Loads `directory` (the first `directory_length` characters, a separator
// added when missing) joined with `name`. Null when the path does not fit.
HMODULE LoadInDirectory(const wchar_t* directory, size_t directory_length,
                        const wchar_t* name) {
  if (directory_length == 0) return nullptr;
  const size_t name_length = WideLength(name);
  if (directory_length + 1 + name_length + 1 > kLongPathCapacity) {
    return nullptr;
  }
  wchar_t* path = static_cast<wchar_t*>(
      std::malloc(kLongPathCapacity * sizeof(wchar_t)));
  if (path == nullptr) return nullptr;
  size_t length = 0;
  for (size_t i = 0; i < directory_length; ++i) path[length++] = directory[i];
  if (path[length - 1] != L'\\' && path[length - 1] != L'/') {
    path[length++] = L'\\';
  }
  for (size_t i = 0; i <= name_length; ++i) path[length++] = name[i];
  HMODULE module = LoadFullPath(path);
  std::free(path);
  return module;
}

// Loads `name` from the directory of the file of `owner` (null: the host
// application's program file).
HMODULE LoadBesideModuleFile(HMODULE owner, const wchar_t* name) {
  wchar_t* file = static_cast<wchar_t*>(
      std::malloc(kLongPathCapacity * sizeof(wchar_t)));
  if (file == nullptr) return nullptr;
  HMODULE module = nullptr;
  const DWORD length = GetModuleFileNameW(
      owner, file, static_cast<DWORD>(kLongPathCapacity));
  if (length > 0 && length < kLongPathCapacity) {
    size_t directory_length = length;
    while (directory_length > 0 && file[directory_length - 1] != L'\\' &&
           file[directory_length - 1] != L'/') {
      --directory_length;
    }
    module = LoadInDirectory(file, directory_length, name);
  }
  std::free(file);
  return module;
}

// The binary this code is linked into, found from the address of one of
// its own functions; holds no extra load.
HMODULE ThisModule() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&PlatformLibraryLoad),
                          &self)) {
    return nullptr;
  }
  return self;
}

HMODULE LoadFromSystemDirectory(const wchar_t* name) {
  wchar_t directory[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return nullptr;
  return LoadInDirectory(directory, length, name);
}

}  // namespace

void* PlatformLibraryLoad(const char16_t* file_name) noexcept {
  const wchar_t* name = reinterpret_cast<const wchar_t*>(file_name);
  if (name == nullptr || name[0] == L'\0' || HasDirectoryPart(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMODULE self = ThisModule();
  if (self != nullptr) {
    if (HMODULE module = LoadBesideModuleFile(self, name)) return module;
  }
  HMODULE module = LoadLibraryExW(
      name, nullptr,
      LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A loader without the search flags: the same two places by full path.
    module = LoadBesideModuleFile(nullptr, name);
    if (module == nullptr) module = LoadFromSystemDirectory(name);
  }
  return module;
}

void* PlatformLibraryGetProc(void* module, const char* entry_name) noexcept {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (entry_name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module), entry_name));
}

uint32_t PlatformLibraryLastError() noexcept { return GetLastError(); }

void PlatformLibraryFree(void* module) noexcept {
  if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

#else  // the native dynamic loader

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

#include <string>

namespace {

// Windows error codes, kept so the record sees the same codes everywhere.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;

thread_local uint32_t last_error = 0;

// Appends the UTF-8 form of the UTF-16 text `text`. False for unpaired
// surrogates, which have no UTF-8 form.
bool AppendUtf8(const char16_t* text, std::string& out) {
  for (; *text != u'\0'; ++text) {
    uint32_t code = *text;
    if (code >= 0xD800 && code <= 0xDBFF) {
      const uint32_t low = text[1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      ++text;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return true;
}

// The directory, with its trailing "/", of the binary this code is linked
// into. False when it cannot be told for certain: a name the loader keeps
// relative would resolve against the current directory, which is exactly
// the place never to load from.
bool ThisModuleDirectory(std::string& directory) {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&PlatformLibraryLoad), &info,
              reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return false;
  }
  std::string file;
  if (map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0') {
    // The main program: the loader knows it only by its argv[0].
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
      return false;
    }
    file.assign(buffer, static_cast<size_t>(length));
  } else if (info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    file = info.dli_fname;
  } else {
    return false;
  }
  directory = file.substr(0, file.rfind('/') + 1);
  return true;
}

void* Open(const std::string& file) {
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) dlerror();  // drop the message; the code says it
  return module;
}

void* LoadSafely(const char16_t* file_name) {
  std::string name;
  if (!AppendUtf8(file_name, name) || name.empty() ||
      name.find('/') != std::string::npos) {
    last_error = kErrorInvalidParameter;
    return nullptr;
  }
  std::string directory;
  if (ThisModuleDirectory(directory)) {
    if (void* module = Open(directory + name)) return module;
  }
  // A name without "/" makes the loader search only its own list of
  // places, never the current directory.
  if (void* module = Open(name)) return module;
  last_error = kPlatformErrorModNotFound;
  return nullptr;
}

}  // namespace

void* PlatformLibraryLoad(const char16_t* file_name) noexcept {
  if (file_name == nullptr) {
    last_error = kErrorInvalidParameter;
    return nullptr;
  }
  try {
    return LoadSafely(file_name);
  } catch (...) {  // out of memory while composing the path
    last_error = kPlatformErrorModNotFound;
    return nullptr;
  }
}

void* PlatformLibraryGetProc(void* module, const char* entry_name) noexcept {
  if (module == nullptr) {
    // dlsym would read a null handle as "search every loaded library".
    last_error = kErrorInvalidHandle;
    return nullptr;
  }
  if (entry_name == nullptr) {
    last_error = kErrorInvalidParameter;
    return nullptr;
  }
  dlerror();
  void* address = dlsym(module, entry_name);
  if (address == nullptr) {
    dlerror();
    last_error = kPlatformErrorProcNotFound;
  }
  return address;
}

uint32_t PlatformLibraryLastError() noexcept { return last_error; }

void PlatformLibraryFree(void* module) noexcept {
  if (module != nullptr) dlclose(module);
}

#endif
