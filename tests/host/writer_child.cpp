// One writer of a shared settings file, run as a program of its own by the
// tests of several writers at once (tests/host/writers_test.cpp) and of a
// save's turn: the module saving a record, a loop of saves or of loads,
// another program writing its own line, a program holding the save's turn
// or the file itself. Exit status 0 when it did what it was asked, 1 when
// not (it says why on standard error), 2 for a wrong command line.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "host/module_library.h"
#include "host/writers.h"
#include "mp4v_config.h"
#include "platform/files.h"
#include "platform/save_turn.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

uint32_t LastError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

void ClearLastError() {
#ifdef _WIN32
  SetLastError(0);
#else
  errno = 0;
#endif
}

bool NameHoldsAFile(const std::string& path) {
#ifdef _WIN32
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat status;
  return stat(path.c_str(), &status) == 0;
#endif
}

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// A peer tries for as long as the module waits for its turn: five seconds,
// however many other writers keep it from writing meanwhile.
class Persistence {
 public:
  bool Again() const { return std::chrono::steady_clock::now() < deadline_; }

 private:
  std::chrono::steady_clock::time_point deadline_ =
      std::chrono::steady_clock::now() + std::chrono::seconds(5);
};

mp4v_host::ModuleLibrary& Module() {
  static mp4v_host::ModuleLibrary module;
  static bool opened = false;
  if (!opened) {
    std::string error;
    if (!module.Open(std::string(), &error)) {
      std::fprintf(stderr, "writer_child: %s\n", error.c_str());
      std::exit(1);
    }
    opened = true;
  }
  return module;
}

int Save(const std::string& file, const MP4VSettings& record) {
  ClearLastError();
  if (Module().save()(&record, file.c_str()) == MP4V_STATUS_OK) return 0;
  std::fprintf(stderr, "writer_child: save of %s failed, reason %lu\n", file.c_str(),
               static_cast<unsigned long>(LastError()));
  return 1;
}

#ifndef _WIN32
// What the open file `fd` holds from its start.
std::string ReadAll(int fd) {
  std::string bytes;
  char piece[4096];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fd, piece, sizeof piece, at);
    if (got <= 0) break;
    bytes.append(piece, static_cast<size_t>(got));
    at += got;
  }
  return bytes;
}
#endif

// Puts `stamp` over the six digits after "stamp=" in `bytes`; false when
// there is no stamp.
bool Restamp(std::string* bytes, int stamp, size_t* offset) {
  const size_t at = bytes->find("stamp=");
  if (at == std::string::npos || at + 12 > bytes->size()) return false;
  *offset = at;
  bytes->replace(at, 12, writers::PeerLine(stamp));
  return true;
}

// Another program that keeps its stamp in the file and writes the whole file
// in one step, as a careful program does: its text goes to a file of its own
// beside the target, it looks at the target once more, and its file then
// takes the target's place. On Linux the two names swap their files
// (renameat2 with RENAME_EXCHANGE), and when the file displaced is not the
// one it read, unchanged, another writer came in between: that file goes
// back and it starts again.
int PeerReplace(const std::string& file, int stamp) {
  const std::string temporary = file + ".peer.tmp";
#ifdef _WIN32
  for (Persistence trying; trying.Again();) {
    bool exists = false;
    const std::string before = testutil::ReadBytes(file, &exists);
    std::string after = before;
    size_t offset = 0;
    if (!exists || !Restamp(&after, stamp, &offset)) {
      Pause(1);
      continue;
    }
    testutil::WriteBytes(temporary, after);
    if (testutil::ReadBytes(file) != before) {
      std::remove(temporary.c_str());
      continue;
    }
    if (MoveFileExA(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
    std::remove(temporary.c_str());
    Pause(1);
  }
#else
  for (Persistence trying; trying.Again();) {
    // The file read, kept open to tell it from another, and its bytes.
    const int read_fd = open(file.c_str(), O_RDONLY);
    if (read_fd < 0) break;
    const std::string before = ReadAll(read_fd);
    std::string after = before;
    size_t offset = 0;
    if (!Restamp(&after, stamp, &offset)) {
      close(read_fd);
      break;
    }
    testutil::WriteBytes(temporary, after);
    // A last look first: a file that changed since it was read is read again.
    if (testutil::ReadBytes(file) != before) {
      close(read_fd);
      unlink(temporary.c_str());
      continue;
    }
    struct stat ours, was_read, displaced;
    if (stat(temporary.c_str(), &ours) != 0 ||
        renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, file.c_str(), RENAME_EXCHANGE) != 0) {
      close(read_fd);
      break;
    }
    const bool same = fstat(read_fd, &was_read) == 0 && lstat(temporary.c_str(), &displaced) == 0 &&
                      was_read.st_ino == displaced.st_ino && was_read.st_dev == displaced.st_dev &&
                      ReadAll(read_fd) == before;
    close(read_fd);
    if (same) {
      unlink(temporary.c_str());
      return 0;
    }
    // Another writer came in between: its file goes back at once (unless
    // yet another one is there by now), and this one starts again from it.
    struct stat now;
    if (lstat(file.c_str(), &now) == 0 && now.st_ino == ours.st_ino) {
      renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, file.c_str(), RENAME_EXCHANGE);
    }
    unlink(temporary.c_str());
  }
#endif
  std::fprintf(stderr, "writer_child: the peer could not replace %s\n", file.c_str());
  return 1;
}

// Another program that writes its stamp into the file where it stands: it
// reads the file and writes the six digits over the old ones, in one write.
// As a careful program does, it then checks that the name still leads to
// the file it wrote, since a program that replaces files (the module, an
// editor) may have put another file there after it opened this one, and
// writes again if not.
int PeerInPlace(const std::string& file, int stamp) {
  for (Persistence trying; trying.Again();) {
#ifdef _WIN32
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      Pause(1);
      continue;
    }
    std::string bytes(65536, '\0');
    DWORD got = 0;
    ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    size_t offset = 0;
    bool ok = Restamp(&bytes, stamp, &offset);
    if (ok) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      DWORD written = 0;
      ok = WriteFile(handle, bytes.data() + offset, 12, &written, &at) && written == 12;
    }
    BY_HANDLE_FILE_INFORMATION wrote{}, now{};
    GetFileInformationByHandle(handle, &wrote);
    CloseHandle(handle);
    HANDLE again = CreateFileA(file.c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (again != INVALID_HANDLE_VALUE) {
      GetFileInformationByHandle(again, &now);
      CloseHandle(again);
    }
    const bool same = wrote.nFileIndexLow == now.nFileIndexLow &&
                      wrote.nFileIndexHigh == now.nFileIndexHigh;
#else
    const int fd = open(file.c_str(), O_RDWR);
    if (fd < 0) {
      Pause(1);
      continue;
    }
    std::string bytes(65536, '\0');
    const ssize_t got = pread(fd, &bytes[0], bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    size_t offset = 0;
    bool ok = Restamp(&bytes, stamp, &offset) &&
              pwrite(fd, bytes.data() + offset, 12, static_cast<off_t>(offset)) == 12;
    struct stat wrote, now;
    const bool same = fstat(fd, &wrote) == 0 && stat(file.c_str(), &now) == 0 &&
                      wrote.st_dev == now.st_dev && wrote.st_ino == now.st_ino;
    close(fd);
#endif
    if (!ok) {
      std::fprintf(stderr, "writer_child: no stamp written into %s\n", file.c_str());
      return 1;
    }
    if (same) return 0;
  }
  std::fprintf(stderr, "writer_child: %s was replaced under every write\n", file.c_str());
  return 1;
}

// Saves LoopRecord 0, 1, ... `count` - 1: every save must succeed.
int SaveLoop(const std::string& file, int count) {
  int failed = 0;
  for (int i = 0; i < count; ++i) failed += Save(file, writers::LoopRecord(i));
  return failed == 0 ? 0 : 1;
}

// Looks at the name and loads the file until `stop` exists: the name must
// hold a file at every look, and every load must read the file and bind one
// whole LoopRecord.
int LoadLoop(const std::string& file, const std::string& stop) {
  long looks = 0, missing = 0, loads = 0, failed = 0;
  while (!NameHoldsAFile(stop)) {
    ++looks;
    if (!NameHoldsAFile(file)) ++missing;
    MP4VSettings record;
    std::memset(&record, 0xEE, sizeof record);
    ClearLastError();
    const int32_t result = Module().load()(&record, file.c_str());
    const uint32_t reason = LastError();
    ++loads;
    if (result != MP4V_STATUS_OK || reason != 0 || !writers::IsLoopRecord(record)) {
      if (failed < 5) {
        std::fprintf(stderr, "writer_child: load %ld: result %d, reason %lu, width %d\n", loads,
                     static_cast<int>(result), static_cast<unsigned long>(reason),
                     static_cast<int>(record.width));
      }
      ++failed;
    }
  }
  std::printf("looks %ld, no file %ld, loads %ld, failed %ld\n", looks, missing, loads, failed);
  return missing == 0 && failed == 0 && loads > 0 ? 0 : 1;
}

// How another program reads the file in ReadLoop.
enum class ReadWay {
  kPlain,  // fopen(path, "rb") once
  kRetry,  // fopen again for up to two seconds while it fails
  kShare,  // (Windows) CreateFileA sharing read, write and delete, once
};

// One whole read of `file` the way `way` says: true with its bytes in
// `*bytes`, or false with the system's code in `*code`.
bool ReadOnce(const std::string& file, ReadWay way, std::string* bytes, unsigned long* code) {
  bytes->clear();
#ifdef _WIN32
  if (way == ReadWay::kShare) {
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *code = GetLastError();
      return false;
    }
    char piece[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(handle, piece, sizeof piece, &got, nullptr) != 0) && got > 0) {
      bytes->append(piece, got);
    }
    if (!ok) *code = GetLastError();
    CloseHandle(handle);
    return ok;
  }
#endif
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    ClearLastError();
    errno = 0;
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream != nullptr) {
      char piece[4096];
      size_t got;
      while ((got = std::fread(piece, 1, sizeof piece, stream)) > 0) bytes->append(piece, got);
      const bool ok = std::ferror(stream) == 0;
      if (!ok) *code = static_cast<unsigned long>(errno);
      std::fclose(stream);
      return ok;
    }
    // The system's own code where the C library keeps one (Windows), else errno.
    *code = LastError() != 0 ? LastError() : static_cast<unsigned long>(errno);
    if (way != ReadWay::kRetry || std::chrono::steady_clock::now() >= deadline) return false;
    Pause(1);
  }
}

// Reads `file` as another program would (`way`: plain, retry or share),
// pausing `pause` milliseconds after each read, until `stop` exists,
// counting the reads that failed, by code, and those that found a file but
// not a whole one (empty, or not ending with a line end). Exit 0 when every
// read found a whole file.
int ReadLoop(const std::string& file, const std::string& stop, const std::string& way_name,
             int pause) {
  const ReadWay way = way_name == "retry"   ? ReadWay::kRetry
                      : way_name == "share" ? ReadWay::kShare
                                            : ReadWay::kPlain;
  long reads = 0, failed = 0, partial = 0;
  unsigned long codes[4] = {0, 0, 0, 0};
  long code_counts[4] = {0, 0, 0, 0};
  while (!NameHoldsAFile(stop)) {
    std::string bytes;
    unsigned long code = 0;
    ++reads;
    if (!ReadOnce(file, way, &bytes, &code)) {
      ++failed;
      for (int i = 0; i < 4; ++i) {
        if (code_counts[i] == 0 || codes[i] == code) {
          codes[i] = code;
          ++code_counts[i];
          break;
        }
      }
    } else if (bytes.empty() || bytes.back() != '\n') {
      ++partial;
    }
    if (pause > 0) Pause(pause);
  }
  std::printf("%s reads %ld, failed %ld, partial %ld", way_name.c_str(), reads, failed, partial);
  for (int i = 0; i < 4 && code_counts[i] > 0; ++i) {
    std::printf(", code %lu: %ld", codes[i], code_counts[i]);
  }
  std::printf("\n");
  return failed == 0 && partial == 0 && reads > 0 ? 0 : 1;
}

// Saves a line onto `file` through the core, pausing 20 seconds right
// before its last look at the file: its temporary file exists meanwhile,
// written and closed, for the test to find and to kill this process on.
int StuckSave(const std::string& file) {
  PlatformSetReplaceHookForTesting(
      [](const char*, ReplaceMoment moment, void*) {
        if (moment == ReplaceMoment::kBeforeLastLook) Pause(20000);
      },
      nullptr);
  uint32_t error = 0;
  const bool ok = PlatformUpdateFile(
      file.c_str(),
      [](const std::string& before, bool, std::string* after, uint32_t*) {
        *after = before + "stuck=1\n";
        return FileDecision::kWrite;
      },
      &error);
  return ok ? 0 : 1;
}

// Takes the save's turn on `file`, says so by creating `marker`, and holds
// it until the process is killed.
int HoldTurn(const std::string& file, const std::string& marker) {
  SaveTurn turn;
  uint32_t error = 0;
  if (!turn.Take(file.c_str(), 10000, &error) || !turn.held()) {
    std::fprintf(stderr, "writer_child: no turn on %s (%lu)\n", file.c_str(),
                 static_cast<unsigned long>(error));
    return 1;
  }
  testutil::WriteBytes(marker, "held\n");
  for (;;) Pause(1000);
}

#ifdef _WIN32
// Holds `file` open for reading and writing, not letting others delete or
// rename it, for `milliseconds`, as an editor or a scanner does; creates
// `marker` once it holds it.
int HoldOpen(const std::string& file, const std::string& marker, int milliseconds) {
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 1;
  testutil::WriteBytes(marker, "held\n");
  Pause(milliseconds);
  CloseHandle(handle);
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string file = argc > 2 ? argv[2] : "";
  auto number = [&](int i) { return argc > i ? std::atoi(argv[i]) : 0; };
  if (mode == "save" && argc == 6) {
    return Save(file, writers::WriterRecord(number(3), number(4), number(5)));
  }
  if (mode == "save-loop" && argc == 4) return SaveLoop(file, number(3));
  if (mode == "load-loop" && argc == 4) return LoadLoop(file, argv[3]);
  if (mode == "read-loop" && argc == 6) return ReadLoop(file, argv[3], argv[4], number(5));
  if (mode == "peer-replace" && argc == 4) return PeerReplace(file, number(3));
  if (mode == "peer-in-place" && argc == 4) return PeerInPlace(file, number(3));
  if (mode == "hold-turn" && argc == 4) return HoldTurn(file, argv[3]);
  if (mode == "stuck-save" && argc == 3) return StuckSave(file);
#ifdef _WIN32
  if (mode == "hold-open" && argc == 5) return HoldOpen(file, argv[3], number(4));
#endif
  std::fprintf(stderr,
               "usage: writer_child save FILE ROUND WRITER SET_WRITERS | save-loop FILE COUNT |"
               " load-loop FILE STOP | read-loop FILE STOP plain|retry|share PAUSE_MS | peer-replace FILE STAMP | peer-in-place FILE STAMP |"
               " hold-turn FILE MARKER | stuck-save FILE | hold-open FILE MARKER MILLISECONDS\n");
  return 2;
}
