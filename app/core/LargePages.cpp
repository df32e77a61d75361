#include "LargePages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "R263COM/ZeroedBytes.h"

namespace tessaro {

namespace {

constexpr size_t kLargePage = size_t{2} << 20;
// Below this a store would waste more of its large page than it fills.
constexpr size_t kSmallest = size_t{1} << 20;

size_t MappedBytes(size_t n) {
    return (n + kLargePage - 1) / kLargePage * kLargePage;
}

}  // namespace

void* AllocateLargePageStore(size_t n) {
    if (n < kSmallest) return std::calloc(n, 1);
    const size_t length = MappedBytes(n);
    // One page more than needed, so that a 2 MB boundary lies within; the ends are given back.
    void* mapped =
        mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (begin + kLargePage - 1) & ~(uintptr_t{kLargePage} - 1);
    if (aligned > begin) munmap(mapped, aligned - begin);
    const uintptr_t end = begin + length + kLargePage;
    if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* store = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    // Advice only: without large pages the store is an ordinary zero-filled mapping.
    madvise(store, length, MADV_HUGEPAGE);
#endif
    return store;
}

void ReleaseLargePageStore(void* p, size_t n) {
    if (p == nullptr) return;
    if (n < kSmallest) {
        std::free(p);
        return;
    }
    munmap(p, MappedBytes(n));
}

void UseLargePagesForPictureStores() {
    static const r263com::StoreAllocator allocator{&AllocateLargePageStore, &ReleaseLargePageStore};
    r263com::SetDenseStoreAllocator(&allocator);
}

}  // namespace tessaro
