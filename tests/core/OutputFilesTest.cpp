// Decoded output files: placed beside the bitstream, never over a file this process did not
// create, and deleted only when this process created them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OutputFiles.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

TEST(DecodedOutput, NeverReplacesAForeignFile) {
    const std::string dir = testsupport::MakeTempDir("output-noreplace");
    const std::string stream = dir + "/foreman.qcif.263";
    const std::vector<uint8_t> precious = {1, 2, 3};
    testsupport::WriteFile(dir + "/foreman_.qcif", precious);

    std::string path;
    int fd = -1;
    ASSERT_TRUE(CreateDecodedOutput(stream, "foreman_.qcif", &path, &fd));
    EXPECT_EQ(path, dir + "/foreman_2.qcif");
    ASSERT_TRUE(WriteFully(fd, "abcd", 4));
    close(fd);
    EXPECT_EQ(testsupport::ReadFile(dir + "/foreman_.qcif"), precious);
    EXPECT_TRUE(CreatedByThisProcess(path));
    EXPECT_FALSE(CreatedByThisProcess(dir + "/foreman_.qcif"));

    // Decoding the same stream again in this run reuses (truncates) its own file.
    std::string again;
    ASSERT_TRUE(CreateDecodedOutput(stream, "foreman_.qcif", &again, &fd));
    close(fd);
    EXPECT_EQ(again, path);
    EXPECT_TRUE(testsupport::ReadFile(path).empty());

    // Only the file this process created is deleted.
    EXPECT_FALSE(DeleteDecodedFile(dir + "/foreman_.qcif"));
    EXPECT_TRUE(Exists(dir + "/foreman_.qcif"));
    EXPECT_TRUE(DeleteDecodedFile(path));
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(DeleteDecodedFile(path));
}

TEST(DecodedOutput, SameNameFromTwoFoldersGivesTwoFiles) {
    const std::string a = testsupport::MakeTempDir("output-two/a");
    const std::string b = testsupport::MakeTempDir("output-two/b");
    std::string pa, pb;
    int fa = -1, fb = -1;
    ASSERT_TRUE(CreateDecodedOutput(a + "/seq.263", "seq_.qcif", &pa, &fa));
    ASSERT_TRUE(CreateDecodedOutput(b + "/seq.263", "seq_.qcif", &pb, &fb));
    close(fa);
    close(fb);
    EXPECT_EQ(pa, a + "/seq_.qcif");
    EXPECT_EQ(pb, b + "/seq_.qcif");
}

TEST(DecodedOutput, AReplacedFileIsNotDeleted) {
    const std::string dir = testsupport::MakeTempDir("output-replaced");
    std::string path;
    int fd = -1;
    ASSERT_TRUE(CreateDecodedOutput(dir + "/x.263", "x_.cif", &path, &fd));
    close(fd);
    // Someone else puts a different file under the same name.
    testsupport::WriteFile(dir + "/other", std::vector<uint8_t>{9});
    ASSERT_EQ(rename((dir + "/other").c_str(), path.c_str()), 0);
    EXPECT_FALSE(CreatedByThisProcess(path));
    EXPECT_FALSE(DeleteDecodedFile(path));
    EXPECT_EQ(testsupport::ReadFile(path), std::vector<uint8_t>{9});
}

TEST(DecodedOutput, UnwritableFolderFallsBackToTheCache) {
    if (geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind the superuser";
    const std::string dir = testsupport::MakeTempDir("output-cache");
    const std::string locked = dir + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    std::string path;
    int fd = -1;
    const bool ok = CreateDecodedOutput(locked + "/s.263", "s_.qcif", &path, &fd);
    if (old)
        setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(ok);
    close(fd);
    EXPECT_EQ(path, dir + "/cache/tessaro/s_.qcif");
    chmod(locked.c_str(), 0700);
}

TEST(NamedOutput, TruncatesWhatTheUserNamed) {
    const std::string dir = testsupport::MakeTempDir("output-named");
    testsupport::WriteFile(dir + "/out.263", std::vector<uint8_t>(100, 1));
    int fd = -1;
    ASSERT_TRUE(CreateNamedOutput(dir + "/out.263", &fd));
    close(fd);
    EXPECT_TRUE(testsupport::ReadFile(dir + "/out.263").empty());
    EXPECT_FALSE(CreatedByThisProcess(dir + "/out.263"));
    EXPECT_FALSE(CreateNamedOutput(dir + "/no/such/folder/out.263", &fd));
}

}  // namespace
}  // namespace tessaro
