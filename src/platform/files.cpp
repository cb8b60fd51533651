// The parts of file access that are the same on every platform: updates in
// turns, temporary names, and putting a finished temporary file in place.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "platform/files.h"
#include "platform/replacement.h"
#include "platform/save_turn.h"

FileReadStatus PlatformReadWholeFile(const char* path, std::string* out,
                                     uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  out->clear();
  PlatformFileReader reader;
  const FileReadStatus opened = reader.Open(path, error);
  if (opened != FileReadStatus::kRead) return opened;
  return reader.ReadRest(out, error);
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

bool IsTemporaryName(const char* name) {
  if (std::strlen(name) != kTemporaryNameLength || std::strncmp(name, "~mp4v", 5) != 0 ||
      std::strcmp(name + 17, ".tmp") != 0) {
    return false;
  }
  for (int i = 5; i < 17; ++i) {
    if (std::strchr("0123456789abcdef", name[i]) == nullptr) return false;
  }
  return true;
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

// True when the file at `path` holds exactly the bytes of `text`.
bool Holds(const std::string& path, const ExpectedText& text) {
  std::string now;
  intptr_t kept = -1;
  const FileComparison comparison = PlatformCompareFile(path.c_str(), text, &now, &kept, nullptr);
  if (kept != -1) PlatformCloseKept(kept);
  return comparison == FileComparison::kSame;
}

// What a test set for the calling thread: its hook
// (PlatformSetReplaceHookForTesting) and its waits (PlatformSetWaitsForTesting).
thread_local void (*replace_hook)(const char*, ReplaceMoment, void*) = nullptr;
thread_local void* replace_hook_context = nullptr;
thread_local unsigned test_turn_wait = 0;
thread_local unsigned test_sharing_wait = 0;

void AtMoment(const std::string& target, ReplaceMoment moment) {
  if (replace_hook != nullptr) replace_hook(target.c_str(), moment, replace_hook_context);
}

enum class Look { kAsExpected, kChanged, kUnreadable };

// Whether the file a swapping replace step displaced, now under the name
// `displaced`, is the one the last look read; when not, what it holds goes
// to `*other`. Whether it still holds what was read is for NoticeLateWrite
// to find, once, after the folder is written: a write into it before the
// swap and one after it are built on alike.
bool DisplacedAsLooked(const std::string& displaced, ExpectedFile* expected,
                       std::string* other) {
  if (expected->kept != -1 && PlatformKeptIsFile(expected->kept, displaced)) return true;
  // Another program put a file of its own in the target's place.
  PlatformReadWholeFile(displaced.c_str(), other);
  const ExpectedText text = ExpectedText::Of(*expected);
  return expected->exists && other->size() == text.size() &&
         text.Matches(0, other->data(), other->size());
}

// Reads `target` once more and compares it with what the save read.
Look LookAgain(const std::string& target, ExpectedFile* expected, bool empty_is_missing,
               uint32_t* error) {
  AtMoment(target, ReplaceMoment::kBeforeLastLook);
  ForgetKept(expected);
  std::string now;
  const ExpectedText text = ExpectedText::Of(*expected);
  const FileComparison comparison =
      PlatformCompareFile(target.c_str(), text, &now, &expected->kept, error);
  if (comparison == FileComparison::kUnreadable) return Look::kUnreadable;
  const bool same = comparison == FileComparison::kSame;
  const bool exists = comparison != FileComparison::kMissing &&
                      !(empty_is_missing && (same ? text.size() == 0 : now.empty()));
  if (exists == expected->exists && (same || !exists)) return Look::kAsExpected;
  ForgetKept(expected);
  if (same && expected->spliced && !text.Whole(&now)) {
    if (error != nullptr) *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return Look::kUnreadable;
  }
  if (!same || expected->spliced) expected->bytes = std::move(now);
  expected->spliced = false;
  expected->exists = exists;
  expected->changed = true;
  return Look::kChanged;
}

}  // namespace

void ForgetKept(ExpectedFile* expected) {
  if (expected == nullptr || expected->kept == -1) return;
  PlatformCloseKept(expected->kept);
  expected->kept = -1;
}

void NoticeLateWrite(ExpectedFile* expected) {
  if (expected == nullptr || expected->kept == -1) return;
  std::string now;
  const FileComparison comparison =
      PlatformCompareKept(expected->kept, ExpectedText::Of(*expected), &now);
  ForgetKept(expected);
  if (comparison == FileComparison::kOther) {
    expected->late = true;
    expected->late_bytes = std::move(now);
  }
}

unsigned SaveTurnWait() {
  return test_turn_wait != 0 ? test_turn_wait : kSaveTurnWaitMilliseconds;
}

unsigned SharingWait() {
  return test_sharing_wait != 0 ? test_sharing_wait : kSharingWaitMilliseconds;
}

void PlatformSetReplaceHookForTesting(void (*hook)(const char*, ReplaceMoment, void*),
                                      void* context) {
  replace_hook = hook;
  replace_hook_context = context;
}

void PlatformSetWaitsForTesting(unsigned turn_milliseconds, unsigned sharing_milliseconds) {
  test_turn_wait = turn_milliseconds;
  test_sharing_wait = sharing_milliseconds;
}

bool RetryWhileHeld(unsigned sharing_wait, const std::function<bool()>& attempt,
                    const std::function<bool()>& retry) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(sharing_wait);
  // Short pauses: readers that open and close the file again and again
  // leave it free only for moments, and a longer pause would miss them.
  for (unsigned tries = 1;; ++tries) {
    if (attempt()) return true;
    if (!retry() || Clock::now() >= deadline) return false;
    if (tries < 8) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

size_t FileText::Pieces(const std::string& before, TextPiece pieces[3]) const {
  size_t count = 0;
  if (head > 0) pieces[count++] = {before.data(), head};
  if (!empty()) pieces[count++] = {data(), size()};
  if (tail != npos && tail < before.size()) {
    pieces[count++] = {before.data() + tail, before.size() - tail};
  }
  return count;
}

std::string FileText::Whole(const std::string& before) const {
  TextPiece pieces[3];
  const size_t count = Pieces(before, pieces);
  std::string whole;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].size;
  whole.reserve(total);
  for (size_t i = 0; i < count; ++i) whole.append(pieces[i].data, pieces[i].size);
  return whole;
}

bool PlatformReplaceFilePieces(const ReplaceSteps& steps, const char* path,
                               const TextPiece* pieces, size_t count, uint32_t* error,
                               ExpectedFile* expected) {
  return PlatformReplaceFileProduced(
      steps, path,
      [pieces, count](const FileWrite& write) {
        for (size_t i = 0; i < count; ++i) {
          if (!write(pieces[i].data, pieces[i].size)) return FileProduced::kWriteFailed;
        }
        return FileProduced::kWritten;
      },
      error, expected);
}

bool PlatformReplaceFileWith(const ReplaceSteps& steps, const char* path, const char* data,
                             size_t size, uint32_t* error, ExpectedFile* expected) {
  const TextPiece piece = {data, size};
  return PlatformReplaceFilePieces(steps, path, &piece, 1, error, expected);
}

ExpectedText::ExpectedText(const std::string& bytes) { Add(bytes.data(), 0, bytes.size()); }

ExpectedText::ExpectedText(intptr_t file, uint64_t size) : file_(file) {
  Add(nullptr, 0, size);
}

ExpectedText ExpectedText::Of(const ExpectedFile& expected) {
  if (!expected.spliced) return ExpectedText(expected.bytes);
  ExpectedText text(expected.written, 0);
  const uint64_t at = expected.splice_at;
  const uint64_t after = at + expected.splice_size;
  text.Add(nullptr, 0, at);
  text.Add(expected.bytes.data(), 0, expected.bytes.size());
  text.Add(nullptr, after, expected.written_size > after ? expected.written_size - after : 0);
  return text;
}

void ExpectedText::Add(const char* data, uint64_t offset, uint64_t size) {
  if (size == 0) return;
  stretches_[count_++] = {data, offset, size};
  size_ += size;
}

bool ExpectedText::Matches(uint64_t at, const char* data, size_t size) const {
  if (size > size_ || at > size_ - size) return false;
  uint64_t start = 0;  // where the stretch begins in the text
  for (size_t i = 0; i < count_ && size > 0; ++i) {
    const Stretch& stretch = stretches_[i];
    if (at >= start + stretch.size) {
      start += stretch.size;
      continue;
    }
    const uint64_t in = at - start;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(size, stretch.size - in));
    if (stretch.data != nullptr) {
      if (std::memcmp(stretch.data + in, data, take) != 0) return false;
    } else {
      // Through a buffer on the stack, which is there already, as large as
      // the pieces the comparisons read.
      char piece[16384];
      for (size_t done = 0; done < take;) {
        const size_t n = std::min(take - done, sizeof piece);
        if (!PlatformReadAt(file_, stretch.offset + in + done, piece, n) ||
            std::memcmp(piece, data + done, n) != 0) {
          return false;
        }
        done += n;
      }
    }
    data += take;
    size -= take;
    at += take;
    start += stretch.size;
  }
  return size == 0;
}

bool ExpectedText::Whole(std::string* out) const {
  out->assign(static_cast<size_t>(size_), '\0');
  size_t at = 0;
  for (size_t i = 0; i < count_; ++i) {
    const Stretch& stretch = stretches_[i];
    const size_t size = static_cast<size_t>(stretch.size);
    if (stretch.data != nullptr) {
      std::memcpy(&(*out)[at], stretch.data, size);
    } else if (!PlatformReadAt(file_, stretch.offset, &(*out)[at], size)) {
      out->clear();
      return false;
    }
    at += size;
  }
  return true;
}

bool FinishReplacement(const ReplaceSteps& steps, TemporaryNames* names,
                       const std::string& target, bool written,
                       bool target_exists, const ExpectedText& placed_text,
                       uint32_t* error, ExpectedFile* expected, bool empty_is_missing) {
  const std::string temporary = names->Path();
  // The codes of the steps that only clean up or recover are not the reason.
  uint32_t cleanup = 0;
  if (!written) {
    steps.remove(temporary.c_str(), &cleanup);
    return false;
  }
  // Whether the target still holds what the save read; when not, the new
  // file goes (the caller decides again), and so does a parked old file.
  bool unreadable = false;
  auto still_expected = [&](const std::string& backup) {
    if (expected == nullptr) return true;
    const Look look = LookAgain(target, expected, empty_is_missing, error);
    if (look == Look::kAsExpected) {
      AtMoment(target, ReplaceMoment::kAfterLastLook);
      return true;
    }
    unreadable = look == Look::kUnreadable;
    if (!unreadable && error != nullptr) *error = 0;
    steps.remove(temporary.c_str(), &cleanup);
    if (!backup.empty() && PlatformPathExists(backup)) steps.remove(backup.c_str(), &cleanup);
    return false;
  };
  uint32_t failed = 0;
  const std::string backup = steps.uses_backup ? UnusedName(names) : std::string();
  auto backup_exists = [&] { return !backup.empty() && PlatformPathExists(backup); };
  bool placed = false;
  bool gave_up = false;
  // One step, tried again while another program holds the target and the
  // step moved nothing; the target is looked at again before every try.
  RetryWhileHeld(
      SharingWait(),
      [&] {
        if (!still_expected(std::string())) {
          gave_up = true;
          return false;
        }
        failed = 0;
        placed = target_exists
                     ? steps.replace(target.c_str(), temporary.c_str(), backup.c_str(), &failed)
                     : steps.move(temporary.c_str(), target.c_str(), &failed);
        return placed;
      },
      [&] {
        return !gave_up && PlatformIsSharingConflict(failed) &&
               PlatformPathExists(temporary) && !backup_exists() &&
               PlatformPathExists(target) == target_exists;
      });
  if (gave_up) return false;
  if (!placed) ForgetKept(expected);
  if (placed) {
    std::string other;
    // Whether the step swapped (the file it displaced is under the temporary
    // name), and whether that file is the one the last look kept open.
    bool as_looked = false;
    bool displaced = false;
    if (target_exists) {
      as_looked = expected != nullptr && expected->kept != -1 &&
                  PlatformKeptIsFile(expected->kept, temporary);
      displaced = as_looked || PlatformPathExists(temporary);
    }
    if (displaced && expected != nullptr && !as_looked &&
        !DisplacedAsLooked(temporary, expected, &other)) {
      // The step swapped the files, and the one it displaced is not the one
      // the last look saw: another program put its own in the target's
      // place in between. The two swap back at once, so that no reader
      // meets this save's text without that program's file, and the save
      // decides again from it.
      const FileId ours = PlatformFileIdOf(target);
      uint32_t ignored = 0;
      ForgetKept(expected);
      if (steps.replace(target.c_str(), temporary.c_str(), backup.c_str(), &ignored)) {
        if (!(PlatformFileIdOf(temporary) == ours)) {
          // Yet another writer's file was in the target's place by then:
          // it goes back there, and the save builds on what the target holds.
          steps.replace(target.c_str(), temporary.c_str(), backup.c_str(), &ignored);
          PlatformReadWholeFile(target.c_str(), &other);
        }
        steps.remove(temporary.c_str(), &cleanup);
        expected->bytes = std::move(other);
        expected->spliced = false;
        expected->exists = true;
        expected->changed = true;
        if (error != nullptr) *error = 0;
        return false;
      }
      // No swap back: this save's file stays, and the save builds on the
      // other program's at once.
      expected->late = true;
      expected->late_bytes = std::move(other);
    }
    // The file the step displaced goes.
    if (displaced) steps.remove(temporary.c_str(), &cleanup);
    if (target_exists && backup_exists()) steps.remove(backup.c_str(), &cleanup);
    return true;
  }
  if (error != nullptr) *error = failed;
  // The step failed. The old file may still be in place, under the backup
  // name, or gone; the new one still under its temporary name, or already in
  // place.
  const bool backup_there = backup_exists();
  if (PlatformPathExists(target)) {
    bool replaced;
    if (!PlatformPathExists(temporary)) {
      replaced = Holds(target, placed_text);
    } else {
      // The old file is still in place: a plain replacing move is one step
      // too, though it does not carry every attribute of the old file over.
      if (!still_expected(backup_there ? backup : std::string())) return false;
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

bool PlatformUpdateFile(const char* path, const FileDecider& decide, uint32_t* error) {
  return PlatformUpdateFileStreamed(path, nullptr, decide, error);
}

namespace {

// The smallest file an update reads in pieces: below it, held whole.
constexpr uint64_t kStreamedUpdateMinimum = 256 * 1024;
// What a test set instead (PlatformSetStreamedUpdateMinimumForTesting), or 0.
thread_local uint64_t test_streamed_minimum = 0;

// What became of an update's first attempt made while reading.
enum class Streamed {
  kPlaced,     // the new file is in place (ExpectedFile::late says whether as read)
  kWholeFile,  // nothing placed: the attempt is made from the file read whole
  kRead,       // nothing placed: the file was read whole into `expected`
  kChanged,    // nothing placed: the file changed, `expected` holds it now
  kFailed,     // nothing placed: `*error` says why
};

Streamed StreamAttempt(const char* path, const FileStreamDecider& stream,
                       ExpectedFile* expected, uint32_t* error) {
  // Closed once the producer is done: on Windows, a file open here would
  // make the replace step wait for it.
  std::unique_ptr<PlatformFileReader> reader(new PlatformFileReader);
  switch (reader->Open(path, error)) {
    case FileReadStatus::kRead:
      break;
    case FileReadStatus::kMissing:
      return Streamed::kWholeFile;
    case FileReadStatus::kUnreadable:
    case FileReadStatus::kOutOfMemory:
      return Streamed::kFailed;
  }
  // A file of a few pieces costs no more held whole, and the comparisons
  // of a save that held it read it once less: it is read whole here, once.
  uint64_t size = 0;
  const uint64_t minimum =
      test_streamed_minimum != 0 ? test_streamed_minimum : kStreamedUpdateMinimum;
  if (!reader->Size(&size) || size < minimum) {
    switch (reader->ReadRest(&expected->bytes, error)) {
      case FileReadStatus::kRead:
        expected->exists = true;
        return Streamed::kRead;
      case FileReadStatus::kMissing:
      case FileReadStatus::kUnreadable:
      case FileReadStatus::kOutOfMemory:
        return Streamed::kFailed;
    }
  }
  bool whole = false;
  bool stopped = false;
  uint32_t read_error = 0;
  const auto read = [&](char* into, size_t room, size_t* got) {
    return reader->Read(into, room, got, &read_error);
  };
  FileSplice splice;
  uint32_t why = 0;
  const bool placed = PlatformReplaceFileProduced(
      PlatformReplaceSteps(), path,
      [&](const FileWrite& write) {
        const StreamDecision decision = stream(read, write, &splice, &why);
        reader.reset();
        switch (decision) {
          case StreamDecision::kWritten:
            break;
          case StreamDecision::kWholeFile:
            whole = true;
            return FileProduced::kAbandoned;
          case StreamDecision::kWriteFailed:
            return FileProduced::kWriteFailed;
          case StreamDecision::kStop:
            stopped = true;
            return FileProduced::kAbandoned;
        }
        // What the file holds, as far as the replacement is to know: what
        // was written, but the held stretch for the new one.
        expected->bytes = std::move(splice.held);
        expected->spliced = true;
        expected->splice_at = splice.at;
        expected->splice_size = splice.size;
        expected->exists = true;
        return FileProduced::kWritten;
      },
      error, expected);
  if (placed) return Streamed::kPlaced;
  if (stopped) {
    *error = why != 0 ? why : read_error;
    return Streamed::kFailed;
  }
  if (whole) return Streamed::kWholeFile;
  if (expected->changed) return Streamed::kChanged;
  if (*error == 0 && read_error != 0) *error = read_error;
  return Streamed::kFailed;
}

}  // namespace

void PlatformSetStreamedUpdateMinimumForTesting(uint64_t bytes) {
  test_streamed_minimum = bytes;
}

bool PlatformUpdateFileStreamed(const char* path, const FileStreamDecider* stream,
                                const FileDecider& decide, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (path == nullptr || path[0] == '\0') {
    *error = PlatformErrorCode(ModuleFailure::kRefusedArgument);
    return false;
  }
  try {
    SaveTurn turn;
    if (!turn.Take(path, SaveTurnWait(), error)) return false;
    // What the target holds, as far as this update knows, and the bytes the
    // next decision builds on: the same, but after a late write.
    ExpectedFile file;
    file.target = turn.target();
    RemoveAbandonedTemporaries(path, file.target);
    // After a late write, the bytes of the file it went into.
    std::string late;
    bool from_late = false;
    unsigned attempt = 0;
    bool read_whole = true;
    // The empty file the turn made where there was none is no file to the
    // decision, until another program writes into it.
    bool placeholder = false;
    if (stream != nullptr && PlatformUpdatesStream() && !turn.created()) {
      switch (StreamAttempt(path, *stream, &file, error)) {
        case Streamed::kPlaced: {
          ForgetKept(&file);
          std::string written;
          // The text written, whole, before the bytes it names are replaced.
          bool late_write = file.late;
          if (late_write && !ExpectedText(file.lock, file.written_size).Whole(&written)) {
            late_write = false;  // unread, as a write after the replacement
          }
          turn.Adopt(file.lock);
          file.lock = -1;
          if (!late_write) return true;
          late = std::move(file.late_bytes);
          from_late = true;
          file.bytes = std::move(written);
          file.spliced = false;
          file.exists = true;
          attempt = 1;
          read_whole = false;
          break;
        }
        case Streamed::kWholeFile:
          break;
        case Streamed::kRead:
          read_whole = false;
          break;
        case Streamed::kChanged:
          if (!turn.Follow(SaveTurnWait(), error)) return false;
          file.target = turn.target();
          if (turn.created() && !file.exists) {
            file.exists = placeholder = true;
            file.bytes.clear();
          }
          attempt = 1;
          read_whole = false;
          break;
        case Streamed::kFailed:
          return false;
      }
    }
    if (read_whole) {
      switch (PlatformReadWholeFile(path, &file.bytes, error)) {
        case FileReadStatus::kRead:
          file.exists = true;
          break;
        case FileReadStatus::kMissing:
          break;
        case FileReadStatus::kUnreadable:
        case FileReadStatus::kOutOfMemory:
          // Writing now would replace a file whose contents were never read.
          return false;
      }
      placeholder = turn.created() && file.exists && file.bytes.empty();
    }
    for (; attempt < kUpdateAttempts; ++attempt) {
      FileText after;
      uint32_t why = 0;
      const bool exists = from_late || (file.exists && !(placeholder && file.bytes.empty()));
      const std::string& base = from_late ? late : file.bytes;
      if (decide(base, exists, &after, &why) == FileDecision::kStop) {
        *error = why;
        return why == 0;
      }
      file.changed = file.late = false;
      TextPiece pieces[3];
      const size_t count = after.Pieces(base, pieces);
      const bool placed =
          PlatformReplaceFilePieces(PlatformReplaceSteps(), path, pieces, count, error, &file);
      ForgetKept(&file);
      if (placed) {
        turn.Adopt(file.lock);
        file.lock = -1;
        placeholder = false;
      }
      if (placed && !file.late) return true;
      if (placed && attempt + 1 == kUpdateAttempts) {
        // No attempt is left to build on that write: the caller learns that
        // the text is in place and what it replaced.
        *error = PlatformErrorCode(ModuleFailure::kLateWriteReplaced);
        return false;
      }
      if (placed) {
        // Another program wrote into the file this update replaced, after
        // its last look: its write goes into a new decision, which replaces
        // what this update has just put in place.
        // The text written, whole, before the bytes it names are replaced.
        std::string written = after.Whole(base);
        late = std::move(file.late_bytes);
        from_late = true;
        file.bytes = std::move(written);
        file.exists = true;
        continue;
      }
      if (!file.changed) return false;
      // Another program's file may be under the name now: the turn follows
      // it, so that the file the next replacement displaces is the one held.
      if (!turn.Follow(SaveTurnWait(), error)) return false;
      file.target = turn.target();
      if (turn.created() && !file.exists) {
        // The file was deleted, and the turn made an empty one in its place.
        file.exists = placeholder = true;
        file.bytes.clear();
      }
      from_late = false;
    }
    *error = PlatformErrorCode(ModuleFailure::kKeptChanging);
    return false;
  } catch (const std::bad_alloc&) {
    *error = PlatformErrorCode(ModuleFailure::kOutOfMemory);
    return false;
  }
}
