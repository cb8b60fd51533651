// A save's turn on a file: an operating-system lock that every update of a
// file by this module (PlatformUpdateFile) holds from its read to its
// replacement, so that two saves of one file, in any process or thread, never
// build on the same old text. One source file per platform implements it
// (posix.cpp or windows.cpp).
//
// The lock belongs to the system, not to a file of ours: it leaves nothing
// behind in any folder, and dies with the process that holds it, so a save
// that crashes never blocks the next one.
//   - POSIX: flock() on the folder that holds the target (links followed),
//     opened read-only. The folder stays in place while the file in it is
//     replaced, and it exists whether or not the file does, so a save that
//     finds no file waits as well. Saves of different files in one folder
//     therefore take turns too. A lock on the file itself would have to be
//     checked against the name after every wait, since each save puts a new
//     file under the name, and there is nothing to lock while there is no
//     file.
//   - Windows: a named mutex ("Global\", or "Local\" where the process may
//     not create global names), named for the target's full final path in
//     capitals (the file's own, links followed, or its folder's and its
//     name while there is no file). A mutex held by a process that ended is
//     abandoned, and the next waiter takes it.
// Where the lock cannot be had at all (a folder this process may not open,
// a file system without flock, no name), the save goes ahead without it:
// its check of the file's contents before the replacement still keeps what
// others wrote.
//
// Other programs do not take this lock; the check of the contents is what
// keeps their writes.
#ifndef MP4V_PLATFORM_SAVE_TURN_H_
#define MP4V_PLATFORM_SAVE_TURN_H_

#include <cstdint>

class SaveTurn {
 public:
  SaveTurn() = default;
  ~SaveTurn() { Release(); }
  SaveTurn(const SaveTurn&) = delete;
  SaveTurn& operator=(const SaveTurn&) = delete;

  // Waits up to `wait_milliseconds` for the turn on the file `path`. True
  // when this object holds the turn, or when no lock could be had (see
  // above; held() then says false). False when another holder kept it
  // past the wait: `*error` then holds ModuleFailure::kTurnTimedOut's code.
  // Release on the thread that took it (a Windows mutex belongs to its
  // thread).
  bool Take(const char* path, unsigned wait_milliseconds, uint32_t* error);

  // Gives the turn back; nothing when none is held.
  void Release();

  bool held() const { return handle_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // the folder's descriptor, or the mutex's handle
};

#endif  // MP4V_PLATFORM_SAVE_TURN_H_
