// The heap of the memory tests' program: the counting heap
// (heap/counting_heap.h), under the names these tests use.
#ifndef MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_
#define MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_

#include "counting_heap.h"

namespace testheap {

using countingheap::ClearBudget;
using countingheap::CurrentBytes;
using countingheap::PeakBytes;
using countingheap::RefuseOnly;
using countingheap::Refusals;
using countingheap::ResetPeak;
using countingheap::SetBudget;

}  // namespace testheap

#endif  // MP4V_TESTS_MEMORY_COUNTING_ALLOCATOR_H_
