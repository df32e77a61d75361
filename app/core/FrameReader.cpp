#include "FrameReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "VideoFile.h"

namespace tessaro {

FrameReader::FrameReader(const VideoFile& file, bool readAhead, bool inSteps, size_t pieceBytes)
    : file_(file), pieceBytes_(std::max<size_t>(pieceBytes, 1)) {
    const size_t bytes = static_cast<size_t>(file.frameBytes());
    // Both buffers in one dense store, which every frame read writes whole.
    const bool two = readAhead && !file.isStream();
    store_.ResetDense(two ? 2 * bytes : bytes);
    buffers_[0] = store_.data();
    if (!two) return;
    buffers_[1] = store_.data() + bytes;
    bufferCount_ = 2;
    if (inSteps) {
        inSteps_ = true;
        pieces_ = static_cast<int>((bytes + pieceBytes_ - 1) / pieceBytes_);
        return;
    }
    try {
        thread_ = std::thread(&FrameReader::Loop, this);
    } catch (const std::system_error&) {
        // No thread: every frame is read by the caller.
    }
}

FrameReader::~FrameReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FrameReader::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || reading_; });
        if (stopping_) return;
        const int64_t frame = aheadFrame_;
        uint8_t* out = buffers_[aheadBuffer_];
        lock.unlock();
        // VideoFile::ReadFrame may run on several threads at once for a random-access file.
        const bool ok = file_.ReadFrame(frame, out);
        lock.lock();
        aheadOk_ = ok;
        reading_ = false;
        changed_.notify_all();
    }
}

bool FrameReader::ReadStep(void* reader) {
    auto* r = static_cast<FrameReader*>(reader);
    if (r->stepFrame_ < 0) return false;
    const int piece = r->nextPiece_.fetch_add(1, std::memory_order_relaxed);
    if (piece >= r->pieces_) return false;
    uint8_t* buffer = r->buffers_[r->stepBuffer_];
    const size_t begin = static_cast<size_t>(piece) * r->pieceBytes_;
    const size_t count = std::min(r->pieceBytes_, static_cast<size_t>(r->file_.frameBytes()) - begin);
    if (!r->file_.ReadFramePart(r->stepFrame_, begin, count, buffer + begin))
        r->stepFailed_.store(true, std::memory_order_relaxed);
    r->donePieces_.fetch_add(1, std::memory_order_release);
    return true;
}

void FrameReader::KeepTwoAhead() {
    if (!inSteps_ || bufferCount_ == 3 || stepFrame_ >= 0) return;
    const size_t bytes = static_cast<size_t>(file_.frameBytes());
    store_.ResetDense(3 * bytes);
    for (int b = 0; b < 3; ++b) buffers_[b] = store_.data() + b * bytes;
    bufferCount_ = 3;
}

bool FrameReader::StillInFile(int64_t k) const {
    int fd = -1;
    uint64_t offset = 0;
    if (!file_.FrameLocation(k, &fd, &offset)) return true;  // no file to look at: as it was read
    struct stat st {};
    return fstat(fd, &st) == 0 &&
           static_cast<uint64_t>(st.st_size) >= offset + static_cast<uint64_t>(file_.frameBytes());
}

int FrameReader::Holding(int64_t k) const {
    if (k < 0) return -1;
    for (int b = 0; b < bufferCount_; ++b) {
        if (held_[b] == k) return b;
    }
    return -1;
}

const uint8_t* FrameReader::Ready(int64_t frame) const {
    const int b = bufferCount_ == 3 ? Holding(frame) : -1;
    return b >= 0 && b != current_ ? buffers_[b] : nullptr;
}

const uint8_t* FrameReader::ReadInSteps(int64_t k, int64_t next, int64_t after) {
    if (stepFrame_ >= 0) {
        // The pieces no step took are read here; those taken are normally finished already.
        while (ReadStep(this)) {
        }
        while (donePieces_.load(std::memory_order_acquire) < pieces_) std::this_thread::yield();
        // A frame a piece of which failed is read again whole, with the errno of its own read.
        held_[stepBuffer_] = stepFailed_.load(std::memory_order_relaxed) ? -1 : stepFrame_;
        stepFrame_ = -1;
    }
    const bool twoAhead = bufferCount_ == 3 && next >= 0 && after >= 0;
    // Only frames read ahead are served from the buffers; the last one served is read again.
    held_[current_] = -1;
    int keep = bufferCount_ == 3 ? Holding(next) : -1;
    current_ = Holding(k);
    if (current_ < 0) {
        current_ = 0;
        while (current_ == keep || (bufferCount_ == 2 && current_ == stepBuffer_)) ++current_;
        held_[current_] = -1;
        errno = 0;
        if (!file_.ReadFrame(k, buffers_[current_])) return nullptr;
    }
    if (!StillInFile(k)) {
        // Read ahead, but cut off the file since: not served, as a frame read now would not be.
        held_[current_] = -1;
        errno = 0;
        return nullptr;
    }
    held_[current_] = k;
    int64_t stepFor = next;
    if (twoAhead) {
        if (keep < 0) {
            // Not read ahead (the first call, or after a miss): read whole now. A failed read is
            // told by the call that asks for the frame.
            keep = current_ == 0 ? 1 : 0;
            held_[keep] = -1;
            if (file_.ReadFrame(next, buffers_[keep])) held_[keep] = next;
        }
        stepFor = after;
    } else if (keep >= 0) {
        stepFor = -1;  // the next frame is whole already
    }
    // Every buffer but the current frame's and the next one's is free.
    for (int b = 0; b < bufferCount_; ++b) {
        if (b != current_ && b != keep) held_[b] = -1;
    }
    if (stepFor >= 0) {
        stepBuffer_ = 0;
        while (stepBuffer_ == current_ || stepBuffer_ == keep) ++stepBuffer_;
        nextPiece_.store(0, std::memory_order_relaxed);
        donePieces_.store(0, std::memory_order_relaxed);
        stepFailed_.store(false, std::memory_order_relaxed);
        stepFrame_ = stepFor;
    }
    return buffers_[current_];
}

bool FrameReader::MapInPlace(int64_t first, size_t windowBytes, InPlace when) {
    int fd = -1;
    uint64_t offset = 0;
    if (mapped_ || file_.isStream() || !file_.FrameLocation(first, &fd, &offset)) return mapped_;
    windowBytes_ = windowBytes;
    // The first window tells whether this file can be mapped at all (when that frame is still
    // whole; if not, the reader stays in place and reports the frame when it is asked for).
    mapped_ = true;
    ReadInPlace(first, -1);
    if (mapped_ && when == InPlace::kWhenFaster && window_.mapped() && !MappingPays(fd)) {
        window_.Unmap();
        mapped_ = false;
    }
    return mapped_;
}

bool FrameReader::MappingPays(int fd) {
    // The first window taken in both ways, each timed once: its pages faulted in through the
    // mapping, and copied by reads into the first buffer. The copy is timed after an untimed
    // one, which leaves the file's pages cached and the buffer's pages present, as every later
    // copy finds them. Where a fault maps many pages at once the mapping costs a fraction of the
    // copy (4CIF, one thread: 4 % faster in all); where every fault traps into the host, some ten
    // microseconds each, the copy costs a fifth of the mapping (the same encode: 17 % faster).
    using Clock = std::chrono::steady_clock;
    const size_t frame = static_cast<size_t>(file_.frameBytes());
    auto copy = [&] {
        for (size_t done = 0; done < window_.size();) {
            const size_t n = std::min(frame, window_.size() - done);
            const ssize_t got = pread(fd, buffers_[0], n, static_cast<off_t>(window_.offset() + done));
            if (got <= 0) break;  // the end of the file within the window's last page
            done += static_cast<size_t>(got);
        }
    };
    copy();
    const Clock::time_point t0 = Clock::now();
    const volatile uint8_t* pages = window_.data();
    uint8_t sum = 0;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    for (size_t i = 0; i < window_.size(); i += page) sum = static_cast<uint8_t>(sum + pages[i]);
    const Clock::time_point t1 = Clock::now();
    copy();
    const Clock::time_point t2 = Clock::now();
    static_cast<void>(sum);
    return t1 - t0 <= t2 - t1;
}

const uint8_t* FrameReader::ReadInPlace(int64_t k, int64_t next) {
    errno = 0;
    int fd = -1;
    uint64_t at = 0;
    if (!file_.FrameLocation(k, &fd, &at)) return nullptr;
    const uint64_t bytes = static_cast<uint64_t>(file_.frameBytes());
    // A frame the file no longer holds whole is not served (its pages would fault).
    struct stat st {};
    if (fstat(fd, &st) != 0) return nullptr;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size < at + bytes) return nullptr;
    if (!window_.mapped() || window_.Faulted() || at < window_.offset() ||
        at + bytes > window_.offset() + window_.size()) {
        const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
        const uint64_t start = at / page * page;
        const uint64_t fileEnd = (size + page - 1) / page * page;
        const uint64_t end =
            std::min(fileEnd, std::max(start + windowBytes_, (at + bytes + page - 1) / page * page));
        if (!window_.Map(fd, start, static_cast<size_t>(end - start))) {
            // Refused (no address space or guard left): the frames are copied from now on.
            mapped_ = false;
            return Read(k, next);
        }
        // The system reads this window and the next one from the disk meanwhile, if it must.
        posix_fadvise(fd, static_cast<off_t>(start), static_cast<off_t>(2 * (end - start)),
                      POSIX_FADV_WILLNEED);
    }
    return window_.data() + (at - window_.offset());
}

const uint8_t* FrameReader::Read(int64_t k, int64_t next, int64_t after) {
    if (mapped_) return ReadInPlace(k, next);
    if (!readsAhead()) return file_.ReadFrame(k, buffers_[0]) ? buffers_[0] : nullptr;
    if (inSteps_) return ReadInSteps(k, next, after);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !reading_; });
    const bool hit = aheadFrame_ == k && aheadOk_;
    aheadFrame_ = -1;
    if (hit) {
        current_ = aheadBuffer_;
    } else {
        // Not read ahead (or the read failed, which the caller's own read reports with its errno).
        lock.unlock();
        current_ = 1 - aheadBuffer_;
        errno = 0;
        const bool ok = file_.ReadFrame(k, buffers_[current_]);
        if (!ok) return nullptr;
        lock.lock();
    }
    if (next >= 0) {
        aheadFrame_ = next;
        aheadBuffer_ = 1 - current_;
        reading_ = true;
        changed_.notify_all();
    }
    return buffers_[current_];
}

}  // namespace tessaro
