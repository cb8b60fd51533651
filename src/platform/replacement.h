// The parts of a safe replacement that are the same on every system: names
// for the temporary and backup files (beside the target, short, different
// on every attempt) and putting the finished temporary file in place.
#ifndef MP4V_PLATFORM_REPLACEMENT_H_
#define MP4V_PLATFORM_REPLACEMENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"

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

// True when a file (or anything else) of that name exists.
bool PlatformPathExists(const std::string& path);

// The names one replacement tries, in order: TemporaryPath of `parts` for
// `attempt` 0, 1, ...; `short_form` once the preferred form is too long.
struct TemporaryNames {
  TargetParts parts;
  bool short_form = false;
  uint64_t seed = 0;
  unsigned attempt = 0;  // the attempt of Path()

  std::string Path() const {
    return TemporaryPath(parts, short_form, seed, attempt);
  }
};

// Reads exactly `size` bytes of the open file `file` (a descriptor, or a
// handle's value) from byte `offset` on into `into`, not moving where the
// file is read from otherwise: false when it could not (a shorter file, or
// a failed read).
bool PlatformReadAt(intptr_t file, uint64_t offset, char* into, size_t size);

// The bytes a file is expected to hold, without a copy of them: one string,
// or a file open for reading (PlatformReadAt) with a held stretch in place
// of some of its bytes. It refers to what it was made from, which must
// outlive it.
class ExpectedText {
 public:
  explicit ExpectedText(const std::string& bytes);
  // The `size` bytes of the open `file`.
  ExpectedText(intptr_t file, uint64_t size);
  // What `expected` describes (ExpectedFile::spliced, or its bytes alone).
  static ExpectedText Of(const ExpectedFile& expected);

  uint64_t size() const { return size_; }
  // Whether the `size` bytes at `data` are the expected ones from `at` on;
  // false past the end, and when the file could not be read.
  bool Matches(uint64_t at, const char* data, size_t size) const;
  // The whole text into `*out`: false when the file could not be read.
  // Throws std::bad_alloc when it does not fit.
  bool Whole(std::string* out) const;

 private:
  // A stretch of the text: `data`'s bytes, or the file's from `offset` on.
  struct Stretch {
    const char* data;
    uint64_t offset;
    uint64_t size;
  };
  void Add(const char* data, uint64_t offset, uint64_t size);
  intptr_t file_ = -1;
  Stretch stretches_[3] = {};
  size_t count_ = 0;
  uint64_t size_ = 0;
};

// Finishes a replacement once the temporary file at `names.Path()` is
// closed: `written` false (a write, flush or close failed) deletes it and
// gives false. Otherwise it takes the place of `target` with `steps`, and the
// result says whether `target` then holds the bytes of `placed` (the new
// file's).
//
// With `expected`, every step that would put the new file over the target
// first reads the target, right before the step: when it no longer holds
// what `expected` says, the temporary file is deleted and the result is
// false with `expected->changed` set, `expected` holding what the target
// holds now, and `*error` 0. (`empty_is_missing`: an empty target counts as
// no file, for the empty file a preparation made behind a dangling link.)
//
// A step that fails because another program holds the target
// (PlatformIsSharingConflict) and has moved nothing is tried again, with
// short pauses, for up to the sharing wait (kSharingWaitMilliseconds).
//
// When the target exists, the replace step may park the old file under a
// backup name, one of the following names that no file has. When a step
// fails, what is where decides what follows (the step's own report does
// not): a temporary or backup file is deleted only while the target name
// holds complete content; when neither file can be put back under the
// target name, both stay where they are, so the old and the new content are
// never both lost. When the result is false after `written` true, `*error`
// (when given) receives the code of the step that failed first; the
// recovery's own failures do not replace it.
bool FinishReplacement(const ReplaceSteps& steps, TemporaryNames* names,
                       const std::string& target, bool written,
                       bool target_exists, const ExpectedText& placed,
                       uint32_t* error = nullptr, ExpectedFile* expected = nullptr,
                       bool empty_is_missing = false);
// How a file compares with the bytes a save expects it to hold.
enum class FileComparison { kSame, kOther, kMissing, kUnreadable };
// Compares the file at `path` with `expected` as it reads it, piece by
// piece, so that a file that holds them costs no copy. kOther puts what the
// file holds in `*now`; kUnreadable puts the read's code in `*error` (when
// given). Where a replaced file can still be read through a descriptor open
// on it (POSIX), the descriptor stays open in `*kept` after kSame and
// kOther; otherwise `*kept` is -1.
FileComparison PlatformCompareFile(const char* path, const ExpectedText& expected,
                                   std::string* now, intptr_t* kept, uint32_t* error);
// The same for the file open in `kept`, read from its start.
FileComparison PlatformCompareKept(intptr_t kept, const ExpectedText& expected,
                                   std::string* now);
// Closes what PlatformCompareFile kept open.
void PlatformCloseKept(intptr_t kept);
// Whether the file open in `kept` is the one the name `path` now leads to.
bool PlatformKeptIsFile(intptr_t kept, const std::string& path);

// Which file a name leads to (device and file number); `known` false where
// the platform cannot tell or there is no file.
struct FileId {
  uint64_t device = 0;
  uint64_t number = 0;
  bool known = false;
  bool operator==(const FileId& other) const {
    return known && other.known && device == other.device && number == other.number;
  }
};
FileId PlatformFileIdOf(const std::string& path);
// After a replacement that expected `expected` and put its file in place:
// whether the replaced file, kept open since the last look, was written
// meanwhile (ExpectedFile::late). Closes what was kept.
void NoticeLateWrite(ExpectedFile* expected);
// Closes what `expected` keeps open, when a replacement did not happen.
void ForgetKept(ExpectedFile* expected);

// Whether a failed step's `error` means that another program holds the file
// for the moment (Windows: a sharing or lock violation, or access denied
// while a deleted file lingers): worth trying again shortly. Never elsewhere.
bool PlatformIsSharingConflict(uint32_t error);

// The waits in force on the calling thread: kSaveTurnWaitMilliseconds and
// kSharingWaitMilliseconds, unless a test set others.
unsigned SaveTurnWait();
unsigned SharingWait();

// Calls `attempt()` until it returns true, or until it returned false
// `sharing_wait` milliseconds after the first call, pausing briefly in
// between (a yield, after 8 tries 1 ms) while `retry()` says so. The result
// of the last call.
bool RetryWhileHeld(unsigned sharing_wait, const std::function<bool()>& attempt,
                    const std::function<bool()>& retry);

// The seed of a replacement's temporary names: `own`, the writer's mix of
// what tells it from others, unless a test set one (below).
uint64_t TemporarySeed(uint64_t own);

// For tests only: while `seed` is not 0, every replacement on the calling
// thread takes it as its seed instead of its own mix, so that a test knows
// the temporary names it will try (TemporaryPath of the target's parts with
// this seed and attempt 0, 1, ...). 0 gives the usual seeds back. The module
// never calls it.
void PlatformSetTemporarySeedForTesting(uint64_t seed);

// Whether `name` has the form of this module's preferred temporary names:
// "~mp4v", 12 lower-case hex digits, ".tmp".
bool IsTemporaryName(const char* name);

// Removes every file of the form IsTemporaryName in the folder of `target`
// (links followed) whose writer is provably gone, never by age: on POSIX a
// replacement locks its temporary file while it exists, so one whose lock
// can be had and that is still under its name is left over from a save
// that was killed. On Windows a replacement keeps its temporary file open
// from its creation until after it took the target's place, so one that
// can be opened for deletion sharing nothing (no process has it open) is
// left over; a link of that name goes, never what it names. Nothing where
// the folder cannot be listed (a folder that may be written but not read).
// `resolved`, when not empty, is the file `target` leads to (links resolved).
void RemoveAbandonedTemporaries(const std::string& target,
                                const std::string& resolved = std::string());

#endif  // MP4V_PLATFORM_REPLACEMENT_H_
