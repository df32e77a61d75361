// Encoder -> decoder round trip: every picture the decoder returns equals the encoder's own
// reconstruction of it (cut to the display size), byte for byte, in display order, with the same
// count. B-pictures are compared through the encoder's reconstruction of them
// (ReconstructBPictures); the encoder hands pictures out in coding order, so its reconstructions
// are put into display order by frame number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "R263AVO.h"
#include "SyntheticSequence.h"

namespace {

struct Variant {
    const char* name;
    int format;
    int width, height;
    int frames;
    int gob = 0;
    int speed = 1;
    int searchWindow = 15;
    int rateControl = 0;
    int frameStep = 1;
    int intraPeriod = 0;
    int modifiedQuant = 0;
    int quant = 8;
    int bPictures = 0;  // UseTrueBPictures with this many B-pictures
    int aic = 0;
    int df = 0;
    int slices = 0;  // MBlocksPerSlice with slice mode on, 0 = off
};

struct Encoded {
    bool opened = false;
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> recon;  // display order
};

std::vector<uint8_t> Crop(const r263avo::ReconstructedPicture& rec, int w, int h) {
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 / 2);
    const int cw = rec.codedWidth, ch = rec.codedHeight;
    const uint8_t* planes[3] = {rec.data, rec.data + cw * ch, rec.data + cw * ch + (cw / 2) * (ch / 2)};
    uint8_t* dst = out.data();
    for (int p = 0; p < 3; ++p) {
        const int pw = p ? w / 2 : w, ph = p ? h / 2 : h, stride = p ? cw / 2 : cw;
        for (int j = 0; j < ph; ++j, dst += pw)
            std::memcpy(dst, planes[p] + j * stride, static_cast<size_t>(pw));
    }
    return out;
}

Encoded Encode(const Variant& v) {
    Encoded out;
    tessaro::SyntheticOptions o;
    o.width = v.width;
    o.height = v.height;
    o.frames = v.frames;
    const std::vector<uint8_t> source = tessaro::GenerateSyntheticSequence(o);
    r263avo::EncoderParams p;
    p.SourceFormat = v.format;
    p.Width = v.width;
    p.Height = v.height;
    p.StartFrame = 0;
    p.EndFrame = v.frames - 1;
    p.FrameCount = v.frames;
    p.GOBMode = v.gob;
    p.Speed = v.speed;
    p.SearchWindow = v.searchWindow;
    p.RateControl = v.rateControl;
    p.Bitrate = 128000;
    p.FrameRateActual = v.frameStep;
    p.IFramePeriod = v.intraPeriod;
    p.UseModifiedQuant = v.modifiedQuant;
    p.PQuantizer = p.IQuantizer = v.quant;
    p.UseTrueBPictures = v.bPictures > 0;
    p.BPictures = v.bPictures;
    p.BQuantizer = v.quant;
    p.ReconstructBPictures = 1;
    p.UseAdvIntraCoding = v.aic;
    p.UseDeblockFilter = v.df;
    p.UseSliceMode = v.slices > 0;
    p.MBlocksPerSlice = v.slices;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    if (r263avo::EncoderOpen(*e, p) != 0) {
        r263avo::EncoderDestroy(e);
        return out;
    }
    out.opened = true;
    const size_t frameBytes = static_cast<size_t>(v.width) * v.height * 3 / 2;
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
    std::vector<std::pair<int, std::vector<uint8_t>>> coded;  // (frame, reconstruction), coding order
    auto collect = [&](uint32_t bytes) {
        out.stream.insert(out.stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
        r263avo::ReconstructedPicture rec;
        if (bytes > 0 && r263avo::EncoderLastReconstruction(*e, &rec))
            coded.emplace_back(rec.frame, Crop(rec, v.width, v.height));
    };
    for (int f = 0; f < v.frames;) {
        const bool intra = f == 0 || (v.intraPeriod > 0 && f % v.intraPeriod == 0);
        uint32_t isIntra = 0, bytes = 0;
        const int32_t next =
            r263avo::EncodeFrame(*e, f, intra, &isIntra, source.data() + f * frameBytes, &bytes);
        EXPECT_GE(next, f);
        if (next < f) break;
        collect(bytes);
        f = next + 1;
    }
    for (int i = 0; i < v.bPictures; ++i) {
        uint32_t bytes = 0;
        EXPECT_EQ(r263avo::EncoderFlushFrame(*e, &bytes), 0);
        collect(bytes);
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    std::stable_sort(coded.begin(), coded.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& c : coded) out.recon.push_back(std::move(c.second));
    return out;
}

class RoundTrip : public ::testing::TestWithParam<Variant> {};

TEST_P(RoundTrip, DecoderMatchesEncoderReconstruction) {
    const Variant& v = GetParam();
    const Encoded enc = Encode(v);
    if (!enc.opened) GTEST_SKIP() << "the encoder does not take these options";
    ASSERT_FALSE(enc.stream.empty());
    ASSERT_FALSE(enc.recon.empty());
    // Without rate control (which may skip frames) every input frame is coded and reconstructed.
    if (v.rateControl == 0 && v.frameStep == 1) {
        EXPECT_EQ(enc.recon.size(), static_cast<size_t>(v.frames));
    }
    const decodertest::DecodedStream dec = decodertest::DecodeAll(enc.stream);
    EXPECT_EQ(dec.pictureBytes, static_cast<uint32_t>(v.width * v.height * 3 / 2));
    ASSERT_EQ(dec.pictures.size(), enc.recon.size());
    for (size_t i = 0; i < dec.pictures.size(); ++i) {
        ASSERT_EQ(dec.pictures[i].size(), enc.recon[i].size());
        size_t firstDiff = 0;
        while (firstDiff < enc.recon[i].size() && dec.pictures[i][firstDiff] == enc.recon[i][firstDiff])
            ++firstDiff;
        ASSERT_EQ(firstDiff, enc.recon[i].size())
            << "picture " << i << " differs first at byte " << firstDiff;
    }
}

std::vector<Variant> Variants() {
    std::vector<Variant> list;
    auto add = [&](Variant v) { list.push_back(v); };
    add({.name = "sqcif", .format = 1, .width = 128, .height = 96, .frames = 8});
    add({.name = "qcif", .format = 2, .width = 176, .height = 144, .frames = 8});
    add({.name = "cif", .format = 3, .width = 352, .height = 288, .frames = 4});
    add({.name = "cif4", .format = 4, .width = 704, .height = 576, .frames = 3});
    add({.name = "cif16", .format = 5, .width = 1408, .height = 1152, .frames = 2, .speed = 5});
    add({.name = "custom180x100", .format = 6, .width = 180, .height = 100, .frames = 8});
    add({.name = "custom320x240", .format = 6, .width = 320, .height = 240, .frames = 6});
    add({.name = "qcif_gob", .format = 2, .width = 176, .height = 144, .frames = 8, .gob = 1});
    add({.name = "cif4_gob", .format = 4, .width = 704, .height = 576, .frames = 3, .gob = 1});
    add({.name = "custom180x100_gob", .format = 6, .width = 180, .height = 100, .frames = 6, .gob = 1});
    add({.name = "qcif_speed5", .format = 2, .width = 176, .height = 144, .frames = 8, .speed = 5});
    add({.name = "qcif_window0", .format = 2, .width = 176, .height = 144, .frames = 8, .searchWindow = 0});
    add({.name = "qcif_ratecontrol",
         .format = 2,
         .width = 176,
         .height = 144,
         .frames = 10,
         .rateControl = 1});
    add({.name = "qcif_step3", .format = 2, .width = 176, .height = 144, .frames = 12, .frameStep = 3});
    add({.name = "qcif_intra4", .format = 2, .width = 176, .height = 144, .frames = 10, .intraPeriod = 4});
    add({.name = "qcif_mq", .format = 2, .width = 176, .height = 144, .frames = 8, .modifiedQuant = 1});
    add({.name = "qcif_mq_q31",
         .format = 2,
         .width = 176,
         .height = 144,
         .frames = 6,
         .modifiedQuant = 1,
         .quant = 31});
    add({.name = "qcif_mq_q5",
         .format = 2,
         .width = 176,
         .height = 144,
         .frames = 6,
         .modifiedQuant = 1,
         .quant = 5});
    add({.name = "cif_mq_gob_rc",
         .format = 3,
         .width = 352,
         .height = 288,
         .frames = 5,
         .gob = 1,
         .rateControl = 1,
         .modifiedQuant = 1});
    add({.name = "custom320x240_mq_step3",
         .format = 6,
         .width = 320,
         .height = 240,
         .frames = 9,
         .frameStep = 3,
         .modifiedQuant = 1});
    add({.name = "custom180x100_speed5_window0_intra3",
         .format = 6,
         .width = 180,
         .height = 100,
         .frames = 9,
         .speed = 5,
         .searchWindow = 0,
         .intraPeriod = 3});
    // GOB size of custom formats follows the signalled height: 1 row up to 400 lines, 2 above.
    add({.name = "custom176x392_gob", .format = 6, .width = 176, .height = 392, .frames = 3, .gob = 1});
    add({.name = "custom176x400_gob", .format = 6, .width = 176, .height = 400, .frames = 3, .gob = 1});
    add({.name = "custom176x404_gob_mq",
         .format = 6,
         .width = 176,
         .height = 404,
         .frames = 2,
         .gob = 1,
         .modifiedQuant = 1});

    // Annexes I, J, K, T and B-pictures: a pairwise selection of the combinations, with GOB headers
    // on and off, three picture sizes, several quantisers and speeds, rate control on and off.
    struct Mix {
        const char* name;
        int format, width, height, frames;
        int b, aic, df, slices, mq, gob, quant, speed, rc;
    };
    const Mix mixes[] = {
        {"qcif_b1", 2, 176, 144, 7, 1, 0, 0, 0, 0, 0, 8, 1, 0},
        {"qcif_b2_aic", 2, 176, 144, 7, 2, 1, 0, 0, 0, 0, 10, 2, 0},
        {"qcif_b5_df", 2, 176, 144, 8, 5, 0, 1, 0, 0, 0, 8, 3, 0},
        {"qcif_aic_q5", 2, 176, 144, 5, 0, 1, 0, 0, 0, 0, 5, 1, 0},
        {"qcif_aic_mq_q31", 2, 176, 144, 5, 0, 1, 0, 0, 1, 0, 31, 4, 0},
        {"qcif_df_q5", 2, 176, 144, 5, 0, 0, 1, 0, 0, 0, 5, 5, 0},
        {"qcif_df_mq_q20", 2, 176, 144, 5, 0, 0, 1, 0, 1, 1, 20, 1, 0},
        {"qcif_ss1", 2, 176, 144, 4, 0, 0, 0, 1, 0, 0, 8, 2, 0},
        {"qcif_ss11_aic_df", 2, 176, 144, 5, 0, 1, 1, 11, 0, 0, 12, 3, 0},
        {"qcif_ss1_aic_df_mq_b2", 2, 176, 144, 6, 2, 1, 1, 1, 1, 0, 9, 1, 0},
        {"qcif_gob_aic_df_b1", 2, 176, 144, 7, 1, 1, 1, 0, 0, 1, 14, 5, 0},
        {"qcif_gob_mq_b2_q31", 2, 176, 144, 6, 2, 0, 0, 0, 1, 1, 31, 2, 0},
        {"qcif_rc_b2_aic_df", 2, 176, 144, 9, 2, 1, 1, 0, 0, 0, 8, 1, 1},
        {"qcif_rc_ss11_mq_b1", 2, 176, 144, 7, 1, 0, 0, 11, 1, 0, 8, 4, 1},
        {"sqcif_b3_ss1_df", 1, 128, 96, 8, 3, 0, 1, 1, 0, 0, 6, 3, 0},
        {"cif_aic_df_ss11_b2", 3, 352, 288, 4, 2, 1, 1, 11, 0, 0, 10, 5, 0},
        {"cif_gob_aic_mq_b1", 3, 352, 288, 3, 1, 1, 0, 0, 1, 1, 16, 5, 1},
        {"cif_ssrow_df", 3, 352, 288, 3, 0, 0, 1, 22, 0, 0, 8, 5, 0},
        {"custom180x100_ssrow_aic_df_mq_b2", 6, 180, 100, 7, 2, 1, 1, 12, 1, 0, 7, 2, 0},
        {"custom180x100_gob_aic_df_b1", 6, 180, 100, 6, 1, 1, 1, 0, 0, 1, 11, 3, 0},
        {"custom180x100_ss11_b5_rc", 6, 180, 100, 9, 5, 0, 0, 11, 0, 0, 8, 1, 1},
    };
    for (const Mix& m : mixes) {
        add({.name = m.name,
             .format = m.format,
             .width = m.width,
             .height = m.height,
             .frames = m.frames,
             .gob = m.gob,
             .speed = m.speed,
             .rateControl = m.rc,
             .modifiedQuant = m.mq,
             .quant = m.quant,
             .bPictures = m.b,
             .aic = m.aic,
             .df = m.df,
             .slices = m.slices});
    }
    return list;
}

INSTANTIATE_TEST_SUITE_P(Encoder, RoundTrip, ::testing::ValuesIn(Variants()),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
