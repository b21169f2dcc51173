#include "AllocationCounter.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

// The C++ library's other forms of new and delete (arrays, nothrow, sized)
// forward to these, so replacing them counts every allocation.
namespace {
std::atomic<bool> armed{false};
std::atomic<std::size_t> allocationCount{0}, freeCount{0};

void* counted(void* memory) {
    if (armed) ++allocationCount;
    if (!memory) throw std::bad_alloc();
    return memory;
}

void release(void* memory) noexcept {
    if (memory && armed) ++freeCount;
    std::free(memory);
}
} // namespace

namespace allocation_counter {
void arm() {
    allocationCount = freeCount = 0;
    armed = true;
}
void disarm() { armed = false; }
std::size_t allocations() { return allocationCount; }
std::size_t frees() { return freeCount; }
} // namespace allocation_counter

void* operator new(std::size_t size) { return counted(std::malloc(std::max<std::size_t>(size, 1))); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    return counted(std::aligned_alloc(align, std::max<std::size_t>((size + align - 1) / align * align, align)));
}
void operator delete(void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { release(memory); }
