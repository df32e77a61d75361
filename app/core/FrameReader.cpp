#include "FrameReader.h"

#include <cerrno>
#include <system_error>

#include "VideoFile.h"

namespace tessaro {

FrameReader::FrameReader(const VideoFile& file, bool readAhead) : file_(file) {
    const size_t bytes = static_cast<size_t>(file.frameBytes());
    buffers_[0].assign(bytes, 0);
    if (!readAhead || file.isStream()) return;
    buffers_[1].assign(bytes, 0);
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
        uint8_t* out = buffers_[aheadBuffer_].data();
        lock.unlock();
        // VideoFile::ReadFrame may run on several threads at once for a random-access file.
        const bool ok = file_.ReadFrame(frame, out);
        lock.lock();
        aheadOk_ = ok;
        reading_ = false;
        changed_.notify_all();
    }
}

const uint8_t* FrameReader::Read(int64_t k, int64_t next) {
    if (!readsAhead()) return file_.ReadFrame(k, buffers_[0].data()) ? buffers_[0].data() : nullptr;
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
        const bool ok = file_.ReadFrame(k, buffers_[current_].data());
        if (!ok) return nullptr;
        lock.lock();
    }
    if (next >= 0) {
        aheadFrame_ = next;
        aheadBuffer_ = 1 - current_;
        reading_ = true;
        changed_.notify_all();
    }
    return buffers_[current_].data();
}

}  // namespace tessaro
