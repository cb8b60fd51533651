// The platform layer on Windows: safe file replacement and the dynamic
// loader.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/replacement.h"

const char kPlatformTextLineEnd[] = "\r\n";

// ---- Files -------------------------------------------------------------------

namespace {

// Longest path the ANSI file functions take, without the terminator.
constexpr size_t kAnsiPathMax = MAX_PATH - 1;
// Room for the longest path the system hands out, terminator included.
constexpr size_t kLongPathCapacityAnsi = 32768;

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool ReplaceKeepingAttributes(const char* target, const char* temporary,
                              const char* backup, uint32_t* error) {
  if (ReplaceFileA(target, temporary, backup, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  *error = GetLastError();
  return false;
}

bool MoveReplacing(const char* from, const char* to, uint32_t* error) {
  if (MoveFileExA(from, to,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *error = GetLastError();
  return false;
}

bool Delete(const char* path, uint32_t* error) {
  if (DeleteFileA(path)) return true;
  *error = GetLastError();
  return false;
}

constexpr ReplaceSteps kWindowsSteps = {ReplaceKeepingAttributes,
                                        MoveReplacing, Delete};

// The file that the existing `path` finally names, when that is another
// path (behind a symbolic link or junction, also a Unix link under Wine):
// the link then stays and the file it points to is replaced, as on other
// systems. Otherwise, or when it cannot be told, `path` itself.
std::string ResolveLinks(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::string final_path(kLongPathCapacityAnsi, '\0');
  const DWORD length = GetFinalPathNameByHandleA(
      file, &final_path[0], static_cast<DWORD>(final_path.size()),
      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (length == 0 || length >= final_path.size()) return path;
  final_path.resize(length);
  // "\\?\C:\..." or "\\?\UNC\server\...": the plain form where it fits the
  // ANSI functions.
  std::string plain = final_path;
  if (plain.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    plain = "\\\\" + plain.substr(8);
  } else if (plain.compare(0, 4, "\\\\?\\") == 0) {
    plain = plain.substr(4);
  }
  std::string full(kLongPathCapacityAnsi, '\0');
  const DWORD full_length = GetFullPathNameA(
      path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (full_length > 0 && full_length < full.size()) {
    full.resize(full_length);
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, full.c_str(), -1,
                       plain.c_str(), -1) == CSTR_EQUAL) {
      return path;  // no link on the way
    }
  }
  return plain.size() <= kAnsiPathMax ? plain : final_path;
}

}  // namespace

const ReplaceSteps& PlatformReplaceSteps() { return kWindowsSteps; }

bool PlatformPathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// A replacement up to the point where it writes: the target (links
// resolved), its attributes, and the temporary file, created exclusively.
struct Prepared {
  std::string target;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  bool exists = false;
  TemporaryNames names;
  HANDLE file = INVALID_HANDLE_VALUE;
};

ReplaceCheck Prepare(const char* path, Prepared* p) {
  if (path == nullptr || path[0] == '\0') return ReplaceCheck::kNoName;
  p->attributes = GetFileAttributesA(path);
  p->exists = p->attributes != INVALID_FILE_ATTRIBUTES;
  if (p->exists && (p->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ReplaceCheck::kNotAFile;
  }
  if (p->exists && (p->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return ReplaceCheck::kReadOnly;
  }
  if (!p->exists && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return GetLastError() == ERROR_PATH_NOT_FOUND ? ReplaceCheck::kNoFolder
                                                  : ReplaceCheck::kOtherFailure;
  }
  p->target = p->exists ? ResolveLinks(path) : std::string(path);
  if (p->exists) {
    // Another program that holds the file open without letting others
    // delete it would make the replace step fail: found before anything is
    // written.
    HANDLE held = CreateFileA(p->target.c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return ReplaceCheck::kInUse;
      }
      if (error == ERROR_ACCESS_DENIED) return ReplaceCheck::kReadOnly;
    } else {
      CloseHandle(held);
    }
  }
  p->names.parts = SplitTarget(p->target, "/\\:");
  int local = 0;
  p->names.seed =
      static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
      (static_cast<uint64_t>(GetCurrentThreadId()) << 16) ^
      reinterpret_cast<uintptr_t>(&local);
  p->names.short_form =
      p->names.parts.directory.size() + kTemporaryNameLength > kAnsiPathMax;
  DWORD error = ERROR_FILE_EXISTS;
  for (; p->names.attempt < kTemporaryAttempts; ++p->names.attempt) {
    const std::string temporary = p->names.Path();
    p->file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (p->file != INVALID_HANDLE_VALUE) return ReplaceCheck::kPossible;
    error = GetLastError();
    if (!p->names.short_form && (error == ERROR_FILENAME_EXCED_RANGE ||
                                 error == ERROR_PATH_NOT_FOUND)) {
      p->names.short_form = true;  // the longer name did not fit; the target's does
      continue;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
      return ReplaceCheck::kNoFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return ReplaceCheck::kFolderNotWritable;
    default:
      return ReplaceCheck::kOtherFailure;
  }
}

}  // namespace

ReplaceCheck PlatformCheckReplace(const char* path) {
  try {
    Prepared p;
    const ReplaceCheck check = Prepare(path, &p);
    if (p.file != INVALID_HANDLE_VALUE) {
      CloseHandle(p.file);
      DeleteFileA(p.names.Path().c_str());
    }
    return check;
  } catch (const std::bad_alloc&) {
    return ReplaceCheck::kOtherFailure;
  }
}

bool PlatformReplaceFileWith(const ReplaceSteps& steps, const char* path,
                             const char* data, size_t size) {
  try {
    Prepared p;
    if (Prepare(path, &p) != ReplaceCheck::kPossible) return false;
    bool ok = WriteAll(p.file, data, size) && FlushFileBuffers(p.file);
    ok = CloseHandle(p.file) && ok;
    // ReplaceFile keeps the target's attributes and security. The old file
    // goes to a backup name of its own, so that a failure half-way can put
    // it back.
    if (!FinishReplacement(steps, &p.names, p.target, ok, p.exists, data,
                           size)) {
      return false;
    }
    // The attributes a person sets (hidden, system, ...) stay as they were,
    // also where the replacement did not carry them over.
    constexpr DWORD kKeptAttributes =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
        FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE;
    if (p.exists && (GetFileAttributesA(p.target.c_str()) & kKeptAttributes) !=
                        (p.attributes & kKeptAttributes)) {
      SetFileAttributesA(p.target.c_str(), (p.attributes & kKeptAttributes) != 0
                                               ? p.attributes & kKeptAttributes
                                               : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// ---- Libraries ---------------------------------------------------------------

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

