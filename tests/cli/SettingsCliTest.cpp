// The settings commands, run-only overrides, racing processes, help texts, info and the demo.
#include "CliSupport.h"
#include "TestSupport.h"

namespace clitest {
namespace {

using SettingsCli = CliTest;

TEST_F(SettingsCli, SetGetListReset) {
    EXPECT_EQ(Cli("settings get Coder/Bitrate").out, "64000\n");
    ASSERT_EQ(Cli("settings set Coder/Bitrate 10000000").status, 0);
    EXPECT_EQ(Cli("settings get Coder/Bitrate").out, "10000000\n");
    ASSERT_EQ(Cli("settings set General/ShowSNR 7").status, 0);
    EXPECT_EQ(Cli("settings get General/ShowSNR").out, "1\n");
    std::string text;
    ASSERT_EQ(Shell("cat config/tessaro/settings.ini", &text), 0);
    EXPECT_NE(text.find("[General]\nShowSNR=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Coder]\nBitrate=10000000\n"), std::string::npos) << text;

    CliRun list = Cli("settings list");
    auto lines = Lines(list.out);
    EXPECT_TRUE(Contains(lines, "Coder/Bitrate = 10000000"));
    EXPECT_TRUE(Contains(lines, "Coder/PQuantizer = 13 (default)"));
    EXPECT_TRUE(Contains(lines, "Coder/FrameRateTarget = 30 (default)"));

    ASSERT_EQ(Cli("settings set Coder/Bitrate -1").status, 0);  // back to the default
    EXPECT_EQ(Cli("settings get Coder/Bitrate").out, "64000\n");
    ASSERT_EQ(Cli("settings reset").status, 0);
    EXPECT_EQ(Cli("settings get General/ShowSNR").out, "0\n");
}

TEST_F(SettingsCli, BadRequestsAreRefused) {
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"settings get Coder/Nothing", "unknown setting"},
        {"settings set Coder/Nothing 1", "unknown setting"},
        {"settings set Coder/Speed 9", "between 1 and 5"},
        {"settings set Coder/Speed fast", "whole number"},
        {"settings set Coder/FrameRateTarget 15", "between 25 and 30"},
    };
    for (const Case& c : cases) {
        CliRun run = Cli(c.args);
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    }
    EXPECT_NE(Shell("test -e config/tessaro/settings.ini"), 0);  // nothing was written
}

TEST_F(SettingsCli, RunOverridesAreNotStored) {
    Generate("qcif", 2, "s.qcif");
    CliRun run = Cli("encode s.qcif -o s.263 --set General/ShowSNR=1 --set Coder/Bitrate=128000");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(SnrByFrame(run.out).empty());
    EXPECT_EQ(Cli("settings get General/ShowSNR").out, "0\n");
    EXPECT_EQ(Cli("settings get Coder/Bitrate").out, "64000\n");
    // Stored settings apply to later runs.
    ASSERT_EQ(Cli("settings set General/LogInfoCoder 0").status, 0);
    CliRun quiet = Cli("encode s.qcif -o s2.263");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(SettingsCli, CorruptFileIsReportedAndKept) {
    ASSERT_EQ(Shell("mkdir -p config/tessaro && printf 'garbage\\n' > config/tessaro/settings.ini"), 0);
    CliRun get = Cli("settings get Coder/Bitrate");
    EXPECT_EQ(get.out, "64000\n");
    EXPECT_NE(get.err.find("defaults apply"), std::string::npos) << get.err;
    ASSERT_EQ(Cli("settings set Coder/Speed 2").status, 0);
    std::string kept;
    ASSERT_EQ(Shell("cat config/tessaro/settings.ini.corrupt", &kept), 0);
    EXPECT_EQ(kept, "garbage\n");
    EXPECT_EQ(Cli("settings get Coder/Speed").out, "2\n");
}

TEST_F(SettingsCli, TwoProcessesWritingAtOnceLoseNothing) {
    // Each process stores its own keys again and again; the last values of both must survive.
    const std::string cli = "'" + testsupport::BinDir() + "/tessaro-cli'";
    const std::string a = "for i in $(seq 1 12); do " + cli +
                          " settings set Coder/Bitrate $((20000 + i)) || exit 1; " + cli +
                          " settings set Coder/SearchWindow $((i % 15)) || exit 1; done";
    const std::string b = "for i in $(seq 1 12); do " + cli +
                          " settings set Advanced/BQuantizer $((i + 10)) || exit 1; " + cli +
                          " settings set General/DefaultOutputFile /tmp/out$i.263 || exit 1; done";
    ASSERT_EQ(Shell("(" + a + ") & pa=$!; (" + b + ") & pb=$!; wait $pa && wait $pb"), 0);
    EXPECT_EQ(Cli("settings get Coder/Bitrate").out, "20012\n");
    EXPECT_EQ(Cli("settings get Coder/SearchWindow").out, "12\n");
    EXPECT_EQ(Cli("settings get Advanced/BQuantizer").out, "22\n");
    EXPECT_EQ(Cli("settings get General/DefaultOutputFile").out, "/tmp/out12.263\n");
}

using Misc = CliTest;

TEST_F(Misc, HelpForEveryCommand) {
    for (const char* command :
         {"", "encode ", "decode ", "compare ", "settings ", "settings set ", "info ", "generate "}) {
        CliRun run = Cli(std::string(command) + "--help");
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find("Usage"), std::string::npos) << command;
    }
    EXPECT_NE(Cli("").status, 0);
    EXPECT_NE(Cli("frobnicate").status, 0);
}

TEST_F(Misc, InfoOfRawAndBitstream) {
    Generate("cif", 3, "v.cif");
    CliRun raw = Cli("info v.cif");
    ASSERT_EQ(raw.status, 0) << raw.err;
    auto lines = Lines(raw.out);
    EXPECT_TRUE(Contains(lines, "Format: CIF (3), 352x288"));
    EXPECT_TRUE(Contains(lines, "Frames: 3"));
    EXPECT_TRUE(Contains(lines, "Frame rate: 30.0 fps"));
    EXPECT_TRUE(Contains(lines, "Bitrate: 35640.0 Kbps"));  // 12 x 101376 x 30 / 1024
    ASSERT_EQ(Cli("settings set General/FrameRate 1").status, 0);
    EXPECT_TRUE(Contains(Lines(Cli("info v.cif").out), "Frame rate: 25.0 fps"));
    ASSERT_EQ(Cli("encode v.cif -o v.263").status, 0);
    CliRun stream = Cli("info v.263");
    EXPECT_TRUE(Contains(Lines(stream.out), "Decoded name: v_.cif")) << stream.out;
}

TEST_F(Misc, GenerateMatchesTheSynthTool) {
    ASSERT_EQ(Cli("generate --format qcif --frames 3 -o a.qcif").status, 0);
    ASSERT_EQ(Shell("'" + testsupport::BinDir() + "/tessaro-synth' qcif 3 b.qcif"), 0);
    EXPECT_EQ(testsupport::ReadFile(Path("a.qcif")), testsupport::ReadFile(Path("b.qcif")));
    EXPECT_NE(Cli("generate --format 13x7 --frames 3 -o c.cst").status, 0);
    EXPECT_NE(Cli("generate --format qcif --frames 0 -o c.qcif").status, 0);
}

// The README's main command: scripts/demo with the binaries of this build.
TEST_F(Misc, DemoScriptRuns) {
    std::string out;
    const int status = Shell(
        "'" + std::string(TESSARO_SOURCE_DIR) + "/scripts/demo' '" + testsupport::BinDir() + "' 2>&1", &out);
    ASSERT_EQ(status, 0) << out;
    auto lines = Lines(out);
    EXPECT_TRUE(Contains(lines, "-> Encoding completed (30 frames encoded)")) << out;
    EXPECT_TRUE(Contains(lines, "-> Total frames compared: 30"));
    const size_t split = out.find("== compare");
    ASSERT_NE(split, std::string::npos);
    const std::string encodeLog = out.substr(0, split), compareLog = out.substr(split);
    EXPECT_EQ(SnrByFrame(encodeLog).size(), 30u);
    EXPECT_EQ(SnrByFrame(encodeLog), SnrByFrame(compareLog));
    EXPECT_EQ(AverageLine(encodeLog), AverageLine(compareLog));
}

}  // namespace
}  // namespace clitest
