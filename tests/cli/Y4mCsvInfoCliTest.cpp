// tessaro-cli with Y4M sequences (files, standard input and standard output), CSV files of encode
// and compare runs, and the stream information of `info`; round trips with ffmpeg when present.
#include <unistd.h>

#include <sstream>

#include "CliSupport.h"
#include "TestSupport.h"

namespace clitest {
namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The raw pictures of a Y4M file written by this program (fixed "FRAME\n" markers).
std::string PicturesOf(const std::string& y4m, size_t frameBytes) {
    std::string raw;
    size_t at = y4m.find('\n') + 1;
    while (at < y4m.size()) {
        EXPECT_EQ(y4m.compare(at, 6, "FRAME\n"), 0);
        raw += y4m.substr(at + 6, frameBytes);
        at += 6 + frameBytes;
    }
    return raw;
}

using Y4m = CliTest;

TEST_F(Y4m, GenerateDecodeAndReconWriteTheRawPicturesBehindY4mHeaders) {
    Generate("qcif", 4, "a.qcif");
    Generate("qcif", 4, "a.y4m");
    const std::string y4m = Text(testsupport::ReadFile(Path("a.y4m")));
    EXPECT_EQ(y4m.substr(0, y4m.find('\n') + 1), "YUV4MPEG2 W176 H144 F30:1 Ip A0:0 C420jpeg\n");
    EXPECT_EQ(PicturesOf(y4m, 38016), Text(testsupport::ReadFile(Path("a.qcif"))));

    CliOk("encode a.qcif -o a.263 --recon r.qcif --set Advanced/UseTrueBPictures=1");
    CliOk("encode a.y4m -o y.263 --recon r.y4m --set Advanced/UseTrueBPictures=1");
    // The same pictures give the same stream, whichever file holds them.
    EXPECT_EQ(testsupport::ReadFile(Path("a.263")), testsupport::ReadFile(Path("y.263")));
    EXPECT_EQ(PicturesOf(Text(testsupport::ReadFile(Path("r.y4m"))), 38016),
              Text(testsupport::ReadFile(Path("r.qcif"))));

    CliOk("decode a.263 -o d.qcif");
    CliRun dec = CliOk("decode a.263 -o d.y4m --set General/FrameRate=3");
    EXPECT_TRUE(Contains(Lines(dec.out), "-> Decoding completed: output file d.y4m (4 frames)"));
    const std::string decoded = Text(testsupport::ReadFile(Path("d.y4m")));
    EXPECT_EQ(decoded.substr(0, decoded.find('\n')), "YUV4MPEG2 W176 H144 F25:2 Ip A0:0 C420jpeg");
    EXPECT_EQ(PicturesOf(decoded, 38016), Text(testsupport::ReadFile(Path("d.qcif"))));
    // Encoder and decoder reconstruct alike.
    EXPECT_EQ(testsupport::ReadFile(Path("r.qcif")), testsupport::ReadFile(Path("d.qcif")));
    CliRun cmp = CliOk("compare r.y4m d.qcif");
    EXPECT_TRUE(Contains(Lines(cmp.out), "-> Total frames compared: 4"));
    EXPECT_TRUE(
        Contains(Lines(cmp.out), "-> Average SNR: SNR_Y = 1000.0000, SNR_U = 1000.0000, SNR_V = 1000.0000"));
}

TEST_F(Y4m, CustomSizeComesFromTheHeader) {
    Generate("320x240", 3, "c.y4m");
    Generate("320x240", 3, "c.cst");
    CliOk("encode c.y4m -o y.263");
    CliOk("encode c.cst --size 320x240 -o c.263");
    EXPECT_EQ(testsupport::ReadFile(Path("c.263")), testsupport::ReadFile(Path("y.263")));
    CliRun info = CliOk("info c.y4m");
    EXPECT_TRUE(Contains(Lines(info.out), "Format: custom (6), 320x240"));
    EXPECT_TRUE(Contains(Lines(info.out), "Frames: 3"));
    EXPECT_TRUE(Contains(Lines(info.out), "Frame rate: 30.000 fps (from the header)"));
}

TEST_F(Y4m, OtherChromaFormatsAndInterlacingAreRefusedWithTheReason) {
    std::vector<uint8_t> frame(176 * 144 * 2, 128);
    for (const auto& [tag, reason] : std::vector<std::pair<std::string, std::string>>{
             {"C422", "chroma format 4:2:2 (C422) is not supported"},
             {"C420jpeg It", "interlaced content (It) is not supported"}}) {
        std::string bytes =
            "YUV4MPEG2 W176 H144 F30:1 " + tag + "\nFRAME\n" + std::string(frame.begin(), frame.end());
        testsupport::WriteFile(Path("x.y4m"), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        CliRun run = Cli("encode x.y4m -o x.263");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Error Opening x.y4m: " + reason), std::string::npos) << run.err;
        EXPECT_NE(Shell("cat x.y4m | " + testsupport::BinDir() + "/tessaro-cli encode - -o x.263 2>err.txt"),
                  0);
        EXPECT_NE(Text(testsupport::ReadFile(Path("err.txt"))).find(reason), std::string::npos);
    }
    EXPECT_NE(access(Path("x.263").c_str(), F_OK), 0);  // nothing was written
}

using Pipes = CliTest;

TEST_F(Pipes, EncodeFromStandardInputAndDecodeToStandardOutput) {
    Generate("qcif", 5, "a.y4m");
    CliOk("encode a.y4m -o f.263 --set General/ShowSNR=1");
    const std::string cli = testsupport::BinDir() + "/tessaro-cli";
    ASSERT_EQ(Shell("cat a.y4m | " + cli + " encode - -o p.263 --set General/ShowSNR=1 >out.txt 2>err.txt"),
              0);
    // Standard output is left to the pipeline; the log goes to standard error.
    EXPECT_EQ(testsupport::ReadFile(Path("out.txt")).size(), 0u);
    const auto log = Lines(Text(testsupport::ReadFile(Path("err.txt"))));
    EXPECT_TRUE(Contains(log, "-> Encoding started: input file - (a Y4M stream, 176x144)..."));
    EXPECT_TRUE(Contains(log, "-> Encoding completed (5 frames encoded)"));
    EXPECT_EQ(testsupport::ReadFile(Path("p.263")), testsupport::ReadFile(Path("f.263")));

    // The frame range works on a stream too; frames before it are read and dropped.
    ASSERT_EQ(Shell("cat a.y4m | " + cli + " encode - -o q.263 --start 1 --end 3 2>err.txt"), 0);
    EXPECT_TRUE(Contains(Lines(Text(testsupport::ReadFile(Path("err.txt")))),
                         "-> Encoding completed (3 frames encoded)"));
    CliOk("encode a.y4m -o g.263 --start 1 --end 3");
    EXPECT_EQ(testsupport::ReadFile(Path("q.263")), testsupport::ReadFile(Path("g.263")));

    ASSERT_EQ(Shell(cli + " decode p.263 -o - >s.y4m 2>err.txt"), 0);
    CliOk("decode p.263 -o d.y4m");
    EXPECT_EQ(testsupport::ReadFile(Path("s.y4m")), testsupport::ReadFile(Path("d.y4m")));
    EXPECT_TRUE(Contains(Lines(Text(testsupport::ReadFile(Path("err.txt")))),
                         "-> Decoding completed: output file - (5 frames)"));
    // A reader that goes away ends the run with a write error, not a signal.
    ASSERT_EQ(Shell("( " + cli + " decode p.263 -o - 2>err.txt; echo $? >st.txt ) | head -c 10 >/dev/null"),
              0);
    EXPECT_EQ(Text(testsupport::ReadFile(Path("st.txt"))), "1\n");
    EXPECT_NE(Text(testsupport::ReadFile(Path("err.txt"))).find("Error writing -: Broken pipe"),
              std::string::npos);
}

TEST_F(Pipes, RefusalsOfStandardInput) {
    Generate("qcif", 2, "a.qcif");
    Generate("qcif", 2, "a.y4m");
    const std::string cli = testsupport::BinDir() + "/tessaro-cli";
    EXPECT_NE(Shell("cat a.qcif | " + cli + " encode - -o x.263 2>err.txt"), 0);
    EXPECT_NE(Text(testsupport::ReadFile(Path("err.txt"))).find("Error Opening -: not a YUV4MPEG2 stream"),
              std::string::npos);
    EXPECT_NE(Shell("cat a.y4m | " + cli + " encode - 2>err.txt"), 0);
    EXPECT_NE(Text(testsupport::ReadFile(Path("err.txt"))).find("name the output with -o"),
              std::string::npos);
    EXPECT_NE(Shell("printf 'YUV4MPEG2 W176 H144\\n' | " + cli + " encode - -o x.263 2>err.txt"), 0);
    EXPECT_NE(Text(testsupport::ReadFile(Path("err.txt")))
                  .find("Error reading frame 0 of -: the stream ended before it"),
              std::string::npos);
    EXPECT_EQ(Cli("compare - a.qcif").status, 2);
}

// CSV rows by frame: "type bytes Y U V".
std::map<int, std::vector<std::string>> CsvRows(const std::string& text, std::string* header,
                                                std::vector<int>* order = nullptr) {
    std::map<int, std::vector<std::string>> rows;
    const auto lines = Lines(text);
    if (!lines.empty()) *header = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells;
        std::stringstream in(lines[i]);
        for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
        if (lines[i].back() == ',') cells.push_back("");
        const int frame = std::stoi(cells[0]);
        if (order) order->push_back(frame);
        rows[frame] = std::vector<std::string>(cells.begin() + 1, cells.end());
    }
    return rows;
}

using Csv = CliTest;

TEST_F(Csv, EncodeCsvMatchesTheLogLines) {
    Generate("qcif", 7, "a.qcif");
    for (const std::string extra :
         {"", "--b-picture-snr --set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=2"}) {
        CliRun run = CliOk("encode a.qcif -o a.263 --csv a.csv --set General/ShowSNR=1 " + extra);
        std::map<int, int> bytes;
        const auto snr = SnrByFrame(run.out, &bytes);
        std::string header;
        std::vector<int> order;
        const auto rows = CsvRows(Text(testsupport::ReadFile(Path("a.csv"))), &header, &order);
        EXPECT_EQ(header, "frame,type,bytes,snr_y,snr_u,snr_v");
        ASSERT_EQ(rows.size(), snr.size()) << extra;
        for (const auto& [frame, cells] : rows) {
            ASSERT_EQ(cells.size(), 5u);
            EXPECT_EQ(cells[2] + " " + cells[3] + " " + cells[4], snr.at(frame)) << frame;
            if (bytes.count(frame)) {
                EXPECT_EQ(std::stoi(cells[1]), bytes.at(frame)) << frame;
            }
        }
        // The log's SNR lines come in coding order, and so do the rows.
        std::vector<int> logOrder;
        for (const std::string& line : Lines(run.out)) {
            int frame = 0;
            if (std::sscanf(line.c_str(), "-> Frame %d", &frame) == 1) logOrder.push_back(frame);
        }
        EXPECT_EQ(order, logOrder);
        EXPECT_EQ(rows.at(0)[0], "I");
        if (!extra.empty()) {
            EXPECT_EQ(rows.at(1)[0], "B");
            EXPECT_EQ(order[1], 3);  // the anchor before the B-pictures it closes
        }
    }
    // Without SNR measurement the SNR cells stay empty; the bytes sum to the stream.
    CliOk("encode a.qcif -o b.263 --csv b.csv");
    std::string header;
    const auto rows = CsvRows(Text(testsupport::ReadFile(Path("b.csv"))), &header);
    size_t total = 0;
    for (const auto& [frame, cells] : rows) {
        EXPECT_EQ(cells[2], "");
        total += std::stoul(cells[1]);
    }
    EXPECT_EQ(rows.size(), 7u);
    EXPECT_EQ(total, testsupport::ReadFile(Path("b.263")).size());
}

TEST_F(Csv, CompareCsvMatchesTheLogLines) {
    Generate("qcif", 4, "a.qcif");
    CliOk("encode a.qcif -o a.263");
    CliOk("decode a.263 -o d.qcif");
    CliRun run = CliOk("compare a.qcif d.qcif --csv c.csv");
    std::string header;
    const auto rows = CsvRows(Text(testsupport::ReadFile(Path("c.csv"))), &header);
    EXPECT_EQ(header, "frame,snr_y,snr_u,snr_v");
    const auto snr = SnrByFrame(run.out);
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& [frame, cells] : rows)
        EXPECT_EQ(cells[0] + " " + cells[1] + " " + cells[2], snr.at(frame));
    CliOk("compare a.qcif a.qcif --csv c.csv");
    EXPECT_NE(Text(testsupport::ReadFile(Path("c.csv"))).find("\n3,1000.00,1000.00,1000.00\n"),
              std::string::npos);
}

TEST_F(Csv, NeverWrittenOntoTheRunsFiles) {
    Generate("qcif", 2, "a.qcif");
    const auto before = testsupport::ReadFile(Path("a.qcif"));
    CliRun run = Cli("encode a.qcif -o a.263 --csv a.qcif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Error Opening a.qcif: it is the same file as the input"), std::string::npos)
        << run.err;
    run = Cli("encode a.qcif -o a.263 --csv ./a.263");
    EXPECT_EQ(run.status, 1);
    run = Cli("compare a.qcif a.qcif --csv a.qcif");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(testsupport::ReadFile(Path("a.qcif")), before);
}

using Info = CliTest;

TEST_F(Info, ProfileAndLevelOfOurStreams) {
    Generate("qcif", 6, "a.qcif");
    CliOk("encode a.qcif -o base.263");
    CliOk(
        "encode a.qcif -o ijkt.263 --set Advanced/UseAdvIntraCoding=1 --set Advanced/UseDeblockFilter=1 "
        "--set Advanced/UseModifiedQuant=1 --set Advanced/UseSliceMode=1");
    CliOk("encode a.qcif -o b.263 --set Advanced/UseTrueBPictures=1 --set Advanced/BPictures=2");

    auto base = Lines(CliOk("info base.263").out);
    EXPECT_TRUE(Contains(base, "Format: QCIF (2), 176x144"));
    EXPECT_TRUE(Contains(base, "Pictures: 6 (I 1, P 5)"));
    EXPECT_TRUE(Contains(base, "Annexes: none"));
    EXPECT_TRUE(Contains(base, "Profile: 0 (Baseline)"));
    auto ijkt = Lines(CliOk("info ijkt.263").out);
    EXPECT_TRUE(Contains(ijkt, "Annexes: I, J, K, T"));
    EXPECT_TRUE(Contains(ijkt, "Profile: 3 (Version 2 Interactive and Streaming Wireless)"));
    auto b = Lines(CliOk("info b.263").out);
    EXPECT_TRUE(Contains(b, "Pictures: 6 (I 1, P 3, B 2)"));
    EXPECT_TRUE(Contains(b, "Annexes: O"));

    // The bitrate, and with it the level, follows the frame rate the stream is shown at.
    const size_t bytes = testsupport::ReadFile(Path("base.263")).size();
    char line[80];
    std::snprintf(line, sizeof line, "Bitrate: %.1f Kbps at 30.0 fps", bytes * 8.0 / 1000.0 / (6 / 30.0));
    EXPECT_TRUE(Contains(base, line));
    std::snprintf(line, sizeof line, "Bitrate: %.1f Kbps at 8.3 fps", bytes * 8.0 / 1000.0 / (6 / 8.3));
    auto slow = Lines(CliOk("info base.263 --set General/FrameRate=5").out);
    EXPECT_TRUE(Contains(slow, line));
    const double kbpsAtSlow = bytes * 8.0 / 1000.0 / (6 / 8.3);
    const char* expected = kbpsAtSlow <= 64    ? "Level: 10"
                           : kbpsAtSlow <= 128 ? "Level: 45"
                           : kbpsAtSlow <= 384 ? "Level: 30"
                                               : "Level: 40";
    EXPECT_TRUE(Contains(slow, expected)) << kbpsAtSlow;

    // A coarse sub-QCIF stream at 8.3 fps stays within level 10; a CIF one does not.
    Generate("sqcif", 6, "s.sqcif");
    CliOk("encode s.sqcif -o s.263 --set Coder/PQuantizer=31 --set Coder/IQuantizer=31");
    auto small = Lines(CliOk("info s.263 --set General/FrameRate=5").out);
    EXPECT_TRUE(Contains(small, "Level: 10"));
    Generate("cif", 3, "c.cif");
    CliOk("encode c.cif -o c.263 --set Coder/PQuantizer=31 --set Coder/IQuantizer=31");
    auto cif = Lines(CliOk("info c.263 --set General/FrameRate=5").out);
    EXPECT_FALSE(Contains(cif, "Level: 10"));
}

using Ffmpeg = CliTest;

TEST_F(Ffmpeg, RoundTripsBothWaysThroughFilesAndPipes) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
    Generate("qcif", 5, "a.qcif");
    const std::string cli = testsupport::BinDir() + "/tessaro-cli";
    const std::string ff = "ffmpeg -nostdin -v error -y ";
    const std::string raw = " -f rawvideo -pix_fmt yuv420p -s 176x144 ";
    // ffmpeg's Y4M, by pipe and by file, encodes as the raw file does.
    CliOk("encode a.qcif -o a.263");
    ASSERT_EQ(Shell(ff + raw + "-i a.qcif -f yuv4mpegpipe - | " + cli + " encode - -o p.263 2>/dev/null"), 0);
    EXPECT_EQ(testsupport::ReadFile(Path("p.263")), testsupport::ReadFile(Path("a.263")));
    ASSERT_EQ(Shell(ff + raw + "-r 25 -i a.qcif ff.y4m"), 0);
    auto info = Lines(CliOk("info ff.y4m").out);
    EXPECT_TRUE(Contains(info, "Frame rate: 25.000 fps (from the header)"));
    CliRun cmp = CliOk("compare ff.y4m a.qcif");
    EXPECT_TRUE(
        Contains(Lines(cmp.out), "-> Average SNR: SNR_Y = 1000.0000, SNR_U = 1000.0000, SNR_V = 1000.0000"));

    // ffmpeg reads what decode writes to a pipe and to a file, and what generate writes.
    CliOk("decode a.263 -o d.qcif");
    ASSERT_EQ(
        Shell(cli + " decode a.263 -o - 2>/dev/null | " + ff + "-f yuv4mpegpipe -i - -f rawvideo back.yuv"),
        0);
    EXPECT_EQ(testsupport::ReadFile(Path("back.yuv")), testsupport::ReadFile(Path("d.qcif")));
    CliOk("decode a.263 -o d.y4m");
    ASSERT_EQ(Shell(ff + "-i d.y4m -f rawvideo file.yuv"), 0);
    EXPECT_EQ(testsupport::ReadFile(Path("file.yuv")), testsupport::ReadFile(Path("d.qcif")));
    Generate("qcif", 5, "g.y4m");
    ASSERT_EQ(Shell(ff + "-i g.y4m -f rawvideo g.yuv"), 0);
    EXPECT_EQ(testsupport::ReadFile(Path("g.yuv")), testsupport::ReadFile(Path("a.qcif")));

    // ffmpeg's 4:2:2 is refused with its reason.
    ASSERT_EQ(Shell(ff + raw + "-i a.qcif -pix_fmt yuv422p -f yuv4mpegpipe x422.y4m"), 0);
    CliRun refused = Cli("encode x422.y4m -o x.263");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("chroma format 4:2:2 (C422) is not supported"), std::string::npos)
        << refused.err;
}

}  // namespace
}  // namespace clitest
