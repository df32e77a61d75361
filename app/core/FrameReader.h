// Frames of a raw sequence for a job that codes them one after the other.
// - In place, the frames are served from a read-only mapping of the file, without a copy: the
//   coder's loads fetch the samples, which it asks for ahead of their use, where a read would
//   first copy the whole frame as a step of its own.
// - With read-ahead, the frame expected next is read while the caller codes the current one, so
//   that on several cores the reading is not a serial step between the pictures: by a thread of
//   its own, or in pieces by ReadStep, which the coder's threads call when they would otherwise
//   wait (on as many cores as coding threads, a reading thread would take a core from one of
//   them, and the others would wait for it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "BusErrorGuard.h"
#include "R263COM/ZeroedBytes.h"

namespace tessaro {

class VideoFile;

class FrameReader {
  public:
    // Reads from `file`, which must stay open while the reader lives. readAhead: read the frame
    // expected next on a thread of its own (a random-access file only: a stream is always read
    // by the caller). Both frame buffers are allocated here, none per frame.
    // inSteps: read ahead by ReadStep instead of a thread (what no step read by the next call is
    // read by that call), pieceBytes at a time.
    FrameReader(const VideoFile& file, bool readAhead, bool inSteps = false, size_t pieceBytes = kStepBytes);

    // A step's piece: a few tens of microseconds of copying. Larger pieces take fewer calls into
    // the system, which cost several times the copying of smaller ones on virtual machines, and a
    // coding thread that takes one while it waits has the rest of its row to catch up.
    static constexpr size_t kStepBytes = 128 << 10;

    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    bool readsAhead() const { return !mapped_ && (thread_.joinable() || inSteps_); }

    // Serves the frames in place from now on: Read returns a pointer into a mapping of the file
    // (windows of kWindowBytes, each frame whole in one), and nothing is read ahead. False, and
    // nothing changes, for a stream or a file that cannot be mapped; a window the system refuses
    // later makes the reader copy the frames from then on. Before the first Read only; `first` is
    // the frame that Read will be asked for first. A window is at least one frame.
    // kWhenFaster maps only when taking the first window in through the mapping costs less than
    // copying it: where page faults are slow (some virtual machines) a mapped frame costs
    // several times its copy.
    static constexpr size_t kWindowBytes = 2 << 20;
    enum class InPlace { kAlways, kWhenFaster };
    bool MapInPlace(int64_t first, size_t windowBytes = kWindowBytes, InPlace when = InPlace::kAlways);
    bool mapsInPlace() const { return mapped_; }

    // In place: the file shrank while the frame of the last Read was being read from the mapping,
    // whose reads then gave zeros. What was made from that frame must be dropped.
    bool Faulted() const { return mapped_ && window_.Faulted(); }

    // Reads one piece of the frame expected next into its buffer; false when no piece is left
    // (or none is expected). For EncoderSetIdleWork: safe on several threads at once, but not
    // during a Read call.
    static bool ReadStep(void* reader);

    // The frameBytes() bytes of frame k, valid until the next call, or nullptr when the frame
    // cannot be read (errno as VideoFile::ReadFrame left it). `next` is the frame the following
    // call is expected to ask for (-1: none); it is read meanwhile. A call for another frame
    // than the one read ahead reads its frame itself, so the answer never depends on the guess.
    // With KeepTwoAhead, `after` is the frame expected after `next`: `next` is then read whole
    // before the call returns (normally it is already) and `after` meanwhile.
    const uint8_t* Read(int64_t k, int64_t next, int64_t after = -1);

    // Reading in steps: keeps a third frame buffer, so that the frame after the current one is
    // whole while the one after it is read (for a coder that starts on the next picture during
    // the current one). Before the first Read only.
    void KeepTwoAhead();
    // With KeepTwoAhead: the bytes of frame `frame` when the last Read left it read whole as its
    // `next`, else nullptr. They stay unchanged until the Read after the one that returns them.
    const uint8_t* Ready(int64_t frame) const;

  private:
    void Loop();
    const uint8_t* ReadInSteps(int64_t k, int64_t next, int64_t after);
    // The buffer holding frame k whole, or -1.
    int Holding(int64_t k) const;
    // Whether the file still holds frame k whole: a frame read ahead may have been cut off since.
    bool StillInFile(int64_t k) const;
    const uint8_t* ReadInPlace(int64_t k, int64_t next);
    bool MappingPays(int fd);

    const VideoFile& file_;
    bool mapped_ = false;
    size_t windowBytes_ = kWindowBytes;
    GuardedMapping window_;  // in place: the window of the file holding the last frame served
    r263com::ZeroedBytes store_;
    uint8_t* buffers_[3] = {};
    int bufferCount_ = 1;
    int current_ = 0;  // the buffer the last call returned
    // Reading in steps: the frame each buffer holds whole (-1: none or being read).
    int64_t held_[3] = {-1, -1, -1};

    // Read-ahead state, under mutex_: the frame asked for (-1: none), its buffer, whether the
    // thread is reading, and the outcome of its last read.
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t aheadFrame_ = -1;
    int aheadBuffer_ = 0;
    bool reading_ = false;
    bool aheadOk_ = false;
    bool stopping_ = false;
    std::thread thread_;

    // Reading in steps: the frame (-1: none), its buffer, the pieces taken and finished, and
    // whether one failed. The frame and buffer change only in Read.
    bool inSteps_ = false;
    int pieces_ = 0;
    size_t pieceBytes_ = kStepBytes;
    int64_t stepFrame_ = -1;
    int stepBuffer_ = 0;
    std::atomic<int> nextPiece_{0};
    std::atomic<int> donePieces_{0};
    std::atomic<bool> stepFailed_{false};
};

}  // namespace tessaro
