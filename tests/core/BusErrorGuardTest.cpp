// Bus errors of mapped files that shrink while they are read: inside a guarded call the call is
// abandoned, in a guarded mapping the reads go on with zeros and the mapping tells; the two kinds
// share one signal handler.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "BusErrorGuard.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

constexpr size_t kPage = 4096;

struct File {
    explicit File(const std::string& name, size_t pages) : path(testsupport::MakeTempDir(name) + "/data") {
        testsupport::WriteFile(path, std::vector<uint8_t>(pages * kPage, 0x5a));
        fd = open(path.c_str(), O_RDONLY);
    }
    ~File() { close(fd); }
    std::string path;
    int fd = -1;
};

TEST(BusErrorGuard, AGuardedCallIsAbandonedAtTheFaultAndReportsIt) {
    File f("buserror-call", 4);
    ASSERT_GE(f.fd, 0);
    void* p = mmap(nullptr, 4 * kPage, PROT_READ, MAP_SHARED, f.fd, 0);
    ASSERT_NE(p, MAP_FAILED);
    const volatile uint8_t* bytes = static_cast<const uint8_t*>(p);
    int read = 0;
    EXPECT_TRUE(RunGuardedAgainstBusError([&] { read = bytes[3 * kPage]; }));
    EXPECT_EQ(read, 0x5a);
    ASSERT_EQ(truncate(f.path.c_str(), static_cast<off_t>(kPage)), 0);
    bool after = false;
    EXPECT_FALSE(RunGuardedAgainstBusError([&] {
        read = bytes[3 * kPage];
        after = true;
    }));
    EXPECT_FALSE(after);
    munmap(p, 4 * kPage);
}

TEST(BusErrorGuard, AGuardedMappingReadsZerosAfterAFaultAndTellsIt) {
    File f("buserror-mapping", 4);
    GuardedMapping m;
    ASSERT_TRUE(m.Map(f.fd, kPage, 3 * kPage));
    EXPECT_EQ(m.offset(), kPage);
    EXPECT_EQ(m.size(), 3 * kPage);
    const volatile uint8_t* bytes = m.data();
    EXPECT_EQ(bytes[0], 0x5a);
    EXPECT_FALSE(m.Faulted());
    ASSERT_EQ(truncate(f.path.c_str(), static_cast<off_t>(2 * kPage)), 0);
    // Page 2 of the file is gone: the read faults, and the whole mapping holds zeros from then on.
    EXPECT_EQ(bytes[2 * kPage], 0);
    EXPECT_TRUE(m.Faulted());
    EXPECT_EQ(bytes[0], 0);
    // Mapped again, it serves what the file still holds.
    ASSERT_TRUE(m.Map(f.fd, 0, 2 * kPage));
    EXPECT_FALSE(m.Faulted());
    EXPECT_EQ(m.data()[kPage + 1], 0x5a);
}

// A few mappings can be guarded at once; a guard comes free with its mapping, and one that
// cannot be mapped takes none.
TEST(BusErrorGuard, GuardsAreFewAndComeFree) {
    File f("buserror-slots", 1);
    std::vector<std::unique_ptr<GuardedMapping>> held;
    for (;;) {
        auto m = std::make_unique<GuardedMapping>();
        if (!m->Map(f.fd, 0, kPage)) break;
        held.push_back(std::move(m));
        ASSERT_LE(held.size(), 64u);
    }
    EXPECT_GE(held.size(), 2u);
    GuardedMapping extra;
    EXPECT_FALSE(extra.Map(f.fd, 0, kPage));
    EXPECT_FALSE(extra.mapped());
    held.pop_back();
    EXPECT_FALSE(extra.Map(-1, 0, kPage));
    EXPECT_TRUE(extra.Map(f.fd, 0, kPage));
    EXPECT_EQ(extra.data()[0], 0x5a);
}

}  // namespace
}  // namespace tessaro
