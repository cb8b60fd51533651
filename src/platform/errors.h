// Why a call failed, in the platform's own codes: GetLastError values on
// Windows, errno values elsewhere. The load and save requests leave such a
// code as the calling thread's last error when they fail, so that a host
// learns the reason the way its system reports every other one.
//
// A code is taken where the failing step happens and handed back up with its
// result; only the request itself sets it as the last error, as the last
// thing before it returns, so that clean-up after the failing step (deleting
// a temporary file, closing handles) cannot replace it.
#ifndef MP4V_PLATFORM_ERRORS_H_
#define MP4V_PLATFORM_ERRORS_H_

#include <cstdint>

// Failures the module decides itself, where no system call failed.
enum class ModuleFailure {
  kRefusedArgument,  // a null argument, or a file name the requests do not
                     // take: ERROR_INVALID_NAME / EINVAL
  kUnsupportedText,  // a file whose text the module does not read (UTF-16):
                     // ERROR_INVALID_DATA / EILSEQ
  kNoValueText,      // the record holds a value no text holds (an infinite
                     // or NaN frame rate) and no line of the file loads as
                     // it: ERROR_INVALID_DATA / EDOM
  kOutOfMemory,      // ERROR_NOT_ENOUGH_MEMORY / ENOMEM
  kTurnTimedOut,     // another save of the file held its turn past the wait:
                     // ERROR_LOCK_VIOLATION / EWOULDBLOCK, as the system
                     // reports a lock that another holder keeps
  kKeptChanging,     // other programs changed the file under every attempt
                     // of a save, and its text is not in place:
                     // ERROR_BUSY / EBUSY
  kLateWriteReplaced,  // the save's text is in place, but another program
                       // wrote into the file it replaced after the last look
                       // of the last attempt, and that write is not in it:
                       // ERROR_OPERATION_ABORTED / ECANCELED
};

// The platform's code for `failure`.
uint32_t PlatformErrorCode(ModuleFailure failure);

// Makes `code` the calling thread's last error: SetLastError on Windows,
// errno elsewhere.
void PlatformSetLastError(uint32_t code);

#endif  // MP4V_PLATFORM_ERRORS_H_
