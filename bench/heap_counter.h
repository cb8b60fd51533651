// Heap accounting for the benchmark programs: malloc, calloc, realloc, free
// and the aligned allocators are replaced in the program itself, so every
// allocation in the process (the dynamically loaded module's included) is
// counted by its usable size. Single counters for the whole process.
#ifndef MP4V_BENCH_HEAP_COUNTER_H_
#define MP4V_BENCH_HEAP_COUNTER_H_

#include <cstddef>
#include <cstdint>

// Bytes allocated and not yet released.
size_t HeapCurrentBytes();
// Highest value of HeapCurrentBytes() since the last HeapResetPeak().
size_t HeapPeakBytes();
// Makes the peak the current value.
void HeapResetPeak();
// Number of successful allocations (realloc counts as one) so far.
uint64_t HeapAllocationCount();

#endif  // MP4V_BENCH_HEAP_COUNTER_H_
