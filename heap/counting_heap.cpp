#include "counting_heap.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

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
std::atomic<size_t> g_budget{SIZE_MAX};
std::atomic<size_t> g_refusals{0};
std::atomic<uint64_t> g_allocations{0};
// Allocations asked for since the last RefuseOnly, and the one it refuses.
std::atomic<size_t> g_requests{0};
std::atomic<size_t> g_refuse_at{SIZE_MAX};

// Whether `size` more bytes stay within the budget (the usable size a block
// gets is a little more; the budget is a bound on what is asked for).
bool Allowed(size_t size) {
  if (g_requests.fetch_add(1, std::memory_order_relaxed) ==
      g_refuse_at.load(std::memory_order_relaxed)) {
    g_refusals.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  if (g_current.load(std::memory_order_relaxed) + size <= g_budget.load(std::memory_order_relaxed)) {
    return true;
  }
  g_refusals.fetch_add(1, std::memory_order_relaxed);
  return false;
}

void* Counted(void* block) {
  if (block != nullptr) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const size_t now =
        g_current.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) +
        malloc_usable_size(block);
    size_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
  }
  return block;
}

void Released(void* block) {
  g_current.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
}

}  // namespace

namespace countingheap {

size_t CurrentBytes() { return g_current.load(std::memory_order_relaxed); }
size_t PeakBytes() { return g_peak.load(std::memory_order_relaxed); }
void ResetPeak() { g_peak.store(CurrentBytes(), std::memory_order_relaxed); }
uint64_t AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
void SetBudget(size_t bytes) {
  g_refusals.store(0, std::memory_order_relaxed);
  g_budget.store(bytes, std::memory_order_relaxed);
}
void ClearBudget() { g_budget.store(SIZE_MAX, std::memory_order_relaxed); }
size_t Refusals() { return g_refusals.load(std::memory_order_relaxed); }
void RefuseOnly(size_t index) {
  g_refusals.store(0, std::memory_order_relaxed);
  g_refuse_at.store(SIZE_MAX, std::memory_order_relaxed);
  g_requests.store(0, std::memory_order_relaxed);
  g_refuse_at.store(index, std::memory_order_relaxed);
}

}  // namespace countingheap

extern "C" {

void* malloc(size_t size) { return Allowed(size) ? Counted(__libc_malloc(size)) : nullptr; }

void* calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  return Allowed(count * size) ? Counted(__libc_calloc(count, size)) : nullptr;
}

void free(void* block) {
  if (block == nullptr) return;
  Released(block);
  __libc_free(block);
}

void* realloc(void* block, size_t size) {
  if (block == nullptr) return malloc(size);
  const size_t old_size = malloc_usable_size(block);
  if (size > old_size && !Allowed(size - old_size)) return nullptr;
  void* moved = __libc_realloc(block, size);
  if (moved != nullptr) {
    g_current.fetch_sub(old_size, std::memory_order_relaxed);
    Counted(moved);
  } else if (size == 0) {
    g_current.fetch_sub(old_size, std::memory_order_relaxed);
  }
  return moved;
}

void* memalign(size_t alignment, size_t size) {
  return Allowed(size) ? Counted(__libc_memalign(alignment, size)) : nullptr;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

void* valloc(size_t size) { return memalign(4096, size); }

}  // extern "C"
