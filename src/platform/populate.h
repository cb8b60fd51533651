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
// (a virtual machine's). The whole 2 MiB spans inside the block are first
// offered large pages: where each page's first touch costs microseconds of
// the machine's own bookkeeping, a megabytes-large file read into 4 KiB
// pages costs ten times what the read itself does, and one large page costs
// what one small page does. Only spans entirely inside the block are
// marked, so no memory beyond the caller's own is ever made resident. Only
// hints: nothing changes where the system has no such call (or large pages
// are switched off), and blocks smaller than kPopulateMinimum are left
// alone.
constexpr size_t kPopulateMinimum = 64 * 1024;

inline void PlatformPopulate(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (size < kPopulateMinimum) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kLargePage = 2 * 1024 * 1024;
  const uintptr_t large_begin = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t large_end = (start + size) & ~(kLargePage - 1);
  if (large_end > large_begin) {
    madvise(reinterpret_cast<void*>(large_begin), large_end - large_begin, MADV_HUGEPAGE);
  }
#endif
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = (start + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (start + size) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

#endif  // MP4V_PLATFORM_POPULATE_H_
