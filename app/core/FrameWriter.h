// Ordered writes of a job's output. On a thread of its own, the writer lets the job go on with
// the next picture while the system copies the last one into the file: each write is copied into
// one of a few reusable buffers and queued, and the thread writes the buffers in their order. On
// one core (or when asked not to) every write goes straight to the file.
//
// Writing at the end of a regular file, the writer reserves the file's blocks ahead in large steps
// (which halves the file system's work per page) and gives back what it did not fill when it
// finishes.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaro {

class FrameWriter {
  public:
    struct Piece {
        const void* data;
        size_t size;
    };

    // Buffers of a threaded writer: one being written, one being filled and one spare, so that
    // a picture never waits for the file while the one before it is written.
    static constexpr int kBuffers = 3;

    // Writes to `fd`, which stays the caller's and must stay open until Finish has returned.
    // threaded: write on a thread of its own (when none can be started, writes go straight).
    FrameWriter(int fd, bool threaded);
    // Finishes the writes queued so far.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    bool threaded() const { return thread_.joinable(); }

    // Appends the pieces, in order, after everything written before; a threaded writer takes one
    // buffer for them, so they reach the file in one call. False once a write has failed (this
    // one or one queued before it), with errno set to that write's error: nothing after a failed
    // write reaches the file.
    bool Write(std::initializer_list<Piece> pieces);
    bool Write(const void* data, size_t size) { return Write({Piece{data, size}}); }

    // Waits until everything queued is in the file. False when a write failed (errno as Write).
    bool Finish();

    // The error of the failed write (0 while none failed).
    int Error() const;

  private:
    static constexpr off_t kReserveStep = off_t{8} << 20;

    void Loop();
    // One write with its reservation; by the thread when there is one, else by the caller.
    bool WriteToFile(const void* data, size_t size);
    void ReleaseReserve();

    int fd_;
    // The reservation: whether the file takes one, the end of what was written and of what is
    // reserved (the writing side's alone; Finish reads them once the queue is empty).
    bool reserving_ = false;
    off_t end_ = 0;
    off_t reserved_ = 0;
    std::vector<uint8_t> buffers_[kBuffers];
    // Under mutex_: the buffer written next, the number queued from it on, and the outcome.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int head_ = 0;
    int queued_ = 0;
    int error_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tessaro
