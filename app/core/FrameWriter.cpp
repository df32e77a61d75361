#include "FrameWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "OutputFiles.h"

namespace tessaro {

namespace {

// A write that stopped without an error of its own (a write of 0 bytes) still has to say why.
int WriteError() {
    return errno != 0 ? errno : EIO;
}

}  // namespace

FrameWriter::FrameWriter(int fd, bool threaded) : fd_(fd) {
    // Space is reserved ahead only at the end of a regular file, where nothing can be lost.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // Appending writes go to the end whatever the offset says.
        const int flags = fcntl(fd, F_GETFL);
        const off_t at = flags >= 0 && (flags & O_APPEND) ? st.st_size : lseek(fd, 0, SEEK_CUR);
        reserving_ = at >= 0 && at == st.st_size;
        end_ = reserved_ = at;
    }
    if (!threaded) return;
    try {
        thread_ = std::thread(&FrameWriter::Loop, this);
    } catch (const std::system_error&) {
        // No thread: every write goes straight to the file.
    }
}

FrameWriter::~FrameWriter() {
    Finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FrameWriter::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || queued_ > 0; });
        if (queued_ == 0) return;  // stopping, with nothing left
        const std::vector<uint8_t>& buffer = buffers_[head_];
        lock.unlock();
        // The buffer at head_ stays the thread's until queued_ drops below: Write fills others.
        const bool ok = WriteToFile(buffer.data(), buffer.size());
        const int error = ok ? 0 : WriteError();
        lock.lock();
        if (ok) {
            head_ = (head_ + 1) % kBuffers;
            --queued_;
        } else {
            // What is still queued would follow a gap in the file: it is dropped.
            error_ = error;
            queued_ = 0;
        }
        changed_.notify_all();
    }
}

bool FrameWriter::Write(std::initializer_list<Piece> pieces) {
    if (!threaded()) {
        if (error_ != 0) {
            errno = error_;
            return false;
        }
        for (const Piece& p : pieces) {
            if (!WriteToFile(p.data, p.size)) {
                error_ = WriteError();
                errno = error_;
                return false;
            }
        }
        return true;
    }
    int slot;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return error_ != 0 || queued_ < kBuffers; });
        if (error_ != 0) {
            errno = error_;
            return false;
        }
        slot = (head_ + queued_) % kBuffers;
    }
    // The free buffer is the caller's until it is queued. It keeps its capacity, so after the
    // first pictures no write allocates.
    std::vector<uint8_t>& buffer = buffers_[slot];
    size_t total = 0;
    for (const Piece& p : pieces) total += p.size;
    buffer.resize(total);
    size_t at = 0;
    for (const Piece& p : pieces) {
        if (p.size > 0) std::memcpy(buffer.data() + at, p.data, p.size);
        at += p.size;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A write that failed meanwhile emptied the queue: this buffer would follow the gap.
        if (error_ != 0) {
            errno = error_;
            return false;
        }
        ++queued_;
    }
    changed_.notify_all();
    return true;
}

bool FrameWriter::WriteToFile(const void* data, size_t size) {
    if (reserving_ && end_ + static_cast<off_t>(size) > reserved_) {
        // Blocks taken in large steps spare the file system most of its work per page; the file's
        // size stays that of what was written.
        const off_t step = std::max<off_t>(kReserveStep, static_cast<off_t>(size));
        if (fallocate(fd_, FALLOC_FL_KEEP_SIZE, reserved_, step) == 0) {
            reserved_ += step;
        } else {
            reserving_ = false;  // not supported here, or no room: plain writes say what fails
        }
    }
    errno = 0;
    if (WriteFully(fd_, data, size)) {
        end_ += static_cast<off_t>(size);
        return true;
    }
    // Part of the bytes may have reached the file: the end is where they stop, so that the
    // reservation beyond them is still given back.
    if (reserved_ > end_) {
        const int error = errno;
        const off_t at = lseek(fd_, 0, SEEK_CUR);
        if (at >= end_) end_ = at;
        errno = error;
    }
    return false;
}

void FrameWriter::ReleaseReserve() {
    if (reserved_ <= end_) return;
    // Truncating to its own size frees the blocks beyond the end; only when nothing else has
    // written past what this writer wrote.
    struct stat st;
    if (fstat(fd_, &st) == 0 && st.st_size == end_) {
        const int saved = errno;
        if (ftruncate(fd_, end_) == 0) reserved_ = end_;
        errno = saved;
    }
}

bool FrameWriter::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_ == 0; });
    ReleaseReserve();
    if (error_ == 0) return true;
    errno = error_;
    return false;
}

int FrameWriter::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace tessaro
