// The encode, decode and compare jobs end to end through tessaro-cli: log lines of the edge cases,
// decoded sizes and names, and the agreement of the encoder's SNR with the comparison's.
#include <sys/stat.h>

#include "CliSupport.h"
#include "TestSupport.h"

namespace clitest {
namespace {

using Encode = CliTest;

// The encoder refuses settings it cannot code; tests of such settings wait for it.
bool EncoderRefused(const CliRun& run) {
    return run.err.find("The encoder cannot code") != std::string::npos;
}

TEST_F(Encode, SingleFrameRangeIsOneIntraPicture) {
    Generate("qcif", 10, "s.qcif");
    CliRun run = Cli("encode s.qcif -o s.263 --start 5 --end 5 --set General/ShowSNR=1");
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = Lines(run.out);
    EXPECT_EQ(lines.front(), "-> Encoding started: input file s.qcif (371 KB, 1 frames)...");
    EXPECT_TRUE(Contains(lines, "-> Encoding completed (1 frames encoded)"));
    EXPECT_EQ(SnrByFrame(run.out).size(), 1u);
    EXPECT_EQ(SnrByFrame(run.out).begin()->first, 5);
    auto stream = testsupport::ReadFile(Path("s.263"));
    EXPECT_EQ(PictureType(stream, 0), 'I');
    EXPECT_EQ(lines.back(), "");  // the summary ends with an empty line
}

TEST_F(Encode, IntraPeriodCountsFromTheRangeStart) {
    Generate("qcif", 30, "s.qcif");
    CliRun run =
        Cli("encode s.qcif -o s.263 --start 3 --end 26 --set Coder/IFramePeriod=10 --set General/ShowSNR=1");
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<int, int> bytes;
    SnrByFrame(run.out, &bytes);
    ASSERT_EQ(bytes.size(), 24u);
    auto stream = testsupport::ReadFile(Path("s.263"));
    size_t offset = 0;
    std::string intra;
    for (const auto& [frame, count] : bytes) {
        if (PictureType(stream, offset) == 'I') intra += std::to_string(frame) + " ";
        offset += static_cast<size_t>(count);
    }
    EXPECT_EQ(offset, stream.size());
    EXPECT_EQ(intra, "3 13 23 ");
}

TEST_F(Encode, FrameStepSkipsFrames) {
    Generate("qcif", 10, "s.qcif");
    CliRun run = Cli("encode s.qcif -o s.263 --set Coder/FrameRateActual=2 --set General/ShowSNR=1");
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = Lines(run.out);
    for (int f : {1, 3, 5, 7, 9}) EXPECT_TRUE(Contains(lines, "-> Skipping frame " + std::to_string(f))) << f;
    for (int f : {0, 2, 4, 6, 8})
        EXPECT_FALSE(Contains(lines, "-> Skipping frame " + std::to_string(f))) << f;
    auto snr = SnrByFrame(run.out);
    ASSERT_EQ(snr.size(), 5u);
    EXPECT_EQ(snr.begin()->first, 0);
    EXPECT_EQ(snr.rbegin()->first, 8);
    EXPECT_TRUE(Contains(lines, "-> Encoding completed (5 frames encoded)"));
}

TEST_F(Encode, SnrLinesAloneWhenLogIsOff) {
    Generate("qcif", 4, "s.qcif");
    CliRun run = Cli("encode s.qcif -o s.263 --set General/LogInfoCoder=0 --set General/ShowSNR=1");
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i].rfind("-> Frame " + std::to_string(i), 0), 0u) << lines[i];
    EXPECT_EQ(lines[4].rfind("-> Average SNR: SNR_Y = ", 0), 0u);
}

TEST_F(Encode, NoSnrLinesWithBPictures) {
    Generate("qcif", 9, "s.qcif");
    CliRun run =
        Cli("encode s.qcif -o s.263 --set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=2 "
            "--set General/ShowSNR=1");
    if (EncoderRefused(run)) GTEST_SKIP() << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SnrByFrame(run.out).empty()) << run.out;
    EXPECT_EQ(AverageLine(run.out), "");
    EXPECT_TRUE(Contains(Lines(run.out), "-> Encoding completed (9 frames encoded)"));
}

TEST_F(Encode, BPicturesWithFrameStepAreRefusedClearly) {
    Generate("qcif", 6, "s.qcif");
    CliRun run =
        Cli("encode s.qcif -o s.263 --set Advanced/UseTrueBPictures=1 --set Coder/FrameRateActual=2");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("s.qcif with these settings: B-pictures (Advanced/UseTrueBPictures) need "
                           "Coder/FrameRateActual 1, not 2"),
              std::string::npos)
        << run.err;
    // A refused start returns at once: no summary computed from nothing, no output file.
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(access(Path("s.263").c_str(), F_OK), 0);
}

TEST_F(Encode, SummaryLines) {
    Generate("qcif", 10, "s.qcif");
    CliRun run = Cli("encode s.qcif -o s.263 --set Coder/Bitrate=128000");
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = Lines(run.out);
    struct stat st {};
    ASSERT_EQ(stat(Path("s.263").c_str(), &st), 0);
    EXPECT_TRUE(Contains(lines, "-> Output file s.263 (" + std::to_string(st.st_size) + " bytes)"));
    // 30 fps x floor(bytes x 8 / 1000) kilobits / 10 frames.
    char expected[128];
    std::snprintf(expected, sizeof expected, "-> Target bitrate: 128.0 Kbps, actual bitrate: %0.1f Kbps",
                  30.0f * static_cast<float>(st.st_size * 8 / 1000) / 10.0f);
    EXPECT_TRUE(Contains(lines, expected)) << run.out;
    bool time = false, speed = false;
    for (const auto& l : lines) {
        time = time || l.rfind("-> Encoding time: ", 0) == 0;
        speed = speed || l.rfind("-> Encoding speed: ", 0) == 0;
    }
    EXPECT_TRUE(time && speed);
}

TEST_F(Encode, RefusesBadInputsWithMessages) {
    Generate("qcif", 2, "s.qcif");
    testsupport::WriteFile(Path("p.cst"), std::vector<uint8_t>(24 * 3));
    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"encode missing.qcif -o x.263", "Error Opening missing.qcif"},
        {"encode p.cst -o x.263", "Error Opening p.cst: picture width/height not specified"},
        {"encode p.cst --size 4x5 -o x.263", "Error Opening p.cst: invalid picture width/height"},
        {"encode s.qcif -o no/such/dir/x.263", "Error Opening no/such/dir/x.263"},
        {"encode s.qcif -o x.263 --set Coder/Nothing=1", "known setting"},
        {"encode s.qcif -o x.263 --set Coder/Bitrate=12", "between 14400 and 10000000"},
        {"encode p.cst --size 4by4 -o x.263", "Error Opening p.cst: invalid picture width/height"},
        {"encode s.qcif -o x.263 --start 2", "--start 2 is past the last frame of s.qcif (1)"},
        {"encode s.qcif -o x.263 --start 1 --end 0", "the frame range 1..0 is empty"},
    };
    for (const Case& c : cases) {
        CliRun run = Cli(c.args);
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.args;
    }
    // A .cst with its size given encodes.
    CliRun ok = Cli("encode p.cst --size 4x4 -o p.263");
    EXPECT_EQ(ok.status, 0) << ok.err;
}

// --threads overrides Coder/Threads (also a --set of it) for the run only; every count writes
// the bytes of one thread, and a count outside 0..64 is a usage error.
TEST_F(Encode, ThreadsOptionGivesTheSameBytes) {
    Generate("cif", 6, "t.cif");
    CliOk("settings set Coder/Threads 1");
    CliOk("encode t.cif -o one.263 --set Advanced/UseDeblockFilter=1 --set Advanced/UseSliceMode=1");
    const auto one = testsupport::ReadFile(Path("one.263"));
    ASSERT_FALSE(one.empty());
    for (const char* threads : {"2", "0", "4"}) {
        const std::string out = std::string("t") + threads + ".263";
        CliOk("encode t.cif -o " + out + " --threads " + threads +
              " --set Coder/Threads=1 --set Advanced/UseDeblockFilter=1 --set Advanced/UseSliceMode=1");
        EXPECT_TRUE(testsupport::ReadFile(Path(out)) == one) << "--threads " << threads;
    }
    EXPECT_EQ(Lines(CliOk("settings get Coder/Threads").out).front(), "1");  // not stored by the run
    CliRun bad = Cli("encode t.cif -o bad.263 --threads 65");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--threads"), std::string::npos) << bad.err;
    EXPECT_NE(CliOk("encode --help").out.find("--threads"), std::string::npos);
}

TEST_F(Encode, DerivedOutputNeverReplacesAFile) {
    Generate("qcif", 2, "s.qcif");
    CliRun first = Cli("encode s.qcif");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_FALSE(testsupport::ReadFile(Path("s.263")).empty());
    CliRun second = Cli("encode s.qcif");
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.err.find("s.263 exists"), std::string::npos);
}

TEST_F(Encode, ReconstructionMatchesTheDecoder) {
    struct Case {
        std::string format, file, size, extra;
        size_t frameBytes;
    };
    const Case cases[] = {
        {"qcif", "s.qcif", "", "", 38016},
        // Coded as 192x112; the reconstruction is cropped to the input size like the decoder's output.
        {"180x100", "c.cst", "--size 180x100", "", 27000},
        // Coding order differs from display order with B-pictures.
        {"qcif", "b.qcif", "", "--set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=2", 38016},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + c.extra);
        Generate(c.format, 8, c.file);
        CliRun enc = Cli("encode " + c.file + " " + c.size + " -o s.263 --recon rec.raw " + c.extra);
        if (EncoderRefused(enc)) GTEST_SKIP() << enc.err;
        ASSERT_EQ(enc.status, 0) << enc.err;
        CliRun dec = Cli("decode s.263 -o dec.raw");
        ASSERT_EQ(dec.status, 0) << dec.err;
        auto rec = testsupport::ReadFile(Path("rec.raw"));
        EXPECT_EQ(rec.size(), 8 * c.frameBytes);
        EXPECT_TRUE(rec == testsupport::ReadFile(Path("dec.raw")));
    }
}

using Decode = CliTest;

TEST_F(Decode, TenPictureQcifStream) {
    Generate("qcif", 10, "ten.qcif");
    CliOk("encode ten.qcif -o ten.263");
    CliRun run = CliOk("decode ten.263");
    auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "-> Decoding started: input file ten.263 (" +
                            std::to_string(testsupport::ReadFile(Path("ten.263")).size()) + " bytes)...");
    EXPECT_EQ(lines[1], "-> Decoding completed: output file ten_.qcif (10 frames)");
    EXPECT_EQ(lines[2].rfind("-> Decoding time: ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("-> Decoding speed: ", 0), 0u);
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(testsupport::ReadFile(Path("ten_.qcif")).size(), 10u * 38016);
}

// Pictures written by a thread of their own are the pictures written in turn, raw and as Y4M, to
// a file and to standard output.
TEST_F(Decode, ThreadsOptionGivesTheSameFile) {
    Generate("cif", 5, "t.cif");
    CliOk("encode t.cif -o t.263 --set Advanced/UseTrueBPictures=1");
    const std::string cli = testsupport::BinDir() + "/tessaro-cli";
    for (const char* ext : {".cif", ".y4m"}) {
        CliOk(std::string("decode t.263 --threads 1 -o one") + ext);
        const auto one = testsupport::ReadFile(Path(std::string("one") + ext));
        ASSERT_FALSE(one.empty());
        for (const char* threads : {"2", "0", "3"}) {
            const std::string out = std::string("t") + threads + ext;
            CliOk("decode t.263 -o " + out + " --threads " + threads);
            EXPECT_TRUE(testsupport::ReadFile(Path(out)) == one) << ext << " --threads " << threads;
        }
        if (std::string(ext) == ".y4m") {
            ASSERT_EQ(Shell(cli + " decode t.263 -o - --threads 2 >s.y4m 2>/dev/null"), 0);
            EXPECT_TRUE(testsupport::ReadFile(Path("s.y4m")) == one);
        }
    }
    EXPECT_EQ(Cli("decode t.263 -o bad.cif --threads 65").status, 2);
    EXPECT_NE(CliOk("decode --help").out.find("--threads"), std::string::npos);
}

TEST_F(Decode, NeverWritesOverAnExistingFile) {
    Generate("qcif", 3, "a.qcif");
    CliOk("encode a.qcif -o a.263");
    // The name the decoded file would take is already used by the source itself here.
    ASSERT_EQ(Shell("cp a.qcif a_.qcif"), 0);
    CliRun run = CliOk("decode a.263");
    EXPECT_TRUE(Contains(Lines(run.out), "-> Decoding completed: output file a_2.qcif (3 frames)"))
        << run.out;
    EXPECT_EQ(testsupport::ReadFile(Path("a_.qcif")), testsupport::ReadFile(Path("a.qcif")));
    // A second run finds both names taken.
    CliRun again = Cli("decode a.263");
    EXPECT_TRUE(Contains(Lines(again.out), "-> Decoding completed: output file a_3.qcif (3 frames)"));
    EXPECT_EQ(testsupport::ReadFile(Path("a_2.qcif")), testsupport::ReadFile(Path("a_3.qcif")));
}

TEST_F(Decode, RefusesWhatIsNotABitstream) {
    Generate("qcif", 1, "a.qcif");
    testsupport::WriteFile(Path("junk.263"), std::vector<uint8_t>(50, 0xFF));
    CliRun junk = Cli("decode junk.263");
    EXPECT_NE(junk.status, 0);
    EXPECT_NE(junk.err.find("Error Opening junk.263: unknown file type."), std::string::npos) << junk.err;
    CliRun raw = Cli("decode a.qcif");
    EXPECT_NE(raw.status, 0);
    // A stream whose pictures are damaged after the header: decodes or terminates, never hangs.
    auto stream = std::vector<uint8_t>{0, 0, 0x80, 0x02, 0x08};
    stream.resize(400, 0xA5);
    testsupport::WriteFile(Path("bad.263"), stream);
    CliRun bad = Cli("decode bad.263");
    EXPECT_TRUE(bad.status == 0 || Contains(Lines(bad.out), "-> Decoding terminated !")) << bad.out;
}

using Compare = CliTest;

TEST_F(Compare, IdenticalFiles) {
    Generate("qcif", 3, "a.qcif");
    ASSERT_EQ(Shell("cp a.qcif b.qcif"), 0);
    CliRun run = CliOk("compare a.qcif b.qcif");
    EXPECT_EQ(run.out,
              "-> Comparing video files: a.qcif and b.qcif\n"
              "-> Frame 0: identical (SNR_Y = SNR_U = SNR_V = 1000.00)\n"
              "-> Frame 1: identical (SNR_Y = SNR_U = SNR_V = 1000.00)\n"
              "-> Frame 2: identical (SNR_Y = SNR_U = SNR_V = 1000.00)\n"
              "-> Average SNR: SNR_Y = 1000.0000, SNR_U = 1000.0000, SNR_V = 1000.0000\n"
              "-> Total frames compared: 3\n\n");
}

TEST_F(Compare, ShorterSecondFileLimitsTheCount) {
    Generate("qcif", 10, "a.qcif");
    CliOk("generate --format qcif --frames 7 -o b.qcif --seed 9");
    CliRun run = CliOk("compare a.qcif b.qcif");
    auto snr = SnrByFrame(run.out);
    ASSERT_EQ(snr.size(), 7u);
    EXPECT_EQ(snr.begin()->first, 0);
    EXPECT_EQ(snr.rbegin()->first, 6);
    EXPECT_TRUE(Contains(Lines(run.out), "-> Total frames compared: 7"));
}

TEST_F(Compare, DifferentFormatsAreRefused) {
    Generate("qcif", 1, "a.qcif");
    Generate("cif", 1, "b.cif");
    Generate("320x240", 1, "c.cst");
    CliOk("generate --format 352x288 --frames 1 -o d.cst");
    for (const std::string& args :
         {std::string("compare a.qcif b.cif"), std::string("compare c.cst d.cst --size 320x240")}) {
        CliRun run = Cli(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(run.out, "") << args;
        // d.cst with --size 320x240 does not divide: refused at open; otherwise by format.
        EXPECT_TRUE(run.err.find("Can't compare video files of\ndifferent formats/frame sizes") !=
                        std::string::npos ||
                    run.err.find("invalid picture width/height") != std::string::npos)
            << run.err;
    }
    CliRun run = Cli("compare a.qcif b.cif");
    EXPECT_NE(run.err.find("Can't compare video files of\ndifferent formats/frame sizes"), std::string::npos);
}

struct SnrCase {
    std::string format, file, size, extra;
    int frames;
};

// The encoder's SNR lines and the comparison of the decoded output with the source agree digit
// for digit, frame by frame and on average.
class SnrAgreement : public CliTest {
  protected:
    template <size_t N>
    void CheckSnrAgreement(const SnrCase (&cases)[N]) {
        size_t refused = 0;
        for (const SnrCase& c : cases) {
            SCOPED_TRACE(c.format + " " + c.extra);
            Generate(c.format, c.frames, c.file);
            CliRun enc =
                Cli("encode " + c.file + " -o v.263 --set General/ShowSNR=1 " + c.size + " " + c.extra);
            if (EncoderRefused(enc)) {
                std::printf("not coded yet: %s\n", c.extra.c_str());
                ++refused;
                continue;
            }
            ASSERT_EQ(enc.status, 0) << enc.err;
            const std::string decoded = "dec." + c.file.substr(c.file.find('.') + 1);
            CliRun dec = Cli("decode v.263 -o " + decoded);
            ASSERT_EQ(dec.status, 0) << dec.err;
            CliRun cmp = Cli("compare " + c.file + " " + decoded + " " + c.size);
            ASSERT_EQ(cmp.status, 0) << cmp.err;
            auto encoded = SnrByFrame(enc.out);
            EXPECT_EQ(static_cast<int>(encoded.size()), c.frames);
            EXPECT_EQ(encoded, SnrByFrame(cmp.out));
            EXPECT_NE(AverageLine(enc.out), "");
            EXPECT_EQ(AverageLine(enc.out), AverageLine(cmp.out));
        }
        if (refused == N) GTEST_SKIP() << "the encoder codes none of these settings yet";
    }
};

TEST_F(SnrAgreement, EncoderSnrEqualsDecodedComparison) {
    const SnrCase cases[] = {
        {"sqcif", "v.sqcif", "", "", 6},
        {"qcif", "v.qcif", "", "--set Coder/Speed=3 --set Coder/IFramePeriod=4", 8},
        {"cif", "v.cif", "", "", 4},
        {"4cif", "v.4cif", "", "--set Coder/Speed=5", 2},
        {"320x240", "v.cst", "--size 320x240", "", 5},
        {"qcif", "w.qcif", "", "--set Coder/RateControl=1 --set Coder/Bitrate=32000", 8},
        {"cif", "y.cif", "", "--set Coder/GOBMode=1", 3},
    };
    CheckSnrAgreement(cases);
}

// The same agreement with the optional coding tools (Annexes I, J, K, T).
TEST_F(SnrAgreement, EncoderSnrEqualsDecodedComparisonWithAnnexes) {
    const SnrCase cases[] = {
        {"qcif", "t.qcif", "", "--set Advanced/UseModifiedQuant=1", 6},
        {"qcif", "i.qcif", "", "--set Advanced/UseAdvIntraCoding=1", 4},
        {"qcif", "j.qcif", "", "--set Advanced/UseDeblockFilter=1", 4},
        {"cif", "k.cif", "", "--set Advanced/UseSliceMode=1", 3},
        {"qcif", "x.qcif", "",
         "--set Advanced/UseAdvIntraCoding=1 --set Advanced/UseDeblockFilter=1 --set "
         "Advanced/UseModifiedQuant=1 "
         "--set Advanced/UseSliceMode=1",
         5},
        // B-pictures report their SNR in coding order under their own frame numbers.
        {"qcif", "b.qcif", "", "--b-picture-snr --set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=2", 7},
        {"sqcif", "c.sqcif", "",
         "--b-picture-snr --set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=3 "
         "--set Advanced/UseAdvIntraCoding=1 --set Advanced/UseDeblockFilter=1",
         6},
    };
    CheckSnrAgreement(cases);
}

}  // namespace
}  // namespace clitest
