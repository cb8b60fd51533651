#include "config/file_access.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A name for a temporary file beside `target` that no other writer picks:
// ".<name>.<hex>.tmp" in the same directory, where the hex digits mix the
// process, the thread's stack, the clock and the attempt number. Creation
// with exclusive access decides; a clash only costs another attempt.
std::string TemporaryName(const std::string& target, unsigned attempt) {
  size_t slash = target.find_last_of(
#ifdef _WIN32
      "/\\:"
#else
      "/"
#endif
  );
  std::string directory =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base =
      slash == std::string::npos ? target : target.substr(slash + 1);
  int local = 0;
  uint64_t mix = static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  mix ^= reinterpret_cast<uintptr_t>(&local) * 0x9E3779B97F4A7C15ull;
#ifdef _WIN32
  mix ^= static_cast<uint64_t>(GetCurrentProcessId()) << 32;
  mix ^= static_cast<uint64_t>(GetCurrentThreadId()) << 16;
#else
  mix ^= static_cast<uint64_t>(getpid()) << 32;
#endif
  mix += attempt * 0xBF58476D1CE4E5B9ull;
  mix ^= mix >> 31;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(mix));
  return directory + "." + base + "." + hex + ".tmp";
}

constexpr unsigned kTemporaryAttempts = 64;

}  // namespace

FileReadResult ReadWholeFile(const char* path, std::string* out) {
  out->clear();
  if (path == nullptr) return FileReadResult::kMissing;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return errno == ENOENT || errno == ENOTDIR ? FileReadResult::kMissing
                                               : FileReadResult::kUnreadable;
  }
  FileReadResult result = FileReadResult::kRead;
  try {
    char chunk[16384];
    for (;;) {
      size_t got = std::fread(chunk, 1, sizeof chunk, file);
      out->append(chunk, got);
      if (got < sizeof chunk) break;
    }
    if (std::ferror(file)) result = FileReadResult::kUnreadable;
  } catch (const std::bad_alloc&) {
    result = FileReadResult::kOutOfMemory;
  }
  std::fclose(file);
  if (result != FileReadResult::kRead) out->clear();
  return result;
}

bool FileStartsWith(const char* path, const char* prefix, size_t size) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char head[16];
  bool match = size <= sizeof head && std::fread(head, 1, size, file) == size &&
               std::memcmp(head, prefix, size) == 0;
  std::fclose(file);
  return match;
}

#ifdef _WIN32

namespace {

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

}  // namespace

bool ReplaceFileContents(const char* path, const char* data, size_t size) {
  if (path == nullptr || path[0] == '\0') return false;
  const DWORD attributes = GetFileAttributesA(path);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY |
                               FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  try {
    const std::string target(path);
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
      temporary = TemporaryName(target, attempt);
      file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) break;
      if (GetLastError() != ERROR_FILE_EXISTS &&
          GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;  // no such directory, no access, ...
      }
    }
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, data, size) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok && exists) {
      // ReplaceFile keeps the target's attributes and security; when it
      // cannot (and the new file is still in place), a plain replacing move
      // does the same single step.
      ok = ReplaceFileA(path, temporary.c_str(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
      if (!ok && GetFileAttributesA(temporary.c_str()) !=
                     INVALID_FILE_ATTRIBUTES) {
        ok = MoveFileExA(temporary.c_str(), path,
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      }
    } else if (ok) {
      ok = MoveFileExA(temporary.c_str(), path,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) DeleteFileA(temporary.c_str());
    return ok;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

#else  // POSIX

namespace {

// Follows symbolic links from `path` to the file they finally name (which
// need not exist yet), so that the link itself is kept and its file
// replaced.
bool ResolveLinks(const char* path, std::string* target) {
  *target = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat link_status;
    if (lstat(target->c_str(), &link_status) != 0 ||
        !S_ISLNK(link_status.st_mode)) {
      return true;
    }
    char link[4096];
    ssize_t length = readlink(target->c_str(), link, sizeof link - 1);
    if (length < 0 || static_cast<size_t>(length) >= sizeof link - 1) {
      return false;
    }
    link[length] = '\0';
    if (link[0] == '/') {
      *target = link;
    } else {
      size_t slash = target->rfind('/');
      *target = (slash == std::string::npos ? std::string()
                                            : target->substr(0, slash + 1)) +
                link;
    }
  }
  return false;  // a loop of links
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void SyncDirectoryOf(const std::string& target) {
  size_t slash = target.rfind('/');
  std::string directory =
      slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);  // makes the rename itself durable; best effort
    close(fd);
  }
}

}  // namespace

bool ReplaceFileContents(const char* path, const char* data, size_t size) {
  if (path == nullptr || path[0] == '\0') return false;
  try {
    std::string target;
    if (!ResolveLinks(path, &target)) return false;
    struct stat status;
    const bool exists = stat(target.c_str(), &status) == 0;
    if (exists) {
      // Refused when not a regular file, or read-only: by its permission
      // bits (which a privileged process would otherwise ignore) or for this
      // process.
      if (!S_ISREG(status.st_mode) || (status.st_mode & 0222) == 0 ||
          access(target.c_str(), W_OK) != 0) {
        return false;
      }
    } else if (errno != ENOENT) {
      return false;
    }
    const mode_t mode = exists ? (status.st_mode & 07777) : 0666;

    std::string temporary;
    int fd = -1;
    for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
      temporary = TemporaryName(target, attempt);
      fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                mode);
      if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return false;
    bool ok = true;
    if (exists) {
      // The new file takes the old one's permissions exactly (the creation
      // mask may have dropped bits) and, where allowed, its owner.
      ok = fchmod(fd, mode) == 0;
      if (ok && (status.st_uid != geteuid() || status.st_gid != getegid())) {
        if (fchown(fd, status.st_uid, status.st_gid) != 0) {
          // Not permitted: the file stays ours, as any rewrite would leave it.
        }
      }
    }
    ok = ok && WriteAll(fd, data, size) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
      unlink(temporary.c_str());
      return false;
    }
    SyncDirectoryOf(target);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

#endif
