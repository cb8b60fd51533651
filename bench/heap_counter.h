// Heap accounting for the benchmark programs: the counting heap
// (heap/counting_heap.h), linked into the program itself, so every
// allocation in the process (the dynamically loaded module's included) is
// counted by its usable size. Single counters for the whole process.
#ifndef MP4V_BENCH_HEAP_COUNTER_H_
#define MP4V_BENCH_HEAP_COUNTER_H_

#include <cstddef>
#include <cstdint>

#include "counting_heap.h"

// Bytes allocated and not yet released.
inline size_t HeapCurrentBytes() { return countingheap::CurrentBytes(); }
// Highest value of HeapCurrentBytes() since the last HeapResetPeak().
inline size_t HeapPeakBytes() { return countingheap::PeakBytes(); }
// Makes the peak the current value.
inline void HeapResetPeak() { countingheap::ResetPeak(); }
// Number of successful allocations (realloc counts as one) so far.
inline uint64_t HeapAllocationCount() { return countingheap::AllocationCount(); }

#endif  // MP4V_BENCH_HEAP_COUNTER_H_
