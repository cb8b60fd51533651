// Names for the temporary file of a safe replacement: beside the target, in
// the same directory, short, and different on every attempt.
#ifndef MP4V_PLATFORM_TEMPORARY_NAME_H_
#define MP4V_PLATFORM_TEMPORARY_NAME_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Length of the preferred temporary name, "~mp4v" + 12 hex digits + ".tmp".
constexpr size_t kTemporaryNameLength = 21;

// The target split at its last separator (any character of `separators`):
// the directory part with its separator (empty for a bare name), and the name.
struct TargetParts {
  std::string directory;
  std::string name;
};
TargetParts SplitTarget(const std::string& target, const char* separators);

// A temporary path in the directory of `parts`. With `short_form` false it is
// the directory followed by "~mp4v", 12 hex digits and ".tmp"; with
// `short_form` true the name is "~" and hex digits, exactly as long as the
// target's name (at least one character), so the path is never longer than
// the target's own. The digits come from `seed` and `attempt`: callers mix
// into `seed` whatever tells this writer from others (process, thread,
// clock), and creation with exclusive access decides; a clash only costs
// another attempt.
std::string TemporaryPath(const TargetParts& parts, bool short_form,
                          uint64_t seed, unsigned attempt);

// How many names a writer tries before it gives up.
constexpr unsigned kTemporaryAttempts = 64;

#endif  // MP4V_PLATFORM_TEMPORARY_NAME_H_
