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
    const std::string dir = testsupport::MakeTempDir("output-cache");
    // Folders where no file can be created: beneath a plain file (for every user, the superuser
    // included) and, where permissions bind, a read-only folder.
    testsupport::WriteFile(dir + "/plain", std::vector<uint8_t>{1});
    std::vector<std::string> blocked = {dir + "/plain"};
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir((dir + "/locked").c_str(), 0500), 0);
        blocked.push_back(dir + "/locked");
    }
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    std::vector<std::string> paths;
    for (const std::string& folder : blocked) {
        std::string path;
        int fd = -1;
        if (CreateDecodedOutput(folder + "/s.263", "s_.qcif", &path, &fd)) close(fd);
        paths.push_back(path);
    }
    if (old)
        setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
    chmod((dir + "/locked").c_str(), 0700);
    // The first lands in the cache under the decoded name, the next beside it under a free name.
    EXPECT_EQ(paths[0], dir + "/cache/tessaro/s_.qcif");
    if (paths.size() > 1) {
        EXPECT_EQ(paths[1], dir + "/cache/tessaro/s_2.qcif");
    }
    EXPECT_EQ(testsupport::ReadFile(dir + "/plain"), std::vector<uint8_t>{1});
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
