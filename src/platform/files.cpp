// The parts of file access that are the same on every platform: whole-file
// reading through the C library, temporary names, and putting a finished
// temporary file in place.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/replacement.h"

FileReadStatus PlatformReadWholeFile(const char* path, std::string* out,
                                     uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  out->clear();
  if (path == nullptr) {
    *error = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return FileReadStatus::kMissing;
  }
  PlatformClearFileCallError();
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *error = PlatformFileCallError();
    return errno == ENOENT || errno == ENOTDIR ? FileReadStatus::kMissing
                                               : FileReadStatus::kUnreadable;
  }
  FileReadStatus result = FileReadStatus::kRead;
  PlatformClearFileCallError();
  try {
    char chunk[16384];
    for (;;) {
      size_t got = std::fread(chunk, 1, sizeof chunk, file);
      out->append(chunk, got);
      if (got < sizeof chunk) break;
    }
    if (std::ferror(file)) {
      *error = PlatformFileCallError();
      result = FileReadStatus::kUnreadable;
    }
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    result = FileReadStatus::kOutOfMemory;
  }
  std::fclose(file);
  if (result != FileReadStatus::kRead) out->clear();
  return result;
}

bool PlatformFileStartsWith(const char* path, const char* prefix, size_t size) {
  if (path == nullptr) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char head[16];
  bool match = size <= sizeof head && std::fread(head, 1, size, file) == size &&
               std::memcmp(head, prefix, size) == 0;
  std::fclose(file);
  return match;
}

bool PlatformReplaceFile(const char* path, const char* data, size_t size,
                         uint32_t* error) {
  return PlatformReplaceFileWith(PlatformReplaceSteps(), path, data, size,
                                 error);
}

TargetParts SplitTarget(const std::string& target, const char* separators) {
  const size_t cut = target.find_last_of(separators);
  if (cut == std::string::npos) return {std::string(), target};
  return {target.substr(0, cut + 1), target.substr(cut + 1)};
}

std::string TemporaryPath(const TargetParts& parts, bool short_form,
                          uint64_t seed, unsigned attempt) {
  // A 64-bit mix (splitmix64's finaliser) of the seed and the attempt.
  uint64_t mix = seed + (attempt + 1) * 0x9E3779B97F4A7C15ull;
  mix = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9ull;
  mix = (mix ^ (mix >> 27)) * 0x94D049BB133111EBull;
  mix ^= mix >> 31;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(mix));
  if (!short_form) return parts.directory + "~mp4v" + std::string(hex, 12) + ".tmp";
  // As long as the target's name: "~" and up to 16 digits, then digits of a
  // second mix for longer names (which never need this form in practice).
  const size_t length = parts.name.empty() ? 1 : parts.name.size();
  std::string name = "~";
  while (name.size() < length) {
    name += hex[(name.size() - 1) % 16];
    if ((name.size() - 1) % 16 == 0) {
      mix = mix * 0x9E3779B97F4A7C15ull + 1;
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(mix));
    }
  }
  return parts.directory + name;
}

namespace {

// The seed a test set for its thread's replacements, or 0.
thread_local uint64_t test_seed = 0;

}  // namespace

uint64_t TemporarySeed(uint64_t own) { return test_seed != 0 ? test_seed : own; }

void PlatformSetTemporarySeedForTesting(uint64_t seed) { test_seed = seed; }

namespace {

// A name after the last one tried that no file has (the last one tried when
// every one is taken).
std::string UnusedName(TemporaryNames* names) {
  const unsigned last = names->attempt + kTemporaryAttempts;
  do {
    ++names->attempt;
  } while (PlatformPathExists(names->Path()) && names->attempt < last);
  return names->Path();
}

// True when the file at `path` holds exactly the `size` bytes at `data`.
bool Holds(const std::string& path, const char* data, size_t size) {
  std::string bytes;
  return PlatformReadWholeFile(path.c_str(), &bytes) == FileReadStatus::kRead &&
         bytes.size() == size && std::memcmp(bytes.data(), data, size) == 0;
}

}  // namespace

bool FinishReplacement(const ReplaceSteps& steps, TemporaryNames* names,
                       const std::string& target, bool written,
                       bool target_exists, const char* data, size_t size,
                       uint32_t* error) {
  const std::string temporary = names->Path();
  // The codes of the steps that only clean up or recover are not the reason.
  uint32_t cleanup = 0;
  if (!written) {
    steps.remove(temporary.c_str(), &cleanup);
    return false;
  }
  uint32_t failed = 0;
  const std::string backup = UnusedName(names);
  if (!target_exists) {
    if (steps.move(temporary.c_str(), target.c_str(), &failed)) return true;
  } else if (steps.replace(target.c_str(), temporary.c_str(), backup.c_str(),
                           &failed)) {
    if (PlatformPathExists(backup)) steps.remove(backup.c_str(), &cleanup);
    return true;
  }
  if (error != nullptr) *error = failed;
  // The step failed. The old file may still be in place, under the backup
  // name, or gone; the new one still under its temporary name, or already in
  // place.
  const bool backup_there = PlatformPathExists(backup);
  if (PlatformPathExists(target)) {
    bool replaced;
    if (!PlatformPathExists(temporary)) {
      replaced = Holds(target, data, size);
    } else {
      // The old file is still in place: a plain replacing move is one step
      // too, though it does not carry every attribute of the old file over.
      replaced = steps.move(temporary.c_str(), target.c_str(), &cleanup);
      if (!replaced) steps.remove(temporary.c_str(), &cleanup);
    }
    if (backup_there) steps.remove(backup.c_str(), &cleanup);
    return replaced;
  }
  if (PlatformPathExists(temporary) &&
      steps.move(temporary.c_str(), target.c_str(), &cleanup)) {
    if (backup_there) steps.remove(backup.c_str(), &cleanup);
    return true;
  }
  if (backup_there && steps.move(backup.c_str(), target.c_str(), &cleanup)) {
    steps.remove(temporary.c_str(), &cleanup);
  }
  return false;
}
