// Asking the system for the pages of a large block at once.
#ifndef MP4V_PLATFORM_POPULATE_H_
#define MP4V_PLATFORM_POPULATE_H_

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Makes the whole pages inside the `size` bytes at `data`, which the caller
// is about to write all of, present at once, rather than one fault per page
// as they are first written: a file of megabytes is read into, and its
// nodes are laid out in, memory the system gives back at every release, and
// a fault per page is most of such a request's time where faults are dear
// (a virtual machine's). Only a hint: nothing changes where the system has
// no such call, and blocks smaller than kPopulateMinimum are left alone.
constexpr size_t kPopulateMinimum = 64 * 1024;

inline void PlatformPopulate(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (size < kPopulateMinimum) return;
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

#endif  // MP4V_PLATFORM_POPULATE_H_
