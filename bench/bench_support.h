// What the benchmark programs share: the module loaded as a host loads it,
// the 56 keys of the settings section as a user of a generic INI library
// would spell them out, the generated input files, and the two floors
// (plain stdio read, safe replacing write).
#ifndef MP4V_BENCH_BENCH_SUPPORT_H_
#define MP4V_BENCH_BENCH_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/module_library.h"
#include "mp4v_config.h"

namespace bench {

constexpr char kSection[] = "MP4V Settings";
constexpr size_t kKeyCount = MP4V_SETTINGS_COUNT;

struct Key {
  const char* name;
  size_t offset;
  bool is_double;  // frame_rate; every other field is a 32-bit integer
};
extern const Key kKeys[kKeyCount];

// The module's table, reached from the directory of the running program as
// a host reaches it.
struct Module {
  mp4v_host::ModuleLibrary library;
  MP4VConfigLoadFn load = nullptr;
  MP4VConfigSaveFn save = nullptr;
};
// Loads demo_config_mp4v.so from beside the running program, or the module
// at `path` when it is not empty. On failure returns false with the reason
// in `*error`.
bool LoadModule(Module* module, std::string* error, const std::string& path = "");

// Stores `value` into the field of `key` as a generic INI library's user
// converts it (strtod, or strtol with base 0).
void SetFieldFromText(MP4VSettings* record, const Key& key, const char* value);

// inih's parse of `path` with a handler that picks the 56 keys out of the
// settings section (strcmp, strtol/strtod), as a user of inih writes it.
bool InihLoad(const char* path, MP4VSettings* record);

// Reads a 56-key field of `record` as a double (integers converted).
double FieldValue(const MP4VSettings& record, const Key& key);
void SetField(MP4VSettings* record, const Key& key, double value);

// The record of the worked example: zero, width 720, height 576, frame rate
// 29.97.
MP4VSettings ExampleRecord();
// A record with a distinct value in every one of the 56 fields.
MP4VSettings DistinctRecord();
// Empty text when every field of `got` matches `want` (frame rate within
// 1e-4, as the module snaps it after a load); otherwise the first mismatch.
std::string CompareRecords(const MP4VSettings& want, const MP4VSettings& got);

// Text of a configuration file of about `lines` lines: many sections with
// entries, comments and keys that also occur in the settings section, then
// the settings section with all 56 keys of `record` at the end. Lines stay
// under 120 characters and none starts with a blank.
std::string GenerateConfigText(size_t lines, const MP4VSettings& record);

// Number of line feeds in `text`.
size_t CountLines(const std::string& text);

// Whole-file helpers with stdio (binary).
bool ReadFileStdio(const char* path, std::string* out);
bool WriteFilePlain(const char* path, const std::string& bytes);

// The safe replacement of `path` by `bytes`: a new temporary file in the same
// directory, written, fsync'ed, closed, renamed over `path`. With
// `sync_directory` the directory is fsync'ed after the rename as well.
bool SafeWrite(const char* path, const std::string& bytes, bool sync_directory);

// Makes a fresh directory under `parent` (or $TMPDIR, or /tmp, when empty).
std::string MakeScratchDir(const std::string& parent);
// Removes the files of `dir` and the directory itself (no subdirectories).
void RemoveScratchDir(const std::string& dir);

}  // namespace bench

#endif  // MP4V_BENCH_BENCH_SUPPORT_H_
