// Counts heap allocations made through operator new while a counter is alive, and the most
// bytes they held at once.
#pragma once

#include <cstddef>

class AllocCounter {
public:
    AllocCounter();
    ~AllocCounter();
    AllocCounter(const AllocCounter&) = delete;
    AllocCounter& operator=(const AllocCounter&) = delete;
    std::size_t count() const;
    // The most bytes held at once by blocks allocated since the counter was made (as the
    // allocator sizes them).
    std::size_t peakBytes() const;
    // From the given allocation on (0: the next one), every allocation fails.
    void failFrom(std::size_t allocation);
};
