// A zero-filled byte store taken from calloc. Large stores come as fresh pages, which the kernel
// supplies already zero, so creating one neither clears nor touches them: a page is faulted in by
// whichever thread first writes it, and a store sized for the worst case (the encoder's output
// buffer) or kept for a use that may never come costs only the pages really written.
//
// A store that is written whole, again and again (a picture store), may instead be taken dense
// from the allocator its host installed: on a system with large pages that is one page fault per
// 2 MB instead of one per 4 KB, and fewer translation misses while it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace r263com {

// Where dense stores come from. `allocate` returns n zero bytes (nullptr when memory is short);
// `release` takes back a block with the n it was allocated with. Both must be safe on any thread.
struct StoreAllocator {
    void* (*allocate)(size_t n);
    void (*release)(void* p, size_t n);
};

// Installs the allocator of dense stores for the whole process (nullptr: calloc). The allocator
// must outlive every store taken from it; stores already taken keep the one that made them.
void SetDenseStoreAllocator(const StoreAllocator* allocator);
const StoreAllocator* DenseStoreAllocator();

class ZeroedBytes {
  public:
    ZeroedBytes() = default;

    // Replaces the store with n zero bytes; throws std::bad_alloc when memory is short (the store
    // is then empty).
    void Reset(size_t n) { Replace(n, nullptr); }
    // The same, from the installed dense-store allocator, for a store that is written whole.
    void ResetDense(size_t n) { Replace(n, DenseStoreAllocator()); }
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
        Free() noexcept {}
        Free(const StoreAllocator* a, size_t n) noexcept : allocator(a), size(n) {}
        void operator()(uint8_t* p) const {
            if (allocator) {
                allocator->release(p, size);
            } else {
                std::free(p);
            }
        }
        const StoreAllocator* allocator = nullptr;
        size_t size = 0;
    };
    std::unique_ptr<uint8_t[], Free> bytes_;
    size_t size_ = 0;

    void Replace(size_t n, const StoreAllocator* allocator) {
        Clear();
        if (n == 0) return;
        void* p = allocator ? allocator->allocate(n) : std::calloc(n, 1);
        if (!p) throw std::bad_alloc();
        bytes_ = std::unique_ptr<uint8_t[], Free>(static_cast<uint8_t*>(p), Free(allocator, n));
        size_ = n;
    }
};

}  // namespace r263com
