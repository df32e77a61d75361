// Forward transforms and the inverse DCT (plain C against the SIMD levels) and the inter block
// writer, each over a pool of typical blocks.
// Level argument: 0 = plain C, 1 = SSE2, 2 = AVX2 (skipped when the processor lacks it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "R263AVO/Buffer.h"
#include "CPUInfo.h"
#include "R263AVO/Dct.h"
#include "R263AVO/EncodeCoefficients.h"
#include "R263AVO/Idct.h"
#include "R263AVO/Iquant.h"
#include "R263AVO/Qdct.h"

namespace {

using Block = std::array<int16_t, 64>;
constexpr size_t kPool = 256;

uint32_t Next(uint32_t& seed) {
    return (seed = seed * 1664525u + 1013904223u) >> 8;
}

// Smooth intra pixel blocks: a gradient plus a little noise.
std::vector<Block> PixelBlocks() {
    std::vector<Block> pool(kPool);
    uint32_t seed = 1;
    for (auto& b : pool) {
        const int base = static_cast<int>(Next(seed) % 200), gx = static_cast<int>(Next(seed) % 7) - 3,
                  gy = static_cast<int>(Next(seed) % 7) - 3;
        for (int i = 0; i < 64; ++i) {
            const int v = base + gx * (i % 8) + gy * (i / 8) + static_cast<int>(Next(seed) % 9) - 4;
            b[i] = static_cast<int16_t>(std::clamp(v, 0, 255));
        }
    }
    return pool;
}

// Motion-compensated prediction differences: mostly small, some blocks with an edge.
std::vector<Block> ResidualBlocks() {
    std::vector<Block> pool(kPool);
    uint32_t seed = 2;
    for (size_t n = 0; n < pool.size(); ++n) {
        const int spread = n % 4 == 0 ? 60 : 12;
        for (auto& v : pool[n])
            v = static_cast<int16_t>(static_cast<int>(Next(seed) % (2 * spread + 1)) - spread);
    }
    return pool;
}

// Levels as the inter path leaves them at a middle quantiser: a few low-frequency values.
std::vector<Block> LevelBlocks() {
    std::vector<Block> pool(kPool);
    uint32_t seed = 3;
    for (auto& b : pool) {
        b.fill(0);
        const int count = 1 + static_cast<int>(Next(seed) % 8);
        for (int k = 0; k < count; ++k) {
            const int pos = r263avo::ZigzagScan[Next(seed) % 20];
            b[pos] = static_cast<int16_t>(static_cast<int>(Next(seed) % 7) - 3);
        }
    }
    return pool;
}

// Dequantised coefficients of LevelBlocks at QP 8.
std::vector<Block> CoefficientBlocks() {
    auto pool = LevelBlocks();
    for (auto& b : pool) r263avo::DequantizeInterBlock(b.data(), 8);
    return pool;
}

// The SIMD level of argument 0 (0 = plain C, 1 = SSE2, 2 = AVX2), or 0 with an error set on the
// state when the processor lacks it.
bool UseLevel(benchmark::State& state, uint32_t* mask) {
    static const uint32_t kMasks[] = {0, cpuinfo::kSimdSse2, cpuinfo::kSimdSse2 | cpuinfo::kSimdAvx2};
    *mask = kMasks[state.range(0)];
    cpuinfo::SetSimdMask(~0u);
    if ((cpuinfo::SimdFlags() & *mask) != *mask) {
        state.SkipWithError("SIMD level not available");
        return false;
    }
    return true;
}

void BM_QdctIntraBlock(benchmark::State& state) {
    uint32_t mask;
    if (!UseLevel(state, &mask)) return;
    const r263avo::QdctIntraFunction qdct = r263avo::SelectQdctIntra(mask);
    const auto pool = PixelBlocks();
    size_t i = 0;
    for (auto _ : state) {
        Block b = pool[i++ % kPool];
        qdct(b.data(), 8);
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QdctIntraBlock)->ArgName("level")->DenseRange(0, 2);

void BM_ForwardDctBlock(benchmark::State& state) {
    uint32_t mask;
    if (!UseLevel(state, &mask)) return;
    const r263avo::ForwardDctFunction dct = r263avo::SelectForwardDct(mask);
    const auto pool = PixelBlocks();
    size_t i = 0;
    for (auto _ : state) {
        Block b = pool[i++ % kPool];
        dct(b.data());
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ForwardDctBlock)->ArgName("level")->DenseRange(0, 2);

// What the inter benchmarks share: the Speed preset of the second argument (its table parameter
// and early-exit limits), its tables and the residual blocks.
struct InterSetup {
    struct Preset {
        int p, rowLimit, colLimit;
    };
    Preset preset;
    r263avo::InterQdctTables tables;
    std::vector<Block> pool = ResidualBlocks();

    explicit InterSetup(const benchmark::State& state) {
        static const Preset kPresets[] = {{1, 8, 8}, {10, 8, 4}, {25, 4, 4}, {35, 2, 2}, {45, 2, 1}};
        preset = kPresets[state.range(1) - 1];
        r263avo::InitInterQdctTables(tables, preset.p);
    }
};

void BM_QdctInterBlock(benchmark::State& state) {
    uint32_t mask;
    if (!UseLevel(state, &mask)) return;
    const r263avo::QdctInterFunction qdct = r263avo::SelectQdctInter(mask);
    const InterSetup s(state);
    size_t i = 0;
    for (auto _ : state) {
        Block b = s.pool[i++ % kPool];
        qdct(b.data(), s.tables, 8, s.preset.rowLimit, s.preset.colLimit);
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QdctInterBlock)->ArgNames({"level", "speed"})->ArgsProduct({{0, 1, 2}, {1, 2, 5}});

// Two residual blocks a call (items: blocks), as the encoder transforms a macroblock's blocks.
void BM_QdctInterPair(benchmark::State& state) {
    uint32_t mask;
    if (!UseLevel(state, &mask)) return;
    const r263avo::QdctInterPairFunction qdct = r263avo::SelectQdctInterPair(mask);
    const InterSetup s(state);
    size_t i = 0;
    for (auto _ : state) {
        Block a = s.pool[i++ % kPool], b = s.pool[i++ % kPool];
        benchmark::DoNotOptimize(qdct(a.data(), b.data(), s.tables, 8, s.preset.rowLimit, s.preset.colLimit));
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_QdctInterPair)->ArgNames({"level", "speed"})->ArgsProduct({{0, 1, 2}, {1, 5}});

void BM_Idct(benchmark::State& state) {
    uint32_t mask;
    if (!UseLevel(state, &mask)) return;
    const r263avo::IdctFunction idct = r263avo::SelectIdct(mask);
    const auto pool = state.range(1) ? CoefficientBlocks() : ResidualBlocks();
    size_t i = 0;
    for (auto _ : state) {
        Block b = pool[i++ % kPool];
        idct(b.data());
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(state.iterations());
}
// Second argument: 0 = dense blocks, 1 = sparse dequantised blocks.
BENCHMARK(BM_Idct)->ArgNames({"level", "sparse"})->ArgsProduct({{0, 1, 2}, {0, 1}});

void BM_CodeInterBlock(benchmark::State& state) {
    const auto pool = LevelBlocks();
    std::vector<uint8_t> out(1 << 20);
    r263avo::BitWriter bw;
    bw.Reset(out.data(), out.size());
    size_t i = 0;
    for (auto _ : state) {
        if (bw.ByteCount() > out.size() - 1024) {
            state.PauseTiming();
            bw.Reset(out.data(), out.size());
            state.ResumeTiming();
        }
        Block b = pool[i++ % kPool];
        r263avo::CodeInterBlock(bw, b.data(), false);
    }
    benchmark::DoNotOptimize(out.data());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CodeInterBlock);

}  // namespace

BENCHMARK_MAIN();
