// The configuration module, loaded at run time exactly as a host loads it
// and reached only through its one export and the public header. Shared by
// every program of this project that plays the host: mp4vcfg, the host and
// pages tests, and the benchmarks.
#ifndef MP4V_HOST_MODULE_LIBRARY_H_
#define MP4V_HOST_MODULE_LIBRARY_H_

#include <string>
#include <utility>
#include <vector>

#include "mp4v_config.h"

namespace mp4v_host {

// The module's file name on this platform.
const char* ModuleFileName();

// The directory of the running program, with its trailing separator; empty
// when it cannot be told.
std::string ProgramDirectory();

class ModuleLibrary {
 public:
  ModuleLibrary() = default;
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  // Loads the library at `path`, or the module beside the running program
  // when `path` is empty, and looks up the functions of the table used
  // here: the information query, the load and the save, which it must
  // hand out, and the update request, which it may. A path is always
  // loaded as a path: a bare name is taken from the current directory,
  // never searched for. On failure, `error` says what went wrong and
  // nothing stays loaded.
  bool Open(const std::string& path, std::string* error);

  // The file actually loaded, as the system reports it.
  const std::string& path() const { return path_; }

  // The library's one export, and the functions of its table.
  MP4VConfigGetAPIExtFn get_api() const { return get_api_; }
  MP4VConfigGetInfoFn get_info() const { return get_info_; }
  MP4VConfigLoadFn load() const { return load_; }
  MP4VConfigSaveFn save() const { return save_; }
  // Null for a module that has no update request (one older than it).
  MP4VConfigUpdateFn update() const { return update_; }

  // The system's handle of the loaded library (HMODULE or dlopen handle),
  // or null. It stays the library's: do not free it.
  void* handle() const { return handle_; }

  // The version resource of the loaded file as (name, value) pairs: the
  // fixed part's versions first, then the strings of the first language
  // listed. Empty where the platform has no version resources.
  std::vector<std::pair<std::string, std::string>> VersionResource() const;

 private:
  void Close();

  void* handle_ = nullptr;
  std::string path_;
  MP4VConfigGetAPIExtFn get_api_ = nullptr;
  MP4VConfigGetInfoFn get_info_ = nullptr;
  MP4VConfigLoadFn load_ = nullptr;
  MP4VConfigSaveFn save_ = nullptr;
  MP4VConfigUpdateFn update_ = nullptr;
};

}  // namespace mp4v_host

#endif  // MP4V_HOST_MODULE_LIBRARY_H_
