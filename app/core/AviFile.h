// AVI input: the stream headers of a RIFF AVI file are read here (type, handler, rate/scale,
// start, length, frame rectangle, bit count), and the frames of the chosen video stream are
// decoded through FFmpeg's libraries (libavformat, libavcodec, libswscale) when the build has them;
// those are loaded when the first frame is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessaro {

// One stream of an AVI file as its 'strh' and 'strf' chunks describe it.
struct AviStreamInfo {
    uint32_t type = 0;     // FOURCC: 'vids', 'auds', ...
    uint32_t handler = 0;  // FOURCC of the codec
    uint32_t scale = 0, rate = 0;
    uint32_t start = 0, length = 0;  // in samples (frames for video)
    int left = 0, top = 0, right = 0, bottom = 0;
    int bitCount = 0;                       // of the BITMAPINFOHEADER in 'strf' (video)
    int formatWidth = 0, formatHeight = 0;  // of the same header
};

constexpr uint32_t FourCc(char a, char b, char c, char d) {
    return static_cast<uint8_t>(a) | static_cast<uint8_t>(b) << 8 | static_cast<uint8_t>(c) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// At most this many streams are taken from a file; later ones are ignored.
constexpr int kMaxAviStreams = 5;

// Reads the stream list of the header of an AVI file held in `bytes` (the start of the file is
// enough when it holds the whole 'hdrl' list). False when the bytes are no RIFF AVI file.
bool ReadAviStreams(const uint8_t* bytes, size_t size, std::vector<AviStreamInfo>* streams);

// The facts the windows need of the chosen video stream.
struct AviVideoFacts {
    int stream = -1;          // index of the first 'vids' stream, -1 when there is none
    double frameRate = 30.0;  // rate / scale, 30.0 when the scale is 0
    uint32_t fourcc = 0;
    int width = 0, height = 0;
    int frameCount = 0;
    int format = 0;  // 1..5 for the standard sizes, else 6
    int bitsPerPixel = 0;
    double bitrateKbps = 0.0;
    double startMs = 0.0, endMs = 0.0;
};
AviVideoFacts ChooseAviVideo(const std::vector<AviStreamInfo>& streams);

class AviDecoder;

class AviFile {
  public:
    AviFile();
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    enum class OpenResult { kNotAvi, kNoStreams, kOpened };
    OpenResult Open(const std::string& path);
    void Close();

    int streamCount() const { return static_cast<int>(streams_.size()); }
    const std::vector<AviStreamInfo>& streams() const { return streams_; }
    const AviVideoFacts& video() const { return video_; }
    // The duration of the video stream in ms (at least 1).
    double durationMs() const;

    // Decodes frame k (clamped to the last frame) into width x height pixels of 32 bits in the
    // order of a 0xffRRGGBB word, `stride` bytes per row, top row first. False when the frame
    // cannot be delivered (no video stream, damaged data, no decoder); `out` is then untouched.
    bool ReadFrameRgb32(int k, uint8_t* out, int stride);

  private:
    std::vector<AviStreamInfo> streams_;
    AviVideoFacts video_;
    std::string path_;
    std::unique_ptr<AviDecoder> decoder_;
    bool decoderFailed_ = false;
};

}  // namespace tessaro
