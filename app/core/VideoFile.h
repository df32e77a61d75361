// One opened video file: a raw YUV 4:2:0 sequence (".sqcif", ".qcif", ".cif", ".4cif", ".16cif",
// ".cst"), a YUV4MPEG2 sequence (".y4m", served like a raw one) or an H.263 bitstream (".263")
// whose picture size is read from its first picture header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "R263COM/ZeroedBytes.h"

namespace tessaro {

class AviFile;

// Picture format codes (the H.263 source-format numbers).
enum PictureFormat : int { kSubQcif = 1, kQcif = 2, kCif = 3, k4Cif = 4, k16Cif = 5, kCustom = 6 };

// PictureFormat code of a size: 1..5 for the standard sizes, else 6.
int PictureFormatOfSize(int width, int height);

// Extension of a format code ("sqcif", ... "cst"), or "" for other codes.
std::string FormatExtension(int format);

// Playback rate of a FrameRateIndex 0..5 (30.0, 25.0, 15.0, 12.5, 10.0, 8.3); 30.0 otherwise.
double FrameRateOfIndex(int index);

// What an open may need from its caller.
class VideoFileHost {
  public:
    virtual ~VideoFileHost() = default;
    // The picture size of a ".cst" file; `title` is the file name without its folder. False when
    // the user gives none.
    virtual bool AskPictureSize(const std::string& title, int* width, int* height) = 0;
    // Called after every successful open of a raw sequence or AVI file with its picture facts.
    virtual void RawOpened(int frameCount, int format, int width, int height) {
        (void)frameCount, (void)format, (void)width, (void)height;
    }
};

// Result of reading the first picture header of a bitstream.
struct BitstreamPeek {
    int format = 0;  // 1..6
    int width = 0, height = 0;
};

// Reads the picture size from the first bytes of an H.263 stream (plain PTYPE or PLUSPTYPE with a
// standard or custom format). False when the bytes do not start with such a picture header.
bool PeekPictureSize(const uint8_t* bytes, size_t size, BitstreamPeek* peek);

// The decoded file name of a bitstream: its file name without folder, cut at the first ".", plus
// "_." and the extension of the format ("foreman.qcif.263" -> "foreman_.qcif").
std::string DecodedFileName(const std::string& bitstreamPath, int format);

class VideoFile {
  public:
    explicit VideoFile(int frameRateIndex = 0);
    ~VideoFile();
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    // Opens `path`. On failure the object is closed and Error() holds the message for the user.
    // isBitstream, bitstreamSize and decodedName survive from an earlier open of the same object
    // (reopening a bitstream's decoded output).
    bool Open(const std::string& path, VideoFileHost* host = nullptr);
    // Opens a Y4M sequence arriving on `fd` (standard input, not owned), named `name`. Only the
    // stream header is read here; the frames are read front to back as they are asked for, so
    // the stream is never seeked and its length is unknown (frameCount() is 0) until it ends.
    bool OpenY4mStream(int fd, const std::string& name, VideoFileHost* host = nullptr);
    // A sequence read as a stream (see OpenY4mStream).
    bool isStream() const { return stream_ != nullptr; }
    // For a stream: true once a read found its end (or a fault); then StreamFault() is "" for a
    // clean end, else what was wrong.
    bool StreamEnded() const { return stream_ && stream_->ended; }
    std::string StreamFault() const;
    void Close();
    const std::string& Error() const { return error_; }

    // Reads frame k into `out` (FrameBytes bytes). Safe to call from several threads at once, but
    // for a stream: there the frames must be asked for in increasing order by one reader, and
    // the frames passed over are read and dropped.
    bool ReadFrame(int64_t k, uint8_t* out) const;
    // Reads bytes [begin, begin + count) of frame k into `out` (not of a stream); like ReadFrame,
    // safe on several threads at once.
    bool ReadFramePart(int64_t k, size_t begin, size_t count, uint8_t* out) const;
    // The descriptor and the offset of frame k's frameBytes() bytes, for a caller that maps them:
    // random-access raw and Y4M files only (false for a stream, another kind of file or a frame
    // outside the file).
    bool FrameLocation(int64_t k, int* fd, uint64_t* offset) const;
    // Reads frame k into the object's frame buffer and returns it (nullptr on a failed read).
    const uint8_t* ReadFrame(int64_t k);
    // The whole bitstream (bitstreamSize bytes); false on a read error.
    bool ReadWholeBitstream(std::vector<uint8_t>* out) const;
    // The whole bitstream mapped read-only into memory, so that a large stream costs no copy;
    // nullptr when it cannot be mapped. Valid until UnmapBitstream(), Close() or the next open.
    const uint8_t* MapBitstream();
    void UnmapBitstream();

    void SetFrameRateIndex(int index);

    const std::string& name() const { return name_; }
    // Device and inode of the file as opened (0 before the first successful open).
    uint64_t device() const { return device_; }
    uint64_t inode() const { return inode_; }
    const std::string& decodedName() const { return decodedName_; }
    bool isBitstream() const { return isBitstream_; }
    bool isRaw() const { return isRaw_; }
    // A raw sequence read from a YUV4MPEG2 file (isRaw() is true as well).
    bool isY4m() const { return isY4m_; }
    // The frame rate the Y4M header gives (0 when it gives none or the file is no Y4M file).
    double headerFrameRate() const { return headerRate_; }
    // An ".avi" file: its frames come from avi() (never from ReadFrame).
    bool isAvi() const { return avi_ != nullptr; }
    AviFile* avi() const { return avi_.get(); }
    uint64_t fileSize() const { return fileSize_; }
    uint64_t bitstreamSize() const { return bitstreamSize_; }
    uint32_t fourcc() const { return fourcc_; }
    int format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int64_t pixelCount() const { return static_cast<int64_t>(width_) * height_; }
    int64_t frameBytes() const { return frameBytes_; }
    int frameCount() const { return frameCount_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    int frameRateIndex() const { return frameRateIndex_; }
    double frameRate() const { return frameRate_; }
    double bitrateKbps() const { return bitrateKbps_; }
    // Display picture of width x height x 3 bytes (bottom-up BGR), zero-filled at open.
    uint8_t* rgbBuffer() { return rgbBuffer_.data(); }

  private:
    bool Fail(const std::string& message);
    bool FinishRaw(VideoFileHost* host);
    bool OpenY4m(VideoFileHost* host);
    void ResetFacts();
    bool ReadStreamFrame(int64_t k, uint8_t* out) const;
    struct StreamState {
        int fd = -1;
        int64_t next = 0;  // the frame the stream holds next
        bool ended = false, broken = false;
        int error = 0;
    };
    std::unique_ptr<StreamState> stream_;  // the reading position of a stream (mutable state)
    bool OpenAvi(VideoFileHost* host, bool* isAvi);
    void ComputeBitrate();

    std::string name_, decodedName_, error_;
    bool isBitstream_ = false, isRaw_ = false, isY4m_ = false;
    double headerRate_ = 0.0;
    std::vector<uint64_t> frameOffsets_;  // Y4M: where each frame's pictures start
    int fd_ = -1;
    uint64_t fileSize_ = 0, bitstreamSize_ = 0;
    uint32_t fourcc_ = 0;
    uint64_t device_ = 0, inode_ = 0;
    void* mapping_ = nullptr;
    size_t mappedBytes_ = 0;
    int format_ = 0, width_ = 0, height_ = 0;
    int64_t frameBytes_ = 0;
    int frameCount_ = 0;
    int bitsPerPixel_ = 0;
    int frameRateIndex_ = 0;
    double frameRate_ = 30.0, bitrateKbps_ = 0.0;
    // Taken at open, but their pages are faulted in only when written: a job that codes the file
    // through its own buffers never pays for them.
    r263com::ZeroedBytes frameBuffer_, rgbBuffer_;
    std::unique_ptr<AviFile> avi_;
};

}  // namespace tessaro
