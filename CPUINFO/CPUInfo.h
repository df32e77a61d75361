// Processor detection: the multimedia-extension word used by the colour converters, and the
// instruction-set level that selects the codec's SIMD kernels.
#pragma once

#include <cstdint>

namespace cpuinfo {

// Bits of the word returned by DetectCpu().
constexpr uint32_t kCpuMmx = 1u << 0;
constexpr uint32_t kCpuSse = 1u << 1;

// CPUID leaf 1, EDX bit 23 (MMX) -> bit 0 and bit 25 (SSE) -> bit 1; 0 on a processor
// without CPUID or on a platform that is not x86.
uint32_t DetectCpu();

// Instruction-set levels for kernel dispatch, in ascending order.
constexpr uint32_t kSimdSse2 = 1u << 0;
constexpr uint32_t kSimdAvx2 = 1u << 1;

// The SIMD levels this processor supports, restricted by the mask of SetSimdMask().
uint32_t SimdFlags();

// Restricts SimdFlags() to the given bits (for tests and bug reports); ~0u lifts the
// restriction. The environment variable TESSARO_SIMD_MASK (a number) sets the initial mask.
void SetSimdMask(uint32_t mask);

}  // namespace cpuinfo
