// Opening raw sequences and bitstreams: every refusal message, .cst sizes, the bitstream peek,
// decoded names, frame reads and the bitrate figure.
#include <gtest/gtest.h>

#include <vector>

#include "Settings.h"
#include "TestSupport.h"
#include "VideoFile.h"

namespace tessaro {
namespace {

// Answers the picture-size question with a fixed size, or declines; counts the questions.
class Host : public VideoFileHost {
  public:
    Host(int w = 0, int h = 0) : w_(w), h_(h) {}
    bool AskPictureSize(const std::string& title, int* w, int* h) override {
        ++asked;
        lastTitle = title;
        if (w_ == 0) return false;
        *w = w_;
        *h = h_;
        return true;
    }
    void RawOpened(int frameCount, int format, int width, int height) override {
        ReinitEncoderParams({}, frameCount, format, width, height, &settings);
    }
    int asked = 0;
    std::string lastTitle;
    CodecSettings settings;

  private:
    int w_, h_;
};

std::string MakeFile(const std::string& dir, const std::string& name, size_t size, uint8_t fill = 0) {
    const std::string path = dir + "/" + name;
    std::vector<uint8_t> bytes(size, fill);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + fill);
    testsupport::WriteFile(path, bytes);
    return path;
}

// Writes bits most significant first.
class Bits {
  public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bit_ == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (7 - bit_));
            bit_ = (bit_ + 1) & 7;
        }
    }
    std::vector<uint8_t> bytes;

  private:
    int bit_ = 0;
};

// A picture header with plain PTYPE and the given source format.
std::vector<uint8_t> PlainHeader(int format) {
    Bits b;
    b.Put(0x20, 22);  // PSC
    b.Put(0, 8);      // TR
    b.Put(0b10, 2);
    b.Put(0, 3);
    b.Put(format, 3);
    b.Put(0, 5);
    b.Put(0, 32);
    return b.bytes;
}

// A picture header with PLUSPTYPE; a custom size when format is 6.
std::vector<uint8_t> PlusHeader(int format, int width, int height, int ufep = 1) {
    Bits b;
    b.Put(0x20, 22);
    b.Put(0, 8);
    b.Put(0b10, 2);
    b.Put(0, 3);
    b.Put(7, 3);       // extended PTYPE
    b.Put(ufep, 3);    // UFEP
    b.Put(format, 3);  // OPPTYPE source format
    b.Put(0, 15);      // rest of OPPTYPE
    b.Put(0, 9);       // MPPTYPE
    b.Put(0, 1);       // CPM
    if (format == 6) {
        b.Put(2, 4);              // PAR
        b.Put(width / 4 - 1, 9);  // PWI
        b.Put(1, 1);
        b.Put(height / 4, 9);  // PHI
    }
    b.Put(0, 24);
    return b.bytes;
}

TEST(VideoFile, RefusalMessages) {
    const std::string dir = testsupport::MakeTempDir("videofile-refusals");
    struct Case {
        std::string name;
        size_t size;
        std::string message;  // after the path
        const char* prefix;
    };
    const Case cases[] = {
        {"missing.qcif", size_t(-1), "", "Error Opening "},
        {"empty.qcif", 0, "", "Invalid Input File "},
        {"empty.xyz", 0, "", "Invalid Input File "},
        {"odd.qcif", 38016 * 10 + 1, ": unknown file type", "Error Opening "},
        {"small.cif", 38016, ": unknown file type", "Error Opening "},
        {"what.xyz", 100, ": unknown file type", "Error Opening "},
        {"nodot", 100, ": unknown file type", "Error Opening "},
        {"garbage.263", 100, ": unknown file type.", "Error Opening "},
        {"short.263", 3, ": unknown file type.", "Error Opening "},
        {"nosize.cst", 24, ": picture width/height not specified", "Error Opening "},
    };
    for (const Case& c : cases) {
        std::string path = dir + "/" + c.name;
        if (c.size != size_t(-1)) MakeFile(dir, c.name, c.size, 0x55);
        VideoFile file;
        EXPECT_FALSE(file.Open(path)) << c.name;
        EXPECT_EQ(file.Error(), c.prefix + path + c.message) << c.name;
        EXPECT_FALSE(file.isRaw());
    }
    VideoFile folder;
    EXPECT_FALSE(folder.Open(dir));
    EXPECT_EQ(folder.Error(), "Error Opening " + dir + ": it is a folder, not a file");
}

TEST(VideoFile, RawSequencesByExtension) {
    const std::string dir = testsupport::MakeTempDir("videofile-raw");
    struct Case {
        const char* name;
        int format, width, height;
    };
    const Case cases[] = {{"a.sqcif", 1, 128, 96},
                          {"b.qcif", 2, 176, 144},
                          {"c.CIF", 3, 352, 288},
                          {"d.4cif", 4, 704, 576},
                          {"e.x.16Cif", 5, 1408, 1152}};
    for (const Case& c : cases) {
        const size_t frame = static_cast<size_t>(c.width) * c.height * 3 / 2;
        const std::string path = MakeFile(dir, c.name, frame * 2);
        Host host;
        VideoFile file;
        ASSERT_TRUE(file.Open(path, &host)) << file.Error();
        EXPECT_EQ(file.format(), c.format);
        EXPECT_EQ(file.width(), c.width);
        EXPECT_EQ(file.height(), c.height);
        EXPECT_EQ(file.frameCount(), 2);
        EXPECT_EQ(file.frameBytes(), static_cast<int64_t>(frame));
        EXPECT_EQ(file.fourcc(), 0x30323449u);  // "I420"
        EXPECT_EQ(host.asked, 0);
        EXPECT_EQ(host.settings.coder.SourceFormat, c.format);
    }
}

TEST(VideoFile, TenQcifFramesAndFrameReads) {
    const std::string dir = testsupport::MakeTempDir("videofile-frames");
    const std::string path = MakeFile(dir, "ten.qcif", 38016 * 10);
    Host host;
    VideoFile file;
    ASSERT_TRUE(file.Open(path, &host));
    EXPECT_EQ(file.frameCount(), 10);
    EXPECT_EQ(host.settings.coder.EndFrame, 9);
    std::vector<uint8_t> all = testsupport::ReadFile(path);
    const uint8_t* frame = file.ReadFrame(7);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(std::equal(frame, frame + 38016, all.begin() + 7 * 38016));
    EXPECT_EQ(file.ReadFrame(10), nullptr);
    EXPECT_EQ(file.ReadFrame(-1), nullptr);
    // 12 bits x 25344 pixels x 30 fps / 1024.
    EXPECT_DOUBLE_EQ(file.bitrateKbps(), 12 * 25344 * 30.0 / 1024.0);
    file.SetFrameRateIndex(5);
    EXPECT_DOUBLE_EQ(file.bitrateKbps(), 12 * 25344 * 8.3 / 1024.0);
}

TEST(VideoFile, ManyFramesKeepTheEncoderRangeBelowOneThousand) {
    const std::string dir = testsupport::MakeTempDir("videofile-many");
    const std::string path = MakeFile(dir, "many.sqcif", 18432u * 1001);
    Host host;
    VideoFile file;
    ASSERT_TRUE(file.Open(path, &host));
    EXPECT_EQ(file.frameCount(), 1001);
    EXPECT_EQ(host.settings.coder.EndFrame, 999);
}

TEST(VideoFile, CustomSizes) {
    const std::string dir = testsupport::MakeTempDir("videofile-cst");
    struct Case {
        int w, h;
        size_t size;
        bool ok;
    };
    const Case cases[] = {
        {4, 4, 24 * 3, true},           {2048, 1152, 2048 * 1152 * 3 / 2, true}, {5, 5, 37 * 2, true},
        {2049, 4, 2049 * 6 * 4, false}, {4, 1153, 6 * 1153 * 4, false},          {3, 4, 18, false},
        {176, 144, 38016 + 1, false},
    };
    for (const Case& c : cases) {
        const std::string path = MakeFile(dir, "pic.cst", c.size);
        Host host(c.w, c.h);
        VideoFile file;
        EXPECT_EQ(file.Open(path, &host), c.ok) << c.w << "x" << c.h;
        EXPECT_EQ(host.asked, 1);
        EXPECT_EQ(host.lastTitle, "pic.cst");
        if (c.ok) {
            EXPECT_EQ(file.format(), 6);
            EXPECT_EQ(file.frameCount(), static_cast<int>(c.size / (size_t(c.w) * c.h * 3 / 2)));
        } else {
            EXPECT_EQ(file.Error(), "Error Opening " + path + ": invalid picture width/height");
        }
    }
}

TEST(VideoFile, BitstreamPeek) {
    struct Case {
        std::vector<uint8_t> header;
        bool ok;
        int format, width, height;
    };
    const Case cases[] = {
        {PlainHeader(1), true, 1, 128, 96},
        {PlainHeader(2), true, 2, 176, 144},
        {PlainHeader(5), true, 5, 1408, 1152},
        {PlainHeader(0), false, 0, 0, 0},
        {PlainHeader(6), false, 0, 0, 0},
        {PlusHeader(3, 0, 0), true, 3, 352, 288},
        {PlusHeader(6, 320, 240), true, 6, 320, 240},
        {PlusHeader(6, 180, 100), true, 6, 180, 100},
        {PlusHeader(2, 0, 0, 0), false, 0, 0, 0},  // UFEP 0: no OPPTYPE to read
        {PlusHeader(7, 0, 0), false, 0, 0, 0},     // reserved OPPTYPE format
        {PlusHeader(6, 320, 0), false, 0, 0, 0},   // zero height
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        BitstreamPeek peek;
        ASSERT_EQ(PeekPictureSize(c.header.data(), c.header.size(), &peek), c.ok) << "case " << i;
        if (!c.ok) continue;
        EXPECT_EQ(peek.format, c.format) << "case " << i;
        EXPECT_EQ(peek.width, c.width) << "case " << i;
        EXPECT_EQ(peek.height, c.height) << "case " << i;
    }
    // A custom header cut short is refused rather than read past its end.
    auto custom = PlusHeader(6, 320, 240);
    BitstreamPeek peek;
    EXPECT_FALSE(PeekPictureSize(custom.data(), 11, &peek));
    auto plain = PlainHeader(2);
    plain[2] = 0x84;  // not a picture start code
    EXPECT_FALSE(PeekPictureSize(plain.data(), plain.size(), &peek));
}

TEST(VideoFile, DecodedNames) {
    EXPECT_EQ(DecodedFileName("/seq/foreman.qcif.263", 2), "foreman_.qcif");
    EXPECT_EQ(DecodedFileName("clip.263", 6), "clip_.cst");
    EXPECT_EQ(DecodedFileName("/a.b/c.263", 3), "c_.cif");
    EXPECT_EQ(DecodedFileName("/x/noext", 1), "noext_.sqcif");
}

TEST(VideoFile, CustomBitstreamReopensItsOutputWithoutAsking) {
    const std::string dir = testsupport::MakeTempDir("videofile-263");
    const std::string stream = dir + "/clip.263";
    testsupport::WriteFile(stream, PlusHeader(6, 320, 240));
    Host host;  // declines any question
    VideoFile file;
    ASSERT_TRUE(file.Open(stream, &host)) << file.Error();
    EXPECT_TRUE(file.isBitstream());
    EXPECT_FALSE(file.isRaw());
    EXPECT_EQ(file.decodedName(), "clip_.cst");
    EXPECT_EQ(file.bitstreamSize(), PlusHeader(6, 320, 240).size());
    std::vector<uint8_t> whole;
    ASSERT_TRUE(file.ReadWholeBitstream(&whole));
    EXPECT_EQ(whole, PlusHeader(6, 320, 240));

    const std::string decoded = MakeFile(dir, "clip_.cst", 320 * 240 * 3 / 2 * 4);
    ASSERT_TRUE(file.Open(decoded, &host)) << file.Error();
    EXPECT_EQ(host.asked, 0);
    EXPECT_EQ(file.width(), 320);
    EXPECT_EQ(file.height(), 240);
    EXPECT_EQ(file.frameCount(), 4);
    EXPECT_TRUE(file.isBitstream());
    // The figure of a decoded bitstream: floor(bytes x 8 / 1000) x rate / frames.
    const uint64_t kilobits = file.bitstreamSize() * 8 / 1000;
    EXPECT_DOUBLE_EQ(file.bitrateKbps(), kilobits * 30.0 / 4);
}

}  // namespace
}  // namespace tessaro
