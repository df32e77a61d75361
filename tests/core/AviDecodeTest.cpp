// AVI frames decode in a process that does not link FFmpeg's libraries: AviFile loads them when
// the first frame is asked for. The file is written here, raw I420 frames in a minimal RIFF.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AviFile.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

class Riff {
  public:
    void Id(const char* id) { bytes.insert(bytes.end(), id, id + 4); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    // Starts a chunk (or, with `list`, a LIST of that type); End() fills in its size.
    void Begin(const char* id, const char* list = nullptr) {
        Id(id);
        open_.push_back(bytes.size());
        U32(0);
        if (list) Id(list);
    }
    void End() {
        const size_t at = open_.back();
        open_.pop_back();
        const uint32_t size = static_cast<uint32_t>(bytes.size() - at - 4);
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(size >> (8 * i));
        if (size & 1) bytes.push_back(0);
    }
    std::vector<uint8_t> bytes;

  private:
    std::vector<size_t> open_;
};

// `frames` I420 frames of w x h, frame k a flat grey of luma 40 + 40 k.
std::vector<uint8_t> RawAvi(int w, int h, int frames) {
    const uint32_t frameBytes = static_cast<uint32_t>(w * h * 3 / 2);
    Riff r;
    r.Begin("RIFF", "AVI ");
    r.Begin("LIST", "hdrl");
    r.Begin("avih");
    for (uint32_t v : {40000u, 0u, 0u, 0x10u, static_cast<uint32_t>(frames), 0u, 1u, frameBytes,
                       static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0u, 0u, 0u, 0u})
        r.U32(v);
    r.End();
    r.Begin("LIST", "strl");
    r.Begin("strh");
    r.Id("vids");
    r.Id("I420");
    for (uint32_t v : {0u, 0u, 0u, 1u, 25u, 0u, static_cast<uint32_t>(frames), frameBytes, 0xffffffffu, 0u})
        r.U32(v);
    for (uint16_t v : {uint16_t{0}, uint16_t{0}, static_cast<uint16_t>(w), static_cast<uint16_t>(h)})
        r.U16(v);
    r.End();
    r.Begin("strf");
    r.U32(40);
    r.U32(static_cast<uint32_t>(w));
    r.U32(static_cast<uint32_t>(h));
    r.U16(1);
    r.U16(12);
    r.Id("I420");
    for (uint32_t v : {frameBytes, 0u, 0u, 0u, 0u}) r.U32(v);
    r.End();
    r.End();  // strl
    r.End();  // hdrl
    r.Begin("LIST", "movi");
    const size_t movi = r.bytes.size() - 4;  // index offsets count from the 'movi' type
    std::vector<uint32_t> offsets;
    for (int k = 0; k < frames; ++k) {
        offsets.push_back(static_cast<uint32_t>(r.bytes.size() - movi));
        r.Begin("00dc");
        r.bytes.insert(r.bytes.end(), static_cast<size_t>(w) * h, static_cast<uint8_t>(40 + 40 * k));
        r.bytes.insert(r.bytes.end(), frameBytes - static_cast<size_t>(w) * h, 128);
        r.End();
    }
    r.End();  // movi
    r.Begin("idx1");
    for (int k = 0; k < frames; ++k) {
        r.Id("00dc");
        r.U32(0x10);  // key frame
        r.U32(offsets[static_cast<size_t>(k)]);
        r.U32(frameBytes);
    }
    r.End();
    r.End();  // RIFF
    return r.bytes;
}

TEST(AviDecode, FramesDecodeWithTheLibrariesLoadedOnDemand) {
#if !TESSARO_HAVE_AVI
    GTEST_SKIP() << "built without FFmpeg's libraries";
#else
    const std::string path = testsupport::MakeTempDir("avi-decode") + "/grey.avi";
    testsupport::WriteFile(path, RawAvi(64, 48, 4));
    AviFile avi;
    ASSERT_EQ(avi.Open(path), AviFile::OpenResult::kOpened);
    ASSERT_EQ(avi.video().width, 64);
    ASSERT_EQ(avi.video().frameCount, 4);
    std::vector<uint8_t> rgb(64 * 48 * 4);
    int previous = -1;
    for (int k : {0, 1, 2, 3}) {
        ASSERT_TRUE(avi.ReadFrameRgb32(k, rgb.data(), 64 * 4)) << "frame " << k;
        // A flat grey: every pixel alike, the three colours equal, brighter frame by frame.
        const uint8_t* p = rgb.data() + 4 * (20 * 64 + 30);
        EXPECT_EQ(p[0], p[1]);
        EXPECT_EQ(p[1], p[2]);
        EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 4), std::vector<uint8_t>(p, p + 4));
        EXPECT_GT(p[0], previous) << "frame " << k;
        previous = p[0];
    }
    // Back to the start (a seek) gives the first frame again.
    ASSERT_TRUE(avi.ReadFrameRgb32(0, rgb.data(), 64 * 4));
    EXPECT_LT(rgb[0], previous);
#endif
}

}  // namespace
}  // namespace tessaro
