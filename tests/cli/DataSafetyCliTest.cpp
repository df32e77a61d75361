// No run destroys a file it did not create: outputs that are inputs, refused starts, inputs that
// are not regular files, and failed writes, through tessaro-cli.
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"
#include "TestSupport.h"

namespace clitest {
namespace {

class DataSafety : public CliTest {
  protected:
    // True when `name` still holds `bytes`.
    bool Unchanged(const std::string& name, const std::vector<uint8_t>& bytes) {
        return testsupport::ReadFile(Path(name)) == bytes;
    }
};

TEST_F(DataSafety, AnOutputThatIsAnInputIsRefusedUnderEverySpelling) {
    Generate("qcif", 3, "a.qcif");
    const auto original = testsupport::ReadFile(Path("a.qcif"));
    ASSERT_EQ(Shell("ln -s a.qcif link.qcif && ln a.qcif hard.qcif && mkdir sub"), 0);
    for (const std::string output : {"a.qcif", "./a.qcif", "sub/../a.qcif", "link.qcif", "hard.qcif"}) {
        SCOPED_TRACE(output);
        CliRun run = Cli("encode a.qcif -o " + output);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Error Opening " + output + ": it is the same file as the input a.qcif"),
                  std::string::npos)
            << run.err;
        run = Cli("encode a.qcif -o x.263 --recon " + output);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("same file as the input a.qcif"), std::string::npos) << run.err;
        EXPECT_TRUE(Unchanged("a.qcif", original));
    }
    // The reconstruction onto the bitstream, spelled differently, while neither exists yet.
    CliRun run = Cli("encode a.qcif -o x.263 --recon ./x.263");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("same file as the output x.263"), std::string::npos) << run.err;
    EXPECT_NE(access(Path("x.263").c_str(), F_OK), 0);

    // A decode onto its own bitstream.
    CliOk("encode a.qcif -o c.263");
    const auto stream = testsupport::ReadFile(Path("c.263"));
    run = Cli("decode c.263 -o ./c.263");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("same file as the input c.263"), std::string::npos) << run.err;
    EXPECT_TRUE(Unchanged("c.263", stream));
    // /dev/null takes any number of outputs.
    CliOk("encode a.qcif -o /dev/null --recon /dev/null");
}

TEST_F(DataSafety, RefusedStartsLeaveExistingFilesAsTheyWere) {
    Generate("qcif", 3, "a.qcif");
    testsupport::WriteFile(Path("old.263"), std::vector<uint8_t>{1, 2, 3, 4});
    const std::vector<uint8_t> old = {1, 2, 3, 4};
    for (const std::string args :
         {"--set Advanced/UseTrueBPictures=1 --set Coder/FrameRateActual=2", "--recon missing/r.qcif"}) {
        SCOPED_TRACE(args);
        CliRun run = Cli("encode a.qcif -o old.263 " + args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out.find("nan"), std::string::npos) << run.out;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(Unchanged("old.263", old));
    }
    std::string listing;
    Shell("ls -A", &listing);
    EXPECT_EQ(listing.find(".part-"), std::string::npos) << listing;
    // A successful run replaces the file, keeping its permissions.
    ASSERT_EQ(chmod(Path("old.263").c_str(), 0640), 0);
    CliOk("encode a.qcif -o old.263");
    EXPECT_GT(testsupport::ReadFile(Path("old.263")).size(), 4u);
    struct stat st {};
    ASSERT_EQ(stat(Path("old.263").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(DataSafety, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
    ASSERT_EQ(Shell("mkfifo p.qcif p.263 && mkdir d.qcif"), 0);
    for (const std::string args : {"encode p.qcif -o x.263", "decode p.263", "info p.263", "info p.qcif"}) {
        SCOPED_TRACE(args);
        CliRun run = Cli(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("it is a pipe (FIFO), not a regular file"), std::string::npos) << run.err;
    }
    CliRun run = Cli("info d.qcif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("it is a folder, not a file"), std::string::npos) << run.err;
    run = Cli("info /dev/zero");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("it is a device"), std::string::npos) << run.err;
}

TEST_F(DataSafety, AFailedWriteSaysWhyAndWhichFile) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    Generate("qcif", 3, "a.qcif");
    for (const std::string args :
         {"encode a.qcif -o /dev/full", "encode a.qcif -o x.263 --recon /dev/full"}) {
        SCOPED_TRACE(args);
        CliRun run = Cli(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Error writing /dev/full: No space left on device"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("-> Encoding completed"), std::string::npos) << run.out;
    }
    CliOk("encode a.qcif -o c.263");
    // Written in turn, and by a thread of their own.
    for (const char* threads : {"1", "2"}) {
        CliRun run = Cli(std::string("decode c.263 -o /dev/full --threads ") + threads);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Error writing /dev/full: No space left on device"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("-> Decoding completed"), std::string::npos) << run.out;
    }
}

}  // namespace
}  // namespace clitest
