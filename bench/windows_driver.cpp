// Times the module's load and save on Windows (run under Wine by
// bench/windows.sh) beside the floors a Windows host has: reading the file's
// bytes with one ReadFile, and the durable replacing write of the same bytes
// (a new temporary file beside a copy, WriteFile, FlushFileBuffers, closed,
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH over the
// copy). No generic INI library is built for Windows here, so the load is
// set against the read alone.
//
//   mp4v_windows_bench MODULE FILE ROUNDS
//       saves FILE once (so that every timed save leaves it as it is), then
//       ROUNDS rounds of: the module's load, the plain read, the module's
//       save, the floor; prints "load NS", "read NS", "save NS", "floor NS"
//       per round. Exit status 1 when a request fails, 2 for a wrong
//       command line or a module that does not load.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/module_library.h"
#include "mp4v_config.h"

namespace {

long long Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<long long>(count.QuadPart * 1000000000.0 /
                                static_cast<double>(frequency.QuadPart));
}

bool ReadWhole(const char* path, std::string* bytes) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) != 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes->empty() ||
         (ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) &&
          got == bytes->size());
  }
  CloseHandle(file);
  return ok;
}

bool DurableReplace(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".new";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  ok = ok && MoveFileExA(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temporary.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s MODULE FILE ROUNDS\n", argv[0]);
    return 2;
  }
  const char* file = argv[2];
  const long rounds = std::strtol(argv[3], nullptr, 10);
  mp4v_host::ModuleLibrary module;
  std::string error;
  if (!module.Open(argv[1], &error)) {
    std::fprintf(stderr, "cannot load the module: %s\n", error.c_str());
    return 2;
  }
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  if (module.load()(&record, file) != MP4V_STATUS_OK ||
      module.save()(&record, file) != MP4V_STATUS_OK) {
    std::fprintf(stderr, "the first load and save of %s failed: %lu\n", file, GetLastError());
    return 1;
  }
  const std::string copy = std::string(file) + ".floor";
  for (long i = 0; i < rounds; ++i) {
    long long start = Now();
    if (module.load()(&record, file) != MP4V_STATUS_OK) return 1;
    const long long load = Now() - start;
    std::string bytes;
    start = Now();
    if (!ReadWhole(file, &bytes)) return 1;
    const long long read = Now() - start;
    start = Now();
    if (module.save()(&record, file) != MP4V_STATUS_OK) return 1;
    const long long save = Now() - start;
    start = Now();
    if (!DurableReplace(copy, bytes)) return 1;
    std::printf("load %lld\nread %lld\nsave %lld\nfloor %lld\n", load, read, save,
                Now() - start);
  }
  DeleteFileA(copy.c_str());
  return 0;
}
