// Encoder -> decoder round trip: every picture the decoder returns equals the encoder's own
// reconstruction of it (cut to the display size), byte for byte, in display order, with the same
// count.
#include <gtest/gtest.h>

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
};

struct Encoded {
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> recon;  // display order (I and P pictures only)
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
    r263avo::Encoder* e = r263avo::EncoderCreate();
    EXPECT_EQ(r263avo::EncoderOpen(*e, p), 0);
    const size_t frameBytes = static_cast<size_t>(v.width) * v.height * 3 / 2;
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
    for (int f = 0; f < v.frames;) {
        const bool intra = f == 0 || (v.intraPeriod > 0 && f % v.intraPeriod == 0);
        uint32_t isIntra = 0, bytes = 0;
        const int32_t next =
            r263avo::EncodeFrame(*e, f, intra, &isIntra, source.data() + f * frameBytes, &bytes);
        EXPECT_GE(next, f);
        if (next < f) break;
        out.stream.insert(out.stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
        r263avo::ReconstructedPicture rec;
        if (bytes > 0 && r263avo::EncoderLastReconstruction(*e, &rec))
            out.recon.push_back(Crop(rec, v.width, v.height));
        f = next + 1;
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    return out;
}

class RoundTrip : public ::testing::TestWithParam<Variant> {};

TEST_P(RoundTrip, DecoderMatchesEncoderReconstruction) {
    const Variant& v = GetParam();
    const Encoded enc = Encode(v);
    ASSERT_FALSE(enc.stream.empty());
    ASSERT_FALSE(enc.recon.empty());
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
    return list;
}

INSTANTIATE_TEST_SUITE_P(Encoder, RoundTrip, ::testing::ValuesIn(Variants()),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
