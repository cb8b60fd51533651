// Files as the module uses them: read whole, updated in turns, replaced
// safely, and the text line end of the platform. One source file per
// platform implements this header (posix.cpp or windows.cpp, chosen by the
// build); files.cpp holds what is the same everywhere.
//
// Paths are 8-bit texts handed to the platform unchanged: on Windows they are
// in the process's ANSI code page, as the "A" functions take them.
//
// Every function runs on the caller's thread. Calls on different files may
// run at once. On one file: readers never see a part of a file, since a
// replacement is one step; PlatformUpdateFile calls, in any thread of any
// process, take turns (see platform/save_turn.h), and each keeps what other
// programs wrote while it worked. PlatformReplaceFile alone coordinates with
// nothing: a replacement racing another one leaves one of the two.
#ifndef MP4V_PLATFORM_FILES_H_
#define MP4V_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
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

// How long a save waits for its turn on a file (PlatformUpdateFile) before it
// gives up with ModuleFailure::kTurnTimedOut's code.
constexpr unsigned kSaveTurnWaitMilliseconds = 5000;
// How long a read or a replacement on Windows waits out another program that
// holds the file open without sharing it (an editor, an indexer, a virus
// scanner, a peer's write) before it fails with ERROR_SHARING_VIOLATION.
// Elsewhere files are not held that way.
constexpr unsigned kSharingWaitMilliseconds = 2000;
// How often a save decides again from the file's new bytes when another
// program changed the file while it worked, before it gives up with
// ModuleFailure::kKeptChanging's code.
constexpr unsigned kUpdateAttempts = 8;

// Reads every byte of the file at `path` (binary, no line-end translation)
// into `out`, which is emptied first and left empty unless the result is
// kRead. A null `path` gives kMissing. On Windows the file is opened sharing
// everything (a save may replace it meanwhile: this read still gets the old
// text whole), and a sharing conflict is waited out for up to
// kSharingWaitMilliseconds. Unless the result is kRead, `*error` (when given)
// receives the system's code of the call that failed (see platform/errors.h;
// kOutOfMemory: ModuleFailure::kOutOfMemory's).
FileReadStatus PlatformReadWholeFile(const char* path, std::string* out,
                                     uint32_t* error = nullptr);

// A file read from its start in pieces of the caller's size: a request that
// needs only a part of a file, or goes through it once, then costs a piece
// of memory rather than the file's size. The file is opened as
// PlatformReadWholeFile opens it (on Windows sharing everything, and a
// sharing conflict waited out), and stays open until the reader is
// destroyed. A reader is used by one thread at a time.
class PlatformFileReader {
 public:
  PlatformFileReader() = default;
  ~PlatformFileReader();
  PlatformFileReader(const PlatformFileReader&) = delete;
  PlatformFileReader& operator=(const PlatformFileReader&) = delete;

  // Opens the file at `path`: kRead when it is open to Read, otherwise what
  // PlatformReadWholeFile gives for it (kMissing for a null `path`), with
  // the system's code in `*error` (when given). Called once.
  FileReadStatus Open(const char* path, uint32_t* error = nullptr);
  // Reads the file's next bytes, at most `room` of them, into `into`: true
  // with their number in `*got`, which is 0 only once the file has no more;
  // or false with the system's code in `*error` (when given).
  bool Read(char* into, size_t room, size_t* got, uint32_t* error = nullptr);
  // Reads the rest of the file into `out`, as PlatformReadWholeFile does
  // (its results but kMissing; `out` emptied first, and empty unless kRead;
  // the system's code in `*error`, which is not null, unless kRead).
  FileReadStatus ReadRest(std::string* out, uint32_t* error);
  // The file's size as it stands now: false when the system cannot tell.
  bool Size(uint64_t* size) const;

 private:
  intptr_t handle_ = -1;  // the descriptor, or the handle's value; -1: none
};

// True when the file at `path` exists, can be read and begins with the
// `size` bytes at `prefix` (at most 16). False for a null `path`.
bool PlatformFileStartsWith(const char* path, const char* prefix, size_t size);

// Bytes to write, in one piece or several.
struct TextPiece {
  const char* data;
  size_t size;
};

// The bytes an update writes, decided from the bytes `before` it was given:
// the first `head` bytes of `before`, then the string itself, then `before`
// from `tail` on (nothing of it when `tail` is npos). A decision that only
// fills the string writes the string alone; one that keeps the file's first
// and last lines as they were read names them instead of copying them.
struct FileText : std::string {
  size_t head = 0;
  size_t tail = npos;

  // The pieces to write (up to 3, into `pieces`), which point into `before`
  // and into this string: their number.
  size_t Pieces(const std::string& before, TextPiece pieces[3]) const;
  // The whole text, one string.
  std::string Whole(const std::string& before) const;
};

// Hands a new file's bytes, in order, to the replacement that writes them:
// false when the write failed (the replacement knows why). Used by one
// producer, on the replacement's thread.
using FileWrite = std::function<bool(const char* data, size_t size)>;
// What a producer of a new file's bytes did.
enum class FileProduced {
  kWritten,      // every byte went through `write`
  kWriteFailed,  // a write failed: the replacement fails with its code
  kAbandoned,    // the producer gave up: nothing is placed, and `*error` is 0
};
using FileProducer = std::function<FileProduced(const FileWrite& write)>;

// What an update writes, decided from the bytes of the file as it was read.
enum class FileDecision {
  kWrite,  // write the bytes put in `*after`
  kStop,   // write nothing: `*error` says why, or is 0 when nothing is wrong
};
// `before` holds the file's bytes (empty when `exists` is false: no file).
// Called once per attempt, always on the caller's thread, while the update
// holds its turn; it must not update the same file itself. A decider that
// takes a `std::string*` fills the string alone.
using FileDecider = std::function<FileDecision(const std::string& before, bool exists,
                                               FileText* after, uint32_t* error)>;

// Updates the file at `path` (links followed, as PlatformReplaceFile follows
// them) as one turn of the saves of this file:
//   1. waits, up to kSaveTurnWaitMilliseconds, until no other update of the
//      file, in any process or thread, holds its turn (save_turn.h);
//   2. reads the file (a missing file is no file, not an empty one);
//   3. asks `decide` what to write from those bytes;
//   4. writes that to a temporary file beside the target, and just before
//      it takes the target's place, reads the target again: when it no
//      longer holds exactly the bytes read (another program wrote it
//      meanwhile, or created it), the temporary file is deleted and the
//      update goes back to step 3 with the new bytes, at most
//      kUpdateAttempts times in all;
//   5. replaces the target in one step, as PlatformReplaceFile does.
// What remains between the last look in step 4 and the replacement is the
// time of one comparison and one system call; a write by another program
// that lands in it is replaced.
//
// Before step 2, the update removes the temporary files of saves of the
// target's folder whose writers are gone (RemoveAbandonedTemporaries).
//
// Returns true when the decided bytes are in place, or `decide` stopped with
// 0. When another program wrote into the replaced file after the last look
// of the last attempt, the decided bytes are in place without that write:
// false with kLateWriteReplaced's code. Otherwise false, the file as the last writer left it, no temporary file
// left behind, and `*error` (when given) holds why: the code `decide` gave;
// the file could not be read (its read's code: nothing is written over a
// file whose text was never read); the turn did not come in time
// (kTurnTimedOut); the file changed under every attempt (kKeptChanging); or
// PlatformReplaceFile's reasons. A null or empty `path` gives false with
// kRefusedArgument's code.
bool PlatformUpdateFile(const char* path, const FileDecider& decide,
                        uint32_t* error = nullptr);

// An update's first attempt decided while the file is read, so that the
// update never holds the file: `read` gives the file's bytes from its start
// (as PlatformFileReader::Read does), and the new bytes go to `write` as
// they are decided. The new file is the old one with one stretch in place
// of another: the old bytes of that stretch go to `splice->held`, and where
// the new stretch stands in the new file to `splice->at` and `splice->size`
// (so that the update can still tell, exactly, whether the file holds what
// was read). kWholeFile when the decision needs the whole file after all:
// the update then makes that attempt with `decide`, from the file read whole.
struct FileSplice {
  size_t at = 0;
  size_t size = 0;
  std::string held;
};
enum class StreamDecision {
  kWritten,      // the new bytes all went to `write`, `*splice` filled
  kWholeFile,    // decide from the whole file instead; what was written goes
  kWriteFailed,  // `write` failed
  kStop,         // write nothing: `*error` says why (0: `read` failed, and
                 // the update gives the read's code)
};
using FileStreamDecider = std::function<StreamDecision(
    const std::function<bool(char* into, size_t room, size_t* got)>& read,
    const FileWrite& write, FileSplice* splice, uint32_t* error)>;
// PlatformUpdateFile whose first attempt over an existing file is made by
// `stream` (when not null, and PlatformUpdatesStream()), read in pieces;
// every other attempt, and the first where `stream` gives kWholeFile, by
// `decide`. The results are PlatformUpdateFile's.
bool PlatformUpdateFileStreamed(const char* path, const FileStreamDecider* stream,
                                const FileDecider& decide, uint32_t* error = nullptr);
// Whether an update's first attempt may be made as the file is read: where
// nothing compares the target with what was read once the new file is in
// place (Windows). Where a replaced file can still be written through a
// descriptor another program opened before (POSIX), the check after the
// replacement needs what was read, and the new file, which would stand for
// it, may by then be written by other programs too: there the file is read
// whole.
bool PlatformUpdatesStream();

// The calls that put a finished temporary file in the place of the target.
// PlatformReplaceFileWith takes them as an argument, so that the recovery
// from each way a step can fail can be exercised; PlatformReplaceFile uses
// PlatformReplaceSteps(). Each returns true on success, or false with
// the system's error code in `*error` (Windows GetLastError values; errno
// elsewhere).
struct ReplaceSteps {
  // Replaces `target`, which exists, by `temporary` in one step, so that the
  // name always holds the old file or the new one (Windows: MoveFileExA with
  // MOVEFILE_REPLACE_EXISTING, after the temporary file took the target's
  // attributes and access rights; elsewhere: the two names swap their files
  // where the file system can, renameat2 with RENAME_EXCHANGE, else rename).
  // A step that swaps leaves the old file under the temporary name, for the
  // replacement to look at and delete. `backup` is a free name a step may
  // park the old file under; the platforms' own steps leave it unused.
  bool (*replace)(const char* target, const char* temporary, const char* backup,
                  uint32_t* error);
  // Renames `from` to `to`, replacing a file `to` (Windows: MoveFileExA with
  // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; elsewhere: rename).
  bool (*move)(const char* from, const char* to, uint32_t* error);
  // Deletes the file `path`.
  bool (*remove)(const char* path, uint32_t* error);
  // Whether `replace` may park the old file under `backup`; when not, no
  // backup name is looked for and `backup` is empty.
  bool uses_backup = true;
};

// The platform's own replace steps.
const ReplaceSteps& PlatformReplaceSteps();

// Replaces the contents of the file at `path` with the `size` bytes at
// `data`, never leaving it half-written: the bytes go to a new temporary file
// in the target's directory, created exclusively under a short name of fixed
// length (or, where the path would then be too long for the platform, a name
// no longer than the target's own), every write is checked, the file is
// flushed to stable storage and closed, and only then takes the target's
// place in one step. A replace step that fails because another program holds
// the target (Windows) is tried again for up to kSharingWaitMilliseconds. No
// failure loses both the old and the new content: the target name keeps the
// old file, or gets the new one, whenever the platform allows, and otherwise
// the new content stays under its temporary name.
//
// Refused (false, nothing written): a null or empty `path`; a target that
// exists but is read-only or not a regular file; a directory in which no file
// may be created (also when the target itself is writable). A replaced file
// keeps its permission bits (and, where allowed, its owner; on Windows the
// attributes a person sets, hidden, system and not indexed, and its access
// rights); a symbolic link stays a link and the file it points to is
// replaced; a file with several hard links is replaced by a new file under
// this name. Returns true when the new contents are in place. Otherwise
// `*error` (when given) receives why: the system's code of the first step
// that failed, or for a refusal the module decides itself the code the
// system gives for the same thing (a read-only target: ERROR_ACCESS_DENIED /
// EACCES; a folder: ERROR_ACCESS_DENIED / EISDIR; elsewhere a device or
// other special file: EPERM; a write that wrote nothing without an error:
// ERROR_DISK_FULL / ENOSPC; a loop of links: ELOOP; no memory:
// ModuleFailure::kOutOfMemory's code; no name: kRefusedArgument's).
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
// `*error` (when given) receives the code of what the check met, 0 for
// kPossible.
ReplaceCheck PlatformCheckReplace(const char* path, uint32_t* error = nullptr);

// The file a replacement expects to replace: it goes ahead only while the
// target still holds exactly `bytes` (or, with `exists` false, there is still
// no file). Otherwise it deletes its temporary file, sets `changed`, and puts
// what the target now holds in `bytes` and `exists`.
//
// Where a replaced file can still be written through a descriptor another
// program opened before (POSIX), the file read at the last look stays open
// through the replacement; when it then holds other bytes than that look
// saw, another program wrote into it in between: the new file is in place
// all the same, and `late` is set with what the replaced file holds in
// `late_bytes`, so that the caller can build on that write. (When memory
// runs out for that look, the write goes unnoticed: the new file is in
// place, and the replacement says so.)
struct ExpectedFile {
  std::string bytes;
  // Set: the file expected is not `bytes` alone but the replacement's own
  // new file with `bytes` in place of its `splice_size` bytes from
  // `splice_at` on (a save that wrote the file's other bytes as it read
  // them, and held only the stretch it changed). A change found clears it.
  bool spliced = false;
  size_t splice_at = 0;
  size_t splice_size = 0;
  bool exists = false;
  bool changed = false;
  bool late = false;
  std::string late_bytes;
  intptr_t kept = -1;  // the replacement's own: the descriptor of that file
  // The replacement's own: a handle that reads its new file, while it runs
  // (-1 otherwise), and how many bytes it wrote into that file.
  intptr_t written = -1;
  uint64_t written_size = 0;
  // After a replacement that put its file in place (POSIX): the new file's
  // descriptor, which holds the lock on it; the caller's turn takes it over
  // (SaveTurn::Adopt) or closes it. -1 elsewhere.
  intptr_t lock = -1;
  // The file the name led to when the update's turn was taken, links
  // resolved (SaveTurn::target): the replacement's target. Empty: the
  // replacement resolves the name itself.
  std::string target;
};

// The same as PlatformReplaceFile, with the given replace steps instead of
// the platform's own; with `expected`, only while the target is as expected
// (then false with `expected->changed` set and `*error` 0 when it is not).
bool PlatformReplaceFileWith(const ReplaceSteps& steps, const char* path,
                             const char* data, size_t size,
                             uint32_t* error = nullptr,
                             ExpectedFile* expected = nullptr);
// The same for the bytes of the `count` pieces at `pieces`, in order.
bool PlatformReplaceFilePieces(const ReplaceSteps& steps, const char* path,
                               const TextPiece* pieces, size_t count,
                               uint32_t* error = nullptr,
                               ExpectedFile* expected = nullptr);
// The same for the bytes `produce` hands over. When it abandons, false with
// `*error` 0 and nothing placed.
bool PlatformReplaceFileProduced(const ReplaceSteps& steps, const char* path,
                                 const FileProducer& produce, uint32_t* error = nullptr,
                                 ExpectedFile* expected = nullptr);

// ---- For tests only; the module never calls these -------------------------

// The moments around a replacement's last look at the target.
enum class ReplaceMoment {
  kBeforeLastLook,  // right before it reads the target for the last time
  kAfterLastLook,   // right after that, before the replace step
};
// While set (not null), every replacement that expects a file's contents on
// the calling thread calls `hook(target, moment, context)` at both moments,
// so that a test can write the file there as another program would. Null
// removes it.
void PlatformSetReplaceHookForTesting(void (*hook)(const char* target, ReplaceMoment moment,
                                                   void* context),
                                      void* context);

// While not 0, updates on the calling thread wait this long for their turn
// instead of kSaveTurnWaitMilliseconds, and reads and replacements this long
// for a file held by another program instead of kSharingWaitMilliseconds.
void PlatformSetWaitsForTesting(unsigned turn_milliseconds, unsigned sharing_milliseconds);

// While not 0, updates on the calling thread read a file of at least this
// many bytes in pieces where they would (PlatformUpdatesStream), rather than
// one of at least 256 KiB; 0 gives the usual size back.
void PlatformSetStreamedUpdateMinimumForTesting(uint64_t bytes);

// While not 0, every replacement on the calling thread pauses this long
// before it flushes its new file to stable storage, as a slow disk would:
// its temporary file then exists, written, for that long.
void PlatformSetSyncDelayForTesting(unsigned milliseconds);

#endif  // MP4V_PLATFORM_FILES_H_
