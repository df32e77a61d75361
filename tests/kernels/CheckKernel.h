// Reusable pieces for kernel tests that compare a plain C++ reference with its SIMD versions:
// a seeded random generator whose seed is printed and can be replayed, guard-padded output
// buffers that catch stray writes, the SIMD levels of this processor, and a scoped SIMD mask.
//
// Replay a failure with TESSARO_CHECK_SEED=<printed seed>. Restrict the levels under test with
// TESSARO_SIMD_MASK (read by cpuinfo at start-up).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CPUInfo.h"

namespace checkkernel {

// The seed of this run: TESSARO_CHECK_SEED when set, else taken from the clock. Printed once.
inline uint64_t RunSeed() {
    static const uint64_t seed = [] {
        uint64_t s = 0;
        const char* env = std::getenv("TESSARO_CHECK_SEED");
        if (env && *env) {
            s = std::strtoull(env, nullptr, 0);
        } else {
            s = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) &
                0xffffffffu;
        }
        std::printf("[checkkernel] seed %llu (replay with TESSARO_CHECK_SEED=%llu)\n",
                    static_cast<unsigned long long>(s), static_cast<unsigned long long>(s));
        return s;
    }();
    return seed;
}

// Small deterministic generator (splitmix64). Each test makes its own from RunSeed() plus a salt,
// so tests do not depend on each other's order.
class Rng {
  public:
    explicit Rng(uint64_t salt = 0) : state_(RunSeed() ^ (salt * 0x9e3779b97f4a7c15ull)) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in lo..hi (inclusive).
    int Range(int lo, int hi) {
        return lo + static_cast<int>(Next() % static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1));
    }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }
    void FillBytes(uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = Byte();
    }

  private:
    uint64_t state_;
};

// A buffer of `size` elements with `guard` elements on each side, all pre-filled with `marker`.
// Kernels write into Data(); GuardsIntact() reports whether anything outside was touched.
template <typename T>
class GuardedBuffer {
  public:
    explicit GuardedBuffer(size_t size, T marker = static_cast<T>(0xA5), size_t guard = 64)
        : storage_(size + 2 * guard, marker), size_(size), guard_(guard), marker_(marker) {}

    T* Data() { return storage_.data() + guard_; }
    const T* Data() const { return storage_.data() + guard_; }
    size_t Size() const { return size_; }
    T& operator[](size_t i) { return Data()[i]; }
    const T& operator[](size_t i) const { return Data()[i]; }

    // Refills the whole buffer, guards included, with the marker.
    void Reset() { storage_.assign(storage_.size(), marker_); }

    bool GuardsIntact() const {
        for (size_t i = 0; i < guard_; ++i) {
            if (storage_[i] != marker_ || storage_[guard_ + size_ + i] != marker_) return false;
        }
        return true;
    }

  private:
    std::vector<T> storage_;
    size_t size_, guard_;
    T marker_;
};

// Index of the first element where a and b differ, or -1.
template <typename T>
long FirstMismatch(const T* a, const T* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

// One SIMD level to test: its name and the mask that enables it (and everything below it).
struct SimdLevel {
    const char* name;
    uint32_t mask;
};

// The SIMD levels this processor has (within TESSARO_SIMD_MASK), ascending, without the plain C
// level (mask 0).
inline std::vector<SimdLevel> AvailableSimdLevels() {
    const uint32_t have = cpuinfo::SimdFlags();
    std::vector<SimdLevel> levels;
    if (have & cpuinfo::kSimdSse2) levels.push_back({"sse2", cpuinfo::kSimdSse2});
    if (have & cpuinfo::kSimdAvx2) levels.push_back({"avx2", cpuinfo::kSimdSse2 | cpuinfo::kSimdAvx2});
    return levels;
}

// Sets the SIMD mask for one scope and restores the previous level afterwards.
class ScopedSimdMask {
  public:
    explicit ScopedSimdMask(uint32_t mask) : previous_(cpuinfo::SimdFlags()) { cpuinfo::SetSimdMask(mask); }
    ~ScopedSimdMask() { cpuinfo::SetSimdMask(previous_); }
    ScopedSimdMask(const ScopedSimdMask&) = delete;
    ScopedSimdMask& operator=(const ScopedSimdMask&) = delete;

  private:
    uint32_t previous_;
};

}  // namespace checkkernel
