// Helpers of the long interop runs (150 pictures and more): a source sequence, ffmpeg's decode of
// a stream with a chosen inverse transform, and the per-picture luma PSNR of two decodes.
//
// A deblocked stream never decodes identically in two decoders whose inverse transforms differ:
// the filter's thresholds amplify the small transform mismatch, and the loop carries it on until
// the next I-picture. So such streams are judged against the level at which ffmpeg's own two
// transforms (-idct simple and -idct int) agree on the same stream.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace longinterop {

inline size_t FrameBytes(int w, int h) {
    return static_cast<size_t>(w) * h * 3 / 2;
}

// `frames` pictures of w x h: foreman (QCIF as it is; other sizes cropped from the CIF sequence)
// played forward and backward in turn, or a synthetic sequence when the shared data is absent.
inline std::vector<uint8_t> Source(int w, int h, int frames) {
    const bool qcif = w == 176 && h == 144;
    const std::string path = testsupport::SharedDataFile(qcif ? "foreman.qcif" : "foreman.cif");
    const int sw = qcif ? 176 : 352, sh = qcif ? 144 : 288;
    std::vector<uint8_t> all;
    if (!path.empty() && w <= sw && h <= sh) all = testsupport::ReadFile(path);
    const size_t sfb = FrameBytes(sw, sh);
    const int count = static_cast<int>(all.size() / sfb);
    if (count < 2) {
        tessaro::SyntheticOptions o;
        o.width = w;
        o.height = h;
        o.frames = frames;
        o.sceneCut = frames + 1;
        return tessaro::GenerateSyntheticSequence(o);
    }
    std::vector<uint8_t> out(FrameBytes(w, h) * static_cast<size_t>(frames));
    uint8_t* dst = out.data();
    for (int f = 0; f < frames; ++f) {
        const int period = 2 * (count - 1), k = f % period;
        const uint8_t* src = all.data() + sfb * static_cast<size_t>(k < count ? k : period - k);
        const uint8_t* planes[3] = {src, src + sw * sh, src + sw * sh + (sw / 2) * (sh / 2)};
        for (int p = 0; p < 3; ++p) {
            const int pw = p ? w / 2 : w, ph = p ? h / 2 : h, stride = p ? sw / 2 : sw;
            for (int j = 0; j < ph; ++j, dst += pw) std::copy(planes[p] + j * stride, planes[p] + j * stride + pw, dst);
        }
    }
    return out;
}

inline std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

// ffmpeg's decode of `stream` as planar I420, every picture kept; `idct` is "" (ffmpeg's choice)
// or an -idct value. Empty on failure (with the reason in *log).
inline std::vector<uint8_t> FfmpegDecode(const std::string& stream, const std::string& out, const std::string& idct,
                                         std::string* log) {
    const std::string cmd = "ffmpeg -v error -y -threads 1 " + (idct.empty() ? "" : "-idct " + idct + " ") + "-i " +
                            Quoted(stream) + " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + Quoted(out) +
                            " </dev/null 2>&1";
    if (testsupport::RunCommand(cmd, log) != 0) return {};
    return testsupport::ReadFile(out);
}

struct Agreement {
    size_t pictures = 0;
    double mean = 0.0;
    double worst = 1000.0;
    size_t worstPicture = 0;
};

// Luma PSNR of picture i of `a` against picture i of `b` (the first `count` pictures).
inline Agreement Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h, size_t count) {
    Agreement g;
    const size_t fb = FrameBytes(w, h), luma = static_cast<size_t>(w) * h;
    count = std::min({count, a.size() / fb, b.size() / fb});
    for (size_t i = 0; i < count; ++i) {
        const double psnr = testsupport::PlanePsnr(a.data() + i * fb, b.data() + i * fb, luma);
        g.mean += std::min(psnr, 99.0);  // identical pictures count as 99 dB, not 1000
        if (psnr < g.worst) {
            g.worst = psnr;
            g.worstPicture = i;
        }
    }
    g.pictures = count;
    if (count) g.mean /= static_cast<double>(count);
    return g;
}

// The level at which ffmpeg's two inverse transforms agree on `stream` (files in `dir`).
inline Agreement FfmpegSelfAgreement(const std::string& stream, const std::string& dir, int w, int h,
                                     size_t count) {
    std::string log;
    const std::vector<uint8_t> simple = FfmpegDecode(stream, dir + "/simple.yuv", "simple", &log);
    EXPECT_FALSE(simple.empty()) << log;
    const std::vector<uint8_t> integer = FfmpegDecode(stream, dir + "/int.yuv", "int", &log);
    EXPECT_FALSE(integer.empty()) << log;
    return Compare(simple, integer, w, h, count);
}

}  // namespace longinterop
