// The alternative inter VLC: an inter block written with the Annex I intra table, and the intra
// meaning of CBPY in inter macroblocks with both chroma blocks coded. Each stream is checked against
// the same content written with the standard inter codes, which needs no knowledge of the tables'
// values beyond the encoder's own transcription.
#include <gtest/gtest.h>

#include <vector>

#include "R263AVO/OutPutCoefficients.h"
#include "DecodeAll.h"
#include "StreamBits.h"

namespace {

using decodertest::Bits;
using r263avo::VlcCode;

constexpr int kMacroblocks = 48;  // sub-QCIF

// PLUSPTYPE header of a sub-QCIF picture with a full update; `aiv` sets the alternative inter VLC.
void Header(Bits& b, int type, bool aiv) {
    b.Align().Put(0x20, 22).Put(type, 8).Put(0b10000, 5).Put(7, 3).Put(1, 3);
    b.Put(1, 3).Put(0, 1).Put(0, 6);         // source format, PCF, UMV SAC AP AIC DF SS
    b.Put(0, 2).Put(aiv ? 1 : 0, 1);         // RPS ISD AIV
    b.Put(0, 1).Put(0b1000, 4);              // MQ, reserved
    b.Put(type, 3).Put(0, 3).Put(0b001, 3);  // MPPTYPE: type, RPR RRU RTYPE, reserved
    b.Put(0, 1);                             // CPM
    b.Put(8, 5).Put(0, 1);                   // PQUANT 8, PEI
}

void FlatIntraPicture(Bits& b, bool aiv) {
    Header(b, 0, aiv);
    for (int m = 0; m < kMacroblocks; ++m) {
        b.Put(1, 1).Put(0b0011, 4);
        for (int k = 0; k < 6; ++k) b.Put(100, 8);
    }
}

void Escape(Bits& b, int last, int run, int level) {
    b.Put(r263avo::kEscapeCode).Put(last, 1).Put(run, 6).Put(level & 255, 8);
}

struct Event {
    int run, level;
};

// The first macroblock of a P picture: both chroma blocks coded with one escaped coefficient each,
// luma blocks `lumaCoded` (CBPY bits, block 0 = 8) holding `events` and a closing escaped LAST.
// With `aiv` the luma events use the intra table and CBPY keeps its intra meaning.
void InterPicture(Bits& b, bool aiv, int lumaCoded, const std::vector<Event>& events) {
    Header(b, 1, aiv);
    b.Put(0, 1).Put(r263avo::McbpcPCodes[0][3]);
    b.Put(r263avo::CbpyCodes[aiv ? lumaCoded : 15 - lumaCoded]);
    b.Put(r263avo::MvdCodes[0]).Put(r263avo::MvdCodes[0]);
    for (int blk = 0; blk < 4; ++blk) {
        if (!(lumaCoded & (8 >> blk))) continue;
        for (const Event& e : events) {
            const int magnitude = e.level < 0 ? -e.level : e.level;
            const VlcCode c =
                aiv ? r263avo::AicCode(0, e.run, magnitude) : r263avo::TcoefCode(0, e.run, magnitude);
            ASSERT_GT(c.length, 0);
            b.Put(c).Put(e.level < 0 ? 1 : 0, 1);
        }
        Escape(b, 1, 3, -2);
    }
    Escape(b, 1, 0, 3);
    Escape(b, 1, 1, -1);
    for (int m = 1; m < kMacroblocks; ++m) b.Put(1, 1);
}

std::vector<std::vector<uint8_t>> Decode(const Bits& b) {
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    for (r263iri::DecodeStatus s : out.statuses) EXPECT_EQ(s, r263iri::DecodeStatus::kDecoded);
    return out.pictures;
}

// An intra-table code of (0, 0, level) whose inter-table meaning has a long run, so that a dozen
// of them run past 64 coefficients with the inter table.
bool FindSwitchingLevel(int* level, int* interRun) {
    for (const r263avo::RunLevelCode& a : r263avo::AicCodes()) {
        if (a.last != 0 || a.run != 0) continue;
        for (const r263avo::RunLevelCode& t : r263avo::TcoefCodes()) {
            if (t.vlc.code == a.vlc.code && t.vlc.length == a.vlc.length && t.last == 0 && t.run >= 5 &&
                r263avo::TcoefCode(0, 0, a.level).length > 0) {
                *level = a.level;
                *interRun = t.run;
                return true;
            }
        }
    }
    return false;
}

TEST(AlternativeInterVlc, BlockRunningPastItsEndIsReadWithTheIntraTable) {
    int level = 0, interRun = 0;
    ASSERT_TRUE(FindSwitchingLevel(&level, &interRun));
    // Twelve coefficients in a row: valid with the intra table, 12 x (run + 1) > 64 with the
    // inter one. The levels keep the inter reconstruction.
    std::vector<Event> events(12, Event{0, level});
    events[3].level = -level;
    ASSERT_GT(12 * (interRun + 1), 64);
    Bits alt, plain;
    FlatIntraPicture(alt, true);
    InterPicture(alt, true, 0b1001, events);
    FlatIntraPicture(plain, false);
    InterPicture(plain, false, 0b1001, events);
    const auto a = Decode(alt), p = Decode(plain);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(a[1], p[1]);
    EXPECT_NE(p[1], p[0]);  // the macroblock changed the picture
}

TEST(AlternativeInterVlc, BlocksThatFitKeepTheInterTable) {
    // Codes whose inter meaning stays within the block are inter codes even under the mode: the
    // same bits decode alike with and without it.
    const std::vector<Event> events = {{0, 2}, {1, -1}, {4, 1}};
    for (int luma : {0, 0b0100, 0b1111}) {
        SCOPED_TRACE(luma);
        Bits alt, plain;
        FlatIntraPicture(alt, true);
        FlatIntraPicture(plain, false);
        // Write both with the inter codes; only CBPY differs, by the mode's meaning.
        Header(alt, 1, true);
        Header(plain, 1, false);
        for (Bits* b : {&alt, &plain}) {
            const bool aiv = b == &alt;
            b->Put(0, 1).Put(r263avo::McbpcPCodes[0][3]);
            b->Put(r263avo::CbpyCodes[aiv ? luma : 15 - luma]);
            b->Put(r263avo::MvdCodes[0]).Put(r263avo::MvdCodes[0]);
            for (int blk = 0; blk < 4; ++blk) {
                if (!(luma & (8 >> blk))) continue;
                for (const Event& e : events) {
                    b->Put(r263avo::TcoefCode(0, e.run, e.level < 0 ? -e.level : e.level))
                        .Put(e.level < 0, 1);
                }
                Escape(*b, 1, 2, 1);
            }
            Escape(*b, 1, 0, 3);
            Escape(*b, 1, 1, -1);
            for (int m = 1; m < kMacroblocks; ++m) b->Put(1, 1);
        }
        const auto a = Decode(alt), p = Decode(plain);
        ASSERT_EQ(a.size(), 2u);
        ASSERT_EQ(p.size(), 2u);
        EXPECT_EQ(a[1], p[1]);
    }
}

}  // namespace
