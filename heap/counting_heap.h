// A heap that counts, for the programs that measure what the module costs
// in memory (the memory tests, the benchmark): malloc, calloc, realloc, free
// and the aligned allocators are replaced in the program that links this
// library and forward to the C library's own (glibc's entry points),
// counting every block by its usable size. A library the program loads
// binds to them too when the program exports them. A budget makes memory
// run out on purpose: an allocation that would take the bytes in use past
// it fails as the system's would (null; operator new then throws
// std::bad_alloc). One heap for the whole process; its counters may be read
// from any thread, but a budget or a refusal is meant for a program that
// allocates on one.
#ifndef MP4V_HEAP_COUNTING_HEAP_H_
#define MP4V_HEAP_COUNTING_HEAP_H_

#include <cstddef>
#include <cstdint>

namespace countingheap {

// Bytes allocated and not yet released.
size_t CurrentBytes();
// The highest CurrentBytes() since the last ResetPeak().
size_t PeakBytes();
// Makes the peak the current value.
void ResetPeak();
// Allocations made so far (a realloc that gives a block counts as one).
uint64_t AllocationCount();
// Makes allocations fail that would take CurrentBytes() past `bytes`.
void SetBudget(size_t bytes);
void ClearBudget();
// Allocations refused since the last SetBudget or RefuseOnly.
size_t Refusals();
// Makes exactly one allocation fail: the one that is the `index`-th (from
// 0) counted from this call, whatever its size; SIZE_MAX fails none.
// Refusals() counts it; the budget holds as well.
void RefuseOnly(size_t index);

}  // namespace countingheap

#endif  // MP4V_HEAP_COUNTING_HEAP_H_
