// Large buffers in huge pages (see large_buffer.h).
#include "support/large_buffer.h"

#include "support/errors.h"

#include <sys/mman.h>
#include <cstdint>
#include <utility>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

LargeBuffer::LargeBuffer(size_t bytes) {
    if (bytes == 0) return;
    // One huge page more than asked, so that the data can start on one.
    mapped_ = bytes + kHugePage;
    mapping_ = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) {
        mapping_ = nullptr;
        throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    }
    const auto start = reinterpret_cast<uintptr_t>(mapping_);
    data_ = reinterpret_cast<void*>((start + kHugePage - 1) & ~(kHugePage - 1));
    // Only advice: where huge pages are off, the pages are simply small.
    madvise(data_, bytes, MADV_HUGEPAGE);
}

LargeBuffer::~LargeBuffer() {
    if (mapping_) munmap(mapping_, mapped_);
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)),
      data_(std::exchange(other.data_, nullptr)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        if (mapping_) munmap(mapping_, mapped_);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mapped_ = std::exchange(other.mapped_, 0);
        data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
}
