#include "ZeroedBytes.h"

#include <atomic>

namespace r263com {

namespace {

std::atomic<const StoreAllocator*> denseAllocator{nullptr};

}  // namespace

void SetDenseStoreAllocator(const StoreAllocator* allocator) {
    denseAllocator.store(allocator, std::memory_order_release);
}

const StoreAllocator* DenseStoreAllocator() {
    return denseAllocator.load(std::memory_order_acquire);
}

}  // namespace r263com
