#pragma once
// Counts what the calling thread allocates with operator new while a count
// is open, for tests that pin how much a piece of work copies. The test
// program's operator new and delete are replaced for that (alloc_count.cpp).

#include <cstddef>

namespace harness {

class AllocationCount {
 public:
  /// Starts counting on this thread; counts do not nest.
  AllocationCount();
  ~AllocationCount();
  AllocationCount(const AllocationCount&) = delete;
  AllocationCount& operator=(const AllocationCount&) = delete;

  /// Every byte asked for since the start, whether freed since or not.
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

}  // namespace harness
