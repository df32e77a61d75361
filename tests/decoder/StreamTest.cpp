// Hand-built streams: picture headers of every form, output order and delay, refused pictures,
// resynchronisation, allocation failure, the crop of custom sizes, dequantisation.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "R263IRI/Buffer.h"
#include "R263IRI/DecoderState.h"
#include "R263IRI/IpicD.h"
#include "DecodeAll.h"
#include "StreamBits.h"

namespace r263iri {
namespace {

using decodertest::Bits;

// Plain picture header: PSC, TR, PTYPE with the format and type, PQUANT, CPM, PEI.
void PlainHeader(Bits& b, int format, int type, int quant = 8, int modes = 0) {
    b.Align().Put(0x20, 22).Put(0, 8).Put(0b10000, 5).Put(format, 3).Put(type, 1).Put(modes, 4);
    b.Put(quant, 5).Put(0, 1).Put(0, 1);
}

struct PlusOptions {
    int ufep = 1;
    int format = 2;  // OPPTYPE source format
    int type = 0;    // MPPTYPE picture type
    int pcf = 0, umv = 0, df = 0, mq = 0;
    int pwi = 0, phi = 0;
    int rounding = 0;
};

void PlusHeader(Bits& b, const PlusOptions& o) {
    b.Align().Put(0x20, 22).Put(0, 8).Put(0b10000, 5).Put(7, 3).Put(o.ufep, 3);
    if (o.ufep) {
        b.Put(o.format, 3).Put(o.pcf, 1).Put(o.umv, 1).Put(0, 3).Put(o.df, 1).Put(0, 1);  // SAC AP AIC, DF,
                                                                                          // SS
        b.Put(0, 3).Put(o.mq, 1).Put(0b1000, 4);
    }
    b.Put(o.type, 3).Put(0, 2).Put(o.rounding, 1).Put(0b001, 3).Put(0, 1);  // MPPTYPE, CPM
    // CPFMT, CPCFC and UUI come with a full update (UFEP 001) only.
    if (o.ufep == 1 && o.format == 6) b.Put(2, 4).Put(o.pwi, 9).Put(1, 1).Put(o.phi, 9);
    if (o.ufep == 1 && o.pcf) b.Put(1, 1).Put(60, 7);  // CPCFC
    if (o.pcf) b.Put(0, 2);                            // ETR
    if (o.ufep == 1 && o.umv) b.Put(0b01, 2);          // UUI
    b.Put(8, 5).Put(0, 1);                             // PQUANT, PEI
}

// Intra macroblocks without coefficients: MCBPC 1, CBPY 0011 (none coded), six INTRADC values.
void FlatIntraMacroblocks(Bits& b, int count, int dc) {
    for (int m = 0; m < count; ++m) {
        b.Put(1, 1).Put(0b0011, 4);
        for (int k = 0; k < 6; ++k) b.Put(dc, 8);
    }
}

void SkippedMacroblocks(Bits& b, int count) {
    for (int m = 0; m < count; ++m) b.Put(1, 1);
}

bool AllLuma(const std::vector<uint8_t>& pic, size_t lumaBytes, uint8_t v) {
    for (size_t i = 0; i < lumaBytes; ++i)
        if (pic[i] != v) return false;
    return true;
}

TEST(Stream, OutputOrderAndDelay) {
    Bits b;
    PlainHeader(b, 1, 0);
    FlatIntraMacroblocks(b, 48, 50);
    PlainHeader(b, 1, 1);
    SkippedMacroblocks(b, 48);
    PlainHeader(b, 1, 0);
    FlatIntraMacroblocks(b, 48, 70);
    b.Align();
    Decoder* d = DecoderCreate();
    DecoderOpen(*d);
    uint32_t position = 0, bytes = 0;
    const uint8_t* p1 = DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 1);
    EXPECT_EQ(p1, nullptr);
    EXPECT_EQ(bytes, 128u * 96 * 3 / 2);
    const uint8_t* p2 = DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 0);
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(p2[0], 50);
    EXPECT_EQ(p2[128 * 96], 50);  // chroma too
    const uint8_t* p3 = DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 0);
    ASSERT_NE(p3, nullptr);
    EXPECT_EQ(p3[5000], 50);  // the skipped P picture repeats the I picture
    EXPECT_GE(position, b.bytes.size());
    const uint8_t* last = DecoderFlush(*d);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last[100], 70);
    EXPECT_EQ(DecoderFlush(*d), nullptr);
    EXPECT_EQ(DecoderGetInfo(*d).picturesHandled, 3u);
    DecoderClose(*d);
    DecoderDestroy(d);

    // A stream of one I picture: null, then the flush returns it.
    Bits one;
    PlainHeader(one, 1, 0);
    FlatIntraMacroblocks(one, 48, 255);  // INTRADC 255 stands for 128
    const decodertest::DecodedStream out = decodertest::DecodeAll(one.bytes);
    ASSERT_EQ(out.pictures.size(), 1u);
    EXPECT_TRUE(AllLuma(out.pictures[0], 128 * 96, 128));
}

TEST(Stream, PlusHeadersCustomSizeClockAndCarriedValues) {
    // 180x100 custom picture with a custom picture clock, then a P picture with UFEP 0 and
    // rounding type 1, then one with UFEP 1 again.
    Bits b;
    PlusOptions o;
    o.format = 6;
    o.pwi = 180 / 4 - 1;
    o.phi = 100 / 4;
    o.pcf = 1;
    PlusHeader(b, o);
    FlatIntraMacroblocks(b, 12 * 7, 90);
    PlusOptions p = o;
    p.ufep = 0;
    p.type = 1;
    p.rounding = 1;
    PlusHeader(b, p);
    SkippedMacroblocks(b, 12 * 7);
    o.type = 1;
    PlusHeader(b, o);
    SkippedMacroblocks(b, 12 * 7);
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    EXPECT_EQ(out.pictureBytes, 27000u);
    ASSERT_EQ(out.pictures.size(), 3u);
    for (const auto& pic : out.pictures) {
        ASSERT_EQ(pic.size(), 27000u);
        EXPECT_TRUE(AllLuma(pic, 18000, 90));
        EXPECT_EQ(pic[18000], 90);
        EXPECT_EQ(pic[26999], 90);
    }
    for (DecodeStatus s : out.statuses) EXPECT_EQ(s, DecodeStatus::kDecoded);

    // The header fields as parsed.
    Decoder* d = DecoderCreate();
    DecoderOpen(*d);
    uint32_t position = 0, bytes = 0;
    DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 1);
    EXPECT_EQ(d->hdr.clockDivisor, 60u);
    EXPECT_EQ(d->codedWidth, 192);
    EXPECT_EQ(d->codedHeight, 112);
    DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 0);
    EXPECT_EQ(d->hdr.ufep, 0u);
    EXPECT_EQ(d->hdr.sourceFormat, 6u);
    EXPECT_EQ(d->hdr.roundingType, 1u);
    EXPECT_EQ(d->hdr.customPcf, 1u);
    DecoderClose(*d);
    DecoderDestroy(d);
}

TEST(Stream, ReservedUfepBringsOpptypeButNoCustomFormatFields) {
    // A 180x100 I picture, then a P picture whose UFEP is the reserved value 010: OPPTYPE follows
    // MPPTYPE's place as usual, but CPFMT does not, so the P picture keeps the stream's size and
    // PQUANT follows CPM directly.
    Bits b;
    PlusOptions o;
    o.format = 6;
    o.pwi = 180 / 4 - 1;
    o.phi = 100 / 4;
    PlusHeader(b, o);
    FlatIntraMacroblocks(b, 12 * 7, 90);
    PlusOptions p = o;
    p.ufep = 2;
    p.type = 1;
    PlusHeader(b, p);
    SkippedMacroblocks(b, 12 * 7);
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    ASSERT_EQ(out.statuses.size(), 2u);
    EXPECT_EQ(out.statuses[0], DecodeStatus::kDecoded);
    EXPECT_EQ(out.statuses[1], DecodeStatus::kDecoded);
    ASSERT_EQ(out.pictures.size(), 2u);
    EXPECT_TRUE(AllLuma(out.pictures[1], 18000, 90));
}

TEST(Stream, RefusedPicturesLetTheStreamGoOn) {
    Bits b;
    PlainHeader(b, 2, 0);
    FlatIntraMacroblocks(b, 99, 40);
    PlainHeader(b, 1, 0);  // another format
    FlatIntraMacroblocks(b, 48, 41);
    PlusOptions umv;
    umv.umv = 1;  // unrestricted motion vectors, with UUI: decoded
    PlusHeader(b, umv);
    FlatIntraMacroblocks(b, 99, 42);
    PlainHeader(b, 2, 0, 8, 0b0001);  // PB-frames
    FlatIntraMacroblocks(b, 99, 43);
    PlusOptions tall;
    tall.format = 6;
    tall.pwi = 43;
    tall.phi = 0;  // height 0
    PlusHeader(b, tall);
    PlainHeader(b, 2, 0);
    FlatIntraMacroblocks(b, 99, 44);
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    ASSERT_EQ(out.statuses.size(), 6u);
    EXPECT_EQ(out.statuses[0], DecodeStatus::kDecoded);
    EXPECT_EQ(out.statuses[1], DecodeStatus::kFormatChanged);
    EXPECT_EQ(out.statuses[2], DecodeStatus::kDecoded);
    EXPECT_EQ(out.statuses[3], DecodeStatus::kUnsupportedMode);
    EXPECT_EQ(out.statuses[4], DecodeStatus::kBadPictureSize);
    EXPECT_EQ(out.statuses[5], DecodeStatus::kDecoded);
    ASSERT_EQ(out.pictures.size(), 3u);
    EXPECT_TRUE(AllLuma(out.pictures[0], 176 * 144, 40));
    EXPECT_TRUE(AllLuma(out.pictures[1], 176 * 144, 42));
    EXPECT_TRUE(AllLuma(out.pictures[2], 176 * 144, 44));
}

TEST(Stream, ResynchronisesAtTheNextGobHeader) {
    // QCIF I picture: rows 0-1 decoded, then damage (a pattern that is no code, or a GOB header
    // met early), then GOB 5: rows 2-4 keep what their store held (black), rows 5-8 are decoded.
    for (int damage = 0; damage < 2; ++damage) {
        Bits b;
        PlainHeader(b, 2, 0);
        FlatIntraMacroblocks(b, 22, 60);
        if (damage == 0) b.Put(0, 12).Put(1, 1);  // no MCBPC code
        b.Align().Put(1, 17).Put(5, 5).Put(0, 2).Put(8, 5);
        FlatIntraMacroblocks(b, 44, 80);
        b.Align();
        const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
        ASSERT_EQ(out.pictures.size(), 1u);
        const std::vector<uint8_t>& pic = out.pictures[0];
        EXPECT_EQ(pic[176 * 31 + 175], 60);
        EXPECT_EQ(pic[176 * 32], 0);
        EXPECT_EQ(pic[176 * 79 + 100], 0);
        EXPECT_EQ(pic[176 * 80], 80);
        EXPECT_EQ(pic[176 * 143 + 175], 80);
    }
}

TEST(Stream, AllocationFailureReportsAllOnes) {
    Bits b;
    PlainHeader(b, 2, 0);
    FlatIntraMacroblocks(b, 99, 40);
    SetAllocationLimitForTesting(10000);
    Decoder* d = DecoderCreate();
    DecoderOpen(*d);
    uint32_t position = 0, bytes = 0;
    EXPECT_EQ(DecodePicture(*d, b.bytes.data(), b.bytes.size(), &position, &bytes, 1), nullptr);
    SetAllocationLimitForTesting(0);
    EXPECT_EQ(bytes, 0xFFFFFFFFu);
    EXPECT_EQ(DecoderGetInfo(*d).lastStatus, DecodeStatus::kOutOfMemory);
    EXPECT_EQ(DecoderFlush(*d), nullptr);
    DecoderClose(*d);
    DecoderDestroy(d);
}

TEST(Stream, DequantisationRules) {
    struct Case {
        int quant, level, mq;
        int16_t expected;
    } cases[] = {{10, -3, 0, -69},    {11, 3, 0, 77},        {4, -1, 0, -11},   {5, 1, 0, 15},
                 {31, 1023, 1, 2047}, {31, -1023, 1, -2048}, {8, 200, 1, 2047}, {8, -200, 1, -2048},
                 {30, 40, 0, 2047}};  // every reconstruction saturates to -2048..2047
    for (const Case& c : cases) {
        Bits b;
        // ESCAPE, LAST 1, RUN 2, then the level (extended when beyond 8 bits).
        b.Put(0b0000011, 7).Put(1, 1).Put(2, 6);
        if (c.level > 127 || c.level < -127) {
            b.Put(0x80, 8).Put(static_cast<uint32_t>(((c.level << 6) | ((c.level >> 5) & 63)) & 2047), 11);
        } else {
            b.Put(static_cast<uint32_t>(c.level & 255), 8);
        }
        Decoder d;
        d.reader.Reset(b.bytes.data(), b.bytes.size());
        d.hdr.mq = static_cast<uint32_t>(c.mq);
        DecodeTcoefBlock(d, 1, 1, c.quant);
        EXPECT_EQ(d.coeffs[64 + 16], c.expected) << c.quant << " " << c.level;  // scan position 3 = raster 16
    }
}

}  // namespace
}  // namespace r263iri
