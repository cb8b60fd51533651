// Files as the module uses them: read whole, replaced safely, and the text
// line end of the platform. One source file per platform implements this
// header (posix.cpp or windows.cpp, chosen by the build).
//
// Paths are 8-bit texts handed to the platform unchanged: on Windows they are
// in the process's ANSI code page, as the "A" functions take them.
//
// Every function runs on the caller's thread and keeps no state; calls on
// different files may run at once. Calls on the same file are not
// coordinated: a replacement racing another one leaves one of the two.
#ifndef MP4V_PLATFORM_FILES_H_
#define MP4V_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/errors.h"

// What became of reading a file.
enum class FileReadStatus {
  kRead,         // every byte was read
  kMissing,      // no file (or no directory) of that name
  kUnreadable,   // it exists but could not be opened or read to its end
  kOutOfMemory,  // the bytes did not fit in memory
};

// The platform's text line end: "\r\n" on Windows, "\n" elsewhere.
extern const char kPlatformTextLineEnd[];

// Reads every byte of the file at `path` (binary, no line-end translation)
// into `out`, which is emptied first and left empty unless the result is
// kRead. A null `path` gives kMissing. Unless the result is kRead, `*error`
// (when given) receives the system's code of the call that failed (see
// platform/errors.h; kOutOfMemory: ModuleFailure::kOutOfMemory's).
FileReadStatus PlatformReadWholeFile(const char* path, std::string* out,
                                     uint32_t* error = nullptr);

// True when the file at `path` exists, can be read and begins with the
// `size` bytes at `prefix` (at most 16). False for a null `path`.
bool PlatformFileStartsWith(const char* path, const char* prefix, size_t size);

// The calls that put a finished temporary file in the place of the target.
// PlatformReplaceFileWith takes them as an argument, so that the recovery
// from each way a step can fail can be exercised; PlatformReplaceFile uses
// PlatformReplaceSteps(). Each returns true on success, or false with
// the system's error code in `*error` (Windows GetLastError values; errno
// elsewhere).
struct ReplaceSteps {
  // Replaces `target`, which exists, by `temporary`, moving the old file to
  // `backup` (Windows: ReplaceFileA; elsewhere: rename, `backup` unused).
  bool (*replace)(const char* target, const char* temporary, const char* backup,
                  uint32_t* error);
  // Renames `from` to `to`, replacing a file `to` (Windows: MoveFileExA with
  // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; elsewhere: rename).
  bool (*move)(const char* from, const char* to, uint32_t* error);
  // Deletes the file `path`.
  bool (*remove)(const char* path, uint32_t* error);
};

// The platform's own replace steps.
const ReplaceSteps& PlatformReplaceSteps();

// Replaces the contents of the file at `path` with the `size` bytes at
// `data`, never leaving it half-written: the bytes go to a new temporary file
// in the target's directory, created exclusively under a short name of fixed
// length (or, where the path would then be too long for the platform, a name
// no longer than the target's own), every write is checked, the file is
// flushed to stable storage and closed, and only then takes the target's
// place in one step. No failure loses both the old and the new content: the
// target name keeps the old file, or gets the new one, whenever the platform
// allows, and otherwise the new content stays under its temporary name.
//
// Refused (false, nothing written): a null or empty `path`; a target that
// exists but is read-only or not a regular file; a directory in which no file
// may be created (also when the target itself is writable). A replaced file
// keeps its permission bits (and, where allowed, its owner; on Windows its
// attributes and security, as ReplaceFile keeps them); a symbolic link stays
// a link and the file it points to is replaced; a file with several hard
// links is replaced by a new file under this name. Returns true when the new
// contents are in place. Otherwise `*error` (when given) receives why: the
// system's code of the first step that failed, or for a refusal the module
// decides itself the code the system gives for the same thing (a read-only
// target: ERROR_ACCESS_DENIED / EACCES; a folder: ERROR_ACCESS_DENIED /
// EISDIR; elsewhere a device or other special file: EPERM; a write that
// wrote nothing without an error: ERROR_DISK_FULL / ENOSPC; a loop of links:
// ELOOP; no memory: ModuleFailure::kOutOfMemory's code; no name:
// kRefusedArgument's).
bool PlatformReplaceFile(const char* path, const char* data, size_t size,
                         uint32_t* error = nullptr);

// What a replacement of a file meets before it writes anything.
enum class ReplaceCheck {
  kPossible,          // it would go ahead
  kNoName,            // null or empty path
  kNotAFile,          // the target exists and is a folder or a device
  kReadOnly,          // the target is read-only (for everyone, or for us)
  kNoFolder,          // its folder does not exist (or a part is a file)
  kFolderNotWritable, // no file may be created in its folder
  kInUse,             // another program holds it open without sharing it
  kOtherFailure,      // any other failure of the system, or no memory
};
// Makes exactly the checks PlatformReplaceFile makes before it writes, on
// the same target (links resolved) and in the same order: both run one and
// the same preparation, and the check then undoes what it made (the
// temporary file, and behind a link that names no file yet, the empty file
// the replacement creates there to learn where that file lies). kPossible
// when the replacement would write and place the file. (A later failure,
// such as a full disk or another writer in between, is not foreseen.)
ReplaceCheck PlatformCheckReplace(const char* path);

// The same as PlatformReplaceFile, with the given replace steps instead of
// the platform's own.
bool PlatformReplaceFileWith(const ReplaceSteps& steps, const char* path,
                             const char* data, size_t size,
                             uint32_t* error = nullptr);

#endif  // MP4V_PLATFORM_FILES_H_
