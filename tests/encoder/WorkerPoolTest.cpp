// The pool that runs the wavefront's task on every thread: each Run gives the task to every thread
// exactly once and returns only after all of them have finished it, whether the other threads
// were still polling for it or had gone to sleep, and whether the caller finished first or last.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "R263AVO/Wavefront.h"

namespace {

struct Tally {
    explicit Tally(int threads) : runs(static_cast<size_t>(threads)) {}
    std::vector<std::atomic<int>> runs;  // tasks run by each worker
    std::atomic<int> running{0};         // workers inside the task right now
    // Workers other than the caller sleep this long inside the task (the caller returns first).
    std::chrono::microseconds workerDelay{0};
    // The caller sleeps this long inside the task (the others are done and poll or sleep).
    std::chrono::microseconds callerDelay{0};
};

void CountTask(void* context, int worker) {
    auto* t = static_cast<Tally*>(context);
    t->running.fetch_add(1);
    if (worker == 0 && t->callerDelay.count() > 0) std::this_thread::sleep_for(t->callerDelay);
    if (worker != 0 && t->workerDelay.count() > 0) std::this_thread::sleep_for(t->workerDelay);
    t->runs[static_cast<size_t>(worker)].fetch_add(1);
    t->running.fetch_sub(1);
}

// Runs `rounds` tasks and checks after each that every worker ran it once and none still runs.
void ExpectEveryWorkerOncePerRun(r263avo::WorkerPool& pool, Tally& tally, int rounds, const char* what) {
    for (int r = 1; r <= rounds; ++r) {
        pool.Run(&CountTask, &tally);
        ASSERT_EQ(tally.running.load(), 0) << what << ": Run returned while a worker was in the task";
        for (size_t w = 0; w < tally.runs.size(); ++w)
            ASSERT_EQ(tally.runs[w].load(), r) << what << ": worker " << w << " after run " << r;
    }
}

TEST(WorkerPool, EveryThreadRunsEachTaskOnceAndRunWaitsForAll) {
    for (int threads : {1, 2, 4}) {
        r263avo::WorkerPool pool;
        ASSERT_TRUE(pool.Start(threads - 1));
        ASSERT_EQ(pool.Size(), threads);

        // Back to back: the threads find the next task while they poll for it.
        Tally quick(threads);
        ExpectEveryWorkerOncePerRun(pool, quick, 500, "back to back");

        // The other threads end long after the caller: it has to sleep until they are done.
        Tally slowWorkers(threads);
        slowWorkers.workerDelay = std::chrono::milliseconds(3);
        ExpectEveryWorkerOncePerRun(pool, slowWorkers, 5, "slow workers");

        // The caller ends long after the others, and pauses between tasks so that they sleep.
        Tally slowCaller(threads);
        slowCaller.callerDelay = std::chrono::milliseconds(3);
        for (int r = 0; r < 5; ++r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ExpectEveryWorkerOncePerRun(pool, slowCaller, 1, "slow caller");
            for (auto& n : slowCaller.runs) n.store(0);
        }
        pool.Stop();
        EXPECT_EQ(pool.Size(), 1);
    }
}

// A pool stopped while its threads sleep, or started again, leaves no thread behind and runs the
// next tasks as before.
TEST(WorkerPool, StoppedAndStartedAgain) {
    r263avo::WorkerPool pool;
    for (int threads : {3, 2, 3}) {
        ASSERT_TRUE(pool.Start(threads - 1));
        Tally tally(threads);
        ExpectEveryWorkerOncePerRun(pool, tally, 20, "restarted pool");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the threads go to sleep
    }
    pool.Stop();
    pool.Stop();  // a second stop is harmless
    EXPECT_EQ(pool.Size(), 1);
}

}  // namespace
