// Stream information from picture headers: pictures by type, the annexes in use, custom sizes,
// and the profile and level of H.263 Annex X that follow from them; CSV rows of the run reports.
#include <gtest/gtest.h>

#include <vector>

#include "CsvReport.h"
#include "StreamInfo.h"

namespace tessaro {
namespace {

// Writes picture headers bit by bit, each padded to a byte and followed by some data bytes.
class Stream {
  public:
    // A plain PTYPE header (formats 1..5); `inter` gives a P-picture, `pb` a PB-picture.
    void Plain(int format, bool inter, bool umv = false, bool sac = false, bool ap = false, bool pb = false) {
        Start();
        Put(0, 3);  // split screen, document camera, freeze release
        Put(format, 3);
        Put(inter, 1), Put(umv, 1), Put(sac, 1), Put(ap, 1), Put(pb, 1);
        Put(8, 5);  // PQUANT
        Put(0, 1);  // CPM
        Put(0, 1);  // PEI
        End();
    }
    // A PLUSPTYPE header; `annexes` names the OPPTYPE modes (D E F I J K N R S T), written with
    // UFEP 001 when `full`, else only MPPTYPE (UFEP 000). Types: 0 I, 1 P, 2 improved PB, 3 B.
    void Plus(int format, int type, const std::string& annexes, bool full = true, int width = 0,
              int height = 0) {
        Start();
        Put(0, 3);
        Put(7, 3);
        Put(full ? 1 : 0, 3);
        if (full) {
            Put(format, 3);
            Put(0, 1);  // PCF
            for (char letter : std::string("DEFIJKNRST")) Put(annexes.find(letter) != std::string::npos, 1);
            Put(8, 4);
        }
        Put(type, 3);
        Put(0, 3);  // RPR, RRU, rounding type
        Put(1, 3);
        Put(0, 1);  // CPM
        if (full && format == 6) {
            Put(2, 4);  // PAR 12:11
            Put(width / 4 - 1, 9);
            Put(1, 1);
            Put(height / 4, 9);
        }
        Put(8, 5);
        End();
    }
    // A start code followed by what is no picture header.
    void Broken() {
        Put(0x20, 22);
        Put(0, 8);
        Put(0, 2);  // PTYPE must begin with 1 0
        End();
    }
    StreamInfo Analyse() const {
        StreamInfo info;
        EXPECT_TRUE(AnalyseStream(bytes.data(), bytes.size(), &info));
        return info;
    }
    std::vector<uint8_t> bytes;

  private:
    void Start() {
        Put(0x20, 22);  // PSC
        Put(tr_++, 8);
        Put(2, 2);  // 1 0
    }
    void End() {
        while (bit_ != 0) Put(0, 1);
        for (int i = 0; i < 40; ++i) bytes.push_back(0x5A);  // macroblock data
    }
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bit_ == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (7 - bit_));
            bit_ = (bit_ + 1) & 7;
        }
    }
    int bit_ = 0;
    uint8_t tr_ = 0;
};

TEST(StreamInfoTest, BaselineStreamIsProfileZero) {
    Stream s;
    s.Plain(2, false);
    for (int i = 0; i < 4; ++i) s.Plain(2, true);
    const StreamInfo info = s.Analyse();
    EXPECT_EQ(info.pictures, 5);
    EXPECT_EQ(info.frames, 5);
    EXPECT_EQ(info.format, 2);
    EXPECT_EQ(info.width, 176);
    EXPECT_EQ(info.height, 144);
    EXPECT_EQ(PictureCountText(info), "I 1, P 4");
    EXPECT_EQ(AnnexListText(info), "none");
    EXPECT_EQ(info.bytes, s.bytes.size());
    EXPECT_EQ(StreamProfile(info), 0);
    EXPECT_STREQ(ProfileName(0), "Baseline");
}

TEST(StreamInfoTest, AnnexesDecideTheProfile) {
    const struct {
        std::string annexes;
        int profile;
    } cases[] = {
        {"IJKT", 3}, {"IJT", 1}, {"I", 1}, {"T", 1},  {"F", 2},  {"K", 3},
        {"DF", 5},   {"DFK", 6}, {"N", 4}, {"E", -1}, {"S", -1}, {"R", -1},
    };
    for (const auto& c : cases) {
        Stream s;
        s.Plus(3, 0, c.annexes);
        s.Plus(3, 1, c.annexes, false);  // the modes carry over to a header without OPPTYPE
        const StreamInfo info = s.Analyse();
        EXPECT_EQ(info.annexes, c.annexes);
        EXPECT_EQ(StreamProfile(info), c.profile) << c.annexes;
        EXPECT_EQ(info.pictures, 2);
        EXPECT_EQ(info.badHeaders, 0);
    }
}

TEST(StreamInfoTest, PictureTypesAndTheirAnnexes) {
    Stream s;
    s.Plus(2, 0, "IJKT");
    s.Plus(2, 1, "IJKT", false);
    s.Plus(2, 3, "", false);  // B
    s.Plus(2, 3, "", false);
    s.Plus(2, 1, "", false);
    StreamInfo info = s.Analyse();
    EXPECT_EQ(PictureCountText(info), "I 1, P 2, B 2");
    EXPECT_EQ(AnnexListText(info), "I, J, K, O, T");
    EXPECT_EQ(StreamProfile(info), 8);

    Stream pb;  // PB-frames (Annex G) and improved PB-frames (Annex M) carry two frames each
    pb.Plain(1, false);
    pb.Plain(1, true, false, false, false, true);
    pb.Plus(1, 2, "");
    info = pb.Analyse();
    EXPECT_EQ(PictureCountText(info), "I 1, PB 1, Improved PB 1");
    EXPECT_EQ(info.frames, 5);
    EXPECT_EQ(info.annexes, "GM");
    EXPECT_EQ(StreamProfile(info), -1);
}

TEST(StreamInfoTest, CustomSizeAndUnreadableHeaders) {
    Stream s;
    s.Plus(6, 0, "", true, 320, 240);
    s.Broken();
    s.Plus(6, 1, "", false);
    const StreamInfo info = s.Analyse();
    EXPECT_EQ(info.format, 6);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.pictures, 2);
    EXPECT_EQ(info.badHeaders, 1);

    StreamInfo none;
    const uint8_t junk[] = {1, 2, 3, 0, 0, 0, 0x7f};
    EXPECT_FALSE(AnalyseStream(junk, sizeof junk, &none));
    EXPECT_FALSE(AnalyseStream(junk, 0, &none));
}

// A stream of `frames` pictures of width x height holding `kbps` kbit/s at `rate`.
StreamInfo Shaped(int width, int height, int frames, double rate, double kbps) {
    StreamInfo info;
    info.maxWidth = width;
    info.maxHeight = height;
    info.frames = info.pictures = frames;
    info.bytes = static_cast<uint64_t>(kbps * 1000.0 / 8.0 * frames / rate);
    return info;
}

TEST(StreamInfoTest, LevelFollowsSizeRateAndBitrate) {
    EXPECT_NEAR(StreamBitrateKbps(Shaped(176, 144, 30, 15.0, 64.0), 15.0), 64.0, 0.01);
    EXPECT_EQ(StreamLevel(Shaped(176, 144, 30, 15.0, 60.0), 15.0), 10);
    EXPECT_EQ(StreamLevel(Shaped(128, 96, 30, 15.0, 60.0), 15.0), 10);
    EXPECT_EQ(StreamLevel(Shaped(176, 144, 30, 15.0, 100.0), 15.0), 45);
    EXPECT_EQ(StreamLevel(Shaped(176, 144, 30, 30.0, 100.0), 30.0), 20);
    EXPECT_EQ(StreamLevel(Shaped(352, 288, 30, 15.0, 120.0), 15.0), 20);
    EXPECT_EQ(StreamLevel(Shaped(352, 288, 30, 30.0, 120.0), 30.0), 30);
    EXPECT_EQ(StreamLevel(Shaped(176, 144, 30, 30.0, 300.0), 30.0), 30);
    EXPECT_EQ(StreamLevel(Shaped(352, 288, 30, 30.0, 1000.0), 30.0), 40);
    EXPECT_EQ(StreamLevel(Shaped(352, 288, 30, 50.0, 1000.0), 50.0), 50);
    EXPECT_EQ(StreamLevel(Shaped(704, 288, 30, 50.0, 1000.0), 50.0), 60);
    EXPECT_EQ(StreamLevel(Shaped(704, 576, 30, 25.0, 1000.0), 25.0), 70);
    EXPECT_EQ(StreamLevel(Shaped(704, 576, 30, 25.0, 20000.0), 25.0), -1);
    EXPECT_EQ(StreamLevel(Shaped(1408, 1152, 30, 10.0, 100.0), 10.0), -1);
    EXPECT_EQ(StreamLevel(Shaped(176, 144, 30, 60.0, 60.0), 60.0), 50);
}

TEST(CsvReportTest, RowsAsTheLogShowsThem) {
    PictureReport p;
    p.frame = 7;
    p.type = 'B';
    p.bytes = 312;
    EXPECT_EQ(PictureCsvRow(p), "7,B,312,,,");
    p.snrMeasured = true;
    p.snrY = 34.126;
    p.snrU = 1000.0;
    p.snrV = 38.0;
    EXPECT_EQ(PictureCsvRow(p), "7,B,312,34.13,1000.00,38.00");
    EXPECT_EQ(PictureCsv({p, p}),
              "frame,type,bytes,snr_y,snr_u,snr_v\n" + PictureCsvRow(p) + "\n" + PictureCsvRow(p) + "\n");
    EXPECT_EQ(ComparisonCsv({FrameComparison{3, 30.004, 31.0, 32.5}}),
              "frame,snr_y,snr_u,snr_v\n3,30.00,31.00,32.50\n");
}

}  // namespace
}  // namespace tessaro
