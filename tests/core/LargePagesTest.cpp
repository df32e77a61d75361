// Picture stores on large pages: zero, whole and on 2 MB boundaries from 1 MB on, given back with
// the size they were asked for, and the codec's dense stores taken from them once installed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "LargePages.h"
#include "R263COM/ZeroedBytes.h"

namespace tessaro {
namespace {

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

TEST(LargePages, StoresAreZeroWritableToTheirEndAndLargeOnesSitOnLargePageBoundaries) {
    constexpr size_t kLarge = size_t{2} << 20;
    // Below the threshold, just at it, a picture pair of 4CIF, one past a large page, several.
    for (const size_t n : {size_t{1}, size_t{4096}, (size_t{1} << 20) - 1, size_t{1} << 20,
                           2 * size_t{608256}, kLarge, kLarge + 1, 2 * size_t{2433024}}) {
        SCOPED_TRACE(n);
        auto* p = static_cast<uint8_t*>(AllocateLargePageStore(n));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(AllZero(p, n));
        if (n >= (size_t{1} << 20)) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kLarge, 0u);
        }
        std::memset(p, 0xa5, n);
        EXPECT_EQ(p[n - 1], 0xa5);
        ReleaseLargePageStore(p, n);
    }
    ReleaseLargePageStore(nullptr, size_t{4} << 20);  // nothing to give back
}

TEST(LargePages, DenseStoresComeFromTheInstalledAllocatorAndKeepTheirOwnAfterAChange) {
    r263com::SetDenseStoreAllocator(nullptr);
    r263com::ZeroedBytes before;
    before.ResetDense(size_t{3} << 20);  // from calloc
    ASSERT_EQ(before.size(), size_t{3} << 20);
    EXPECT_TRUE(AllZero(before.data(), before.size()));

    UseLargePagesForPictureStores();
    UseLargePagesForPictureStores();  // idempotent
    r263com::ZeroedBytes dense, sparse;
    dense.ResetDense(size_t{3} << 20);
    sparse.Reset(size_t{3} << 20);
    ASSERT_EQ(dense.size(), size_t{3} << 20);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(dense.data()) % (size_t{2} << 20), 0u);
    EXPECT_TRUE(AllZero(dense.data(), dense.size()));
    std::memset(dense.data(), 1, dense.size());
    std::memset(before.data(), 1, before.size());
    std::memset(sparse.data(), 1, sparse.size());

    // Replaced and cleared stores go back to whichever allocator made them.
    dense.ResetDense(100);
    EXPECT_TRUE(AllZero(dense.data(), 100));
    before.Clear();
    EXPECT_TRUE(before.empty());
    r263com::SetDenseStoreAllocator(nullptr);
    dense.Clear();
    sparse.Clear();
}

}  // namespace
}  // namespace tessaro
