// Resource bounds of the decoder whatever a stream claims: memory never above what the largest
// supported picture (2048x1152) needs, and work bounded by the stream's size for hostile streams
// (nothing but start codes, a megabyte of zeros, random bytes, picture headers without data).
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "../decoder/StreamBits.h"
#include "R263IRI.h"
#include "R263IRI/Buffer.h"
#include "TestSupport.h"

// Every allocation of this test binary is counted, so that the decoder's peak can be measured.
namespace {
std::atomic<size_t> liveBytes{0}, peakBytes{0};

void* CountedAlloc(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    const size_t now = liveBytes += malloc_usable_size(p);
    size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void CountedFree(void* p) {
    if (!p) return;
    liveBytes -= malloc_usable_size(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t size) {
    return CountedAlloc(size);
}
void* operator new[](size_t size) {
    return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
    CountedFree(p);
}
void operator delete[](void* p) noexcept {
    CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
    CountedFree(p);
}

namespace {

using decodertest::Bits;

struct Counted {
    uint32_t calls = 0, pictures = 0, pictureBytes = 0;
};

// Decodes `stream` counting pictures without keeping them (a hostile stream may claim many).
Counted DecodeCounting(const std::vector<uint8_t>& stream, uint32_t maxCalls) {
    Counted c;
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderOpen(*d);
    uint32_t position = 0;
    while (position < stream.size() && c.calls < maxCalls) {
        const uint8_t* pic = r263iri::DecodePicture(*d, stream.data(), stream.size(), &position,
                                                    &c.pictureBytes, position == 0);
        ++c.calls;
        if (c.pictureBytes == 0xFFFFFFFFu) break;
        if (pic) ++c.pictures;
    }
    if (r263iri::DecoderFlush(*d)) ++c.pictures;
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
    return c;
}

// Bytes the decoder holds at its peak while decoding `stream`, above what was live before.
size_t PeakDecodeBytes(const std::vector<uint8_t>& stream, Counted* out) {
    const size_t base = liveBytes.load();
    peakBytes = base;
    *out = DecodeCounting(stream, static_cast<uint32_t>(stream.size()) + 2);
    return peakBytes.load() - base;
}

// PLUSPTYPE intra picture header with a custom size (CPFMT), UFEP 001.
void CustomIntraHeader(Bits& b, int width, int height, int tr = 0) {
    b.Align().Put(0x20, 22).Put(tr & 0xFF, 8).Put(0b10000, 5).Put(7, 3).Put(1, 3);
    b.Put(6, 3).Put(0, 11).Put(0b1000, 4);                           // OPPTYPE: custom format, no options
    b.Put(0, 3).Put(0, 2).Put(0, 1).Put(0b001, 3);                   // MPPTYPE: I-picture
    b.Put(0, 1);                                                     // CPM
    b.Put(2, 4).Put(width / 4 - 1, 9).Put(1, 1).Put(height / 4, 9);  // CPFMT: PAR 12:11
    b.Put(8, 5).Put(0, 1);                                           // PQUANT, PEI
}

void PlainQcifIntraHeader(Bits& b) {
    b.Align().Put(0x20, 22).Put(0, 8).Put(0b10000, 5).Put(2, 3).Put(0, 1).Put(0, 4);
    b.Put(8, 5).Put(0, 1).Put(0, 1);
}

// Intra macroblocks without coefficients: MCBPC 1, CBPY 0011, six INTRADC values.
void FlatIntraMacroblocks(Bits& b, int count) {
    for (int m = 0; m < count; ++m) {
        b.Put(1, 1).Put(0b0011, 4);
        for (int k = 0; k < 6; ++k) b.Put(128, 8);
    }
}

std::vector<uint8_t> LargestPicture() {
    Bits b;
    CustomIntraHeader(b, 2048, 1152);
    FlatIntraMacroblocks(b, (2048 / 16) * (1152 / 16));
    CustomIntraHeader(b, 2048, 1152, 1);
    FlatIntraMacroblocks(b, (2048 / 16) * (1152 / 16));
    b.Align();
    return b.bytes;
}

TEST(ResourceBounds, NoHeaderMakesTheDecoderHoldMoreThanTheLargestPicture) {
    Counted reference;
    const size_t largest = PeakDecodeBytes(LargestPicture(), &reference);
    ASSERT_EQ(reference.pictures, 2u);
    ASSERT_EQ(reference.pictureBytes, 2048u * 1152 * 3 / 2);

    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
    };
    std::vector<Case> cases;
    {
        Bits b;  // a megabyte of largest-size headers without macroblock data
        while (b.bytes.size() < (1u << 20))
            CustomIntraHeader(b, 2048, 1152, static_cast<int>(b.bytes.size()));
        cases.push_back({"repeated 2048x1152 headers", b.bytes});
    }
    {
        Bits b;  // sizes changing from picture to picture
        for (int i = 0; i < 2000; ++i) {
            if (i % 2)
                PlainQcifIntraHeader(b);
            else
                CustomIntraHeader(b, 2048 - 4 * (i % 64), 1152 - 4 * (i % 32), i);
        }
        cases.push_back({"alternating sizes", b.bytes});
    }
    {
        Bits b;  // heights the format can signal but the decoder does not hold (up to 2044 lines)
        for (int h = 1156; h <= 2044; h += 4) CustomIntraHeader(b, 2048, h, h);
        cases.push_back({"heights above 1152", b.bytes});
    }
    for (const Case& c : cases) {
        Counted out;
        const size_t peak = PeakDecodeBytes(c.stream, &out);
        // The decoder's own diagnostics may add a few kilobytes; the picture stores are the bulk.
        EXPECT_LE(peak, largest + 64 * 1024) << c.what;
    }
}

// Work is bounded by the stream: every call ends at a picture start code or at the end of the
// stream, and no picture is made from fewer bytes than a picture header.
void ExpectBoundedWork(const std::vector<uint8_t>& stream, const char* what) {
    size_t starts = 0;
    for (size_t i = 0; i + 2 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80) ++starts;
    }
    const Counted out = DecodeCounting(stream, static_cast<uint32_t>(stream.size()) + 2);
    EXPECT_LE(out.calls, starts * 2 + 2) << what;
    EXPECT_LE(out.pictures * 4, stream.size()) << what;
}

TEST(ResourceBounds, HostileStreamsEndInWorkBoundedByTheirSize) {
    ExpectBoundedWork(std::vector<uint8_t>(1u << 20, 0), "a megabyte of zeros");
    std::vector<uint8_t> starts;
    while (starts.size() < (1u << 20)) starts.insert(starts.end(), {0x00, 0x00, 0x80});
    ExpectBoundedWork(starts, "nothing but picture start codes");
    std::vector<uint8_t> ones(1u << 20, 0xFF);
    ExpectBoundedWork(ones, "a megabyte of ones");
    std::mt19937 rng(20261209);
    std::vector<uint8_t> random(1u << 20);
    for (uint8_t& v : random) v = static_cast<uint8_t>(rng());
    ExpectBoundedWork(random, "random bytes");
    Bits b;
    while (b.bytes.size() < (1u << 18)) PlainQcifIntraHeader(b);
    ExpectBoundedWork(b.bytes, "header-only QCIF pictures");
}

// A custom-size P-picture header with advanced prediction (Annex F) on, UFEP 001, followed by
// macroblocks that are all not coded.
void OverlapPPicture(Bits& b, int width, int height, int tr) {
    b.Align().Put(0x20, 22).Put(tr & 0xFF, 8).Put(0b10000, 5).Put(7, 3).Put(1, 3);
    b.Put(6, 3).Put(1 << 7, 11).Put(0b1000, 4);                          // OPPTYPE: custom format, Annex F
    b.Put(1, 3).Put(0, 2).Put(0, 1).Put(0b001, 3);                       // MPPTYPE: P-picture
    b.Put(0, 1);                                                         // CPM
    b.Put(2, 4).Put(width / 4 - 1, 9).Put(1, 1).Put(height / 4, 9);      // CPFMT
    b.Put(8, 5).Put(0, 1);                                               // PQUANT, PEI
    for (int m = 0; m < (width / 16) * (height / 16); ++m) b.Put(1, 1);  // COD = 1
}

TEST(ResourceBounds, TheOverlapStoreIsHeldOnlyByStreamsThatUseAnnexF) {
    Counted plain;
    const size_t plainPeak = PeakDecodeBytes(LargestPicture(), &plain);
    std::vector<uint8_t> overlapped = LargestPicture();
    {
        Bits b;
        OverlapPPicture(b, 2048, 1152, 2);
        b.Align();
        overlapped.insert(overlapped.end(), b.bytes.begin(), b.bytes.end());
    }
    Counted withF;
    const size_t overlapPeak = PeakDecodeBytes(overlapped, &withF);
    EXPECT_EQ(withF.pictures, plain.pictures + 1);
    // Some 800 bytes a macroblock, held only once a picture uses overlapped motion compensation.
    const size_t macroblocks = (2048 / 16) * (1152 / 16);
    EXPECT_GE(overlapPeak, plainPeak + macroblocks * 6 * 64 * sizeof(int16_t));

    // Memory short when that store is needed: the decoder says so (-1) instead of decoding on.
    r263iri::SetAllocationLimitForTesting(plainPeak);
    Counted limited;
    PeakDecodeBytes(overlapped, &limited);
    r263iri::SetAllocationLimitForTesting(0);
    EXPECT_EQ(limited.pictureBytes, 0xFFFFFFFFu);
    EXPECT_EQ(limited.calls, 3u);
}

TEST(ResourceBounds, PictureHeadersWithoutTheirDataGiveNoPictures) {
    // A megabyte of 2048x1152 headers would otherwise come back as tens of thousands of pictures
    // of 3.5 MB each.
    Bits b;
    while (b.bytes.size() < (1u << 20)) CustomIntraHeader(b, 2048, 1152, static_cast<int>(b.bytes.size()));
    b.Align();
    const Counted bare = DecodeCounting(b.bytes, static_cast<uint32_t>(b.bytes.size()));
    EXPECT_EQ(bare.pictures, 0u);

    // The same headers with their macroblocks between them decode, the last one too.
    Bits whole;
    for (int i = 0; i < 3; ++i) {
        CustomIntraHeader(whole, 176, 144, i);
        FlatIntraMacroblocks(whole, 99);
    }
    whole.Align();
    EXPECT_EQ(DecodeCounting(whole.bytes, 100).pictures, 3u);

    // A picture cut before a quarter of its macroblocks is dropped, not completed from zeros.
    std::vector<uint8_t> cut(whole.bytes.begin(), whole.bytes.begin() + whole.bytes.size() / 3 + 10);
    EXPECT_EQ(DecodeCounting(cut, 100).pictures, 1u);
}

}  // namespace

namespace {

TEST(ResourceBounds, DecodeReportsBareHeadersAsDamagedAndExitsThree) {
    const std::string dir = testsupport::MakeTempDir("bounds-decode");
    const std::string cli = testsupport::BinDir() + "/tessaro-cli";
    ASSERT_EQ(
        testsupport::RunCommand(cli + " generate --format qcif --frames 3 -o " + dir + "/s.qcif >/dev/null"),
        0);
    ASSERT_EQ(testsupport::RunCommand(cli + " encode " + dir + "/s.qcif -o " + dir + "/s.263 >/dev/null"), 0);
    std::vector<uint8_t> stream = testsupport::ReadFile(dir + "/s.263");
    const std::vector<uint8_t> clean = stream;
    for (int i = 0; i < 2; ++i) stream.insert(stream.end(), {0x00, 0x00, 0x80, 0x02, 0x0A, 0x10, 0x00});
    ASSERT_TRUE(testsupport::WriteFile(dir + "/bare.263", stream));

    std::string log;
    const int status =
        testsupport::RunCommand(cli + " decode " + dir + "/bare.263 -o " + dir + "/bare_.qcif", &log);
    EXPECT_EQ(status, 3) << log;
    EXPECT_NE(log.find("-> Pictures damaged: 2 (less data than their macroblocks need)"), std::string::npos)
        << log;
    EXPECT_NE(log.find("(3 frames)"), std::string::npos) << log;
    EXPECT_EQ(testsupport::ReadFile(dir + "/bare_.qcif").size(), 3u * 38016);
}

}  // namespace
