// The test's replacement of operator new and delete, which fails on demand. In a translation unit
// of its own: where the compiler sees both a new-expression and this delete's body, it takes the
// free() inside for a mismatch with operator new.
#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace failing_allocation {

thread_local std::size_t failingSize = 0;
thread_local bool failingAll = false;

} // namespace failing_allocation

void* operator new(std::size_t size)
{
    using failing_allocation::failingAll;
    using failing_allocation::failingSize;
    if (failingAll || (failingSize != 0 && size == failingSize))
        throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
