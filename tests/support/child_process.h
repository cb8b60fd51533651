// Other programs started by a test: the writers of a shared file, a program
// that holds a file or a save's turn, mp4vcfg. The same on every platform
// (under Wine the child is a Windows process of its own).
#ifndef MP4V_TESTS_SUPPORT_CHILD_PROCESS_H_
#define MP4V_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace testutil {

// The program `name` in the folder of the running test program ("name.exe"
// on Windows).
std::string ProgramBesideTests(const std::string& name);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills the child if it still runs, and waits for it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` with `args` (each passed as one argument); its standard
  // output and error go where the test's go. False when it did not start.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  // Waits for the child to end: its exit status, or -1 when it did not end
  // by itself (killed, crashed) or was never started.
  int Wait();
  // Ends the child at once, as a crash would (SIGKILL, TerminateProcess).
  void Kill();

 private:
#ifdef _WIN32
  void* process_ = nullptr;
#else
  int pid_ = -1;
#endif
};

// Runs `program` with `args` to its end: its exit status (-1 as Wait()).
int RunProgram(const std::string& program, const std::vector<std::string>& args);

// Waits until a file `path` exists, for up to `milliseconds`: whether it does.
bool WaitForFile(const std::string& path, unsigned milliseconds);

}  // namespace testutil

#endif  // MP4V_TESTS_SUPPORT_CHILD_PROCESS_H_
