#include "alloc_counter.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {
std::size_t allocations = 0;
int active = 0;
std::size_t startCount = 0;
std::size_t failAt = SIZE_MAX;

void* allocate(std::size_t size) {
    if (active > 0 && allocations++ >= failAt) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

AllocCounter::AllocCounter() {
    ++active;
    startCount = allocations;
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
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
