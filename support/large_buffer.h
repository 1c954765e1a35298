// A large working buffer taken straight from the system, in huge pages where
// the system offers them: a 24-megapixel output's first touch would otherwise
// take tens of thousands of page faults, a fifth of a second on a VM.
#pragma once

#include <cstddef>

class LargeBuffer {
  public:
    LargeBuffer() = default;
    // Throws RunError(kErrOutOfMemory) when the memory cannot be had. The
    // bytes start at 0.
    explicit LargeBuffer(size_t bytes);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    template <typename T>
    T* as() const {
        return static_cast<T*>(data_);
    }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    void* mapping_ = nullptr;  // what the system gave, aligned to a huge page inside
    size_t mapped_ = 0;
    void* data_ = nullptr;
};
