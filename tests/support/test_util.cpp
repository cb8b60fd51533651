#include "support/test_util.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testutil {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::ostringstream name;
#ifdef _WIN32
  name << "mp4v-test-" << GetCurrentProcessId();
#else
  name << "mp4v-test-" << getpid();
#endif
  name << "-" << counter++;
  fs::path dir = fs::temp_directory_path() / name.str();
  fs::remove_all(dir);
  fs::create_directories(dir);
  path_ = dir.string();
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add,
                    ignored);
#ifdef _WIN32
    SetFileAttributesW(entry.path().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
  }
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string ReadBytes(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

const char* LineEnd() {
#ifdef _WIN32
  return "\r\n";
#else
  return "\n";
#endif
}

std::string WithLineEnds(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += LineEnd();
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool CanCreateFile(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return DeleteFileA(path.c_str()) != 0;
#else
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fclose(f);
  return std::remove(path.c_str()) == 0;
#endif
}

void SetReadOnly(const std::string& path, bool read_only) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(),
                     read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  mode_t mode = read_only ? (st.st_mode & ~0222) : (st.st_mode | 0200);
  chmod(path.c_str(), mode);
#endif
}

#ifndef _WIN32
bool RunInChildProcess(const std::function<bool()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunWithFileSizeLimit(size_t limit, const std::function<bool()>& body) {
  return RunInChildProcess([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    return body();
  });
}
#endif

}  // namespace testutil
