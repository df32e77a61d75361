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
//
// Two threads that know the next picture split differently: the calling thread codes the rest of
// the current picture, and the other one the next picture's top rows meanwhile, each row once
// the current picture's reconstruction is final a little below it. It stops as soon as the
// calling thread is done (mid-row if need be: that thread goes on from there with the next
// picture's rows in the next call), and at most a row past a cut that moves to where the two
// finish together. So each thread keeps coding the same part of the picture from one picture to
// the next, and finds its reference mostly in its own caches rather than in the other core's
// (4CIF, two vCPUs some 200 ns apart: 12 % faster than rows on demand).
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

    // Codes every macroblock of pc's picture and appends the bits to *pc.writer. Rows coded ahead
    // for this picture (see SetNext) are kept; when the picture is not the one they were coded
    // for, they are dropped and every row is coded.
    void CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder);

    // Lets the next CodeMacroblocks code the top rows of `next`, the picture after it, alongside
    // its own rows (two threads only; otherwise ignored). `next` reconstructs into a store that
    // the current picture neither reads nor writes, predicts from the current picture's
    // reconstruction, and must be coded by the next CodeMacroblocks with the same view. Taken
    // once: the call after that codes without it unless it is set again.
    void SetNext(const PictureCoding& next, const MacroblockCoder& coder);
    // Forgets the rows coded ahead (the picture they belong to will not be coded next).
    void DropAhead() { aheadRows_ = aheadColumn_ = 0; }
    // Pictures coded so far that found rows coded ahead for them.
    int64_t PicturesCodedAhead() const { return picturesCodedAhead_; }

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
        PictureCoding pc[2];  // the view of each picture slot
        MotionSearchInput search[2];
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
    // The motion record of every macroblock of the picture, a cache line each: the thread on the
    // row below reads a record soon after the thread above wrote it, and would otherwise pull away
    // the line that the writer is filling with the next records.
    struct alignas(64) RecordSlot {
        MbRecord record;
    };
    // What the rows of one picture share. There are two: the picture being coded and the one
    // whose top rows are coded ahead beside it.
    struct PictureRows {
        PictureCoding view;  // as the encoder gave it (its writer receives the joined rows)
        MacroblockCoder coder;
        std::vector<RowStream> rows;
        std::unique_ptr<RowProgress[]> progress;
        std::vector<RecordSlot> records;
        std::vector<AicMacroblock> aicAbove;     // per column: the latest row's Annex I record
        alignas(64) std::atomic<int> joined{0};  // rows appended to the picture's writer
    };

    static void Task(void* self, int worker);
    void CodeRows(Worker& w, int worker);
    // Codes `row` of the picture in `slot` from at.column. Returns where the thread goes on:
    // row -1 once the row is finished; with a hand-over, the place taken over; for the picture
    // coded ahead, the place where it stopped because the current picture was done.
    Place CodeRow(Worker& w, int slot, Place at);
    // The two-thread split with a picture coded ahead: the calling thread codes this picture's
    // rows from firstRow_ on, the other one the next picture's rows until the calling thread is
    // done, or up to aheadCap_ rows.
    void CodeBands(Worker& w, int worker);
    // Sets the left neighbours for going on with `row` at `column`, coded so far by another thread.
    void ResumeRow(Worker& w, const PictureRows& p, int row, int column) const;
    void PrepareNeighbours(Worker& w, const PictureRows& p, int mbIndex, int c, int row,
                           int segmentStart) const;
    void WriteSegmentHeader(const PictureCoding& pc, RowStream& rs, int mbIndex) const;
    // Waits until `row` has finished `columns` macroblocks; returns how many it has. The waiting
    // thread is at `column` of the row below; after w.waitedPolls it asks to take `row` over, and
    // when the row is handed over, returns -1 - (the column it goes on from).
    int WaitFor(Worker& w, PictureRows& p, int row, int columns, int column);
    // Waits until `row` of picture p is finished, without asking for it.
    void WaitForRow(PictureRows& p, int row);
    // Appends a finished row's stream to the picture's writer once the rows before it are there.
    void AppendRow(PictureRows& p, int row);
    void ResetRows(PictureRows& p);
    // Readies `row` of picture p for coding; returns the column it starts from: where rows coded
    // ahead stopped in it, else 0 with its stream emptied.
    int StartRow(PictureRows& p, int row);
    // Gives each thread its view of the picture in `slot` and starts its motion search.
    void PrepareWorkers(int slot);
    // One step of the idle work; false when there is none (left).
    bool IdleStep() const;

    bool initialised_ = false;
    int mbPerRow_ = 0, mbRows_ = 0;
    WorkerPool pool_;
    PictureRows pictures_[2];
    int current_ = 0;  // the slot of the picture being coded
    // How far the other slot's picture was coded ahead: whole rows, then macroblocks of the next.
    int aheadRows_ = 0;
    int aheadColumn_ = 0;
    bool nextSet_ = false;
    // This call: where the current picture goes on, whether the threads split into bands, the
    // rows the next picture may be coded ahead to, and the calling thread's end of its band.
    int firstRow_ = 0;
    int firstColumn_ = 0;
    bool bands_ = false;
    int aheadCap_ = 0;
    alignas(64) std::atomic<bool> currentDone_{false};
    bool aheadCapped_ = false;  // the thread coding ahead reached aheadCap_ before the other ended
    // Where the cap lies next time: moved a row when the thread ahead reached it before the
    // other thread ended its band, or was stopped well short of it.
    int cut_ = 0;
    int64_t picturesCodedAhead_ = 0;
    int spinPolls_ = 0;
    int handOverPolls_ = -1;
    std::atomic<int64_t> handOvers_{0};
    std::atomic<int> nextRow_{0};
    std::vector<std::unique_ptr<Worker>> workers_;
    bool (*idleStep_)(void*) = nullptr;
    void* idleContext_ = nullptr;
    mutable std::atomic<bool> idleLeft_{false};  // this picture's steps may still find work
};

// Threads for a Threads parameter: 0 means one per processor core; at least 1.
int ResolveThreadCount(int threads);

// Whether `threads` threads can each have a processor core of their own (true when the count of
// cores is unknown).
bool OwnCores(int threads);

}  // namespace r263avo
