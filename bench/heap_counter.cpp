// Replacement allocator entry points that forward to glibc's own and keep
// count. They must be visible in the program's dynamic symbol table (see
// bench/CMakeLists.txt) so that a library loaded later binds to them too.
#include "heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<size_t> g_current{0};
std::atomic<size_t> g_peak{0};
std::atomic<uint64_t> g_allocations{0};

void Grow(size_t bytes) {
  const size_t now = g_current.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  size_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak &&
         !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Shrink(size_t bytes) {
  g_current.fetch_sub(bytes, std::memory_order_relaxed);
}

void* Counted(void* block) {
  if (block != nullptr) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    Grow(malloc_usable_size(block));
  }
  return block;
}

}  // namespace

size_t HeapCurrentBytes() { return g_current.load(std::memory_order_relaxed); }
size_t HeapPeakBytes() { return g_peak.load(std::memory_order_relaxed); }
void HeapResetPeak() { g_peak.store(HeapCurrentBytes(), std::memory_order_relaxed); }
uint64_t HeapAllocationCount() {
  return g_allocations.load(std::memory_order_relaxed);
}

extern "C" {

void* malloc(size_t size) { return Counted(__libc_malloc(size)); }

void* calloc(size_t count, size_t size) {
  return Counted(__libc_calloc(count, size));
}

void free(void* block) {
  if (block == nullptr) return;
  Shrink(malloc_usable_size(block));
  __libc_free(block);
}

void* realloc(void* block, size_t size) {
  if (block == nullptr) return malloc(size);
  const size_t old_size = malloc_usable_size(block);
  void* moved = __libc_realloc(block, size);
  if (moved != nullptr) {
    Shrink(old_size);
    Counted(moved);
  } else if (size == 0) {
    Shrink(old_size);  // realloc(p, 0) released the block
  }
  return moved;
}

void* memalign(size_t alignment, size_t size) {
  return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
  return Counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
    return EINVAL;
  }
  void* block = Counted(__libc_memalign(alignment, size));
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

void* valloc(size_t size) { return Counted(__libc_memalign(4096, size)); }

}  // extern "C"
