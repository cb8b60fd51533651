// Whole-file reading and the safe replacement of a file, for each platform.
// Paths are 8-bit texts passed to the platform unchanged.
#ifndef MP4V_CONFIG_FILE_ACCESS_H_
#define MP4V_CONFIG_FILE_ACCESS_H_

#include <cstddef>
#include <string>

enum class FileReadResult { kRead, kMissing, kUnreadable, kOutOfMemory };

// Reads every byte of the file at `path` (binary, no line-end translation)
// into `out`.
FileReadResult ReadWholeFile(const char* path, std::string* out);

// True when the file at `path` exists and its first bytes are `prefix`.
bool FileStartsWith(const char* path, const char* prefix, size_t size);

// Replaces the contents of the file at `path` with `size` bytes at `data`,
// never leaving it half-written: the bytes go to a new temporary file in the
// target's directory, every write is checked, the file is flushed to stable
// storage and closed, and only then renamed over the target in one step. On
// any failure the temporary file is removed and the target is exactly as it
// was. A target that exists but is read-only or not a regular file is
// refused; a missing directory gets nothing. A replaced file keeps its
// permission bits (and, where allowed, its owner); a symbolic link stays a
// link, and the file it points to is replaced. Returns true when the file
// was written.
bool ReplaceFileContents(const char* path, const char* data, size_t size);

#endif  // MP4V_CONFIG_FILE_ACCESS_H_
