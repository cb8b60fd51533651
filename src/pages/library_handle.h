// A library handle record: holds at most one loaded library, remembers the
// name it was loaded under, and frees the library on unload only when it
// loaded it itself.
//
// Operations report success as 1 and failure as 0. A null record is allowed
// everywhere and changes nothing (Init and Unload still return 1). A record
// belongs to one thread at a time; the operations keep no other state.
#ifndef MP4V_PAGES_LIBRARY_HANDLE_H_
#define MP4V_PAGES_LIBRARY_HANDLE_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Capacity, terminator included, of the path and the error text.
constexpr int kLibraryPathCapacity = 2048;

struct LibraryHandle {
  void* module;       // the loaded library, or null
  int32_t owned;      // 1 when this record loaded `module` and frees it
  // The composed file name the library was asked for under (name, dot,
  // extension, e.g. "demo_config_gui_mp4v.dll"), or empty. It is not the
  // directory the safe search found the file in: that full path need not
  // fit here, and nothing reads it.
  char16_t path[kLibraryPathCapacity];
  uint32_t last_error;  // system error code of the last failed lookup, or 0
  char error_text[kLibraryPathCapacity];  // always left empty by the module
};

// Resets `handle`. Returns 1.
int32_t LibraryHandleInit(LibraryHandle* handle);

// Module null, owned 0, path empty, last error 0, error text empty. Frees
// nothing.
void LibraryHandleReset(LibraryHandle* handle);

// Resets the record (it must hold no library), composes `name` + "." +
// (`extension`, or "dll" when null) and loads that library through the safe
// search (see platform/libraries.h): the directory of this module first, then
// the host application's directory and the system directories; never the
// current directory or PATH. Returns 1 with the module stored, owned 1 and
// the composed name in `path`; 0 when the library could not be loaded, when the
// composed name does not fit kLibraryPathCapacity, or on a null argument,
// leaving the record as the reset left it.
int32_t LibraryHandleLoad(LibraryHandle* handle, const char16_t* name,
                          const char16_t* extension);

// Writes the texts of `parts` one after the other and a terminator into
// `out`, which holds `capacity` characters, and returns 1. Returns 0, leaving
// `out` empty when it has room for the terminator, when `out` or a part is
// null or the joined text with its terminator does not fit.
int32_t LibraryJoinWide(std::initializer_list<const char16_t*> parts,
                        char16_t* out, size_t capacity);

// Writes `name` + "." + (`extension`, or "dll" when null) and a terminator
// into `out`, which holds `capacity` characters, and returns 1. Returns 0,
// leaving `out` empty when it has room for the terminator, when an argument
// is null or the composed name with its terminator does not fit.
int32_t LibraryComposeFileName(const char16_t* name, const char16_t* extension,
                               char16_t* out, size_t capacity);

// Returns the address of `entry_name` in the record's library, or null; on
// failure (also for a record that holds no library, or a null `entry_name`)
// stores the system's error code in `last_error` and empties `error_text`.
void* LibraryHandleGetProc(LibraryHandle* handle, const char* entry_name);

// Frees the library when the record owns it, then owned 0 and module null;
// path, last error and error text stay. Returns 1.
int32_t LibraryHandleUnload(LibraryHandle* handle);

#endif  // MP4V_PAGES_LIBRARY_HANDLE_H_
