// Helpers of the encoder tests: a bit reader, a picture-header parser independent of the
// encoder's writer, a driver that encodes a sequence the way the encode job does, and FNV-1a.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "R263AVO.h"
#include "SyntheticSequence.h"

namespace enctest {

class BitReader {
  public:
    BitReader(const uint8_t* data, size_t bytes) : data_(data), bits_(bytes * 8) {}
    explicit BitReader(const std::vector<uint8_t>& v) : BitReader(v.data(), v.size()) {}

    // Reads n (0..32) bits, most significant first; bits past the end read as 0.
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            v = (v << 1) | Bit(pos_);
            ++pos_;
        }
        return v;
    }
    uint32_t Peek(int n) const {
        BitReader copy = *this;
        return copy.Get(n);
    }
    void AlignToByte() { pos_ = (pos_ + 7) / 8 * 8; }
    size_t Position() const { return pos_; }
    void Seek(size_t bit) { pos_ = bit; }
    size_t Size() const { return bits_; }

  private:
    uint32_t Bit(size_t i) const { return i < bits_ ? (data_[i / 8] >> (7 - i % 8)) & 1u : 0u; }
    const uint8_t* data_;
    size_t bits_;
    size_t pos_ = 0;
};

// Picture header fields as a decoder sees them.
struct Header {
    uint32_t psc = 0, tr = 0, ptypeFormat = 0;
    bool plus = false;
    uint32_t codingType = 0;  // plain PTYPE bit 9
    uint32_t ptypeFlags = 0;  // plain PTYPE bits 10-13
    uint32_t ufep = 0, opptype = 0, mpptype = 0;
    uint32_t par = 0, pwi = 0, phi = 0;
    uint32_t sss = 0, elnum = 0, rlnum = 0;  // slice structure bits, B-picture layer numbers
    uint32_t quant = 0, cpm = 0, pei = 0;
    uint32_t OppFormat() const { return opptype >> 15; }
    uint32_t PictureType() const { return plus ? mpptype >> 6 : codingType; }
    bool OppBit(int n) const { return (opptype >> (18 - n)) & 1u; }  // bit n, 1-based
};

inline Header ReadHeader(BitReader& r) {
    Header h;
    h.psc = r.Get(22);
    h.tr = r.Get(8);
    const uint32_t first5 = r.Get(5);
    EXPECT_EQ(first5, 0x10u) << "PTYPE bits 1-5";
    h.ptypeFormat = r.Get(3);
    if (h.ptypeFormat == 7) {
        h.plus = true;
        h.ufep = r.Get(3);
        h.opptype = r.Get(18);
        h.mpptype = r.Get(9);
        h.cpm = r.Get(1);
        if (h.OppFormat() == 6) {
            h.par = r.Get(4);
            h.pwi = r.Get(9);
            EXPECT_EQ(r.Get(1), 1u);
            h.phi = r.Get(9);
        }
        if (h.OppBit(10)) h.sss = r.Get(2);
        if ((h.mpptype >> 6) == 3) {
            h.elnum = r.Get(4);
            h.rlnum = r.Get(4);  // present since UFEP is 001
        }
        h.quant = r.Get(5);
    } else {
        h.codingType = r.Get(1);
        h.ptypeFlags = r.Get(4);
        h.quant = r.Get(5);
        h.cpm = r.Get(1);
    }
    h.pei = r.Get(1);
    return h;
}

inline uint64_t Fnv1a64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

struct EncoderDeleter {
    void operator()(r263avo::Encoder* e) const {
        r263avo::EncoderClose(*e);
        r263avo::EncoderDestroy(e);
    }
};
using EncoderPtr = std::unique_ptr<r263avo::Encoder, EncoderDeleter>;

inline EncoderPtr OpenEncoder(const r263avo::EncoderParams& p) {
    EncoderPtr e(r263avo::EncoderCreate());
    if (r263avo::EncoderOpen(*e, p) != 0) return nullptr;
    return e;
}

inline size_t FrameBytes(int w, int h) {
    return static_cast<size_t>(w) * h * 3 / 2;
}

// Copies the visible w x h part of a reconstruction into a planar I420 picture.
inline std::vector<uint8_t> CropRecon(const r263avo::ReconstructedPicture& rec, int w, int h) {
    std::vector<uint8_t> out(FrameBytes(w, h));
    const int cw = rec.codedWidth, ch = rec.codedHeight;
    uint8_t* dst = out.data();
    const uint8_t* planes[3] = {rec.data, rec.data + cw * ch, rec.data + cw * ch + (cw / 2) * (ch / 2)};
    for (int p = 0; p < 3; ++p) {
        const int pw = p ? w / 2 : w, ph = p ? h / 2 : h, stride = p ? cw / 2 : cw;
        for (int j = 0; j < ph; ++j, dst += pw) std::memcpy(dst, planes[p] + j * stride, pw);
    }
    return out;
}

struct CodedPicture {
    int frame = 0;  // input frame number of the coded picture (its reconstruction's when kept)
    int type = -1;  // PictureType, when the reconstruction is kept
    uint32_t isIntra = 0;
    uint32_t bytes = 0;
    double snrY = 0, snrU = 0, snrV = 0;
    std::vector<uint8_t> recon;  // cropped to the input size (when asked for)
};

struct EncodeRun {
    std::vector<uint8_t> stream;
    std::vector<CodedPicture> pictures;
};

// Encodes frames StartFrame..EndFrame of `source` (frame i at i x frame size) following the
// results, with intra requests at StartFrame and every IFramePeriod frames after it, as the
// encode job does, then flushes the held B-pictures. `pictures` lists the coded pictures in
// coding order (calls that only stored a picture add none). With `keepRecon` every picture must
// have a reconstruction (B-pictures need ReconstructBPictures). `opened` and `finished` see the
// encoder after it was opened and after the last call. With `hintNext` every call is told the
// frame that the next one will get (EncoderSetNextFrame), as the encode job tells it.
inline EncodeRun EncodeSequence(const r263avo::EncoderParams& p, const std::vector<uint8_t>& source,
                                bool keepRecon = false,
                                const std::function<void(r263avo::Encoder&)>& opened = {},
                                const std::function<void(r263avo::Encoder&)>& finished = {},
                                bool hintNext = false) {
    EncodeRun run;
    EncoderPtr e = OpenEncoder(p);
    EXPECT_TRUE(e) << "EncoderOpen refused the parameters";
    if (!e) return run;
    if (opened) opened(*e);
    const size_t fb = FrameBytes(p.Width, p.Height);
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
    auto keep = [&](CodedPicture& pic) {
        EXPECT_EQ(pic.bytes, stats.ByteCount);
        if (pic.bytes == 0) return;
        run.stream.insert(run.stream.end(), stats.OutputBuffer, stats.OutputBuffer + pic.bytes);
        pic.snrY = stats.SnrY;
        pic.snrU = stats.SnrU;
        pic.snrV = stats.SnrV;
        if (keepRecon) {
            r263avo::ReconstructedPicture rec;
            EXPECT_TRUE(r263avo::EncoderLastReconstruction(*e, &rec));
            pic.recon = CropRecon(rec, p.Width, p.Height);
            pic.frame = rec.frame;
            pic.type = rec.type;
        }
        run.pictures.push_back(std::move(pic));
    };
    for (int f = p.StartFrame; f <= p.EndFrame;) {
        EXPECT_LE((f + 1) * fb, source.size());
        const bool intra =
            f == p.StartFrame || (p.IFramePeriod > 0 && (f - p.StartFrame) % p.IFramePeriod == 0);
        CodedPicture pic;
        pic.frame = f;
        const int next = f + std::max(p.FrameRateActual, 1);
        if (hintNext && next <= p.EndFrame) r263avo::EncoderSetNextFrame(*e, next, source.data() + next * fb);
        const int32_t r =
            r263avo::EncodeFrame(*e, f, intra ? 1 : 0, &pic.isIntra, source.data() + f * fb, &pic.bytes);
        EXPECT_GE(r, f);
        if (r < f) break;
        keep(pic);
        f = r + 1;
    }
    const int held = p.UseTrueBPictures ? std::min(std::max(p.BPictures, 0), 5) : 0;
    for (int k = 0; k < held; ++k) {
        CodedPicture pic;
        pic.frame = -1;
        EXPECT_EQ(r263avo::EncoderFlushFrame(*e, &pic.bytes), 0);
        keep(pic);
    }
    if (finished) finished(*e);
    return run;
}

inline std::vector<uint8_t> Synthetic(int w, int h, int frames, uint32_t seed = 1) {
    tessaro::SyntheticOptions o;
    o.width = w;
    o.height = h;
    o.frames = frames;
    o.seed = seed;
    return tessaro::GenerateSyntheticSequence(o);
}

inline r263avo::EncoderParams BaseParams(int format, int w, int h, int frames) {
    r263avo::EncoderParams p;
    p.SourceFormat = format;
    p.Width = w;
    p.Height = h;
    p.StartFrame = 0;
    p.EndFrame = frames - 1;
    p.FrameCount = frames;
    return p;
}

}  // namespace enctest
