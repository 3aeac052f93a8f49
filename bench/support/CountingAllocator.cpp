#include "support/CountingAllocator.h"

#include <pugixml.hpp>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace zobench {

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};
std::atomic<long long> g_count{0};

void* Counted(void* p) {
    if (!p) return nullptr;
    const long long live = g_live.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                           static_cast<long long>(malloc_usable_size(p));
    g_count.fetch_add(1, std::memory_order_relaxed);
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void Release(void* p) {
    if (!p) return;
    g_live.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
    std::free(p);
}

void* Allocate(std::size_t size) {
    void* p = Counted(std::malloc(size ? size : 1));
    if (!p) throw std::bad_alloc();
    return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    void* p = nullptr;
    const std::size_t alignment = static_cast<std::size_t>(align) < sizeof(void*) ? sizeof(void*)
                                                                                   : static_cast<std::size_t>(align);
    if (posix_memalign(&p, alignment, size ? size : 1) != 0) throw std::bad_alloc();
    return Counted(p);
}

void* PugiAllocate(size_t size) { return Counted(std::malloc(size)); }

}  // namespace

HeapCounts Heap() { return HeapCounts{g_live.load(), g_peak.load(), g_count.load()}; }

void ResetPeak() { g_peak = g_live.load(); }

void CountPugixml() { pugi::set_memory_management_functions(PugiAllocate, Release); }

}  // namespace zobench

void* operator new(std::size_t size) { return zobench::Allocate(size); }
void* operator new[](std::size_t size) { return zobench::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return zobench::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return zobench::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t align) { return zobench::AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return zobench::AllocateAligned(size, align); }
void operator delete(void* p) noexcept { zobench::Release(p); }
void operator delete[](void* p) noexcept { zobench::Release(p); }
void operator delete(void* p, std::size_t) noexcept { zobench::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { zobench::Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { zobench::Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { zobench::Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { zobench::Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { zobench::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { zobench::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { zobench::Release(p); }
