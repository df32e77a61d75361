// The command line as people expect it: usage errors, --set, numbers that do not fit, the frame
// range, slice length, custom sizes, decode exit status 3, and the settings-file cases.
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"
#include "TestSupport.h"

namespace clitest {
namespace {

using CommandLine = CliTest;

TEST_F(CommandLine, UsageErrorsExitTwoWithOnePlainLine) {
    Generate("qcif", 2, "s.qcif");
    for (const std::string args :
         {"", "bogus", "encode", "encode s.qcif --start abc", "encode s.qcif --end 99999999999",
          "encode s.qcif --start -3", "generate --format qcif --frames 4294967297 -o g.qcif", "decode",
          "compare s.qcif", "settings", "encode s.qcif --no-such-option"}) {
        SCOPED_TRACE(args);
        CliRun run = Cli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("tessaro-cli: ", 0), 0u) << run.err;
    }
    CliRun help = CliOk("--help");
    EXPECT_NE(help.out.find("3 decode only"), std::string::npos) << help.out;
}

TEST_F(CommandLine, SetTakesOneItemPerOccurrence) {
    Generate("qcif", 2, "s.qcif");
    CliRun run = CliOk("encode --set Coder/PQuantizer=5 s.qcif -o a.263");
    CliOk("encode s.qcif -o b.263");
    EXPECT_NE(testsupport::ReadFile(Path("a.263")), testsupport::ReadFile(Path("b.263")));
    run = Cli("encode s.qcif -o c.263 --set Coder/PQuantizer=5 Coder/IQuantizer=3");
    EXPECT_EQ(run.status, 2) << run.err;
}

TEST_F(CommandLine, SizesThatDoNotFitAreRefused) {
    Generate("qcif", 1, "s.qcif");
    ASSERT_EQ(Shell("cp s.qcif p.cst"), 0);
    for (const std::string size : {"4294967472x144", "176x4294967440", "99999999999999999999x144"}) {
        SCOPED_TRACE(size);
        CliRun run = Cli("info p.cst --size " + size);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("invalid picture width/height"), std::string::npos) << run.err;
    }
    CliOk("info p.cst --size 176x144");
}

TEST_F(CommandLine, CustomSizesTheStreamCannotCarryAreRefused) {
    ASSERT_EQ(Shell("head -c 540 /dev/zero > p.cst"), 0);  // ten 6x6 frames
    CliRun run = Cli("encode p.cst --size 6x6 -o p.263");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("a custom picture size must be a multiple of 4 in width and height, not 6x6"),
              std::string::npos)
        << run.err;
    EXPECT_NE(access(Path("p.263").c_str(), F_OK), 0);
}

TEST_F(CommandLine, WithoutEndEveryFrameIsEncoded) {
    // 1,001 frames of 16x16: past the settings sheet's 1,000-frame window.
    ASSERT_EQ(Shell("head -c 384384 /dev/urandom > many.cst"), 0);
    CliRun run = CliOk("encode many.cst --size 16x16 -o many.263 --set Coder/PQuantizer=31");
    EXPECT_TRUE(Contains(Lines(run.out), "-> Encoding completed (1001 frames encoded)")) << run.out;
    run = CliOk("encode many.cst --size 16x16 -o part.263 --end 9");
    EXPECT_TRUE(Contains(Lines(run.out), "-> Encoding completed (10 frames encoded)")) << run.out;
}

TEST_F(CommandLine, SliceLengthForTheRunOnly) {
    Generate("qcif", 2, "s.qcif");
    CliOk("encode s.qcif -o row.263 --set Advanced/UseSliceMode=1");
    CliOk("encode s.qcif -o three.263 --set Advanced/UseSliceMode=1 --set Advanced/MBlocksPerSlice=3");
    const auto row = testsupport::ReadFile(Path("row.263"));
    const auto three = testsupport::ReadFile(Path("three.263"));
    EXPECT_NE(row, three);
    EXPECT_GT(three.size(), row.size());  // more slice headers
    CliRun decoded = CliOk("decode three.263 -o three.qcif");
    EXPECT_EQ(testsupport::ReadFile(Path("three.qcif")).size(), 2u * 38016);
    // Never stored, and checked against the picture.
    std::string stored;
    Shell("cat config/tessaro/settings.ini 2>/dev/null", &stored);
    EXPECT_EQ(stored.find("MBlocksPerSlice"), std::string::npos);
    CliRun run = Cli("encode s.qcif -o x.263 --set Advanced/MBlocksPerSlice=100");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Advanced/MBlocksPerSlice must be 1 to 99"), std::string::npos) << run.err;
    run = Cli("encode s.qcif -o x.263 --set Advanced/MBlocksPerSlice=0");
    EXPECT_EQ(run.status, 2);
}

TEST_F(CommandLine, DecodeExitsThreeWhenPicturesWereLost) {
    Generate("qcif", 3, "q.qcif");
    Generate("sqcif", 2, "s.sqcif");
    CliOk("encode q.qcif -o q.263");
    CliOk("encode s.sqcif -o s.263");
    CliRun clean = CliOk("decode q.263 -o clean.qcif");
    for (const auto& line : Lines(clean.out)) EXPECT_EQ(line.find("skipped"), std::string::npos) << line;
    ASSERT_EQ(Shell("cat q.263 s.263 > mixed.263"), 0);
    CliRun run = Cli("decode mixed.263 -o mixed.qcif");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(
        Contains(Lines(run.out), "-> Pictures skipped: 2 (a picture format other than the first picture's)"))
        << run.out;
    EXPECT_NE(run.err.find("2 pictures of mixed.263 were lost"), std::string::npos) << run.err;
    EXPECT_EQ(testsupport::ReadFile(Path("mixed.qcif")).size(), 3u * 38016);
}

TEST_F(CommandLine, SettingsFileCases) {
    ASSERT_EQ(
        Shell("mkdir -p config/tessaro && printf '[Coder]\\nBitrate=128000\\nbroken line\\nSpeed=3\\n' > "
              "config/tessaro/settings.ini"),
        0);
    // One bad line costs that line only.
    CliRun get = Cli("settings get Coder/Bitrate");
    EXPECT_EQ(get.out, "128000\n");
    EXPECT_NE(get.err.find("1 line not understood"), std::string::npos) << get.err;
    EXPECT_EQ(Cli("settings get Coder/Speed").out, "3\n");

    // Reset of a file with nothing readable moves it aside and writes a clean one.
    ASSERT_EQ(Shell("printf 'garbage\\n' > config/tessaro/settings.ini"), 0);
    ASSERT_EQ(Cli("settings reset").status, 0);
    std::string kept, fresh;
    ASSERT_EQ(Shell("cat config/tessaro/settings.ini.corrupt", &kept), 0);
    EXPECT_EQ(kept, "garbage\n");
    ASSERT_EQ(Shell("cat config/tessaro/settings.ini", &fresh), 0);
    EXPECT_EQ(fresh.find("garbage"), std::string::npos);
    CliRun clean = Cli("settings get Coder/Bitrate");
    EXPECT_EQ(clean.out, "64000\n");
    EXPECT_EQ(clean.err, "");
}

TEST_F(CommandLine, UnreadableSettingsFileIsLeftAlone) {
    // Needs a user that permissions apply to: switch to "nobody" when running as root.
    std::string prefix;
    if (geteuid() == 0) {
        if (!testsupport::HaveProgram("setpriv")) GTEST_SKIP() << "cannot switch user";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (Shell("chmod -R a+rwx . && " + prefix + "test -x '" + testsupport::BinDir() + "/tessaro-cli'") !=
            0) {
            GTEST_SKIP() << "the test folder is not reachable for another user";
        }
    }
    ASSERT_EQ(
        Shell("mkdir -p config/tessaro && printf '[Coder]\\nSpeed=3\\n' > config/tessaro/settings.ini && "
              "chmod a+rwx config config/tessaro && chmod 000 config/tessaro/settings.ini"),
        0);
    std::string out;
    const std::string cli = prefix + "'" + testsupport::BinDir() + "/tessaro-cli' ";
    EXPECT_NE(Shell(cli + "settings set Coder/Speed 2 2>err.txt"), 0);
    std::string err;
    Shell("cat err.txt", &err);
    EXPECT_NE(err.find("cannot be read (Permission denied)"), std::string::npos) << err;
    EXPECT_EQ(Shell("ls config/tessaro | grep -c corrupt", &out), 1) << out;
    struct stat st {};
    ASSERT_EQ(stat(Path("config/tessaro/settings.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0u);
    EXPECT_EQ(st.st_size, 16);
}

}  // namespace
}  // namespace clitest
