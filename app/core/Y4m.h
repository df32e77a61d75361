// YUV4MPEG2 (".y4m") sequences: the stream header, the frame headers, and the header this program
// writes. Only progressive 4:2:0 content is taken, the layout every job works on; other chroma
// formats and interlaced content are refused with their reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaro {

// The facts of a stream header.
struct Y4mHeader {
    int width = 0, height = 0;
    int rateNumerator = 0, rateDenominator = 0;  // 0/0 when the header gives no rate
    std::string chroma;                          // the C parameter as written ("" when absent)
    size_t headerBytes = 0;                      // length of the header line, its newline included
    double Rate() const {
        return rateNumerator > 0 && rateDenominator > 0 ? static_cast<double>(rateNumerator) / rateDenominator
                                                        : 0.0;
    }
};

// Longest stream header and frame header line taken.
constexpr size_t kY4mMaxHeaderBytes = 4096;
constexpr size_t kY4mMaxFrameHeaderBytes = 1024;

// Parses the stream header at the start of `data`. False with `reason` (a phrase that completes
// "Error Opening FILE: ...") when it is no YUV4MPEG2 header, has no end within
// kY4mMaxHeaderBytes, or describes content this program cannot take (another chroma format,
// interlacing, an odd or impossible size).
bool ParseY4mHeader(const uint8_t* data, size_t size, Y4mHeader* header, std::string* reason);

// Result of looking at the bytes where a frame header should start.
enum class Y4mFrameHeader {
    kValid,       // "FRAME", optional parameters, newline: `*length` bytes
    kIncomplete,  // the bytes end before the newline (a cut-off file)
    kInvalid,     // not a frame header
};
Y4mFrameHeader ParseY4mFrameHeader(const uint8_t* data, size_t size, size_t* length);

// The stream header this program writes for width x height 4:2:0 pictures at `rate` frames per
// second (as a fraction: 30 -> 30:1, 12.5 -> 25:2, 8.3 -> 83:10, 29.97 -> 30000:1001).
std::string Y4mStreamHeader(int width, int height, double rate);
inline constexpr char kY4mFrameMarker[] = "FRAME\n";
inline constexpr size_t kY4mFrameMarkerBytes = 6;

// A path whose extension is ".y4m" (any case), or "-" (standard input or output, always Y4M).
bool IsY4mPath(const std::string& path);

}  // namespace tessaro
