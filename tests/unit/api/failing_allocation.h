// Switches for the test's replacement of operator new: allocations fail on demand, per thread.
#pragma once

#include <cstddef>

namespace failing_allocation {

// Armed per thread, so the library's own threads allocate as usual.
extern thread_local std::size_t failingSize; // allocations of exactly this size fail
extern thread_local bool failingAll;         // every allocation fails

struct FailAllocationsOfSize {
    explicit FailAllocationsOfSize(std::size_t size) { failingSize = size; }
    ~FailAllocationsOfSize() { failingSize = 0; }
};

struct FailEveryAllocation {
    FailEveryAllocation() { failingAll = true; }
    ~FailEveryAllocation() { failingAll = false; }
};

} // namespace failing_allocation
