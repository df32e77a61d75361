// A zero-filled byte store taken from calloc. Large stores come as fresh pages, which the kernel
// supplies already zero, so creating one neither clears nor touches them: a page is faulted in by
// whichever thread first writes it, and a store sized for the worst case (the encoder's output
// buffer) or kept for a use that may never come costs only the pages really written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace r263com {

class ZeroedBytes {
  public:
    ZeroedBytes() = default;

    // Replaces the store with n zero bytes; throws std::bad_alloc when memory is short (the store
    // is then empty).
    void Reset(size_t n) {
        bytes_.reset();
        size_ = 0;
        if (n == 0) return;
        bytes_.reset(static_cast<uint8_t*>(std::calloc(n, 1)));
        if (!bytes_) throw std::bad_alloc();
        size_ = n;
    }
    void Clear() {
        bytes_.reset();
        size_ = 0;
    }

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

  private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Free> bytes_;
    size_t size_ = 0;
};

}  // namespace r263com
