// Golden streams: the bytes of a few short generated sequences are pinned by their FNV-1a 64
// hash, so that any change of the encoder's output is noticed and made on purpose. The streams
// must also be the same at every SIMD level.
//
// To update after an intended change of the output: run
//   test_encoder --gtest_filter='Golden*'
// read the "actual" hashes from the failure messages, check the new streams (the interop tests
// decode the same kinds of stream with an independent decoder), and paste the values below.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include "CPUInfo.h"
#include "EncTestUtil.h"

using namespace r263avo;

namespace {

struct Golden {
    const char* name;
    int format, width, height, frames;
    void (*tune)(EncoderParams&);
    uint64_t hash;
    size_t bytes;
};

const Golden kGolden[] = {
    {"qcif_default", 2, 176, 144, 10, nullptr, 0x51418a5b1f9792e7ull, 32443},
    {"cif_gob_mq", 3, 352, 288, 5, [](EncoderParams& p) { p.GOBMode = 1, p.UseModifiedQuant = 1; },
     0x279fdadc3180687aull, 74736},
    {"custom180x100_rc", 6, 180, 100, 10,
     [](EncoderParams& p) { p.RateControl = 1, p.Bitrate = 24000, p.FrameRateTarget = 30.0f; },
     0x84cb626aa11c02b1ull, 14344},
    {"qcif_speed5_sw7", 2, 176, 144, 10, [](EncoderParams& p) { p.Speed = 5, p.SearchWindow = 7; },
     0x3ff5b5c3510d83c1ull, 26430},
    // The annexes and B-pictures.
    {"qcif_aic_df_slices11", 2, 176, 144, 6,
     [](EncoderParams& p) {
         p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseSliceMode = 1, p.MBlocksPerSlice = 11;
     },
     0x612cb9d777646ec1ull, 27803},
    {"cif_gob_aic_df_mq", 3, 352, 288, 3,
     [](EncoderParams& p) {
         p.GOBMode = 1, p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1;
     },
     0x929eb3d4e4f4a8e2ull, 48991},
    {"qcif_b2_all_slices1", 2, 176, 144, 8,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 2, p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1,
         p.UseModifiedQuant = 1, p.UseSliceMode = 1, p.MBlocksPerSlice = 1;
     },
     0x65d3b5ab77ab223bull, 36004},
    {"custom180x100_b5_rc", 6, 180, 100, 9,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 5, p.RateControl = 1, p.Bitrate = 24000, p.GOBMode = 1;
     },
     0xc7e7f8d8375df3edull, 17661},
};

class ScopedMask {
  public:
    explicit ScopedMask(uint32_t mask) : previous_(cpuinfo::SimdFlags()) { cpuinfo::SetSimdMask(mask); }
    ~ScopedMask() { cpuinfo::SetSimdMask(previous_); }

  private:
    uint32_t previous_;
};

}  // namespace

TEST(Golden, PinnedStreams) {
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(g.name);
        EncoderParams p = enctest::BaseParams(g.format, g.width, g.height, g.frames);
        if (g.tune) g.tune(p);
        const auto source = enctest::Synthetic(g.width, g.height, g.frames);
        for (uint32_t mask : {~0u, cpuinfo::kSimdSse2, 0u}) {
            ScopedMask scoped(mask);
            const auto run = enctest::EncodeSequence(p, source);
            const uint64_t hash = enctest::Fnv1a64(run.stream);
            char actual[64];
            std::snprintf(actual, sizeof actual, "0x%016" PRIx64 "ull, %zu", hash, run.stream.size());
            EXPECT_EQ(hash, g.hash) << "SIMD mask " << mask << ", actual " << actual;
            EXPECT_EQ(run.stream.size(), g.bytes);
        }
    }
}
