// Counts heap allocations made through operator new while a counter is alive.
#pragma once

#include <cstddef>

class AllocCounter {
public:
    AllocCounter();
    ~AllocCounter();
    AllocCounter(const AllocCounter&) = delete;
    AllocCounter& operator=(const AllocCounter&) = delete;
    std::size_t count() const;
    // From the given allocation on (0: the next one), every allocation fails.
    void failFrom(std::size_t allocation);
};
