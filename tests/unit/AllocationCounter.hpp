#pragma once

#include <cstddef>

// Counts heap allocations and frees made anywhere in the test program while
// armed. Used to show that audio rendering never touches the heap.
namespace allocation_counter {

void arm();
void disarm();
std::size_t allocations();
std::size_t frees();

// Arms on construction, disarms on destruction.
struct Armed {
    Armed() { arm(); }
    ~Armed() { disarm(); }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

} // namespace allocation_counter
