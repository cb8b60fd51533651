#include "support/child_process.h"

#include <chrono>
#include <thread>

#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testutil {

std::string ProgramBesideTests(const std::string& name) {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string self(path, length);
  return self.substr(0, self.find_last_of("\\/") + 1) + name + ".exe";
#else
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
  return self.substr(0, self.rfind('/') + 1) + name;
#endif
}

#ifdef _WIN32

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  std::string line = Quote(program);
  for (const std::string& arg : args) line += " " + Quote(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  return true;
}

int ChildProcess::Wait() {
  if (process_ == nullptr) return -1;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  CloseHandle(process_);
  process_ = nullptr;
  // TerminateProcess in Kill gives this code.
  return code == 0xDEAD ? -1 : static_cast<int>(code);
}

void ChildProcess::Kill() {
  if (process_ != nullptr) TerminateProcess(process_, 0xDEAD);
}

#else

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  pid_ = pid;
  return true;
}

int ChildProcess::Wait() {
  if (pid_ < 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::Kill() {
  if (pid_ >= 0) kill(pid_, SIGKILL);
}

#endif

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
}

int RunProgram(const std::string& program, const std::vector<std::string>& args) {
  ChildProcess child;
  if (!child.Start(program, args)) return -1;
  return child.Wait();
}

bool WaitForFile(const std::string& path, unsigned milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace testutil
