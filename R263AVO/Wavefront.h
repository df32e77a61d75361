// Coding one picture's macroblock rows on several threads with the bits of one thread.
//
// Each row is coded by one thread into a bit stream of its own; row r codes macroblock c once
// row r-1 has finished macroblock c+1 (the last one in the last column). That is every
// dependency a macroblock has on the picture coded so far: its motion-vector predictor and
// search candidates (left, above, above right), its Annex I neighbours (left, above), and the
// Annex J filter, which touches the macroblock, its left neighbour and the two above. The
// prediction state that the one-thread loop keeps in rolling per-column stores is rebuilt for
// each macroblock from per-picture records and the segment (GOB or slice) boundaries, so no
// thread ever resets a store another thread reads. Rate control works per picture and the
// quantiser is fixed within one, so a macroblock's bits depend only on its own decisions; the
// rows' streams are joined in order by the threads that coded them, each row as soon as it and
// the rows before it are finished, with the byte alignment of each GOB or slice header done where
// it falls in the joined stream.
//
// A row is not tied to its thread: a thread that keeps waiting for the row above asks to take
// that row over, and the thread coding it hands it over after its current macroblock and goes
// on with the row the asker leaves. So a faster thread leads and a slower one follows, and
// threads of unequal speed (virtual processors on a busy host) are not all held to the pace of
// the slowest. Everything a row needs to go on is in per-row and per-picture state: the row's
// stream and the records of the macroblocks coded so far.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "AdvancedIPrediction_Annex_I.h"
#include "Buffer.h"
#include "Interpolation.h"
#include "MotionEst.h"
#include "Picture.h"
#include "PictureCoding.h"

namespace r263avo {

// A fixed set of threads that run one task at a time together with the calling thread.
class WorkerPool {
  public:
    WorkerPool() = default;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { Stop(); }

    // Starts `extra` threads besides the caller; false when one cannot be created (the ones that
    // started are stopped again).
    bool Start(int extra);
    void Stop();
    int Size() const { return static_cast<int>(threads_.size()) + 1; }

    // Runs task(context, worker) on every thread (worker 0 is the caller) and returns once all
    // have returned.
    void Run(void (*task)(void*, int), void* context);

  private:
    // `seen`: the generation when the thread was started; it runs the tasks after it.
    void Loop(int worker, uint64_t seen);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    // Changed under mutex_; read without it by the threads that poll for the next task.
    std::atomic<uint64_t> generation_{0};
    // Threads still in the task; the caller polls it before it sleeps on finished_.
    std::atomic<int> busy_{0};
    int taskPolls_ = 0;
    bool stopping_ = false;
    void (*task_)(void*, int) = nullptr;
    void* context_ = nullptr;
};

class Wavefront {
  public:
    Wavefront() = default;
    Wavefront(const Wavefront&) = delete;
    Wavefront& operator=(const Wavefront&) = delete;

    // Prepares for pictures of mbPerRow x mbRows macroblocks on `threads` threads (the caller
    // included). False when threads cannot be created or memory is short; throws nothing.
    bool Init(int threads, int mbPerRow, int mbRows, bool advIntra);
    void Release();
    int Threads() const { return initialised_ ? pool_.Size() : 0; }

    // Work the threads do while they would wait (see EncoderSetIdleWork); kept by Init and Release.
    void SetIdleWork(bool (*step)(void*), void* context) {
        idleStep_ = step;
        idleContext_ = context;
    }

    // Codes every macroblock of pc's picture and appends the bits to *pc.writer.
    void CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder);

    // Polls a thread waits for the rows above, summed over its time on a row, before it asks to
    // take the row above over: 0 asks at every wait, a negative count never. Init sets the
    // default (never when threads share cores: there a waiting thread yields its core instead).
    void SetHandOverPolls(int polls) { handOverPolls_ = polls; }
    // Rows handed over so far.
    int64_t HandOvers() const { return handOvers_.load(std::memory_order_relaxed); }

  private:
    // One row's stream and where its GOB or slice headers need byte alignment: pairs of (bits
    // before the row writer's own alignment, bits after it). On cache lines of its own: the
    // writers of neighbouring rows change with every code written, on different threads.
    struct alignas(64) RowStream {
        std::unique_ptr<uint8_t[]> bytes;
        size_t capacity = 0;
        BitWriter writer;
        std::vector<int32_t> marks;
        int markCount = 0;
        int32_t endBit = 0;
    };
    // What one thread works with; each thread has its own, on cache lines of its own.
    struct alignas(64) Worker {
        PictureCoding pc;
        MotionSearchInput search;
        std::vector<MbRecord> above;  // mbPerRow + 1, filled for the macroblock being coded
        MbRecord left;
        AicStores aic;
        alignas(16) int16_t blocks[6][64] = {};
        alignas(16) int16_t aicPixels[6][64] = {};
        alignas(16) int16_t aicRecon[6][64] = {};
        alignas(16) uint8_t prediction[kPredBytes] = {};
        int waitedPolls = 0;  // polls waited since the thread took its row
    };

    // Where a thread goes on: the row and its next column; row -1 once the row is finished.
    struct Place {
        int row = -1;
        int column = 0;
    };

    static void Task(void* self, int worker);
    void CodeRows(Worker& w);
    Place CodeRow(Worker& w, Place at);
    // Sets the left neighbours for going on with `row` at `column`, coded so far by another thread.
    void ResumeRow(Worker& w, int row, int column) const;
    void PrepareNeighbours(Worker& w, int mbIndex, int c, int row, int segmentStart) const;
    void WriteSegmentHeader(const PictureCoding& pc, RowStream& rs, int mbIndex) const;
    // Waits until `row` has finished `columns` macroblocks; returns how many it has. The waiting
    // thread is at `column` of the row below; after w.waitedPolls it asks to take `row` over, and
    // when the row is handed over, returns -1 - (the column it goes on from).
    int WaitFor(Worker& w, int row, int columns, int column);
    // Appends a finished row's stream to the picture's writer once the rows before it are there.
    void AppendRow(int row);
    // One step of the idle work; false when there is none (left).
    bool IdleStep() const;

    bool initialised_ = false;
    int mbPerRow_ = 0, mbRows_ = 0;
    WorkerPool pool_;
    std::vector<RowStream> rows_;
    // Finished macroblocks of a row, one cache line each: the thread on the row below polls the
    // counter while the thread on the row above writes its own. handOver: 0, or 1 + the column of
    // the row below where the thread asking to take this row over stopped, or -1 - the column of
    // this row it takes over from. It has a line of its own: the thread on the row reads it after
    // every macroblock, right after storing `done`, and in the same line that read would wait for
    // the line to come back from the polling thread, where it now finds a line nobody wrote (two
    // threads on cores some 200 ns apart: 3 % faster at 4CIF, 8 % at 16CIF).
    struct alignas(64) RowProgress {
        std::atomic<int> done{0};
        alignas(64) std::atomic<int> handOver{0};
    };
    std::unique_ptr<RowProgress[]> progress_;
    int spinPolls_ = 0;
    int handOverPolls_ = -1;
    std::atomic<int64_t> handOvers_{0};
    std::atomic<int> nextRow_{0};
    alignas(64) std::atomic<int> joined_{0};  // rows appended to the picture's writer
    std::vector<std::unique_ptr<Worker>> workers_;
    // The motion record of every macroblock of the picture, a cache line each: the thread on the
    // row below reads a record soon after the thread above wrote it, and would otherwise pull away
    // the line that the writer is filling with the next records.
    struct alignas(64) RecordSlot {
        MbRecord record;
    };
    std::vector<RecordSlot> records_;
    std::vector<AicMacroblock> aicAbove_;  // per column: the latest row's Annex I record
    const PictureCoding* picture_ = nullptr;
    bool (*idleStep_)(void*) = nullptr;
    void* idleContext_ = nullptr;
    mutable std::atomic<bool> idleLeft_{false};  // this picture's steps may still find work
    const MacroblockCoder* coder_ = nullptr;
};

// Threads for a Threads parameter: 0 means one per processor core; at least 1.
int ResolveThreadCount(int threads);

// Whether `threads` threads can each have a processor core of their own (true when the count of
// cores is unknown).
bool OwnCores(int threads);

}  // namespace r263avo
