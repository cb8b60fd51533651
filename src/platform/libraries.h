// The system's dynamic loader, as the library handle record uses it. One
// source file per platform implements this header (posix.cpp or windows.cpp,
// chosen by the build).
//
// On Windows these are LoadLibraryExW, GetProcAddress, GetLastError and
// FreeLibrary. Elsewhere a thin layer over dlopen, dlsym and dlclose takes
// their place and takes the same wide (UTF-16) file name, so the record code
// is the same on every platform. Every call runs on the caller's thread; the
// last error is the calling thread's own.
//
// Loading is restricted to safe places. A library asked for by its bare file
// name is looked for, in this order:
//   1. in the directory that holds the binary this code is linked into (the
//      configuration module, or a program that links the core itself);
//   2. Windows: in the host application's directory, then in the system
//      directory. Elsewhere: through the dynamic loader's default search
//      (LD_LIBRARY_PATH, RUNPATH, the loader cache, the system directories).
// The process's current directory and PATH are never searched: a library
// planted in whatever folder a host happens to be working in must not run
// code inside the host.
#ifndef MP4V_PLATFORM_LIBRARIES_H_
#define MP4V_PLATFORM_LIBRARIES_H_

#include <cstdint>

// The system error code for "the entry was not found"; also what the native
// layer reports after a failed symbol lookup (Windows ERROR_PROC_NOT_FOUND).
constexpr uint32_t kPlatformErrorProcNotFound = 127;
// What the native layer reports after a failed load (Windows
// ERROR_MOD_NOT_FOUND).
constexpr uint32_t kPlatformErrorModNotFound = 126;

// Loads the library `file_name` (zero-terminated UTF-16, a bare file name
// with its extension) through the safe search above and returns its module
// handle, or null. A name with a directory part (a "/", or on Windows also a
// "\" or ":") is refused: a relative one would resolve against the current
// directory. A null or empty name is refused too. Each successful call holds
// one more load of the library, to be released by PlatformLibraryFree. On
// null, PlatformLibraryLastError tells why.
void* PlatformLibraryLoad(const char16_t* file_name) noexcept;

// Returns the address of the entry `entry_name` in `module`, or null (also
// for a null `module`, which never means "every loaded library", or a null
// name). After null, PlatformLibraryLastError tells why.
void* PlatformLibraryGetProc(void* module, const char* entry_name) noexcept;

// The error code of the calling thread's last failed loader call (Windows:
// GetLastError). Read it right after the failure.
uint32_t PlatformLibraryLastError() noexcept;

// Releases one load of `module`. A null module is ignored.
void PlatformLibraryFree(void* module) noexcept;

#endif  // MP4V_PLATFORM_LIBRARIES_H_
