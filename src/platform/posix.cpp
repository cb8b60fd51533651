// The platform layer on POSIX systems: safe file replacement and the dynamic
// loader.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/populate.h"
#include "platform/replacement.h"
#include "platform/save_turn.h"

const char kPlatformTextLineEnd[] = "\n";

// ---- Files -------------------------------------------------------------------

namespace {

// Asks for a write lock on the whole file open in `fd`, without waiting: 0,
// or errno (EAGAIN or EACCES while another holder has it). An
// open-file-description lock where the file system keeps them, else flock().
int TryLockFile(int fd) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  int failure;
  do {
    failure = fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
  } while (failure == EINTR);
  if (failure != EINVAL && failure != ENOLCK && failure != EOPNOTSUPP) return failure;
  // No record locks here: the same file's flock(), which every save on this
  // file system then takes alike.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  return errno == EWOULDBLOCK ? EAGAIN : failure;
}

bool HeldByAnother(int failure) { return failure == EAGAIN || failure == EACCES; }

// Gives the lock on `fd` back explicitly, so that a copy of the descriptor in
// a child forked meanwhile keeps nothing, and closes it. Where the file
// system takes open-file-description locks, TryLockFile took one, and that
// is all there is to give back.
void UnlockAndClose(int fd) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) flock(fd, LOCK_UN);
  close(fd);
}

// Whether the open file `fd` is the one the name `path` leads to (links
// followed); what fstat() says of it goes to `*open_file` when given.
bool NameLeadsTo(int fd, const char* path, struct stat* open_file = nullptr) {
  struct stat own, named;
  if (open_file == nullptr) open_file = &own;
  return fstat(fd, open_file) == 0 && stat(path, &named) == 0 &&
         open_file->st_dev == named.st_dev && open_file->st_ino == named.st_ino;
}

// A test's pause before every fsync of a replacement on this thread.
thread_local unsigned sync_delay_milliseconds = 0;

}  // namespace

namespace {

// Opens `path` for reading: the descriptor, or -1 with errno set.
int OpenForReading(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// What a failure to open a file for reading, errno `failure`, means.
FileReadStatus OpenFailure(int failure, uint32_t* error) {
  *error = static_cast<uint32_t>(failure);
  return failure == ENOENT || failure == ENOTDIR ? FileReadStatus::kMissing
                                                 : FileReadStatus::kUnreadable;
}

// Reads the open file `fd` from where it stands to its end into `out`.
FileReadStatus ReadToEnd(int fd, std::string* out, uint32_t* error) {
  out->clear();
  FileReadStatus result = FileReadStatus::kRead;
  try {
    // One allocation for a file whose size holds still; a file that grows
    // meanwhile is read to its end all the same.
    struct stat status;
    size_t capacity = 16384;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
      capacity = static_cast<size_t>(status.st_size) + 1;
    }
    size_t size = 0;
    for (;;) {
      if (out->size() < size + 1) {
        const size_t room = std::max(capacity, out->size() * 2);
        out->reserve(room);
        PlatformPopulate(&(*out)[0], room);
        out->resize(room);
      }
      const ssize_t got = read(fd, &(*out)[size], out->size() - size);
      if (got > 0) {
        size += static_cast<size_t>(got);
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        *error = static_cast<uint32_t>(errno);
        result = FileReadStatus::kUnreadable;
        break;
      }
    }
    out->resize(size);
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    result = FileReadStatus::kOutOfMemory;
  }
  if (result != FileReadStatus::kRead) out->clear();
  return result;
}

}  // namespace

PlatformFileReader::~PlatformFileReader() {
  if (handle_ != -1) close(static_cast<int>(handle_));
}

FileReadStatus PlatformFileReader::Open(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (path == nullptr) {
    *error = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return FileReadStatus::kMissing;
  }
  const int fd = OpenForReading(path);
  if (fd < 0) return OpenFailure(errno, error);
  handle_ = fd;
  return FileReadStatus::kRead;
}

bool PlatformFileReader::Read(char* into, size_t room, size_t* got, uint32_t* error) {
  *got = 0;
  for (;;) {
    const ssize_t read_now = read(static_cast<int>(handle_), into, room);
    if (read_now >= 0) {
      *got = static_cast<size_t>(read_now);
      return true;
    }
    if (errno != EINTR) {
      if (error != nullptr) *error = static_cast<uint32_t>(errno);
      return false;
    }
  }
}

FileReadStatus PlatformFileReader::ReadRest(std::string* out, uint32_t* error) {
  return ReadToEnd(static_cast<int>(handle_), out, error);
}

bool PlatformFileReader::Size(uint64_t* size) const {
  struct stat status;
  if (fstat(static_cast<int>(handle_), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool PlatformUpdatesStream() { return false; }

bool PlatformIsSharingConflict(uint32_t) { return false; }

namespace {

// Compares what the open file `fd` holds from its start with `expected`,
// piece by piece; on a difference reads it whole into `*now`.
FileComparison CompareDescriptor(int fd, const ExpectedText& expected, std::string* now,
                                 uint32_t* error) {
  // A file of up to 256 KiB goes through 16 KiB on the stack, which is
  // there already: memory from the heap is often given back to the system
  // between saves and costs a page fault per 4 KiB to touch again (a third
  // of a 40 KB file's save here). A larger file goes in pieces of 64 KiB, for
  // fewer calls.
  char on_stack[16384];
  const bool small = expected.size() < 256 * 1024;
  const size_t size_of_piece =
      small ? sizeof on_stack : static_cast<size_t>(std::min<uint64_t>(expected.size() + 1, 65536));
  std::unique_ptr<char[]> on_heap(small ? nullptr : new char[size_of_piece]);
  char* const piece = small ? on_stack : on_heap.get();
  uint64_t at = 0;
  bool same = true;
  for (;;) {
    const ssize_t got = pread(fd, piece, size_of_piece, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      if (error != nullptr) *error = static_cast<uint32_t>(errno);
      return FileComparison::kUnreadable;
    }
    if (got == 0) break;
    const size_t size = static_cast<size_t>(got);
    if (!expected.Matches(at, piece, size)) {
      same = false;
      break;
    }
    at += size;
  }
  if (same && at == expected.size()) return FileComparison::kSame;
  if (lseek(fd, 0, SEEK_SET) != 0) {
    if (error != nullptr) *error = static_cast<uint32_t>(errno);
    return FileComparison::kUnreadable;
  }
  uint32_t ignored = 0;
  return ReadToEnd(fd, now, error != nullptr ? error : &ignored) == FileReadStatus::kRead
             ? FileComparison::kOther
             : FileComparison::kUnreadable;
}

}  // namespace

FileComparison PlatformCompareFile(const char* path, const ExpectedText& expected,
                                   std::string* now, intptr_t* kept, uint32_t* error) {
  *kept = -1;
  const int fd = OpenForReading(path);
  if (fd < 0) {
    uint32_t code = 0;
    const FileReadStatus status = OpenFailure(errno, &code);
    if (status == FileReadStatus::kMissing) return FileComparison::kMissing;
    if (error != nullptr) *error = code;
    return FileComparison::kUnreadable;
  }
  const FileComparison comparison = CompareDescriptor(fd, expected, now, error);
  if (comparison == FileComparison::kUnreadable) {
    close(fd);
  } else {
    *kept = fd;
  }
  return comparison;
}

FileComparison PlatformCompareKept(intptr_t kept, const ExpectedText& expected,
                                   std::string* now) {
  return CompareDescriptor(static_cast<int>(kept), expected, now, nullptr);
}

bool PlatformReadAt(intptr_t file, uint64_t offset, char* into, size_t size) {
  while (size > 0) {
    const ssize_t got = pread(static_cast<int>(file), into, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

void PlatformCloseKept(intptr_t kept) { close(static_cast<int>(kept)); }

FileId PlatformFileIdOf(const std::string& path) {
  struct stat status;
  FileId id;
  if (lstat(path.c_str(), &status) != 0) return id;
  id.device = static_cast<uint64_t>(status.st_dev);
  id.number = static_cast<uint64_t>(status.st_ino);
  id.known = true;
  return id;
}

bool PlatformKeptIsFile(intptr_t kept, const std::string& path) {
  struct stat open_file, named;
  return fstat(static_cast<int>(kept), &open_file) == 0 && lstat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

namespace {

// Follows symbolic links from `path` to the file they finally name (which
// need not exist yet), so that the link itself is kept and its file
// replaced. False, with the reason in `*error`, when a link cannot be read
// or they form a loop.
bool ResolveLinks(const char* path, std::string* target, uint32_t* error) {
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
      *error = length < 0 ? static_cast<uint32_t>(errno) : ENAMETOOLONG;
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
  *error = ELOOP;
  return false;
}

// False, with the reason in `*error`, when a write fails (a write that
// writes nothing without saying why: ENOSPC).
bool WriteAll(int fd, const char* data, size_t size, uint32_t* error) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      *error = static_cast<uint32_t>(errno);
      return false;
    }
    if (written == 0) {
      *error = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// The folder that holds `target`: "." for a bare name, "/" at the top.
std::string DirectoryOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
}

void SyncDirectoryOf(const std::string& target) {
  int fd = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);  // makes the rename itself durable; best effort
    close(fd);
  }
}

bool Rename(const char* from, const char* to, uint32_t* error) {
  if (rename(from, to) == 0) return true;
  *error = static_cast<uint32_t>(errno);
  return false;
}

// Puts `temporary` in the place of `target` in one step. Where the file
// system can, the two names swap their files (renameat2 with
// RENAME_EXCHANGE): the file displaced stays under the temporary name, so
// that the replacement can see which file it displaced and whether another
// program put that file there after the last look, and then deletes it.
// Elsewhere the new file is renamed over the old one.
bool ExchangeOrRename(const char* target, const char* temporary, const char*,
                      uint32_t* error) {
#ifdef RENAME_EXCHANGE
  if (renameat2(AT_FDCWD, temporary, AT_FDCWD, target, RENAME_EXCHANGE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    *error = static_cast<uint32_t>(errno);
    return false;
  }
#endif
  return Rename(temporary, target, error);
}

bool Unlink(const char* path, uint32_t* error) {
  if (unlink(path) == 0) return true;
  *error = static_cast<uint32_t>(errno);
  return false;
}

constexpr ReplaceSteps kRenameSteps = {ExchangeOrRename, Rename, Unlink, false};

// Longest path the system calls take, without the terminator.
constexpr size_t kPathMax = PATH_MAX - 1;

}  // namespace

const ReplaceSteps& PlatformReplaceSteps() { return kRenameSteps; }

bool PlatformPathExists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

namespace {

// A replacement up to the point where it writes: the target (links
// resolved), what it was, and the temporary file, created exclusively.
struct Prepared {
  std::string target;
  bool exists = false;
  mode_t mode = 0666;
  uid_t uid = 0;
  gid_t gid = 0;
  TemporaryNames names;
  // The temporary file's name while `fd` is open on it: what a replacement
  // that ran out of memory removes, without a new allocation, and after the
  // replacement moved `names` on to a backup name.
  std::string temporary;
  int fd = -1;
  struct stat created{};  // the temporary file as created
  uint32_t error = 0;  // why the preparation failed

  // Gives `check` with the reason `code`.
  ReplaceCheck Fail(ReplaceCheck check, uint32_t code) {
    error = code;
    return check;
  }
};

// Everything a replacement of `path` does before it writes, in its order;
// the check and the replacement both run it. `resolved`, when not empty, is
// the file `path` leads to (links resolved) as the update's turn found it.
ReplaceCheck Prepare(const char* path, Prepared* p,
                     const std::string& resolved = std::string()) {
  if (path == nullptr || path[0] == '\0') {
    return p->Fail(ReplaceCheck::kNoName,
                   PlatformErrorCode(ModuleFailure::kRefusedArgument));
  }
  uint32_t link_error = 0;
  if (!resolved.empty()) {
    p->target = resolved;
  } else if (!ResolveLinks(path, &p->target, &link_error)) {
    return p->Fail(ReplaceCheck::kOtherFailure, link_error);
  }
  struct stat status;
  p->exists = stat(p->target.c_str(), &status) == 0;
  if (p->exists) {
    // Refused when not a regular file, or read-only: by its permission
    // bits (which a privileged process would otherwise ignore) or for this
    // process.
    if (!S_ISREG(status.st_mode)) {
      return p->Fail(ReplaceCheck::kNotAFile,
                     S_ISDIR(status.st_mode) ? EISDIR : EPERM);
    }
    if ((status.st_mode & 0222) == 0) return p->Fail(ReplaceCheck::kReadOnly, EACCES);
    if (access(p->target.c_str(), W_OK) != 0) {
      return p->Fail(ReplaceCheck::kReadOnly, static_cast<uint32_t>(errno));
    }
    p->mode = status.st_mode & 07777;
    p->uid = status.st_uid;
    p->gid = status.st_gid;
  } else if (errno != ENOENT) {
    return p->Fail(errno == ENOTDIR ? ReplaceCheck::kNoFolder
                                    : ReplaceCheck::kOtherFailure,
                   static_cast<uint32_t>(errno));
  }

  p->names.parts = SplitTarget(p->target, "/");
  int local = 0;
  p->names.seed = TemporarySeed(
      static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(getpid()) << 32) ^
      reinterpret_cast<uintptr_t>(&local));
  p->names.short_form =
      p->names.parts.directory.size() + kTemporaryNameLength > kPathMax;
  for (; p->names.attempt < kTemporaryAttempts; ++p->names.attempt) {
    p->temporary = p->names.Path();
    const std::string& temporary = p->temporary;
    // Readable too: a save that held only part of what it read compares
    // the target with this file's bytes (ExpectedFile::spliced).
    p->fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                 p->mode);
    if (p->fd >= 0) {
      // Locked while it exists, so that a later save of the folder knows
      // that its writer lives (RemoveAbandonedTemporaries). One that such a
      // save removed between its creation and this lock is given up.
      const int failure = TryLockFile(p->fd);
      if (failure == 0 && !NameLeadsTo(p->fd, temporary.c_str(), &p->created)) {
        UnlockAndClose(p->fd);
        p->fd = -1;
        continue;
      }
      if (HeldByAnother(failure)) {
        close(p->fd);
        p->fd = -1;
        continue;
      }
      if (failure != 0 && fstat(p->fd, &p->created) != 0) {
        std::memset(&p->created, 0, sizeof p->created);  // its mode and owner are set
      }
      return ReplaceCheck::kPossible;
    }
    if (errno == ENAMETOOLONG && !p->names.short_form) {
      p->names.short_form = true;
      continue;
    }
    if (errno != EEXIST) break;
  }
  const uint32_t error = static_cast<uint32_t>(errno);
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
      return p->Fail(ReplaceCheck::kNoFolder, error);
    case EACCES:
    case EPERM:
    case EROFS:
      return p->Fail(ReplaceCheck::kFolderNotWritable, error);
    default:
      return p->Fail(ReplaceCheck::kOtherFailure, error);
  }
}

}  // namespace

ReplaceCheck PlatformCheckReplace(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  try {
    Prepared p;
    const ReplaceCheck check = Prepare(path, &p);
    if (p.fd >= 0) {
      unlink(p.names.Path().c_str());
      UnlockAndClose(p.fd);
    }
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
  Prepared p;
  try {
    if (Prepare(path, &p, expected != nullptr ? expected->target : std::string()) !=
        ReplaceCheck::kPossible) {
      *error = p.error;
      return false;
    }
    bool ok = true;
    if (p.exists) {
      // The new file takes the old one's permissions exactly (the creation
      // mask may have dropped bits) and, where allowed, its owner (a folder
      // may have given it its own group).
      if ((p.created.st_mode & 07777) != p.mode) {
        ok = fchmod(p.fd, p.mode) == 0;
        if (!ok) *error = static_cast<uint32_t>(errno);
      }
      if (ok && (p.created.st_uid != p.uid || p.created.st_gid != p.gid)) {
        if (fchown(p.fd, p.uid, p.gid) != 0) {
          // Not permitted: the file stays ours, as any rewrite would leave it.
        }
      }
    }
    uint64_t written = 0;
    bool abandoned = false;
    if (ok) {
      const FileProduced produced = produce([&](const char* data, size_t size) {
        written += size;
        return WriteAll(p.fd, data, size, error);
      });
      ok = produced == FileProduced::kWritten;
      if (produced == FileProduced::kAbandoned) {
        abandoned = true;
        *error = 0;
      }
    }
    if (ok && sync_delay_milliseconds != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(sync_delay_milliseconds));
    }
    if (ok && fsync(p.fd) != 0) {
      *error = static_cast<uint32_t>(errno);
      ok = false;
    }
    // The new file stays open, and locked, until it is in place: a save that
    // opens it under the target's name waits until this one is over (the
    // update's turn takes the lock over). Its data are on stable storage
    // already, so closing it later has nothing left to report.
    // The rename does not use the backup name.
    if (expected != nullptr) {
      expected->written = p.fd;
      expected->written_size = written;
    }
    const bool placed = FinishReplacement(steps, &p.names, p.target, ok, p.exists,
                                          ExpectedText(p.fd, written), error, expected);
    if (!placed) {
      if (expected != nullptr) expected->written = -1;
      UnlockAndClose(p.fd);
      p.fd = -1;
      if (abandoned) *error = 0;
      return false;
    }
    if (expected != nullptr) {
      expected->lock = p.fd;
    } else {
      UnlockAndClose(p.fd);
    }
    p.fd = -1;
    // The new file is in place: whatever follows, the result says so. When
    // memory runs out for what follows, the folder is not synced, and a
    // late write (below) goes unnoticed, as one after the replacement does.
    try {
      SyncDirectoryOf(p.target);
      // Only now, after the folder was written too: a program that opened
      // the old file before the last look and writes into it had that long.
      NoticeLateWrite(expected);
    } catch (const std::bad_alloc&) {
      ForgetKept(expected);
    }
    // The new file stays readable through `expected->lock`.
    if (expected != nullptr) expected->written = -1;
    return true;
  } catch (const std::bad_alloc&) {
    if (expected != nullptr) expected->written = -1;
    if (p.fd >= 0) {
      unlink(p.temporary.c_str());
      UnlockAndClose(p.fd);
    }
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return false;
  }
}

// ---- Turns -------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNoTurnNeeded = -1;
constexpr int kNoTurn = -2;

// Locks the file the name `target` (links resolved) leads to, creating it
// empty when there is none, waiting until `deadline` (see save_turn.h): its
// descriptor, with `*made` telling whether this call created it;
// kNoTurnNeeded where no file can come to be; kNoTurn with `*error` set.
int LockNamed(const std::string& target, Clock::time_point deadline, bool* made,
              uint32_t* error) {
  for (;;) {
    struct stat status;
    if (stat(target.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
      // A folder or a device is never opened here: the replacement refuses it.
      return kNoTurnNeeded;
    }
    bool created = false;
    int fd = open(target.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
      if (fd < 0 && (errno == EEXIST || errno == EINTR)) continue;
      created = fd >= 0;
    }
    if (fd < 0) {
      if (errno == EINTR) continue;
      // No file, and none can be made (no folder, a folder that may not be
      // written), or one this process may not write: the replacement fails
      // for the same reason and writes nothing.
      const int failure = errno;
      if (failure == ENOENT || failure == ENOTDIR || failure == EACCES || failure == EPERM ||
          failure == EROFS || failure == EISDIR || failure == ELOOP ||
          failure == ENAMETOOLONG || failure == ETXTBSY || failure == ENOSPC ||
          failure == EDQUOT) {
        return kNoTurnNeeded;
      }
      *error = static_cast<uint32_t>(failure);
      return kNoTurn;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      close(fd);
      return kNoTurnNeeded;
    }
    // Every waiter asks again at the same short interval: the turn goes to
    // whoever asks first after it is given back, which favours none.
    int failure;
    while (HeldByAnother(failure = TryLockFile(fd)) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (failure != 0) {
      close(fd);
      *error = HeldByAnother(failure) ? PlatformErrorCode(ModuleFailure::kTurnTimedOut)
                                      : static_cast<uint32_t>(failure);
      return kNoTurn;
    }
    // The file opened is still the one the name leads to (what fstat() said
    // of it holds for the descriptor's whole life).
    struct stat named;
    if (stat(target.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
      *made = created;
      return fd;
    }
    // The save before this one put a new file under the name: wait on that.
    UnlockAndClose(fd);
  }
}

}  // namespace

bool SaveTurn::Take(const char* path, unsigned wait_milliseconds, uint32_t* error) {
  Release();
  path_.clear();
  std::string target;
  uint32_t link_error = 0;
  // A link that cannot be followed: the replacement fails for it and writes
  // nothing, so no turn is needed.
  if (!ResolveLinks(path, &target, &link_error)) return true;
  bool made = false;
  const int fd = LockNamed(target, Clock::now() + std::chrono::milliseconds(wait_milliseconds),
                           &made, error);
  if (fd == kNoTurn) return false;
  if (fd == kNoTurnNeeded) return true;
  handle_ = fd;
  created_ = made;
  path_ = std::move(target);
  return true;
}

bool SaveTurn::Follow(unsigned wait_milliseconds, uint32_t* error) {
  if (handle_ == kNone || NameLeadsTo(static_cast<int>(handle_), path_.c_str())) return true;
  bool made = false;
  const int fd = LockNamed(path_, Clock::now() + std::chrono::milliseconds(wait_milliseconds),
                           &made, error);
  if (fd == kNoTurn) return false;
  if (fd == kNoTurnNeeded) return true;
  UnlockAndClose(static_cast<int>(handle_));
  handle_ = fd;
  created_ = made;
  return true;
}

void SaveTurn::Release() {
  if (handle_ == kNone) return;
  const int fd = static_cast<int>(handle_);
  struct stat status;
  if (created_ && fstat(fd, &status) == 0 && status.st_size == 0 &&
      NameLeadsTo(fd, path_.c_str())) {
    // The empty file this turn made, which no save filled.
    unlink(path_.c_str());
  }
  UnlockAndClose(fd);
  handle_ = kNone;
  created_ = false;
}

void SaveTurn::Adopt(intptr_t lock) {
  if (lock == -1) return;
  if (handle_ != kNone) UnlockAndClose(static_cast<int>(handle_));
  handle_ = lock;
  created_ = false;
}

namespace {

// Removes the temporary file `name` of the folder `prefix` (which ends in
// "/") when its writer is provably gone.
void RemoveWhenAbandoned(const std::string& prefix, const char* name) {
  if (!IsTemporaryName(name)) return;
  const std::string path = prefix + name;
  const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat status, named;
  // Only a file whose writer is gone: its lock could be had, and the name
  // still leads to that very file (a writer checks the same after it locks
  // a new temporary file, and takes another name when it was removed).
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && TryLockFile(fd) == 0 &&
      lstat(path.c_str(), &named) == 0 && named.st_dev == status.st_dev &&
      named.st_ino == status.st_ino) {
    unlink(path.c_str());
  }
  UnlockAndClose(fd);
}

}  // namespace

void RemoveAbandonedTemporaries(const std::string& target, const std::string& resolved) {
  std::string file = resolved;
  uint32_t ignored = 0;
  if (file.empty() && !ResolveLinks(target.c_str(), &file, &ignored)) return;
  const std::string folder = DirectoryOf(file);
  // Listed without marking the folder read where this process may ask so (it
  // owns the folder): on every save, the mark would be one more change of
  // the folder for the save's sync of it to write (about 45 us a save here).
  int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOATIME | O_CLOEXEC);
  if (folder_fd < 0 && errno == EPERM) {
    folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  if (folder_fd < 0) return;  // a folder that may not be read: nothing is cleaned
  const std::string prefix = folder == "/" ? "/" : folder + "/";
#ifdef __linux__
  // The entries straight from the system, without a DIR's own calls.
  alignas(dirent64) char entries[16384];
  for (;;) {
    const ssize_t got = getdents64(folder_fd, entries, sizeof entries);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const dirent64* entry = reinterpret_cast<const dirent64*>(entries + at);
      RemoveWhenAbandoned(prefix, entry->d_name);
      at += entry->d_reclen;
    }
  }
  close(folder_fd);
#else
  DIR* listing = fdopendir(folder_fd);
  if (listing == nullptr) {
    close(folder_fd);
    return;
  }
  while (const dirent* entry = readdir(listing)) RemoveWhenAbandoned(prefix, entry->d_name);
  closedir(listing);
#endif
}

void PlatformSetSyncDelayForTesting(unsigned milliseconds) {
  sync_delay_milliseconds = milliseconds;
}

// ---- Errors ------------------------------------------------------------------

uint32_t PlatformErrorCode(ModuleFailure failure) {
  switch (failure) {
    case ModuleFailure::kRefusedArgument:
      return EINVAL;
    case ModuleFailure::kUnsupportedText:
      return EILSEQ;
    case ModuleFailure::kNoValueText:
      return EDOM;
    case ModuleFailure::kTurnTimedOut:
      return EWOULDBLOCK;
    case ModuleFailure::kKeptChanging:
      return EBUSY;
    case ModuleFailure::kLateWriteReplaced:
      return ECANCELED;
    case ModuleFailure::kOutOfMemory:
      break;
  }
  return ENOMEM;
}

void PlatformSetLastError(uint32_t code) { errno = static_cast<int>(code); }

// ---- Libraries ---------------------------------------------------------------

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
