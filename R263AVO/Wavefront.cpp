#include "Wavefront.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Interpolation.h"
#include "Slice_Annex_K.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace r263avo {

namespace {

constexpr int kMaxThreads = 64;
// Polls of a row's progress before the waiting thread sleeps on it: some tens of microseconds
// while every thread has a core of its own (a macroblock takes about one microsecond, and a
// sleeping thread takes longer than that to wake), a few microseconds when they share cores and
// the thread waited for may need the one the poller holds.
constexpr int kSpinPolls = 4096;
constexpr int kSharedCoreSpinPolls = 256;
// Polls for the next task, or by the caller for the end of the task, before a thread sleeps: the
// serial step between two pictures (rate control, handing the bytes to the caller, its next
// frame) usually ends within that time.
constexpr int kTaskPolls = 16384;
constexpr int kSharedCoreTaskPolls = 2048;
// A thread that had to sleep waits until the row above is this many macroblocks further than it
// needs: then it goes on for a while without waiting again, instead of sleeping and waking after
// every macroblock of a row above that is just as fast.
constexpr int kSleepSlack = 6;
// Polls (some 20 ns each) a thread waits for the rows above, over its time on one row, before it
// asks to take the row above over: about a macroblock's time. Threads of equal speed rarely wait
// that long (4CIF, two threads: some 100 hand-overs in 300 pictures), while a thread held back by
// one half as fast asks within a row (4CIF: 391 -> 340 ms).
constexpr int kHandOverPolls = 32;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

// Asks for the samples the next macroblock reads first: the column of reference lines that its
// search window and its prediction add on the right, and its own input samples. With several
// threads much of the reference was written by another core during the last picture and comes
// from that core's cache, slowly enough to stall the search (4CIF with two threads: 8 % of the
// time). One thread finds the same lines in its own caches and would only pay for the extra
// instructions, so its loop goes without. Always inlined: a call to a function that holds only
// prefetches is taken for a call without effect and dropped.
inline __attribute__((always_inline)) void PrefetchNextMacroblock(const PictureCoding& pc, int column,
                                                                  int row) {
    const int w = pc.input.width, h = pc.input.height;
    const int cw = w / 2, ch = h / 2;
    const int next = column + 1;
    if (pc.reference.y) {
        // The window of the next macroblock reaches 16 + 15 samples right of its corner and 16
        // rows above and below its own (the half-pel ring included); chroma predictions reach
        // 8 + 1 beyond their block.
        const int x = std::min(16 * next + 31, w - 1);
        const int y0 = std::max(16 * row - 16, 0), y1 = std::min(16 * row + 32, h - 1);
        for (int y = y0; y <= y1; ++y) __builtin_prefetch(pc.reference.y + static_cast<size_t>(y) * w + x);
        const int cx = std::min(8 * next + 16, cw - 1);
        const int cy0 = std::max(8 * row - 8, 0), cy1 = std::min(8 * row + 16, ch - 1);
        for (int y = cy0; y <= cy1; ++y) {
            __builtin_prefetch(pc.reference.u + static_cast<size_t>(y) * cw + cx);
            __builtin_prefetch(pc.reference.v + static_cast<size_t>(y) * cw + cx);
        }
    }
    if (16 * next >= w) return;
    const uint8_t* in = pc.input.y + static_cast<size_t>(16 * row) * w + 16 * next;
    for (int k = 0; k < 16; ++k) __builtin_prefetch(in + static_cast<size_t>(k) * w);
    const size_t c = static_cast<size_t>(8 * row) * cw + 8 * static_cast<size_t>(next);
    for (int k = 0; k < 8; ++k) {
        __builtin_prefetch(pc.input.u + c + static_cast<size_t>(k) * cw);
        __builtin_prefetch(pc.input.v + c + static_cast<size_t>(k) * cw);
    }
}

MbRecord UnavailableRecord() {
    MbRecord r;
    r.hx = kMvUnavailable;
    r.hy = kMvUnavailable;
    return r;
}

}  // namespace

bool OwnCores(int threads) {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 || threads <= static_cast<int>(cores);
}

int ResolveThreadCount(int threads) {
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(threads, 1, kMaxThreads);
}

// ---- WorkerPool ----------------------------------------------------------------------------

bool WorkerPool::Start(int extra) {
    Stop();
    stopping_ = false;
    taskPolls_ = OwnCores(extra + 1) ? kTaskPolls : kSharedCoreTaskPolls;
    try {
        threads_.reserve(static_cast<size_t>(extra));
        for (int i = 0; i < extra; ++i)
            threads_.emplace_back(&WorkerPool::Loop, this, i + 1,
                                  generation_.load(std::memory_order_relaxed));
    } catch (...) {
        Stop();
        return false;
    }
    return true;
}

void WorkerPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

void WorkerPool::Run(void (*task)(void*, int), void* context) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = task;
        context_ = context;
        busy_.store(static_cast<int>(threads_.size()), std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    task(context, 0);
    // The other threads end their last rows within a few macroblocks of this one: polling for
    // them saves a sleep and a wake-up at the end of every picture.
    for (int polls = 0; polls < taskPolls_ && busy_.load(std::memory_order_acquire) != 0; ++polls) CpuRelax();
    if (busy_.load(std::memory_order_acquire) == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return busy_.load(std::memory_order_acquire) == 0; });
}

void WorkerPool::Loop(int worker, uint64_t seen) {
    for (;;) {
        void (*task)(void*, int);
        void* context;
        // The next picture's task usually follows within a short serial step of the caller:
        // polling for it a while saves the sleep and the wake-up between pictures.
        for (int polls = 0; polls < taskPolls_ && generation_.load(std::memory_order_acquire) == seen;
             ++polls)
            CpuRelax();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock,
                       [&] { return stopping_ || generation_.load(std::memory_order_relaxed) != seen; });
            if (stopping_) return;
            seen = generation_.load(std::memory_order_relaxed);
            task = task_;
            context = context_;
        }
        task(context, worker);
        bool last;
        {
            // Under the mutex, so that a caller about to sleep on finished_ cannot miss the change.
            std::lock_guard<std::mutex> lock(mutex_);
            last = busy_.fetch_sub(1, std::memory_order_acq_rel) == 1;
        }
        if (last) finished_.notify_one();
    }
}

// ---- Wavefront -----------------------------------------------------------------------------

namespace {

// A row of the picture coded ahead reads its reference (this picture's reconstruction) up to 15.5
// samples below its own luma rows, and its chroma prediction up to 8.5 below its chroma rows: that
// reaches into the next row but one. The Annex J filter of a row changes the lowest lines of the
// row above, so a row of the reference is final once the row after it is coded. One row more
// keeps clear of both.
constexpr int kAheadLag = 3;

// Whether two views are of the same picture: the same input, stores, type and quantiser.
bool SamePicture(const PictureCoding& a, const PictureCoding& b) {
    return a.input.y == b.input.y && a.recon.y == b.recon.y && a.reference.y == b.reference.y &&
           a.pictureType == b.pictureType && a.quant == b.quant && a.tr == b.tr;
}

}  // namespace

bool Wavefront::Init(int threads, int mbPerRow, int mbRows, bool advIntra) {
    Release();
    threads = std::clamp(threads, 1, kMaxThreads);
    try {
        mbPerRow_ = mbPerRow;
        mbRows_ = mbRows;
        for (PictureRows& p : pictures_) {
            p.rows = std::vector<RowStream>(static_cast<size_t>(mbRows));
            for (RowStream& rs : p.rows) {
                // Left uninitialised: only the pages a row's bits reach are ever touched.
                rs.capacity = WorstCasePictureBytes(mbPerRow);
                rs.bytes.reset(new uint8_t[rs.capacity]);
                rs.marks.assign(2 * static_cast<size_t>(mbPerRow), 0);
            }
            p.progress.reset(new RowProgress[static_cast<size_t>(mbRows)]);
            p.records.assign(static_cast<size_t>(mbPerRow) * mbRows, RecordSlot{});
            if (advIntra) {
                p.aicAbove.resize(static_cast<size_t>(mbPerRow));
                for (AicMacroblock& r : p.aicAbove) SetAicUnavailable(r);
            }
        }
        for (int t = 0; t < threads; ++t) {
            auto w = std::make_unique<Worker>();
            w->above.assign(static_cast<size_t>(mbPerRow) + 1, MbRecord{});
            if (advIntra) w->aic.Init(mbPerRow);
            workers_.push_back(std::move(w));
        }
        spinPolls_ = OwnCores(threads) ? kSpinPolls : kSharedCoreSpinPolls;
        handOverPolls_ = OwnCores(threads) ? kHandOverPolls : -1;
        if (!pool_.Start(threads - 1)) {
            Release();
            return false;
        }
    } catch (const std::bad_alloc&) {
        Release();
        return false;
    }
    current_ = 0;
    aheadRows_ = 0;
    nextSet_ = false;
    cut_ = mbRows / 2;
    initialised_ = true;
    return true;
}

void Wavefront::Release() {
    pool_.Stop();
    initialised_ = false;
    for (PictureRows& p : pictures_) {
        std::vector<RowStream>().swap(p.rows);
        p.progress.reset();
        p.records = {};
        p.aicAbove = {};
    }
    std::vector<std::unique_ptr<Worker>>().swap(workers_);
    aheadRows_ = 0;
    nextSet_ = false;
    mbPerRow_ = mbRows_ = 0;
}

void Wavefront::SetNext(const PictureCoding& next, const MacroblockCoder& coder) {
    if (!initialised_ || pool_.Size() != 2) return;
    // The slot the next CodeMacroblocks does not code into.
    PictureRows& p = pictures_[current_];
    p.view = next;
    p.coder = coder;
    nextSet_ = true;
}

void Wavefront::ResetRows(PictureRows& p) {
    for (int r = 0; r < mbRows_; ++r) {
        p.progress[r].done.store(0, std::memory_order_relaxed);
        p.progress[r].handOver.store(0, std::memory_order_relaxed);
    }
    p.joined.store(0, std::memory_order_relaxed);
}

void Wavefront::PrepareWorkers(int slot) {
    const PictureRows& p = pictures_[slot];
    for (auto& w : workers_) {
        // Each thread codes with the picture's view but its own writer, records and buffers.
        PictureCoding& wpc = w->pc[slot];
        wpc = p.view;
        wpc.wavefront = nullptr;
        wpc.aboveRecords = w->above.data();
        wpc.leftRecord = &w->left;
        wpc.aic = &w->aic;
        wpc.blocks = w->blocks;
        wpc.aicPixels = w->aicPixels;
        wpc.aicRecon = w->aicRecon;
        wpc.prediction = w->prediction;
        if (p.coder.begin) p.coder.begin(wpc, &w->search[slot]);
    }
}

void Wavefront::CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder) {
    const int slot = 1 - current_;
    PictureRows& p = pictures_[slot];
    // Rows coded ahead count only for the picture they were coded for.
    const bool keep = (aheadRows_ > 0 || aheadColumn_ > 0) && SamePicture(p.view, pc);
    if (keep) ++picturesCodedAhead_;
    firstRow_ = keep ? aheadRows_ : 0;
    firstColumn_ = keep ? aheadColumn_ : 0;
    aheadRows_ = aheadColumn_ = 0;
    current_ = slot;
    p.view = pc;
    p.coder = coder;
    if (!keep) ResetRows(p);
    PrepareWorkers(slot);
    for (int r = 0; r < firstRow_; ++r) AppendRow(p, r);

    // With a next picture set, the calling thread codes the rest of this one and the other thread
    // the next one's top rows: each goes on where its own stores were written the picture before.
    bands_ = nextSet_ && pool_.Size() == 2 && mbRows_ >= 2;
    nextSet_ = false;
    if (bands_) {
        PictureRows& n = pictures_[1 - slot];
        ResetRows(n);
        PrepareWorkers(1 - slot);
        // A picture coded from its first row gives the thread ahead only the rows at the cut;
        // otherwise it may go a row further while the calling thread is busy.
        aheadCap_ = std::clamp(firstRow_ == 0 && firstColumn_ == 0 ? cut_ : cut_ + 1, 1, mbRows_ - 1);
        aheadCapped_ = false;
        currentDone_.store(false, std::memory_order_relaxed);
    }
    nextRow_.store(firstRow_, std::memory_order_relaxed);
    idleLeft_.store(idleStep_ != nullptr, std::memory_order_relaxed);
    pool_.Run(&Wavefront::Task, this);
    if (!bands_) return;
    if (aheadCapped_) {
        cut_ = std::min(cut_ + 1, mbRows_ - 1);
    } else if (aheadRows_ < cut_ - 1) {
        cut_ = std::max(cut_ - 1, 1);
    }
}

void Wavefront::Task(void* self, int worker) {
    auto* wf = static_cast<Wavefront*>(self);
    wf->CodeRows(*wf->workers_[static_cast<size_t>(worker)], worker);
}

void Wavefront::CodeRows(Worker& w, int worker) {
    if (bands_) {
        CodeBands(w, worker);
    } else {
        // Rows are taken in order, so the row each one waits for is always being coded.
        for (;;) {
            const int row = nextRow_.fetch_add(1, std::memory_order_relaxed);
            if (row >= mbRows_) break;
            const int column = StartRow(pictures_[current_], row);
            // Hand-overs move the thread between this row and its neighbours until one it holds ends.
            for (Place at{row, column}; at.row >= 0;) {
                w.waitedPolls = 0;
                at = CodeRow(w, current_, at);
            }
        }
    }
    // No row left to take: the idle work fills the time until the last row ends, and what is
    // left of it then is shared by all threads rather than left to the caller alone.
    while (IdleStep()) {
    }
}

void Wavefront::CodeBands(Worker& w, int worker) {
    if (worker == 0) {
        PictureRows& p = pictures_[current_];
        for (int row = firstRow_; row < mbRows_; ++row) {
            const int column = StartRow(p, row);
            w.waitedPolls = 0;
            CodeRow(w, current_, Place{row, column});
        }
        // The idle work (the frame after next) goes here, while the other thread still codes
        // ahead: the rows it adds there are this thread's fewer next time.
        while (IdleStep()) {
        }
        currentDone_.store(true, std::memory_order_release);
        return;
    }
    if (worker != 1) return;
    const int slot = 1 - current_;
    PictureRows& p = pictures_[slot];
    PictureRows& reference = pictures_[current_];
    int row = 0;
    for (; row < aheadCap_; ++row) {
        // The next picture's row reads this picture's reconstruction a little below itself.
        WaitForRow(reference, std::min(row + kAheadLag, mbRows_ - 1));
        if (currentDone_.load(std::memory_order_acquire)) break;
        StartRow(p, row);
        w.waitedPolls = 0;
        const Place stop = CodeRow(w, slot, Place{row, 0});
        if (stop.row >= 0) {
            aheadRows_ = row;
            aheadColumn_ = stop.column;
            return;
        }
    }
    aheadRows_ = row;
    aheadColumn_ = 0;
    aheadCapped_ = row == aheadCap_ && !currentDone_.load(std::memory_order_acquire);
}

int Wavefront::StartRow(PictureRows& p, int row) {
    // The row the picture coded ahead stopped in goes on where it stopped (the next picture's
    // rows start fresh: its slot was reset, so firstRow_ does not apply to it).
    if (&p == &pictures_[current_] && row == firstRow_ && firstColumn_ > 0) return firstColumn_;
    RowStream& rs = p.rows[static_cast<size_t>(row)];
    rs.writer.Reset(rs.bytes.get(), rs.capacity);
    rs.markCount = 0;
    return 0;
}

bool Wavefront::IdleStep() const {
    if (!idleLeft_.load(std::memory_order_relaxed)) return false;
    if (idleStep_(idleContext_)) return true;
    idleLeft_.store(false, std::memory_order_relaxed);
    return false;
}

void Wavefront::WaitForRow(PictureRows& p, int row) {
    std::atomic<int>& done = p.progress[row].done;
    int seen = done.load(std::memory_order_acquire);
    while (seen < mbPerRow_ && IdleStep()) seen = done.load(std::memory_order_acquire);
    for (int polls = 0; seen < mbPerRow_ && polls < spinPolls_; ++polls) {
        CpuRelax();
        seen = done.load(std::memory_order_acquire);
    }
    while (seen < mbPerRow_) {
        done.wait(seen, std::memory_order_acquire);
        seen = done.load(std::memory_order_acquire);
    }
}

int Wavefront::WaitFor(Worker& w, PictureRows& pr, int row, int columns, int column) {
    std::atomic<int>& p = pr.progress[row].done;
    std::atomic<int>& handOver = pr.progress[row].handOver;
    int seen = p.load(std::memory_order_acquire);
    // A short piece of the idle work at a time, as long as the row above is still behind.
    while (seen < columns && IdleStep()) seen = p.load(std::memory_order_acquire);
    bool asked = false;
    for (int polls = 0; seen < columns && polls < spinPolls_; ++polls) {
        if (asked) {
            if (handOver.load(std::memory_order_relaxed) < 0) break;  // handed over: taken below
        } else if (handOverPolls_ >= 0 && ++w.waitedPolls > handOverPolls_) {
            int idle = 0;
            asked = handOver.compare_exchange_strong(idle, 1 + column, std::memory_order_acq_rel);
        }
        CpuRelax();
        seen = p.load(std::memory_order_acquire);
    }
    if (asked) {
        // Withdrawn unless the row was handed over: then the grant is taken.
        int state = 1 + column;
        if (!handOver.compare_exchange_strong(state, 0, std::memory_order_acq_rel)) {
            handOver.store(0, std::memory_order_relaxed);
            return state;
        }
    }
    if (seen >= columns) return seen;
    const int target = std::min(columns + kSleepSlack, mbPerRow_);
    while (seen < target) {
        p.wait(seen, std::memory_order_acquire);
        seen = p.load(std::memory_order_acquire);
    }
    return seen;
}

void Wavefront::PrepareNeighbours(Worker& w, const PictureRows& p, int i, int c, int row,
                                  int segmentStart) const {
    const PictureCoding& pc = p.view;
    // A neighbour is available when it lies in this macroblock's segment: that is what the
    // one-thread loop's stores hold after their resets at each segment start.
    const int above = i - mbPerRow_;
    const bool aboveAvailable = row > 0 && above >= segmentStart;
    const bool startsSegment = i == segmentStart;
    w.above[static_cast<size_t>(c)] =
        aboveAvailable ? p.records[static_cast<size_t>(above)].record : UnavailableRecord();
    if (c + 1 < mbPerRow_) {
        const bool aboveRightAvailable = row > 0 && above + 1 >= segmentStart;
        w.above[static_cast<size_t>(c) + 1] =
            aboveRightAvailable ? p.records[static_cast<size_t>(above) + 1].record : UnavailableRecord();
    } else {
        w.above[static_cast<size_t>(c) + 1] = MbRecord{};  // the spare right of the last column
    }
    // Inside a segment the left record is the one the coder left in w.left for the macroblock
    // before: reading it back from the records would wait for that store to reach the cache line.
    if (c == 0 || startsSegment) w.left = MbRecord{};
    if (pc.advIntra) {
        AicMacroblock& store = w.aic.above[static_cast<size_t>(c)];
        if (aboveAvailable) {
            store = p.aicAbove[static_cast<size_t>(c)];
        } else {
            SetAicUnavailable(store);
        }
        // The left record is the one this thread stored after the previous macroblock.
        if (c == 0 || startsSegment) SetAicUnavailable(w.aic.left);
    }
}

void Wavefront::WriteSegmentHeader(const PictureCoding& pc, RowStream& rs, int i) const {
    // Headers after the first start byte-aligned in the joined stream: the row writer aligns
    // itself so that what follows starts on a byte of its buffer, and notes where.
    auto markAlignment = [&] {
        rs.marks[static_cast<size_t>(2 * rs.markCount)] = rs.writer.TotalBits();
        rs.writer.AlignToByte();
        rs.marks[static_cast<size_t>(2 * rs.markCount + 1)] = rs.writer.TotalBits();
        ++rs.markCount;
    };
    if (pc.slices) {
        if (!SliceStartsAt(i, pc.mbPerSlice)) return;
        if (i > 0) markAlignment();
        WriteSliceHeader(rs.writer, i, pc.mbaBits, pc.quant);
        return;
    }
    if (pc.gobHeaders && i % pc.mbPerGob == 0 && i > 0) {
        markAlignment();
        WriteGobHeader(rs.writer, i / pc.mbPerGob, pc.quant);
    }
}

void Wavefront::ResumeRow(Worker& w, const PictureRows& p, int row, int column) const {
    // The left neighbour's records as the thread that coded it left them: its motion record, and
    // the Annex I record it stored for its column, which the row below overwrites only after
    // this row has passed that column by two.
    const int i = row * mbPerRow_ + column;
    w.left = p.records[static_cast<size_t>(i) - 1].record;
    if (p.view.advIntra) w.aic.left = p.aicAbove[static_cast<size_t>(column) - 1];
}

Wavefront::Place Wavefront::CodeRow(Worker& w, int slot, Place at) {
    const int row = at.row;
    PictureRows& p = pictures_[slot];
    PictureCoding& pc = w.pc[slot];
    const MotionSearchInput& search = w.search[slot];
    RowStream& rs = p.rows[static_cast<size_t>(row)];
    pc.writer = &rs.writer;
    if (at.column > 0) ResumeRow(w, p, row, at.column);
    std::atomic<int>& done = p.progress[row].done;
    std::atomic<int>& handOver = p.progress[row].handOver;
    // What the row above was last seen to have finished: its counter is read again only when
    // that is not enough, since every read takes the line from the thread that writes it.
    int aboveDone = 0;
    for (int c = at.column; c < mbPerRow_; ++c) {
        const int i = row * mbPerRow_ + c;
        const int needed = std::min(c + 2, mbPerRow_);
        if (row > 0 && aboveDone < needed) {
            aboveDone = WaitFor(w, p, row - 1, needed, c);
            // Handed over: this thread goes on with the row above, and the thread that coded it
            // with this row from c.
            if (aboveDone < 0) return Place{row - 1, -1 - aboveDone};
        }
        // The above-right record of the next macroblock, once it is known to be written.
        if (row > 0 && aboveDone >= c + 3)
            __builtin_prefetch(&p.records[static_cast<size_t>(i - mbPerRow_) + 2]);
        PrefetchNextMacroblock(pc, c, row);
        WriteSegmentHeader(pc, rs, i);
        PrepareNeighbours(w, p, i, c, row, SegmentStart(pc, i));
        p.coder.code(pc, search, i, c, 16 * c, 16 * row);
        p.records[static_cast<size_t>(i)].record = w.above[static_cast<size_t>(c)];
        if (pc.advIntra) p.aicAbove[static_cast<size_t>(c)] = w.aic.above[static_cast<size_t>(c)];
        done.store(c + 1, std::memory_order_release);
        done.notify_all();
        // Coding ahead stops as soon as the current picture is done: the rest of the row is
        // coded with that picture's rows, by the call that codes it.
        if (slot != current_ && c + 1 < mbPerRow_ && currentDone_.load(std::memory_order_relaxed))
            return Place{row, c + 1};
        // The thread on the row below asks to take this row over: it goes on from c + 1, and
        // this thread with the row below from where that thread stopped.
        int asked = handOver.load(std::memory_order_relaxed);
        if (asked > 0 && c + 1 < mbPerRow_ &&
            handOver.compare_exchange_strong(asked, -1 - (c + 1), std::memory_order_acq_rel)) {
            handOvers_.fetch_add(1, std::memory_order_relaxed);
            return Place{row + 1, asked - 1};
        }
    }
    rs.endBit = rs.writer.TotalBits();
    rs.writer.AlignToByte();
    // A row of the picture coded ahead is joined when that picture is coded.
    if (slot == current_) AppendRow(p, row);
    return Place{};
}

namespace {

// Appends bits [begin, end) of `data` (begin a multiple of 8) to `out`.
void AppendBits(BitWriter& out, const uint8_t* data, int32_t begin, int32_t end) {
    const uint8_t* p = data + begin / 8;
    int32_t n = end - begin;
    for (; n >= 32; n -= 32, p += 4) {
        out.PutBits(32, (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
    }
    for (; n >= 8; n -= 8, ++p) out.PutBits(8, *p);
    if (n > 0) out.PutBits(n, static_cast<uint32_t>(*p) >> (8 - n));
}

}  // namespace

void Wavefront::AppendRow(PictureRows& p, int row) {
    // The thread of the row above appended it right after its last macroblock, which this row
    // waited for before its own last one: the wait here is short, and it never sleeps.
    for (int polls = 0; p.joined.load(std::memory_order_acquire) != row; ++polls) {
        if (polls < spinPolls_) {
            CpuRelax();
        } else {
            std::this_thread::yield();
        }
    }
    BitWriter& out = *p.view.writer;
    const RowStream& rs = p.rows[static_cast<size_t>(row)];
    const uint8_t* data = rs.writer.Data();
    int32_t begin = 0;
    for (int m = 0; m < rs.markCount; ++m) {
        AppendBits(out, data, begin, rs.marks[static_cast<size_t>(2 * m)]);
        out.AlignToByte();
        begin = rs.marks[static_cast<size_t>(2 * m + 1)];
    }
    AppendBits(out, data, begin, rs.endBit);
    p.joined.store(row + 1, std::memory_order_release);
}

}  // namespace r263avo
