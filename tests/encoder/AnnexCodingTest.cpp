// Annexes I, J and K inside the picture coders: where slice and GOB headers go in coded
// pictures, the header bits each option sets, and the reconstruction staying close to the input
// in every combination.
#include <gtest/gtest.h>

#include <vector>

#include "EncTestUtil.h"
#include "TestSupport.h"

using namespace r263avo;
using enctest::BitReader;

namespace {

constexpr int kW = 176, kH = 144;

struct StartCode {
    size_t bit;      // position of the 17-bit prefix
    uint32_t after;  // the bit that follows the prefix: 1 slice (SEPB1), 0 picture or GOB
    uint32_t field;  // MBA (7 bits, QCIF) for a slice, GN for a GOB header (GN below 16)
};

// Byte-aligned start-code prefixes of one picture's bytes (the picture start code included).
std::vector<StartCode> StartCodes(const uint8_t* data, size_t bytes) {
    std::vector<StartCode> codes;
    BitReader r(data, bytes);
    for (size_t byte = 0; byte + 3 < bytes; ++byte) {
        r.Seek(byte * 8);
        if (r.Get(17) != 1) continue;
        StartCode c;
        c.bit = byte * 8;
        c.after = r.Get(1);
        c.field = c.after ? r.Get(7) : r.Get(4);  // MBA, or the GN bits after its first
        codes.push_back(c);
    }
    return codes;
}

std::vector<uint32_t> SliceStarts(const std::vector<StartCode>& codes) {
    std::vector<uint32_t> mba;
    for (const StartCode& c : codes) {
        if (c.after == 1) mba.push_back(c.field);
    }
    return mba;
}

}  // namespace

TEST(Slices, HeadersInCodedQcifPictures) {
    struct Case {
        int mbPerSlice;
        bool aic;
    };
    for (const Case& c : {Case{11, false}, Case{11, true}, Case{1, false}, Case{7, true}}) {
        SCOPED_TRACE(testing::Message() << c.mbPerSlice << " macroblocks per slice, AIC " << c.aic);
        EncoderParams p = enctest::BaseParams(2, kW, kH, 3);
        p.UseSliceMode = 1;
        p.MBlocksPerSlice = c.mbPerSlice;
        p.GOBMode = 1;  // switched off by the slice mode
        p.UseAdvIntraCoding = c.aic;
        p.UseTrueBPictures = 1;
        p.BPictures = 1;
        auto e = enctest::OpenEncoder(p);
        ASSERT_TRUE(e);
        const auto source = enctest::Synthetic(kW, kH, 3);
        const size_t fb = enctest::FrameBytes(kW, kH);
        std::vector<uint32_t> expected;
        for (int m = c.mbPerSlice; m < 99; m += c.mbPerSlice) expected.push_back(static_cast<uint32_t>(m));
        // Pictures I0 (call 1), P2 (call 2), B1 (flush): every kind carries the same slices.
        for (int call = 0; call < 4; ++call) {
            uint32_t bytes = 0;
            if (call < 3) {
                ASSERT_EQ(EncodeFrame(*e, call, call == 0, nullptr, source.data() + call * fb, &bytes), call);
            } else {
                ASSERT_EQ(EncoderFlushFrame(*e, &bytes), 0);
            }
            if (bytes == 0) continue;
            const uint8_t* data = EncoderGetStats(*e).OutputBuffer;
            const auto codes = StartCodes(data, bytes);
            ASSERT_FALSE(codes.empty());
            EXPECT_EQ(codes[0].bit, 0u);  // the picture start code
            for (size_t k = 1; k < codes.size(); ++k) EXPECT_EQ(codes[k].after, 1u) << "no GOB header";
            EXPECT_EQ(SliceStarts(codes), expected);

            // The first slice header follows the picture header: SEPB1, MBA 0 (7 bits), SEPB3.
            BitReader r(data, bytes);
            const enctest::Header h = enctest::ReadHeader(r);
            EXPECT_TRUE(h.OppBit(10));
            EXPECT_EQ(h.sss, 0u);
            EXPECT_EQ(r.Get(9), 0x101u);
            // Each later slice header: SSC, SEPB1, MBA, SQUANT, SEPB3, GFID 00.
            for (size_t k = 1; k < codes.size(); ++k) {
                r.Seek(codes[k].bit + 25);
                EXPECT_EQ(r.Get(5), h.quant);
                EXPECT_EQ(r.Get(3), 4u);  // SEPB3 1, GFID 00
            }
        }
    }
}

TEST(Gobs, HeadersWithTheAnnexes) {
    // GOB headers stay where they belong when Annex I and J change the macroblocks.
    EncoderParams p = enctest::BaseParams(2, kW, kH, 2);
    p.GOBMode = 1;
    p.UseAdvIntraCoding = 1;
    p.UseDeblockFilter = 1;
    p.UseModifiedQuant = 1;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    const auto source = enctest::Synthetic(kW, kH, 2);
    for (int f = 0; f < 2; ++f) {
        uint32_t bytes = 0;
        ASSERT_EQ(
            EncodeFrame(*e, f, f == 0, nullptr, source.data() + f * enctest::FrameBytes(kW, kH), &bytes), f);
        const auto codes = StartCodes(EncoderGetStats(*e).OutputBuffer, bytes);
        std::vector<uint32_t> gn;
        for (size_t k = 1; k < codes.size(); ++k) {
            EXPECT_EQ(codes[k].after, 0u);
            gn.push_back(codes[k].field & 31u);
        }
        EXPECT_EQ(gn, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    }
}

// Every combination of the annexes with GOB headers or slices codes a sequence whose
// reconstruction stays close to the input, with the header bits of the options it uses.
TEST(Annexes, EveryCombinationCodes) {
    const int frames = 4;
    const auto source = enctest::Synthetic(kW, kH, frames, 9);
    const size_t fb = enctest::FrameBytes(kW, kH);
    for (int mask = 0; mask < 64; ++mask) {
        const bool aic = mask & 1, df = mask & 2, mq = mask & 4, bPics = mask & 8;
        const int segments = (mask >> 4) & 3;  // 0 none, 1 GOB headers, 2 slices, 3 slices of 5
        SCOPED_TRACE(testing::Message() << "mask " << mask);
        EncoderParams p = enctest::BaseParams(2, kW, kH, frames);
        p.UseAdvIntraCoding = aic;
        p.UseDeblockFilter = df;
        p.UseModifiedQuant = mq;
        p.UseTrueBPictures = bPics;
        p.BPictures = 1;
        p.ReconstructBPictures = 1;
        p.GOBMode = segments == 1;
        p.UseSliceMode = segments >= 2;
        p.MBlocksPerSlice = segments == 3 ? 5 : 11;
        p.ComputeSnr = 1;
        const auto run = enctest::EncodeSequence(p, source, true);
        ASSERT_EQ(run.pictures.size(), static_cast<size_t>(frames));
        BitReader r(run.stream);
        for (const auto& pic : run.pictures) {
            const double psnr =
                testsupport::PlanePsnr(pic.recon.data(), source.data() + pic.frame * fb, kW * kH);
            EXPECT_GT(psnr, 30.0) << "frame " << pic.frame;
            EXPECT_NEAR(pic.snrY, psnr, 1e-9);
        }
        const enctest::Header h = enctest::ReadHeader(r);
        EXPECT_EQ(h.plus, aic || df || mq || bPics || segments >= 2);
        if (h.plus) {
            EXPECT_EQ(h.OppBit(8), aic);
            EXPECT_EQ(h.OppBit(9), df);
            EXPECT_EQ(h.OppBit(10), segments >= 2);
            EXPECT_EQ(h.OppBit(14), mq);
        }
    }
}
