// Prints how long a cache line takes to pass from one processor to another and back, halved: the
// one-way latency in nanoseconds between the first two processors this process may run on (or
// the two given). The benchmark script reads it around each two-thread run: on a virtual machine
// the host may keep the two processors on cores that share a cache or move them apart, and the
// encoder's threads, which pass reference and input lines between them, run at quite different
// speeds in the two cases.
//
//   tessaro-corelatency [CPU_A CPU_B]     exit status 1 when two processors are not available
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

bool Pin(pthread_t thread, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

std::vector<int> AllowedCpus() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

// A processor number, or -1 when `text` is not one.
int ParseCpu(const char* text) {
    char* end = nullptr;
    const long cpu = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && cpu >= 0 && cpu < CPU_SETSIZE ? static_cast<int>(cpu) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int a, b;
    if (argc == 3) {
        a = ParseCpu(argv[1]);
        b = ParseCpu(argv[2]);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "tessaro-corelatency: processors are numbers from 0 to %d\n", CPU_SETSIZE - 1);
            return 1;
        }
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: tessaro-corelatency [CPU_A CPU_B]\n");
        return 1;
    } else {
        const std::vector<int> cpus = AllowedCpus();
        if (cpus.size() < 2) {
            std::fprintf(stderr, "tessaro-corelatency: fewer than two processors available\n");
            return 1;
        }
        a = cpus[0];
        b = cpus[1];
    }
    if (a == b) {
        std::fprintf(stderr, "tessaro-corelatency: the two processors must differ\n");
        return 1;
    }
    constexpr int kRoundTrips = 100000;
    // Two threads that cannot run at once (a host that holds one processor back, a cpuset that
    // lies) would pass the line only at each time slice: give up after a second.
    constexpr auto kLimit = std::chrono::seconds(1);
    alignas(64) static std::atomic<int> turn{0};
    std::atomic<bool> pinned{true}, abandoned{false};
    std::thread echo([&] {
        if (!Pin(pthread_self(), b)) pinned = false;
        for (int i = 0; i < kRoundTrips; ++i) {
            while (turn.load(std::memory_order_acquire) != 2 * i + 1) {
                if (abandoned.load(std::memory_order_relaxed)) return;
            }
            turn.store(2 * i + 2, std::memory_order_release);
        }
    });
    if (!Pin(pthread_self(), a)) pinned = false;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRoundTrips && !abandoned.load(std::memory_order_relaxed); ++i) {
        turn.store(2 * i + 1, std::memory_order_release);
        for (int polls = 0; turn.load(std::memory_order_acquire) != 2 * i + 2; ++polls) {
            if ((polls & 4095) == 4095 && std::chrono::steady_clock::now() - start > kLimit) {
                abandoned = true;
                break;
            }
        }
    }
    const auto end = std::chrono::steady_clock::now();
    echo.join();
    if (abandoned) {
        std::fprintf(stderr, "tessaro-corelatency: processors %d and %d did not run at once\n", a, b);
        return 1;
    }
    if (!pinned) {
        std::fprintf(stderr, "tessaro-corelatency: cannot run on processors %d and %d\n", a, b);
        return 1;
    }
    std::printf("%.0f\n", std::chrono::duration<double, std::nano>(end - start).count() / (2.0 * kRoundTrips));
    return 0;
}
