// The encoder codes a picture's macroblock rows on several threads: every thread count must give
// the bytes (and reconstructions) of one thread, for each coding option that carries state from
// one macroblock to the next.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "EncTestUtil.h"
#include "R263AVO/EncoderState.h"

namespace {

using enctest::BaseParams;
using enctest::EncodeRun;
using enctest::EncodeSequence;
using enctest::Synthetic;

struct OptionSet {
    const char* name;
    void (*apply)(r263avo::EncoderParams& p);
};

const OptionSet kOptionSets[] = {
    {"plain", [](r263avo::EncoderParams&) {}},
    {"deblocking and modified quantisation",
     [](r263avo::EncoderParams& p) {
         p.UseDeblockFilter = 1;
         p.UseModifiedQuant = 1;
         p.PQuantizer = 5;  // fine levels: Annex T's extended escapes
     }},
    {"B-pictures",
     [](r263avo::EncoderParams& p) {
         p.UseTrueBPictures = 1;
         p.BPictures = 2;
         p.ReconstructBPictures = 1;
     }},
    {"rate control",
     [](r263avo::EncoderParams& p) {
         p.RateControl = 1;
         p.Bitrate = 200000;
         p.FrameRateTarget = 30.0f;
     }},
    {"GOB headers", [](r263avo::EncoderParams& p) { p.GOBMode = 1; }},
    // 7 macroblocks per slice: slices start at every column offset, also mid-row, and a row
    // holds several headers.
    {"slices",
     [](r263avo::EncoderParams& p) {
         p.UseSliceMode = 1;
         p.MBlocksPerSlice = 7;
     }},
    {"one macroblock per slice with deblocking",
     [](r263avo::EncoderParams& p) {
         p.UseSliceMode = 1;
         p.MBlocksPerSlice = 1;
         p.UseDeblockFilter = 1;
     }},
    {"advanced intra", [](r263avo::EncoderParams& p) { p.UseAdvIntraCoding = 1; }},
    {"advanced intra, plain levels, intra pictures and slices",
     [](r263avo::EncoderParams& p) {
         p.UseAdvIntraCoding = 1;
         p.IQuantizer = 5;
         p.PQuantizer = 5;
         p.IFramePeriod = 3;
         p.UseSliceMode = 1;
         p.MBlocksPerSlice = 30;
     }},
    {"everything at speed 5",
     [](r263avo::EncoderParams& p) {
         p.Speed = 5;
         p.UseAdvIntraCoding = 1;
         p.UseDeblockFilter = 1;
         p.UseModifiedQuant = 1;
         p.GOBMode = 1;
         p.UseTrueBPictures = 1;
         p.BPictures = 1;
         p.ReconstructBPictures = 1;
     }},
};

void ExpectSameRun(const EncodeRun& one, const EncodeRun& many, const std::string& what) {
    ASSERT_EQ(one.stream.size(), many.stream.size()) << what;
    EXPECT_TRUE(one.stream == many.stream) << what << ": the streams differ";
    ASSERT_EQ(one.pictures.size(), many.pictures.size()) << what;
    for (size_t k = 0; k < one.pictures.size(); ++k) {
        EXPECT_EQ(one.pictures[k].bytes, many.pictures[k].bytes) << what << ", picture " << k;
        EXPECT_TRUE(one.pictures[k].recon == many.pictures[k].recon) << what << ", reconstruction " << k;
    }
}

// CIF (18 rows of 22 macroblocks) with motion, noise and a scene cut; every option set at 1, 2, 3
// and 4 threads.
TEST(ThreadedEncode, EveryThreadCountGivesTheOneThreadBytes) {
    const int w = 352, h = 288, frames = 8;
    const std::vector<uint8_t> source = Synthetic(w, h, frames, 7);
    for (const OptionSet& set : kOptionSets) {
        r263avo::EncoderParams p = BaseParams(3, w, h, frames);
        set.apply(p);
        p.Threads = 1;
        const EncodeRun one = EncodeSequence(p, source, true);
        ASSERT_FALSE(one.stream.empty()) << set.name;
        for (int threads : {2, 3, 4}) {
            p.Threads = threads;
            ExpectSameRun(one, EncodeSequence(p, source, true),
                          std::string(set.name) + " with " + std::to_string(threads) + " threads");
        }
    }
}

// Rows handed over between threads at every wait (so at every kind of column: row starts,
// segment starts, mid-row) still give the one-thread bytes: a row goes on from the state its
// earlier macroblocks left, whichever thread coded them.
TEST(ThreadedEncode, RowsHandedOverBetweenThreadsKeepTheBytes) {
    const int w = 352, h = 288, frames = 6;
    const std::vector<uint8_t> source = Synthetic(w, h, frames, 13);
    // How many happen depends on the timing of the threads; a run without any would test nothing.
    int64_t handOvers = 0;
    for (const OptionSet& set : kOptionSets) {
        r263avo::EncoderParams p = BaseParams(3, w, h, frames);
        set.apply(p);
        p.Threads = 1;
        const EncodeRun one = EncodeSequence(p, source, true);
        for (int threads : {2, 3}) {
            p.Threads = threads;
            const EncodeRun many = EncodeSequence(
                p, source, true, [](r263avo::Encoder& e) { e.wavefront.SetHandOverPolls(0); },
                [&](r263avo::Encoder& e) { handOvers += e.wavefront.HandOvers(); });
            ExpectSameRun(one, many, std::string(set.name) + " with " + std::to_string(threads) + " threads");
        }
    }
    EXPECT_GT(handOvers, 0);
}

// Threads 0 means one per core; more threads than rows, a picture of one row and a custom size
// whose last row is partly outside the input also code as one thread does.
TEST(ThreadedEncode, ThreadCountsBeyondTheRowsAndOddSizes) {
    struct Case {
        int format, w, h, threads;
    };
    const Case cases[] = {{1, 128, 96, 0}, {1, 128, 96, 16}, {6, 200, 16, 4}, {6, 250, 122, 3}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> source = Synthetic(c.w, c.h, 5, 3);
        r263avo::EncoderParams p = BaseParams(c.format, c.w, c.h, 5);
        p.UseDeblockFilter = 1;
        p.UseAdvIntraCoding = 1;
        p.Threads = 1;
        const EncodeRun one = EncodeSequence(p, source, true);
        p.Threads = c.threads;
        ExpectSameRun(
            one, EncodeSequence(p, source, true),
            std::to_string(c.w) + "x" + std::to_string(c.h) + " with Threads " + std::to_string(c.threads));
    }
}

// Two threads told the next frame code its top rows beside the current picture's: the bytes stay
// those of one thread with every option set (the sets that cannot code ahead ignore the hints),
// at a frame step of 2 as well, and on pictures of a few rows.
TEST(ThreadedEncode, PicturesCodedAheadKeepTheBytes) {
    struct Size {
        int format, w, h;
    };
    const Size sizes[] = {{3, 352, 288}, {1, 128, 96}, {6, 96, 48}};
    // How many pictures find rows coded ahead depends on the timing of the threads; runs without
    // any would test nothing.
    int64_t codedAhead = 0;
    for (const Size& size : sizes) {
        const int frames = 9;
        const std::vector<uint8_t> source = Synthetic(size.w, size.h, frames, 17);
        for (const OptionSet& set : kOptionSets) {
            for (int step : {1, 2}) {
                r263avo::EncoderParams p = BaseParams(size.format, size.w, size.h, frames);
                set.apply(p);
                if (step > 1 && p.UseTrueBPictures) continue;  // B-pictures need a step of 1
                p.FrameRateActual = step;
                p.Threads = 1;
                const EncodeRun one = EncodeSequence(p, source, true);
                p.Threads = 2;
                int64_t ahead = 0;
                const EncodeRun two = EncodeSequence(
                    p, source, true, {},
                    [&](r263avo::Encoder& e) { ahead = e.wavefront.PicturesCodedAhead(); }, true);
                const std::string what = std::string(set.name) + ", " + std::to_string(size.w) + "x" +
                                         std::to_string(size.h) + ", step " + std::to_string(step);
                ExpectSameRun(one, two, what);
                if (p.UseTrueBPictures || p.RateControl == 1) {
                    EXPECT_EQ(ahead, 0) << what;
                }
                codedAhead += ahead;
            }
        }
    }
    EXPECT_GT(codedAhead, 0);
}

// A hint that turns out wrong costs only the rows coded ahead: it names another frame than the
// next call's, a buffer other than the one the next call passes (whatever it holds), or a frame
// that is then intra coded; a refused call takes its hint with it.
TEST(ThreadedEncode, WrongHintsLeaveTheBytesOfTheFramesCoded) {
    const int w = 176, h = 144, frames = 10;
    const std::vector<uint8_t> source = Synthetic(w, h, frames, 23);
    const size_t fb = enctest::FrameBytes(w, h);
    r263avo::EncoderParams p = BaseParams(2, w, h, frames);
    p.UseDeblockFilter = 1;
    const std::vector<uint8_t> decoy(source.begin() + 9 * fb, source.begin() + 10 * fb);
    auto run = [&](int threads, bool hints, int64_t* codedAhead) {
        p.Threads = threads;
        enctest::EncoderPtr e = enctest::OpenEncoder(p);
        EXPECT_TRUE(e);
        std::vector<uint8_t> stream, copy(fb);
        for (int f = 0; f < frames; ++f) {
            const uint8_t* input = source.data() + f * fb;
            if (f == 5) {
                // Frame 5 comes in a buffer of its own, not the source's that the hint named.
                std::copy(input, input + fb, copy.begin());
                input = copy.data();
            }
            if (hints && f + 1 < frames) {
                // At 1 the hint names frame 3; at 3, a buffer with frame 9's bytes for frame 4;
                // frame 6 is intra coded.
                const int next = f == 1 ? 3 : f + 1;
                r263avo::EncoderSetNextFrame(*e, next, f == 3 ? decoy.data() : source.data() + next * fb);
                if (f == 7) {
                    uint32_t bytes = 0;
                    EXPECT_EQ(r263avo::EncodeFrame(*e, f, 0, nullptr, nullptr, &bytes), -1);
                }
            }
            uint32_t isIntra = 0, bytes = 0;
            EXPECT_EQ(r263avo::EncodeFrame(*e, f, f == 0 || f == 6, &isIntra, input, &bytes), f);
            const r263avo::EncoderStats& s = r263avo::EncoderGetStats(*e);
            stream.insert(stream.end(), s.OutputBuffer, s.OutputBuffer + bytes);
        }
        if (codedAhead) *codedAhead = e->wavefront.PicturesCodedAhead();
        return stream;
    };
    const std::vector<uint8_t> one = run(1, false, nullptr);
    EXPECT_TRUE(run(2, false, nullptr) == one);
    int64_t codedAhead = 0;
    EXPECT_TRUE(run(2, true, &codedAhead) == one);
    // Only frames 1, 3, 7 and 9 (hinted at 0, 2, 6 and 8) can have been coded ahead.
    EXPECT_LE(codedAhead, 4);
}

// An encoder context opened again with another thread count (threads stopped and started) and
// two contexts coding at the same time stay independent.
TEST(ThreadedEncode, ReopenedAndConcurrentContexts) {
    const int w = 176, h = 144, frames = 6;
    const std::vector<uint8_t> source = Synthetic(w, h, frames, 11);
    r263avo::EncoderParams p = BaseParams(2, w, h, frames);
    p.UseDeblockFilter = 1;
    p.Threads = 1;
    const EncodeRun one = EncodeSequence(p, source);

    enctest::EncoderPtr e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    for (int threads : {4, 2, 1, 3}) {
        p.Threads = threads;
        ASSERT_EQ(r263avo::EncoderOpen(*e, p), 0);
        std::vector<uint8_t> stream;
        const size_t fb = enctest::FrameBytes(w, h);
        for (int f = 0; f < frames; ++f) {
            uint32_t isIntra = 0, bytes = 0;
            ASSERT_EQ(r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * fb, &bytes), f);
            const r263avo::EncoderStats& s = r263avo::EncoderGetStats(*e);
            stream.insert(stream.end(), s.OutputBuffer, s.OutputBuffer + bytes);
        }
        EXPECT_TRUE(stream == one.stream) << "reopened with " << threads << " threads";
    }

    p.Threads = 2;
    EncodeRun a, b;
    std::thread other([&] { a = EncodeSequence(p, source); });
    b = EncodeSequence(p, source);
    other.join();
    EXPECT_TRUE(a.stream == one.stream);
    EXPECT_TRUE(b.stream == one.stream);
}

// Idle work given to the encoder runs only within its calls, on the coding threads, and leaves the
// bytes alone; work that runs out is asked for no more within the picture.
struct IdleWork {
    std::atomic<bool> inCall{false};
    std::atomic<int> steps{0};
    std::atomic<int> outsideCalls{0};
    std::atomic<int> afterEnd{0};
    int pieces = 0;  // steps that find work; later ones return false
};

bool IdleStep(void* context) {
    auto* w = static_cast<IdleWork*>(context);
    if (!w->inCall.load()) w->outsideCalls.fetch_add(1);
    const int n = w->steps.fetch_add(1);
    if (n > w->pieces) w->afterEnd.fetch_add(1);
    return n < w->pieces;
}

TEST(ThreadedEncode, IdleWorkRunsWithinTheCallsAndLeavesTheBytes) {
    const int w = 352, h = 288, frames = 5;
    const std::vector<uint8_t> source = Synthetic(w, h, frames, 5);
    r263avo::EncoderParams p = BaseParams(3, w, h, frames);
    p.Threads = 1;
    const EncodeRun one = EncodeSequence(p, source);
    for (int threads : {1, 2, 3}) {
        p.Threads = threads;
        enctest::EncoderPtr e = enctest::OpenEncoder(p);
        ASSERT_TRUE(e);
        IdleWork work;
        work.pieces = 1000000;  // more than can be taken
        r263avo::EncoderSetIdleWork(*e, &IdleStep, &work);
        std::vector<uint8_t> stream;
        const size_t fb = enctest::FrameBytes(w, h);
        for (int f = 0; f < frames; ++f) {
            if (f == 3) {
                // From here on the work is used up: each picture asks at most once more.
                work.pieces = work.steps.load();
                work.afterEnd.store(0);
            }
            uint32_t isIntra = 0, bytes = 0;
            work.inCall.store(true);
            ASSERT_EQ(r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * fb, &bytes), f);
            work.inCall.store(false);
            const r263avo::EncoderStats& s = r263avo::EncoderGetStats(*e);
            stream.insert(stream.end(), s.OutputBuffer, s.OutputBuffer + bytes);
        }
        EXPECT_TRUE(stream == one.stream) << threads << " threads";
        EXPECT_EQ(work.outsideCalls.load(), 0) << threads << " threads";
        if (threads == 1) {
            EXPECT_EQ(work.steps.load(), 0) << "one thread never waits";
        }
        EXPECT_LE(work.afterEnd.load(), 2 * threads) << "steps after the work ran out";
    }
}

}  // namespace
