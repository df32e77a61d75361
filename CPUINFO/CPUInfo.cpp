#include "CPUInfo.h"

#include <atomic>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TESSARO_HAVE_CPUID 1
#endif

namespace cpuinfo {

uint32_t DetectCpu() {
#ifdef TESSARO_HAVE_CPUID
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    uint32_t flags = 0;
    if (edx & (1u << 23)) flags |= kCpuMmx;
    if (edx & (1u << 25)) flags |= kCpuSse;
    return flags;
#else
    return 0;
#endif
}

namespace {

// Without the SIMD kernels in the build (TESSARO_SIMD off, or not x86-64) no level is reported,
// so every dispatch and every test takes the plain path.
uint32_t ProbeSimd() {
    uint32_t flags = 0;
#if defined(TESSARO_HAVE_CPUID) && defined(TESSARO_X86)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) flags |= kSimdSse2;
    if (__builtin_cpu_supports("avx2")) flags |= kSimdAvx2;
#endif
    return flags;
}

uint32_t InitialMask() {
    const char* env = std::getenv("TESSARO_SIMD_MASK");
    if (!env || !*env) return ~0u;
    char* end = nullptr;
    unsigned long v = std::strtoul(env, &end, 0);
    return (end && *end == '\0') ? static_cast<uint32_t>(v) : ~0u;
}

std::atomic<uint32_t>& Mask() {
    static std::atomic<uint32_t> mask{InitialMask()};
    return mask;
}

}  // namespace

uint32_t SimdFlags() {
    static const uint32_t probed = ProbeSimd();
    return probed & Mask().load(std::memory_order_relaxed);
}

void SetSimdMask(uint32_t mask) {
    Mask().store(mask, std::memory_order_relaxed);
}

}  // namespace cpuinfo
