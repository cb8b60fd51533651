// The heap of the memory tests' program: malloc, calloc, realloc, free and
// the aligned allocators are replaced there and forward to the C library's
// own, counting every block by its usable size. A budget makes memory run
// out on purpose: an allocation that would take the bytes in use past it
// fails as the system's would (null; operator new then throws
// std::bad_alloc). One heap for the whole process; the tests that use it run
// on one thread.
#ifndef MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_
#define MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_

#include <cstddef>

namespace testheap {

// Bytes allocated and not yet released.
size_t CurrentBytes();
// The highest CurrentBytes() since the last ResetPeak().
size_t PeakBytes();
void ResetPeak();
// Makes allocations fail that would take CurrentBytes() past `bytes`.
void SetBudget(size_t bytes);
void ClearBudget();
// Allocations refused since the last SetBudget.
size_t Refusals();
// Makes exactly one allocation fail: the one that is the `index`-th (from
// 0) counted from this call, whatever its size; SIZE_MAX fails none.
// Refusals() counts it; the budget holds as well.
void RefuseOnly(size_t index);

}  // namespace testheap

#endif  // MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_
