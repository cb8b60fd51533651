// The platform layer on Windows: safe file replacement and the dynamic
// loader.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/replacement.h"
#include "platform/save_turn.h"

const char kPlatformTextLineEnd[] = "\r\n";

// ---- Files -------------------------------------------------------------------

bool PlatformUpdatesStream() { return true; }

bool PlatformIsSharingConflict(uint32_t error) {
  // Access is denied, too, to a replacement over a file whose deletion is
  // pending while another program still has it open.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

namespace {

// Opens `path` for reading, sharing everything, waiting out another
// program's sharing conflict for the sharing wait: the handle, or
// INVALID_HANDLE_VALUE with the system's reason in `*failed`. Sharing
// deletion too: a save may put a new file in this one's place while it is
// read, and this read still gets the old text whole.
HANDLE OpenForReading(const char* path, DWORD* failed) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld(
      SharingWait(),
      [&] {
        file = CreateFileA(path, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        *failed = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        return file != INVALID_HANDLE_VALUE;
      },
      [&] { return *failed == ERROR_SHARING_VIOLATION || *failed == ERROR_LOCK_VIOLATION; });
  return file;
}

// What a failure `failed` to open a file for reading means.
FileReadStatus OpenFailure(DWORD failed) {
  return failed == ERROR_FILE_NOT_FOUND || failed == ERROR_PATH_NOT_FOUND
             ? FileReadStatus::kMissing
             : FileReadStatus::kUnreadable;
}

// Reads the open `file` from where it stands to its end into `*out`.
FileReadStatus ReadToEnd(HANDLE file, std::string* out, uint32_t* error) {
  FileReadStatus result = FileReadStatus::kRead;
  try {
    LARGE_INTEGER size{};
    size_t capacity = 16384;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) < 0x7FFFFFFFull) {
      capacity = static_cast<size_t>(size.QuadPart) + 1;
    }
    size_t got_total = 0;
    for (;;) {
      if (out->size() < got_total + 1) {
        out->resize(out->size() * 2 > capacity ? out->size() * 2 : capacity);
      }
      const size_t room = out->size() - got_total;
      DWORD got = 0;
      if (!ReadFile(file, &(*out)[got_total],
                    room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room), &got,
                    nullptr)) {
        *error = GetLastError();
        result = FileReadStatus::kUnreadable;
        break;
      }
      if (got == 0) break;
      got_total += got;
    }
    out->resize(got_total);
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    result = FileReadStatus::kOutOfMemory;
  }
  if (result != FileReadStatus::kRead) out->clear();
  return result;
}

}  // namespace

PlatformFileReader::~PlatformFileReader() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileReadStatus PlatformFileReader::Open(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (path == nullptr) {
    *error = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return FileReadStatus::kMissing;
  }
  DWORD failed = 0;
  const HANDLE file = OpenForReading(path, &failed);
  if (file == INVALID_HANDLE_VALUE) {
    *error = failed;
    return OpenFailure(failed);
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return FileReadStatus::kRead;
}

bool PlatformFileReader::Read(char* into, size_t room, size_t* got, uint32_t* error) {
  *got = 0;
  DWORD read_now = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), into,
                room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room), &read_now,
                nullptr)) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  *got = read_now;
  return true;
}

FileReadStatus PlatformFileReader::ReadRest(std::string* out, uint32_t* error) {
  return ReadToEnd(reinterpret_cast<HANDLE>(handle_), out, error);
}

bool PlatformFileReader::Size(uint64_t* size) const {
  LARGE_INTEGER got{};
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &got) || got.QuadPart < 0) return false;
  *size = static_cast<uint64_t>(got.QuadPart);
  return true;
}

namespace {

// The pause a test set before a replacement flushes (PlatformSetSyncDelayForTesting).
thread_local unsigned sync_delay_milliseconds = 0;

// Longest path the ANSI file functions take, without the terminator.
constexpr size_t kAnsiPathMax = MAX_PATH - 1;

// The path `get(buffer, capacity)` writes: a system function that gives the
// length it wrote, or when the buffer is too small the capacity it needs
// (terminator included), or 0 on failure. Empty when it fails. Most paths
// fit a buffer on the stack; a larger one, of the length asked for, only
// when not: a zeroed buffer for the longest path possible (64 KiB) cost
// more than the rest of a save under Wine, whose heap takes memory that
// large fresh from the system every time.
template <typename Get>
std::wstring WidePathFrom(Get get) {
  wchar_t on_stack[MAX_PATH + 1];
  const DWORD length = get(on_stack, static_cast<DWORD>(MAX_PATH + 1));
  if (length == 0) return std::wstring();
  if (length <= MAX_PATH) return std::wstring(on_stack, length);
  std::wstring path(length, L'\0');
  const DWORD written = get(&path[0], length);
  if (written == 0 || written >= length) return std::wstring();
  path.resize(written);
  return path;
}

// The full path of `path` (GetFullPathNameW), or empty.
std::wstring FullPathOf(const std::wstring& path) {
  return WidePathFrom([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
}

// The final path of the open `handle` in its "\\?\" form, or empty.
std::wstring FinalPath(HANDLE handle) {
  return WidePathFrom([&](wchar_t* buffer, DWORD capacity) {
    return GetFinalPathNameByHandleW(handle, buffer, capacity,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
}

// False, with the reason in `*error`, when a write fails (a write that
// writes nothing without saying why: ERROR_DISK_FULL).
bool WriteAll(HANDLE file, const char* data, size_t size, uint32_t* error) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr)) {
      *error = GetLastError();
      return false;
    }
    if (written == 0) {
      *error = ERROR_DISK_FULL;
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
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

// The replacement in one step: the name holds the old file or the new one at
// every moment. (ReplaceFile with a backup name is two renames, between
// which the name holds no file; the temporary file has already taken what
// ReplaceFile would carry over, see CarryOver.)
bool ReplaceByMove(const char* target, const char* temporary, const char*,
                   uint32_t* error) {
  return MoveReplacing(temporary, target, error);
}

constexpr ReplaceSteps kWindowsSteps = {ReplaceByMove, MoveReplacing, Delete, false};

// `text` in the process's ANSI code page as UTF-16; empty when it does not
// convert.
std::wstring WideFromAnsi(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.c_str(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.c_str(),
                      static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// `text` in the process's ANSI code page; empty when a character has no
// form there.
std::string AnsiFromWide(const std::wstring& text) {
  BOOL lossy = FALSE;
  // UTF-8 has a form for every character and takes no such flag.
  BOOL* lossy_flag = GetACP() == CP_UTF8 ? nullptr : &lossy;
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, lossy_flag);
  if (length <= 0 || lossy) return std::string();
  std::string ansi(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &ansi[0],
                      length, nullptr, nullptr);
  return ansi;
}

// The path the open `file` finally has, when that differs from `path` (it
// lies behind a symbolic link or junction, also a Unix link under Wine):
// the plain form where it fits the ANSI functions, else the "\\?\" form.
// Otherwise, or when it cannot be told, `path` itself. The comparison is
// made in UTF-16, whose functions take any length: the ANSI ones refuse some
// paths that the system still lets a program create.
std::string ChosenPath(const std::wstring& final_path, const std::string& path);

std::string FinalPathOf(HANDLE file, const std::string& path) {
  const std::wstring final_path = FinalPath(file);
  return final_path.empty() ? path : ChosenPath(final_path, path);
}

// FinalPathOf for the final path `final_path` of the file `path` names.
std::string ChosenPath(const std::wstring& final_path, const std::string& path) {
  // "\\?\C:\..." or "\\?\UNC\server\...": the plain form.
  std::wstring plain = final_path;
  if (plain.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    plain = L"\\\\" + plain.substr(8);
  } else if (plain.compare(0, 4, L"\\\\?\\") == 0) {
    plain = plain.substr(4);
  }
  const std::wstring given = WideFromAnsi(path);
  if (given.empty()) return path;
  const std::wstring full = FullPathOf(given);
  if (!full.empty() && CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, full.c_str(), -1,
                                      plain.c_str(), -1) == CSTR_EQUAL) {
    return path;  // no link on the way
  }
  std::string plain_ansi = AnsiFromWide(plain);
  if (!plain_ansi.empty() && plain_ansi.size() <= kAnsiPathMax) return plain_ansi;
  std::string final_ansi = AnsiFromWide(final_path);
  return final_ansi.empty() ? path : final_ansi;
}

// The file that the existing `path` finally names (see FinalPathOf): the
// link then stays and the file it points to is replaced, as on other
// systems.
std::string ResolveLinks(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::string final_path = FinalPathOf(file, path);
  CloseHandle(file);
  return final_path;
}

// Whether `path`, for which GetFileAttributesA just gave `attributes`, is a
// symbolic link to a file that does not exist (a dangling link). Windows
// shows such a link as an entry of its own with the reparse-point attribute
// that cannot be followed; Wine does not show a dangling Unix link at all,
// but a search for the name finds an entry there that leads nowhere (no
// more files, rather than no such file).
bool IsDanglingLink(const char* path, DWORD attributes) {
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return false;
    }
    HANDLE file = CreateFileA(path, 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (GetLastError() != ERROR_FILE_NOT_FOUND || std::strpbrk(path, "*?") != nullptr) {
    return false;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// Creates, empty, the file that the dangling link `path` names, by opening
// the link for writing (which follows it), so that the save can replace that
// file and the link stays. Its path, or empty, with the reason in `*error`,
// when it could not be created or its path cannot be told.
std::string CreateBehindLink(const char* path, uint32_t* error) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return std::string();
  }
  const std::string created = FinalPathOf(file, path);
  CloseHandle(file);
  if (created == path) {
    *error = ERROR_CANT_RESOLVE_FILENAME;
    return std::string();
  }
  return created;
}

// What the failure `error` to create a file in a folder says of that folder.
ReplaceCheck FolderCheck(DWORD error) {
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

// The attributes a save sets on the file it wrote: those a person sets
// (hidden, system, not content indexed) as the old file had them, and the
// archive bit, as any write sets it. Offline is not put back: the file's
// content is here now.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kSavedAttributes = kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE |
                                   FILE_ATTRIBUTE_OFFLINE;

// The system's security calls by handle, in ntdll.dll, which every process
// has loaded: a save loads no library for them. (advapi32's functions by
// name would be loaded and freed again on every save of a program that has
// not loaded advapi32 itself: under Wine that costs more than the save.)
using NtQuerySecurityObjectFn = LONG(WINAPI*)(HANDLE, SECURITY_INFORMATION,
                                              PSECURITY_DESCRIPTOR, ULONG, PULONG);
using NtSetSecurityObjectFn = LONG(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

template <typename Function>
Function NativeFunction(const char* name) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr ? nullptr
                          : reinterpret_cast<Function>(
                                reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

// The access rights (a self-relative security descriptor holding the DACL)
// of the file `path`; empty where the file system keeps none or they cannot
// be read. The handle asks for no data access, so it refuses no other
// program anything.
std::vector<char> AccessRightsOf(const std::string& path) {
  const auto query = NativeFunction<NtQuerySecurityObjectFn>("NtQuerySecurityObject");
  if (query == nullptr) return std::vector<char>();
  HANDLE file = CreateFileA(path.c_str(), READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::vector<char>();
  std::vector<char> descriptor(256);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(file, DACL_SECURITY_INFORMATION, descriptor.data(),
                              static_cast<ULONG>(descriptor.size()), &needed);
    if (status == 0) break;
    if (status != kStatusBufferTooSmall || needed <= descriptor.size()) {
      descriptor.clear();
      break;
    }
    descriptor.resize(needed);
  }
  CloseHandle(file);
  return descriptor;
}

// Gives the file `path`, or the file open in `handle` (with WRITE_DAC) when
// that is not INVALID_HANDLE_VALUE, the access rights `descriptor` (from
// AccessRightsOf); nothing for an empty one. Best effort, as ReplaceFile's.
void SetAccessRights(const std::string& path, HANDLE handle, std::vector<char>* descriptor) {
  const auto set = NativeFunction<NtSetSecurityObjectFn>("NtSetSecurityObject");
  if (set == nullptr || descriptor->empty()) return;
  if (handle != INVALID_HANDLE_VALUE) {
    set(handle, DACL_SECURITY_INFORMATION, descriptor->data());
    return;
  }
  HANDLE file = CreateFileA(path.c_str(), WRITE_DAC,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  set(file, DACL_SECURITY_INFORMATION, descriptor->data());
  CloseHandle(file);
}

// Gives the finished `temporary` file what a replacement keeps of the
// existing target whose attributes are `attributes` and whose access rights
// are `rights` (AccessRightsOf): the attributes a person sets (see
// kKeptAttributes) with the archive bit, and the access rights, as
// ReplaceFile carries them over. The temporary file was created with those
// rights where the system takes them then; set again here for a system that
// takes only some at creation (Wine keeps them as the file's mode, which the
// creation mask cuts) or none (see Prepare).
// `handle`, when not INVALID_HANDLE_VALUE, is open on it with WRITE_DAC and
// FILE_WRITE_ATTRIBUTES, and sets both.
void CarryOver(DWORD attributes, std::vector<char>* rights, const std::string& temporary,
               HANDLE handle) {
  const DWORD wanted = (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
  basic.FileAttributes = wanted;
  if (handle == INVALID_HANDLE_VALUE ||
      !SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
    SetFileAttributesA(temporary.c_str(), wanted);
  }
  SetAccessRights(temporary, handle, rights);
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
  // The empty file made behind a dangling link, to be deleted again when
  // the save fails or only a check made it (as long as it is still that
  // empty file).
  std::string created;
  TemporaryNames names;
  HANDLE file = INVALID_HANDLE_VALUE;
  // A handle on the temporary file from its creation until after the
  // replacement (then on the target), reading and sharing everything: while
  // it is open, no other save takes the file for one whose writer is gone
  // (RemoveAbandonedTemporaries). It holds no right to delete, so readers
  // that do not share deletion are not refused because of it. Where the
  // system grants them (`present_sets`), it may also set the file's access
  // rights and attributes, which then need no open of their own.
  HANDLE present = INVALID_HANDLE_VALUE;
  bool present_sets = false;
  uint32_t error = 0;  // why the preparation failed
  // The target's access rights (AccessRightsOf), read once: given to the
  // temporary file at its creation, and set again once it is written.
  std::vector<char> rights;

  Prepared() = default;
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
  ~Prepared() { Close(); }

  void Close() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (present != INVALID_HANDLE_VALUE) CloseHandle(present);
    file = present = INVALID_HANDLE_VALUE;
  }

  // Gives `check` with the reason `code`.
  ReplaceCheck Fail(ReplaceCheck check, uint32_t code) {
    error = code;
    return check;
  }

  void RemoveCreated() const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!created.empty() &&
        GetFileAttributesExA(created.c_str(), GetFileExInfoStandard, &data) &&
        data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) {
      DeleteFileA(created.c_str());
    }
  }
};

// Whether another program holds the existing `target` so that it may not be
// replaced: 0 when it may, else the code of the open with the right to
// delete it (a sharing or lock violation, or access denied).
DWORD HolderOf(const std::string& target) {
  HANDLE held = CreateFileA(target.c_str(), DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(held);
  return 0;
}

// Everything a replacement of `path` does before it writes, in its order;
// the check (`look_for_holder` true) and the replacement both run it, so
// that the check looks where the replacement writes. Behind a link the file
// it names is saved and the link stays; its attributes are the ones that
// count. A dangling link gets
// the file it names, as on other systems: created empty here, since only
// the system can tell where a link leads, and only by following it; its
// folder then takes the temporary file.
// `resolved`, when not empty, is the file `path` leads to (links resolved)
// as the update's turn found it.
ReplaceCheck Prepare(const char* path, Prepared* p, bool look_for_holder,
                     const std::string& resolved = std::string()) {
  if (path == nullptr || path[0] == '\0') {
    return p->Fail(ReplaceCheck::kNoName,
                   PlatformErrorCode(ModuleFailure::kRefusedArgument));
  }
  p->attributes = GetFileAttributesA(path);
  const DWORD missing_error = GetLastError();
  const bool dangling = IsDanglingLink(path, p->attributes);
  p->exists = p->attributes != INVALID_FILE_ATTRIBUTES;
  p->target = path;
  if (dangling) {
    uint32_t error = 0;
    p->created = CreateBehindLink(path, &error);
    if (p->created.empty()) {
      // Creating the file whatever is there misses no file: a name that is
      // not found is its folder (Wine's word for a link into a missing one).
      return p->Fail(error == ERROR_FILE_NOT_FOUND ? ReplaceCheck::kNoFolder
                                                   : FolderCheck(error),
                     error);
    }
    p->target = p->created;
    p->exists = true;
  } else if (p->exists) {
    p->target = resolved.empty() ? ResolveLinks(path) : resolved;
  } else if (missing_error != ERROR_FILE_NOT_FOUND) {
    return p->Fail(missing_error == ERROR_PATH_NOT_FOUND ? ReplaceCheck::kNoFolder
                                                         : ReplaceCheck::kOtherFailure,
                   missing_error);
  }
  if (p->target != path) {
    p->attributes = GetFileAttributesA(p->target.c_str());
    if (p->attributes == INVALID_FILE_ATTRIBUTES) {
      return p->Fail(ReplaceCheck::kOtherFailure, GetLastError());
    }
  }
  // A folder or a read-only file: refused as the system refuses to open
  // either for writing.
  if (p->exists && (p->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return p->Fail(ReplaceCheck::kNotAFile, ERROR_ACCESS_DENIED);
  }
  if (p->exists && (p->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return p->Fail(ReplaceCheck::kReadOnly, ERROR_ACCESS_DENIED);
  }
  if (p->exists && look_for_holder) {
    // Another program that holds the file open without letting others
    // delete it would make the replace step fail: the check waits it out
    // for as long as the replace step would, then names it. A save does not
    // look: each look opens the file with the right to delete it, and while
    // that is open a reader that does not share deletion is refused (under
    // Wine, looking once per save doubled such refusals). Its replace step
    // waits the same while, and when it gives up HolderOf names the cause.
    DWORD error = 0;
    RetryWhileHeld(
        SharingWait(),
        [&] {
          error = HolderOf(p->target);
          return error == 0;
        },
        [&] { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; });
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      return p->Fail(ReplaceCheck::kInUse, error);
    }
    if (error == ERROR_ACCESS_DENIED) return p->Fail(ReplaceCheck::kReadOnly, error);
  }
  p->names.parts = SplitTarget(p->target, "/\\:");
  int local = 0;
  p->names.seed = TemporarySeed(
      static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
      (static_cast<uint64_t>(GetCurrentThreadId()) << 16) ^
      reinterpret_cast<uintptr_t>(&local));
  p->names.short_form =
      p->names.parts.directory.size() + kTemporaryNameLength > kAnsiPathMax;
  // The temporary file has the target's access rights from its creation,
  // so that what it holds is never open to more readers than the target.
  if (p->exists) p->rights = AccessRightsOf(p->target);
  std::vector<char> rights = p->rights;
  SECURITY_ATTRIBUTES as_target = {sizeof as_target, rights.empty() ? nullptr : rights.data(),
                                   FALSE};
  DWORD error = ERROR_FILE_EXISTS;
  for (; p->names.attempt < kTemporaryAttempts; ++p->names.attempt) {
    const std::string temporary = p->names.Path();
    // Written through a handle that lets others only read; the handle of
    // its presence (see Prepared::present) reads and shares everything.
    p->file = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                          rights.empty() ? nullptr : &as_target, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    error = p->file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (p->file == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED && !rights.empty()) {
      // Rights that the system refuses to give a new file here: created
      // with the folder's, the target's are set once it is written.
      rights.clear();
      --p->names.attempt;
      continue;
    }
    if (p->file != INVALID_HANDLE_VALUE) {
      for (const DWORD access : {GENERIC_READ | WRITE_DAC | FILE_WRITE_ATTRIBUTES,
                                 static_cast<DWORD>(GENERIC_READ)}) {
        p->present = CreateFileA(temporary.c_str(), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        p->present_sets = access != GENERIC_READ;
        if (p->present != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
      }
      if (p->present != INVALID_HANDLE_VALUE) return ReplaceCheck::kPossible;
      error = GetLastError();
      CloseHandle(p->file);
      p->file = INVALID_HANDLE_VALUE;
      DeleteFileA(temporary.c_str());
      break;
    }
    if (!p->names.short_form && (error == ERROR_FILENAME_EXCED_RANGE ||
                                 error == ERROR_PATH_NOT_FOUND)) {
      p->names.short_form = true;  // the longer name did not fit; the target's does
      continue;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return p->Fail(FolderCheck(error), error);
}

}  // namespace

ReplaceCheck PlatformCheckReplace(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  try {
    Prepared p;
    const ReplaceCheck check = Prepare(path, &p, true);
    if (p.file != INVALID_HANDLE_VALUE) {
      p.Close();
      DeleteFileA(p.names.Path().c_str());
    }
    p.RemoveCreated();
    *error = check == ReplaceCheck::kPossible ? 0 : p.error;
    return check;
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return ReplaceCheck::kOtherFailure;
  }
}

bool PlatformReplaceFileProduced(const ReplaceSteps& steps, const char* path,
                                 const FileProducer& produce, uint32_t* error,
                                 ExpectedFile* expected) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  try {
    Prepared p;
    if (Prepare(path, &p, false, expected != nullptr ? expected->target : std::string()) !=
        ReplaceCheck::kPossible) {
      *error = p.error;
      p.RemoveCreated();
      return false;
    }
    uint64_t written = 0;
    const FileProduced produced = produce([&](const char* data, size_t size) {
      written += size;
      return WriteAll(p.file, data, size, error);
    });
    bool ok = produced == FileProduced::kWritten;
    if (produced == FileProduced::kAbandoned) *error = 0;
    if (ok && sync_delay_milliseconds != 0) Sleep(sync_delay_milliseconds);
    if (ok && !FlushFileBuffers(p.file)) {
      *error = GetLastError();
      ok = false;
    }
    if (!CloseHandle(p.file) && ok) {
      *error = GetLastError();
      ok = false;
    }
    p.file = INVALID_HANDLE_VALUE;
    if (ok && p.exists) {
      CarryOver(p.attributes, &p.rights, p.names.Path(),
                p.present_sets ? p.present : INVALID_HANDLE_VALUE);
    }
    // Behind a link that named no file, the empty file made there stands
    // for no file.
    // The new file is read through the handle of its presence, which reads.
    const intptr_t reads = reinterpret_cast<intptr_t>(p.present);
    if (expected != nullptr) {
      expected->written = reads;
      expected->written_size = written;
    }
    const bool placed =
        FinishReplacement(steps, &p.names, p.target, ok, p.exists, ExpectedText(reads, written),
                          error, expected, !p.created.empty());
    if (expected != nullptr) expected->written = -1;
    // Right after the replacement: open on the target, the handle would
    // make the next save's replacement wait.
    p.Close();
    if (produced == FileProduced::kAbandoned) *error = 0;
    if (!placed) {
      // A replace step refused for as long as the sharing wait: the system
      // says access is denied (Wine) where a program holds the target; the
      // look names that.
      if (ok && p.exists && *error == ERROR_ACCESS_DENIED) {
        const DWORD holder = HolderOf(p.target);
        if (holder == ERROR_SHARING_VIOLATION || holder == ERROR_LOCK_VIOLATION) *error = holder;
      }
      p.RemoveCreated();
      return false;
    }
    // The attributes a save sets (see kKeptAttributes), also where the
    // replacement did not carry them over or a new file lacks the archive
    // bit.
    const DWORD wanted =
        (p.exists ? p.attributes & kKeptAttributes : 0) | FILE_ATTRIBUTE_ARCHIVE;
    const DWORD now = GetFileAttributesA(p.target.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & kSavedAttributes) != wanted) {
      SetFileAttributesA(p.target.c_str(), wanted);
    }
    return true;
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return false;
  }
}

// A replaced file is not kept open: a replacement over a file open here
// would be refused. The comparison reads the file as a load does, sharing
// everything and waiting out a program that holds it.
FileComparison PlatformCompareFile(const char* path, const ExpectedText& expected,
                                   std::string* now, intptr_t* kept, uint32_t* error) {
  *kept = -1;
  now->clear();
  DWORD failed = 0;
  HANDLE file = OpenForReading(path, &failed);
  if (file == INVALID_HANDLE_VALUE) {
    if (OpenFailure(failed) == FileReadStatus::kMissing) return FileComparison::kMissing;
    if (error != nullptr) *error = failed;
    return FileComparison::kUnreadable;
  }
  // In pieces through a buffer on the stack, copying nothing while the two
  // agree: a copy of the whole file would take memory of its size fresh
  // from the system for every look.
  char piece[16384];
  uint64_t at = 0;
  bool same = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, piece, sizeof piece, &got, nullptr)) {
      if (error != nullptr) *error = GetLastError();
      CloseHandle(file);
      return FileComparison::kUnreadable;
    }
    if (got == 0) break;
    if (!expected.Matches(at, piece, got)) {
      same = false;
      break;
    }
    at += got;
  }
  FileComparison comparison = FileComparison::kSame;
  if (!same || at != expected.size()) {
    // What the file holds instead, whole.
    uint32_t ignored = 0;
    LARGE_INTEGER start{};
    comparison = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
                         ReadToEnd(file, now, error != nullptr ? error : &ignored) ==
                             FileReadStatus::kRead
                     ? FileComparison::kOther
                     : FileComparison::kUnreadable;
    if (comparison == FileComparison::kUnreadable && error != nullptr && *error == 0) {
      *error = GetLastError();
    }
  }
  CloseHandle(file);
  return comparison;
}

FileComparison PlatformCompareKept(intptr_t, const ExpectedText&, std::string*) {
  return FileComparison::kUnreadable;
}

bool PlatformReadAt(intptr_t file, uint64_t offset, char* into, size_t size) {
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!ReadFile(reinterpret_cast<HANDLE>(file), into, want, &got, &at) || got == 0) {
      return false;
    }
    into += got;
    size -= got;
    offset += got;
  }
  return true;
}

void PlatformCloseKept(intptr_t) {}

bool PlatformKeptIsFile(intptr_t, const std::string&) { return false; }

FileId PlatformFileIdOf(const std::string&) { return FileId(); }

// ---- Turns -------------------------------------------------------------------

namespace {

// `text` in capitals, as the file system compares names.
std::wstring Capitals(std::wstring text) {
  if (!text.empty()) {
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                 static_cast<int>(text.size()), &text[0], static_cast<int>(text.size()));
  }
  return text;
}

// The final path of the file or folder `path`, or empty.
std::wstring FinalPathOfName(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring final_path = FinalPath(handle);
  CloseHandle(handle);
  return final_path;
}

// What the turn on `path` is named for, in capitals: the final path of the
// file when it exists, otherwise its folder's final path and its name, which
// is the same text once the file is there. Empty when it cannot be told.
// The file's final path goes to `*final_path` when it exists (else empty).
std::wstring TurnKey(const char* path, std::wstring* final_path) {
  final_path->clear();
  const std::wstring wide = WideFromAnsi(path);
  if (wide.empty()) return std::wstring();
  std::wstring key = FinalPathOfName(wide);
  if (!key.empty()) {
    *final_path = key;
    return Capitals(key);
  }
  const std::wstring full = FullPathOf(wide);
  if (full.empty()) return std::wstring();
  const size_t cut = full.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return Capitals(full);
  key = FinalPathOfName(full.substr(0, cut + 1));
  if (key.empty()) return Capitals(full);
  if (key.back() != L'\\') key += L'\\';
  return Capitals(key + full.substr(cut + 1));
}

}  // namespace

bool SaveTurn::Take(const char* path, unsigned wait_milliseconds, uint32_t* error) {
  Release();
  path_.clear();
  std::wstring final_path;
  const std::wstring key = TurnKey(path, &final_path);
  if (key.empty()) {
    // A name the system cannot make a full path of (not in the code page,
    // too long) has no turn to take: the save stops here, as the system
    // refuses such a name, rather than go ahead without one.
    *error = ERROR_INVALID_NAME;
    return false;
  }
  // The name holds a 64-bit hash of the path (FNV-1a): object names are
  // short, paths need not be. Two paths of one hash only take turns
  // needlessly.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (wchar_t c : key) {
    hash = (hash ^ static_cast<uint16_t>(c)) * 0x100000001B3ull;
  }
  std::wstring name = L"demo_config_mp4v.save.";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name += L"0123456789abcdef"[(hash >> shift) & 0xF];
  }
  const std::wstring global = L"Global\\" + name;
  // Every account may wait on the mutex and release it (SYNCHRONIZE |
  // MUTEX_MODIFY_STATE for Everyone, S-1-1-0), so that programs of other
  // accounts take the same turn; the default access list would let only
  // this account open it. The list is laid out by hand, as the system reads
  // it, so that the module needs no library beyond kernel32: an ACL header,
  // one access-allowed entry and the SID it names.
  alignas(4) static const unsigned char kEveryoneMayWait[28] = {
      ACL_REVISION, 0, 28, 0, 1, 0, 0, 0,              // ACL: size 28, one entry
      ACCESS_ALLOWED_ACE_TYPE, 0, 20, 0,               // entry: size 20
      0x01, 0x00, 0x10, 0x00,                          // mask 0x00100001
      1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};             // S-1-1-0
  SECURITY_DESCRIPTOR descriptor = {};
  descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
  descriptor.Control = SE_DACL_PRESENT;
  descriptor.Dacl = reinterpret_cast<PACL>(const_cast<unsigned char*>(kEveryoneMayWait));
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  HANDLE mutex = CreateMutexW(&attributes, FALSE, global.c_str());
  DWORD failure = mutex == nullptr ? GetLastError() : 0;
  if (mutex == nullptr && failure == ERROR_ACCESS_DENIED) {
    // Made by another program with fewer rights for us: waiting is enough.
    mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, global.c_str());
    if (mutex == nullptr) failure = GetLastError();
  }
  if (mutex == nullptr) {
    // Never another namespace: a turn there would exclude nobody else.
    *error = failure;
    return false;
  }
  const DWORD waited = WaitForSingleObject(mutex, wait_milliseconds);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    handle_ = reinterpret_cast<intptr_t>(mutex);
    if (!final_path.empty()) path_ = ChosenPath(final_path, path);
    return true;
  }
  failure = GetLastError();
  CloseHandle(mutex);
  *error = waited == WAIT_TIMEOUT ? PlatformErrorCode(ModuleFailure::kTurnTimedOut) : failure;
  return false;
}

void SaveTurn::Adopt(intptr_t) {}

bool SaveTurn::Follow(unsigned, uint32_t*) { return true; }

void RemoveAbandonedTemporaries(const std::string& target, const std::string& resolved) {
  // The folder the save writes its temporary file into: the one of the file
  // that the name finally leads to.
  const std::string file =
      !resolved.empty() ? resolved
      : GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES ? ResolveLinks(target)
                                                                     : target;
  const std::string folder = SplitTarget(file, "/\\:").directory;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "~mp4v*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!IsTemporaryName(found.cFileName) ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    // Deleting access sharing nothing is granted only while no process has
    // the file open: a writer keeps its temporary file open from creation
    // to replacement, so one that can be had so is left from a save that
    // was killed. The link itself, never what it names.
    HANDLE file = CreateFileA((folder + found.cFileName).c_str(), DELETE, 0, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void PlatformSetSyncDelayForTesting(unsigned milliseconds) {
  sync_delay_milliseconds = milliseconds;
}

void SaveTurn::Release() {
  if (handle_ == kNone) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = kNone;
}

// ---- Errors ------------------------------------------------------------------

uint32_t PlatformErrorCode(ModuleFailure failure) {
  switch (failure) {
    case ModuleFailure::kRefusedArgument:
      return ERROR_INVALID_NAME;
    case ModuleFailure::kUnsupportedText:
      return ERROR_INVALID_DATA;
    case ModuleFailure::kNoValueText:
      return ERROR_INVALID_DATA;
    case ModuleFailure::kTurnTimedOut:
      return ERROR_LOCK_VIOLATION;
    case ModuleFailure::kKeptChanging:
      return ERROR_BUSY;
    case ModuleFailure::kLateWriteReplaced:
      return ERROR_OPERATION_ABORTED;
    case ModuleFailure::kOutOfMemory:
      break;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
}

void PlatformSetLastError(uint32_t code) { SetLastError(code); }


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

