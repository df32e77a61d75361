// Frames of a raw sequence for a job that codes them one after the other. With read-ahead, a
// thread of its own reads the frame expected next while the caller codes the current one, so
// that on several cores the reading is not a serial step between the pictures.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaro {

class VideoFile;

class FrameReader {
  public:
    // Reads from `file`, which must stay open while the reader lives. readAhead: read the frame
    // expected next on a thread of its own (a random-access file only: a stream is always read
    // by the caller). Both frame buffers are allocated here, none per frame.
    FrameReader(const VideoFile& file, bool readAhead);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    bool readsAhead() const { return thread_.joinable(); }

    // The frameBytes() bytes of frame k, valid until the next call, or nullptr when the frame
    // cannot be read (errno as VideoFile::ReadFrame left it). `next` is the frame the following
    // call is expected to ask for (-1: none); it is read meanwhile. A call for another frame
    // than the one read ahead reads its frame itself, so the answer never depends on the guess.
    const uint8_t* Read(int64_t k, int64_t next);

  private:
    void Loop();

    const VideoFile& file_;
    std::vector<uint8_t> buffers_[2];
    int current_ = 0;  // the buffer the last call returned

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
};

}  // namespace tessaro
