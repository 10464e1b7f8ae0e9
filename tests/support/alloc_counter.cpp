#include "alloc_counter.h"

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace {
std::size_t allocations = 0;
int active = 0;
std::size_t startCount = 0;
std::size_t failAt = SIZE_MAX;
// Signed: a block made before the counter may be freed while it counts.
long long liveBytes = 0, peak = 0, startBytes = 0;

// Bytes are counted only while a counter is alive, so that a program that measures something
// else (instructions, with no counter) pays nothing for them.
void* allocate(std::size_t size) {
    if (active > 0 && allocations++ >= failAt) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) {
        if (active > 0) {
            liveBytes += static_cast<long long>(malloc_usable_size(p));
            if (liveBytes > peak) peak = liveBytes;
        }
        return p;
    }
    throw std::bad_alloc();
}
void release(void* p) {
    if (p && active > 0) liveBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
} // namespace

AllocCounter::AllocCounter() {
    ++active;
    startCount = allocations;
    startBytes = peak = liveBytes;
}
AllocCounter::~AllocCounter() {
    --active;
    failAt = SIZE_MAX;
}
void AllocCounter::failFrom(std::size_t allocation) {
    failAt = startCount + allocation;
}
std::size_t AllocCounter::count() const {
    return allocations - startCount;
}
std::size_t AllocCounter::peakBytes() const {
    return static_cast<std::size_t>(peak - startBytes);
}

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
