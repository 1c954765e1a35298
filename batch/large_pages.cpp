// Large blocks (whole frames, planes, maps) on 2 MB pages. A 144 MB frame
// faults in 36 000 times on 4 KB pages, which costs more than reading it; on
// huge pages it faults 72 times. Linked into orrindale-batch only, as it
// replaces the global allocation functions.
#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this the padding to a whole huge page is not worth it.
constexpr std::size_t kLargeBlock = std::size_t{8} << 20;

void* allocate(std::size_t size) noexcept {
    if (size == 0) size = 1;
    if (size < kLargeBlock) return std::malloc(size);
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    // Only advice: where huge pages are off or used up, small pages serve.
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void* allocateOrThrow(std::size_t size) {
    for (;;) {
        if (void* p = allocate(size)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

// Every block comes from malloc or aligned_alloc, so free releases it.
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
