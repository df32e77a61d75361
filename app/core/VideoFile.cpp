#include "VideoFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "AviFile.h"
#include "Job.h"
#include "OutputFiles.h"
#include "R263COM/PictureFormats.h"
#include "Y4m.h"

namespace tessaro {
namespace {

// File name extensions of the H.263 source formats 1..5 (their sizes are the codec's table).
const char* const kFormatExtensions[] = {"sqcif", "qcif", "cif", "4cif", "16cif"};

constexpr uint32_t kFourccI420 = 'I' | ('4' << 8) | ('2' << 16) | (static_cast<uint32_t>('0') << 24);

// Limits of a custom picture size.
constexpr int kMinSide = 4, kMaxWidth = 2048, kMaxHeight = 1152;

// `count` bits starting at bit `position` (most significant bit of byte 0 is bit 0).
uint32_t BitsAt(const uint8_t* bytes, int position, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
        const int bit = position + i;
        v = (v << 1) | ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1u);
    }
    return v;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadAt(int fd, uint8_t* out, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int PictureFormatOfSize(int width, int height) {
    for (int f = kSubQcif; f <= k16Cif; ++f) {
        if (r263com::kFormatWidth[f] == width && r263com::kFormatHeight[f] == height) return f;
    }
    return kCustom;
}

std::string FormatExtension(int format) {
    if (format >= 1 && format <= 5) return kFormatExtensions[format - 1];
    return format == kCustom ? "cst" : "";
}

double FrameRateOfIndex(int index) {
    static const double rates[6] = {30.0, 25.0, 15.0, 12.5, 10.0, 8.3};
    return (index >= 0 && index < 6) ? rates[index] : 30.0;
}

bool PeekPictureSize(const uint8_t* bytes, size_t size, BitstreamPeek* peek) {
    if (size < 5) return false;
    if (bytes[0] != 0 || bytes[1] != 0 || (bytes[2] >> 2) != 0x20) return false;  // picture start code
    int format = (bytes[4] & 0x1C) >> 2;                                          // PTYPE source format
    int width = 0, height = 0;
    if (format == 7) {                                         // PLUSPTYPE
        if (size < 6 || (bytes[5] & 0x80) == 0) return false;  // UFEP must announce OPPTYPE
        format = (bytes[5] & 0x70) >> 4;
        if (format == kCustom) {
            if (size < 12) return false;
            // CPFMT directly after PLUSPTYPE when CPM is 0: PAR (4 bits), PWI (9), a one, PHI (9).
            width = (static_cast<int>(BitsAt(bytes, 73, 9)) + 1) * 4;
            height = static_cast<int>(BitsAt(bytes, 83, 9)) * 4;
            if (height < kMinSide || width > kMaxWidth || height > kMaxHeight) return false;
        }
    }
    // Standard formats take the codec's sizes; custom sizes come only from CPFMT.
    if (!r263com::StandardFormatSize(format, &width, &height) && width == 0) return false;
    peek->format = format;
    peek->width = width;
    peek->height = height;
    return true;
}

std::string DecodedFileName(const std::string& bitstreamPath, int format) {
    std::string base = FileNameOf(bitstreamPath);
    base = base.substr(0, base.find('.'));
    return base + "_." + FormatExtension(format);
}

namespace {

// Why a file that is not a regular file cannot be read as a sequence or a stream.
std::string NotRegularReason(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a file";
    if (S_ISFIFO(mode)) return "it is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "not a regular file";
}

}  // namespace

VideoFile::VideoFile(int frameRateIndex) {
    frameRateIndex_ = std::clamp(frameRateIndex, 0, 5);
    frameRate_ = FrameRateOfIndex(frameRateIndex_);
}

VideoFile::~VideoFile() {
    Close();
}

void VideoFile::Close() {
    UnmapBitstream();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    isRaw_ = false;
    isY4m_ = false;
    stream_.reset();
    headerRate_ = 0.0;
    frameOffsets_.clear();
    frameOffsets_.shrink_to_fit();
    avi_.reset();
    frameBuffer_.Clear();
    rgbBuffer_.Clear();
}

bool VideoFile::Fail(const std::string& message) {
    Close();
    error_ = message;
    return false;
}

bool VideoFile::Open(const std::string& path, VideoFileHost* host) {
    // Everything but the facts of an earlier bitstream open is reset.
    const int keptWidth = width_, keptHeight = height_;
    ResetFacts();
    name_ = path;

    // Opened without blocking, so that a FIFO or a device is refused instead of waiting for a
    // writer; only regular files are read.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return Fail("Error Opening " + path);
    if (!S_ISREG(st.st_mode)) return Fail("Error Opening " + path + ": " + NotRegularReason(st.st_mode));
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    fileSize_ = static_cast<uint64_t>(st.st_size);
    if (fileSize_ == 0) return Fail("Invalid Input File " + path);

    const size_t dot = path.find_last_of('.');
    const std::string extension = Lower(dot == std::string::npos ? path : path.substr(dot + 1));

    if (extension == "y4m") return OpenY4m(host);
    if (extension == "avi") {
        bool isAvi = false;
        const bool opened = OpenAvi(host, &isAvi);
        if (isAvi) return opened;
    }

    for (int f = 1; f <= 5; ++f) {
        const int width = r263com::kFormatWidth[f], height = r263com::kFormatHeight[f];
        const uint64_t bytes = static_cast<uint64_t>(width) * height * 3 / 2;
        if (extension == kFormatExtensions[f - 1] && fileSize_ % bytes == 0) {
            format_ = f;
            width_ = width;
            height_ = height;
            return FinishRaw(host);
        }
    }
    if (extension == "cst") {
        auto fits = [&](int w, int h) {
            const uint64_t bytes = static_cast<uint64_t>(w) * h * 3 / 2;
            return bytes > 0 && fileSize_ % bytes == 0;
        };
        if (isBitstream_ && keptWidth > 0 && keptHeight > 0 && fits(keptWidth, keptHeight)) {
            width_ = keptWidth;
            height_ = keptHeight;
        } else {
            int w = 0, h = 0;
            if (!host || !host->AskPictureSize(FileNameOf(path), &w, &h)) {
                return Fail("Error Opening " + path + ": picture width/height not specified");
            }
            if (w < kMinSide || w > kMaxWidth || h < kMinSide || h > kMaxHeight || !fits(w, h)) {
                return Fail("Error Opening " + path + ": invalid picture width/height");
            }
            width_ = w;
            height_ = h;
        }
        format_ = kCustom;
        return FinishRaw(host);
    }
    if (extension == "263") {
        uint8_t head[12] = {};
        const size_t n = static_cast<size_t>(std::min<uint64_t>(fileSize_, sizeof head));
        BitstreamPeek peek;
        if (!ReadAt(fd_, head, n, 0) || !PeekPictureSize(head, n, &peek)) {
            return Fail("Error Opening " + path + ": unknown file type.");
        }
        isBitstream_ = true;
        bitstreamSize_ = fileSize_;
        format_ = peek.format;
        width_ = peek.width;
        height_ = peek.height;
        decodedName_ = DecodedFileName(path, peek.format);
        return true;  // frames become readable once the decoded output is reopened
    }
    return Fail("Error Opening " + path + ": unknown file type");
}

void VideoFile::ResetFacts() {
    Close();
    error_.clear();
    fileSize_ = 0;
    fourcc_ = 0;
    format_ = width_ = height_ = 0;
    frameBytes_ = 0;
    frameCount_ = 0;
    bitsPerPixel_ = 0;
    bitrateKbps_ = 0.0;
}

namespace {

// Reads exactly `size` bytes from a stream; false at its end (with errno 0) or on an error.
bool ReadExactly(int fd, uint8_t* out, size_t size, size_t* got) {
    *got = 0;
    while (*got < size) {
        const ssize_t n = read(fd, out + *got, size - *got);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = 0;
        if (n <= 0) return false;
        *got += static_cast<size_t>(n);
    }
    return true;
}

// Reads one line (up to `limit` bytes, newline included) byte by byte, so that nothing after it
// is taken from the stream.
bool ReadLine(int fd, std::vector<uint8_t>* line, size_t limit) {
    line->clear();
    while (line->size() < limit) {
        uint8_t c = 0;
        size_t got = 0;
        if (!ReadExactly(fd, &c, 1, &got)) return false;
        line->push_back(c);
        if (c == '\n') return true;
    }
    return true;  // too long: the caller's parser refuses it
}

}  // namespace

bool VideoFile::OpenY4mStream(int fd, const std::string& name, VideoFileHost* host) {
    ResetFacts();
    name_ = name;
    std::vector<uint8_t> line;
    if (!ReadLine(fd, &line, kY4mMaxHeaderBytes)) {
        if (errno != 0) return Fail("Error Opening " + name + ": " + std::strerror(errno));
        if (line.empty()) return Fail("Error Opening " + name + ": the input is empty");
    }
    Y4mHeader header;
    std::string reason;
    if (!ParseY4mHeader(line.data(), line.size(), &header, &reason)) {
        return Fail("Error Opening " + name + ": " + reason);
    }
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        device_ = static_cast<uint64_t>(st.st_dev);
        inode_ = static_cast<uint64_t>(st.st_ino);
    }
    stream_ = std::make_unique<StreamState>();
    stream_->fd = fd;
    width_ = header.width;
    height_ = header.height;
    format_ = PictureFormatOfSize(width_, height_);
    isY4m_ = true;
    headerRate_ = header.Rate();
    if (headerRate_ > 0.0) frameRate_ = headerRate_;
    fileSize_ = header.headerBytes;
    return FinishRaw(host);
}

std::string VideoFile::StreamFault() const {
    if (!stream_ || !stream_->ended) return std::string();
    if (stream_->broken) {
        return Format("frame %lld of the stream does not start with a FRAME header",
                      static_cast<long long>(stream_->next));
    }
    return stream_->error != 0 ? std::string(std::strerror(stream_->error)) : std::string();
}

bool VideoFile::ReadStreamFrame(int64_t k, uint8_t* out) const {
    StreamState& s = *stream_;
    if (s.ended || k < s.next) return false;
    std::vector<uint8_t> line;
    while (s.next <= k) {
        size_t length = 0, got = 0;
        const bool whole = ReadLine(s.fd, &line, kY4mMaxFrameHeaderBytes);
        if (!whole) {
            s.ended = true;  // the stream ended (or failed) where a frame would begin
            s.error = errno;
            return false;
        }
        if (ParseY4mFrameHeader(line.data(), line.size(), &length) != Y4mFrameHeader::kValid ||
            length != line.size()) {
            s.ended = true;
            s.broken = true;
            return false;
        }
        // Frames before k are read into `out` and dropped.
        if (!ReadExactly(s.fd, out, static_cast<size_t>(frameBytes_), &got)) {
            s.ended = true;  // a last frame cut short is left out
            s.error = errno;
            return false;
        }
        ++s.next;
    }
    return true;
}

bool VideoFile::OpenY4m(VideoFileHost* host) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(fileSize_, kY4mMaxHeaderBytes)));
    Y4mHeader header;
    std::string reason;
    if (!ReadAt(fd_, head.data(), head.size(), 0)) return Fail("Error Opening " + name_);
    if (!ParseY4mHeader(head.data(), head.size(), &header, &reason)) {
        return Fail("Error Opening " + name_ + ": " + reason);
    }
    width_ = header.width;
    height_ = header.height;
    format_ = PictureFormatOfSize(width_, height_);
    // Every frame is found once here, so that reading frame k later costs one read. A last frame
    // cut short is left out, as the partial frame at the end of a raw file is.
    const uint64_t pictureBytes = static_cast<uint64_t>(width_) * height_ * 3 / 2;
    uint64_t offset = header.headerBytes;
    uint8_t line[kY4mMaxFrameHeaderBytes];
    try {
        while (offset < fileSize_) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(fileSize_ - offset, sizeof line));
            if (!ReadAt(fd_, line, n, offset)) return Fail("Error Opening " + name_);
            size_t length = 0;
            const Y4mFrameHeader kind = ParseY4mFrameHeader(line, n, &length);
            if (kind == Y4mFrameHeader::kIncomplete) break;
            if (kind == Y4mFrameHeader::kInvalid) {
                return Fail(Format("Error Opening %s: frame %zu does not start with a FRAME header",
                                   name_.c_str(), frameOffsets_.size()));
            }
            if (fileSize_ - offset - length < pictureBytes) break;
            if (frameOffsets_.size() >= static_cast<size_t>(INT_MAX)) break;
            frameOffsets_.push_back(offset + length);
            offset += length + pictureBytes;
        }
    } catch (const std::bad_alloc&) {
        return Fail("Error Opening " + name_ + ": can't allocate buffers");
    }
    if (frameOffsets_.empty()) return Fail("Error Opening " + name_ + ": the file holds no whole frame");
    isY4m_ = true;
    headerRate_ = header.Rate();
    if (headerRate_ > 0.0) frameRate_ = headerRate_;
    return FinishRaw(host);
}

bool VideoFile::OpenAvi(VideoFileHost* host, bool* isAvi) {
    auto avi = std::make_unique<AviFile>();
    const AviFile::OpenResult result = avi->Open(name_);
    *isAvi = result != AviFile::OpenResult::kNotAvi;
    if (result == AviFile::OpenResult::kNotAvi) return false;
    if (result == AviFile::OpenResult::kNoStreams) return Fail("Error Opening " + name_);
    close(fd_);  // the AVI reader opens the file itself
    fd_ = -1;
    const AviVideoFacts& video = avi->video();
    frameRate_ = video.frameRate;
    if (video.stream >= 0) {
        fourcc_ = video.fourcc;
        width_ = video.width;
        height_ = video.height;
        frameCount_ = video.frameCount;
        format_ = video.format;
        bitsPerPixel_ = video.bitsPerPixel;
        bitrateKbps_ = video.bitrateKbps;
        if (host) host->RawOpened(frameCount_, format_, width_, height_);
    }
    avi_ = std::move(avi);
    return true;
}

bool VideoFile::FinishRaw(VideoFileHost* host) {
    bitsPerPixel_ = 12;
    frameBytes_ = pixelCount() * 12 / 8;
    const uint64_t count = stream_  ? 0
                           : isY4m_ ? frameOffsets_.size()
                                    : fileSize_ / static_cast<uint64_t>(frameBytes_);
    if (count > static_cast<uint64_t>(INT_MAX)) return Fail("Error Opening " + name_ + ": unknown file type");
    frameCount_ = static_cast<int>(count);
    isRaw_ = true;
    fourcc_ = kFourccI420;
    if (host) host->RawOpened(frameCount_, format_, width_, height_);
    ComputeBitrate();
    try {
        frameBuffer_.Reset(static_cast<size_t>(frameBytes_));
    } catch (const std::bad_alloc&) {
        return Fail("Error Opening " + name_ + ": can't allocate frame buffer");
    }
    try {
        rgbBuffer_.Reset(static_cast<size_t>(pixelCount()) * 3);
    } catch (const std::bad_alloc&) {
        return Fail("Error Opening " + name_ + ": can't allocate buffers");
    }
    return true;
}

void VideoFile::ComputeBitrate() {
    if (isBitstream_) {
        const uint64_t kilobits = bitstreamSize_ * 8 / 1000;
        bitrateKbps_ = static_cast<double>(kilobits) * frameRate_ / frameCount_;
    } else {
        bitrateKbps_ = bitsPerPixel_ * static_cast<double>(pixelCount()) * frameRate_ * (1.0 / 1024.0);
    }
}

void VideoFile::SetFrameRateIndex(int index) {
    frameRateIndex_ = index;
    frameRate_ = FrameRateOfIndex(index);
    if (isRaw_ || avi_) ComputeBitrate();
}

bool VideoFile::ReadFrame(int64_t k, uint8_t* out) const {
    if (stream_ && isRaw_ && k >= 0) return ReadStreamFrame(k, out);
    return ReadFramePart(k, 0, static_cast<size_t>(frameBytes_), out);
}

bool VideoFile::ReadFramePart(int64_t k, size_t begin, size_t count, uint8_t* out) const {
    int fd = -1;
    uint64_t start = 0;
    if (!FrameLocation(k, &fd, &start)) return false;
    if (begin > static_cast<size_t>(frameBytes_) || count > static_cast<size_t>(frameBytes_) - begin)
        return false;
    return ReadAt(fd, out, count, start + begin);
}

bool VideoFile::FrameLocation(int64_t k, int* fd, uint64_t* offset) const {
    if (stream_ || !isRaw_ || fd_ < 0 || k < 0 || k >= frameCount_) return false;
    *fd = fd_;
    *offset = isY4m_ ? frameOffsets_[static_cast<size_t>(k)] : static_cast<uint64_t>(k) * frameBytes_;
    return true;
}

const uint8_t* VideoFile::ReadFrame(int64_t k) {
    return ReadFrame(k, frameBuffer_.data()) ? frameBuffer_.data() : nullptr;
}

bool VideoFile::ReadWholeBitstream(std::vector<uint8_t>* out) const {
    if (!isBitstream_ || fd_ < 0) return false;
    try {
        out->assign(static_cast<size_t>(bitstreamSize_), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ReadAt(fd_, out->data(), out->size(), 0);
}

const uint8_t* VideoFile::MapBitstream() {
    UnmapBitstream();
    if (!isBitstream_ || fd_ < 0 || bitstreamSize_ == 0) return nullptr;
    void* p = mmap(nullptr, static_cast<size_t>(bitstreamSize_), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) return nullptr;
    mapping_ = p;
    mappedBytes_ = static_cast<size_t>(bitstreamSize_);
    return static_cast<const uint8_t*>(p);
}

void VideoFile::UnmapBitstream() {
    if (mapping_) munmap(mapping_, mappedBytes_);
    mapping_ = nullptr;
    mappedBytes_ = 0;
}

}  // namespace tessaro
