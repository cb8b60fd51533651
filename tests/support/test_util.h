// Helpers shared by the tests: scratch directories and whole-file access.
#ifndef MP4V_TESTS_SUPPORT_TEST_UTIL_H_
#define MP4V_TESTS_SUPPORT_TEST_UTIL_H_

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

// The platform text a module of this test's architecture reports: a
// process loads only a module of its own architecture.
#ifdef _WIN64
inline constexpr char kPlatformText[] = "QZPLATFORM_X64";
#else
inline constexpr char kPlatformText[] = "QZPLATFORM_IA32";
#endif

// The bits of a double, to compare rates exactly (NaN, signed zeros).
inline uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A fresh, empty directory removed (with its contents) when the object dies.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + separator + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole-file bytes; an empty optional-like flag through `exists`.
std::string ReadBytes(const std::string& path, bool* exists = nullptr);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Names in `dir` (without "." and "..").
std::vector<std::string> ListDir(const std::string& dir);
// The platform's text line end: "\r\n" on Windows, "\n" elsewhere.
const char* LineEnd();
// Replaces every "\n" of `text` by LineEnd().
std::string WithLineEnds(const std::string& text);
// Whether a new file `path` can be created (it is deleted again), through
// the file functions the module uses (the ANSI ones on Windows).
bool CanCreateFile(const std::string& path);
// Marks `path` read-only (clears every write permission) or writable again.
void SetReadOnly(const std::string& path, bool read_only);

#ifndef _WIN32
// Runs `body` in a child process and returns what it returned there; false
// when the child did not finish normally.
bool RunInChildProcess(const std::function<bool()>& body);
// The same, in a child whose file size limit is `limit` bytes (a write past
// it fails instead of raising a signal).
bool RunWithFileSizeLimit(size_t limit, const std::function<bool()>& body);
#endif

}  // namespace testutil

#endif  // MP4V_TESTS_SUPPORT_TEST_UTIL_H_
