// Slice and GOB headers: field widths, the short first-slice form, SEPB2, and the decoder's
// parser reading what the encoder writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "R263IRI/DecoderState.h"
#include "R263IRI/Parser.h"
#include "R263AVO/PictureHeader.h"
#include "R263AVO/Slice_Annex_K.h"

namespace avo = r263avo;
namespace iri = r263iri;

namespace {

class Bits {
  public:
    Bits() : buffer_(256) { bw.Reset(buffer_.data(), buffer_.size()); }

    std::string String() {
        const int n = bw.TotalBits();
        bw.AlignToByte();
        std::string s;
        for (int i = 0; i < n; ++i)
            s += ((buffer_[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1) ? '1' : '0';
        return s;
    }
    std::vector<uint8_t> Bytes() {
        bw.AlignToByte();
        return {buffer_.begin(), buffer_.begin() + bw.ByteCount()};
    }

    avo::BitWriter bw;

  private:
    std::vector<uint8_t> buffer_;
};

std::string Strip(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c != ' ') out += c;
    }
    return out;
}

TEST(SliceHeader, MbaFieldWidthTable) {
    const int cases[][2] = {{1, 6},    {48, 6},    {49, 7},    {99, 7},    {100, 9},   {396, 9},
                            {397, 11}, {1584, 11}, {1585, 13}, {6336, 13}, {6337, 14}, {9216, 14}};
    for (const auto& c : cases) EXPECT_EQ(avo::MbaFieldWidth(c[0]), c[1]) << c[0] << " macroblocks";
    // The standard formats: sub-QCIF, QCIF, CIF, 4CIF, 16CIF.
    EXPECT_EQ(avo::MbaFieldWidth(8 * 6), 6);
    EXPECT_EQ(avo::MbaFieldWidth(11 * 9), 7);
    EXPECT_EQ(avo::MbaFieldWidth(22 * 18), 9);
    EXPECT_EQ(avo::MbaFieldWidth(44 * 36), 11);
    EXPECT_EQ(avo::MbaFieldWidth(88 * 72), 13);
}

TEST(SliceHeader, Bits) {
    struct Case {
        const char* name;
        int prefixBits;  // bits already written in front (to show the stuffing)
        int mba, width, quant;
        const char* bits;
    } cases[] = {
        {"QCIF first slice", 0, 0, 7, 10, "1 0000000 1"},
        {"QCIF slice at 11", 3, 11, 7, 10, "000 00000 00000000000000001 1 0001011 01010 1 00"},
        {"4CIF first slice", 0, 0, 11, 5, "1 00000000000 1"},
        {"4CIF slice at 264", 0, 264, 11, 31, "00000000000000001 1 00100001000 11111 1 00"},
        {"16CIF first slice", 0, 0, 13, 5, "1 0000000000000 1 1"},
        {"16CIF slice at 6335", 8, 6335, 13, 1, "00000000 00000000000000001 1 1100010111111 1 00001 1 00"},
        {"sub-QCIF slice at 47", 0, 47, 6, 2, "00000000000000001 1 101111 00010 1 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bits b;
        b.bw.PutBits(c.prefixBits, 0);
        avo::WriteSliceHeader(b.bw, c.mba, c.width, c.quant);
        std::string got = b.String();
        std::string want = Strip(c.bits);
        // String() completes the last byte with zeros.
        ASSERT_GE(got.size(), want.size());
        EXPECT_EQ(got.substr(0, want.size()), want);
        EXPECT_EQ(got.find('1', want.size()), std::string::npos);
    }
}

TEST(SliceHeader, SlicesOfElevenMacroblocksInQcif) {
    std::vector<int> starts;
    for (int m = 0; m < 99; ++m) {
        if (avo::SliceStartsAt(m, 11)) starts.push_back(m);
    }
    EXPECT_EQ(starts, (std::vector<int>{0, 11, 22, 33, 44, 55, 66, 77, 88}));
    for (int m = 0; m < 5; ++m) {
        EXPECT_TRUE(avo::SliceStartsAt(m, 1));
        EXPECT_TRUE(avo::SliceStartsAt(m, 0));  // taken as 1
    }
}

TEST(GobHeader, Bits) {
    Bits mine;
    mine.bw.PutBits(5, 0x15);
    avo::WriteGobHeader(mine.bw, 3, 12);
    EXPECT_EQ(mine.String(), Strip("10101 000 00000000000000001 00011 00 01100"));
}

// The decoder's slice parser reads back MBA and SQUANT of every header the encoder writes, over
// payload bits that do not start on a byte boundary.
TEST(SliceHeader, DecoderParsesWhatTheEncoderWrites) {
    struct Format {
        int mbPerRow, mbRows;
    } formats[] = {{11, 9}, {44, 36}, {88, 72}};
    for (const Format& f : formats) {
        const int count = f.mbPerRow * f.mbRows;
        const int width = avo::MbaFieldWidth(count);
        SCOPED_TRACE(testing::Message() << count << " macroblocks");
        const int starts[] = {0, 1, f.mbPerRow + 3, count / 2, count - 1};
        Bits b;
        for (int i = 0; i < 5; ++i) {
            avo::WriteSliceHeader(b.bw, starts[i], width, 3 + i);
            b.bw.PutBits(5, 0x13);  // some macroblock data
        }
        b.bw.PutBits(22, 0x20);  // a picture start code ends the picture
        const std::vector<uint8_t> stream = b.Bytes();

        iri::Decoder d;
        d.hdr.ss = 1;
        d.mbPerRow = f.mbPerRow;
        d.mbRows = f.mbRows;
        d.mbCount = count;
        d.mbaWidth = width;
        d.mvTable.resize(static_cast<size_t>(f.mbPerRow + 3));
        d.reader.Reset(stream.data(), stream.size());
        d.quant = 9;
        EXPECT_EQ(iri::ReadFirstSliceHeader(d), 0);
        EXPECT_EQ(d.quant, 9);  // the first slice carries no SQUANT
        d.reader.SkipBits(5);
        for (int i = 1; i < 5; ++i) {
            EXPECT_EQ(iri::ReadSegmentHeader(d), starts[i]);
            EXPECT_EQ(d.quant, 3 + i);
            EXPECT_EQ(d.reader.GetBits(5), 0x13u);
        }
        EXPECT_EQ(iri::ReadSegmentHeader(d), -1);
    }
}

}  // namespace
