// A save's turn on a file: an operating-system lock that every update of a
// file by this module (PlatformUpdateFile) holds from its read to its
// replacement, so that two saves of one file, in any process or thread, never
// build on the same old text. One source file per platform implements it
// (posix.cpp or windows.cpp).
//
// The turn is per file: saves of other files, in the same folder or not,
// never wait for it. It belongs to the system, so it dies with the process
// that holds it and a save that crashes never blocks the next one.
//
//   - POSIX: a write lock on the whole target file (links followed), taken
//     as an open-file-description lock (fcntl F_OFD_SETLK) on a descriptor
//     opened for reading and writing. So only a process that may write the
//     file can hold it, a folder that may be written but not read (mode
//     0300) needs no reading, and the lock conflicts with the classic record
//     locks (F_SETLK) of other programs: what a peer does to take part is in
//     the README ("What other programs must do"). A save puts a new file
//     under the name, so after every wait the turn checks that the name
//     still leads to the file it locked, and otherwise waits on the new one;
//     each replacement locks its new file before it takes the target's place
//     and hands that lock to the turn, so a newcomer that opens the new file
//     waits until the save is over. Where there is no file yet, the turn
//     creates an empty one exclusively and locks it (a reader meanwhile
//     finds an empty file, which loads as a missing one); the update treats
//     it as no file, and when it writes nothing the empty file goes again.
//     Where no file can be created (no folder, a folder that may not be
//     written), no turn is taken: the replacement fails for that reason and
//     writes nothing. A file system without such locks falls back to flock()
//     on the same file; where neither works, the turn fails with the
//     system's code. The lock is given back explicitly before the descriptor
//     is closed, so a child forked meanwhile (without exec) that still holds
//     a copy of the descriptor does not keep it. A holder that dies while a
//     forked child lives on leaves the lock to that child until it exits or
//     closes the descriptor: the system has no way to refuse it a copy.
//   - Windows: a named mutex in the "Global\" namespace, created with a
//     security descriptor that lets every account wait on and release it,
//     so an elevated program, a service and a desktop program exclude each
//     other. Its name is "Global\demo_config_mp4v.save." followed by 16
//     lower-case hex digits of the 64-bit FNV-1a hash of the target's final
//     path in capitals, as UTF-16 code units (the file's own, links
//     followed, or its folder's and its name while there is no file). Where
//     that mutex can be neither created nor opened, the turn fails with the
//     system's code; it never falls back to a namespace other processes do
//     not see; a name of which the system makes no full path (one the code
//     page cannot hold, or too long) fails with ERROR_INVALID_NAME, as the
//     system refuses it. A mutex held by a process that ended is abandoned, and the
//     next waiter takes it.
//
// Waiters are served in about the order they came: on POSIX every waiter
// asks again at the same short interval, so none is favoured.
#ifndef MP4V_PLATFORM_SAVE_TURN_H_
#define MP4V_PLATFORM_SAVE_TURN_H_

#include <cstdint>
#include <string>

class SaveTurn {
 public:
  SaveTurn() = default;
  ~SaveTurn() { Release(); }
  SaveTurn(const SaveTurn&) = delete;
  SaveTurn& operator=(const SaveTurn&) = delete;

  // Waits up to `wait_milliseconds` for the turn on the file `path`. True
  // when this object holds the turn, or when no turn is needed because no
  // file can come to be under that name (POSIX, see above; held() then says
  // false). False when another holder kept it past the wait (`*error` then
  // holds ModuleFailure::kTurnTimedOut's code), or when the lock cannot be
  // had at all (`*error` holds the system's code). Release on the thread
  // that took it (a Windows mutex belongs to its thread).
  bool Take(const char* path, unsigned wait_milliseconds, uint32_t* error);

  // Gives the turn back; nothing when none is held. An empty file the turn
  // created that is still empty and still under the name is deleted first.
  void Release();

  // POSIX: the turn moves to the file a replacement put in place, whose
  // descriptor `lock` holds a lock of its own (ExpectedFile::lock); the
  // lock on the file it displaced is given back. Elsewhere nothing.
  void Adopt(intptr_t lock);

  // POSIX: when another program put a file of its own under the name since
  // the turn was taken, the turn moves to that file, waiting for it as Take
  // does (same results); the lock on the file it held is given back only
  // once the new one is held. Elsewhere, and while the name still leads to
  // the file held, true at once.
  bool Follow(unsigned wait_milliseconds, uint32_t* error);

  bool held() const { return handle_ != kNone; }
  // The file the name led to when the turn was taken, links resolved, as a
  // replacement names it; empty when this turn does not know it (no turn
  // was needed, or, on Windows, no file was there yet). The update hands it
  // to its replacement, which then need not resolve the name again.
  const std::string& target() const { return path_; }
  // Whether the turn created the (empty) file it locked: the update treats
  // it as no file.
  bool created() const { return created_; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // the file's descriptor, or the mutex's handle
  bool created_ = false;
  std::string path_;  // the file the name led to (links resolved)
};

#endif  // MP4V_PLATFORM_SAVE_TURN_H_
