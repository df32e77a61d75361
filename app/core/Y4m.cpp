#include "Y4m.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace tessaro {
namespace {

// Limits of the picture sizes the jobs take (those of a custom raw file).
constexpr int kMinSide = 4, kMaxWidth = 2048, kMaxHeight = 1152;

// A decimal number of at most 9 digits; false for anything else.
bool ParseCount(const std::string& text, int* out) {
    if (text.empty() || text.size() > 9) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

// "N:D" with both parts decimal.
bool ParseRatio(const std::string& text, int* numerator, int* denominator) {
    const size_t colon = text.find(':');
    return colon != std::string::npos && ParseCount(text.substr(0, colon), numerator) &&
           ParseCount(text.substr(colon + 1), denominator);
}

// What a C parameter stands for, in words, for the refusal.
std::string ChromaName(const std::string& c) {
    if (c.rfind("422", 0) == 0) return "4:2:2";
    if (c.rfind("444", 0) == 0) return "4:4:4";
    if (c.rfind("411", 0) == 0) return "4:1:1";
    if (c.rfind("mono", 0) == 0) return "monochrome";
    return c;
}

}  // namespace

bool ParseY4mHeader(const uint8_t* data, size_t size, Y4mHeader* header, std::string* reason) {
    static const char kMagic[] = "YUV4MPEG2";
    const size_t magicBytes = sizeof kMagic - 1;
    if (size < magicBytes || std::memcmp(data, kMagic, magicBytes) != 0) {
        *reason = "not a YUV4MPEG2 stream (no \"YUV4MPEG2\" header)";
        return false;
    }
    const size_t limit = size < kY4mMaxHeaderBytes ? size : kY4mMaxHeaderBytes;
    const void* newline = std::memchr(data, '\n', limit);
    if (!newline) {
        *reason = "the YUV4MPEG2 header has no end";
        return false;
    }
    const size_t lineBytes = static_cast<size_t>(static_cast<const uint8_t*>(newline) - data);
    const std::string line(reinterpret_cast<const char*>(data) + magicBytes, lineBytes - magicBytes);
    Y4mHeader h;
    h.headerBytes = lineBytes + 1;
    bool haveWidth = false, haveHeight = false;
    char interlace = 'p';
    size_t at = 0;
    while (at < line.size()) {
        if (line[at] != ' ') {
            *reason = "the YUV4MPEG2 header is malformed";
            return false;
        }
        const size_t end = std::min(line.find(' ', at + 1), line.size());
        const std::string token = line.substr(at + 1, end - at - 1);
        at = end;
        if (token.empty()) continue;  // a doubled space is tolerated
        const std::string value = token.substr(1);
        switch (token[0]) {
            case 'W':
                haveWidth = ParseCount(value, &h.width);
                if (!haveWidth) {
                    *reason = "the YUV4MPEG2 header has an invalid width W" + value;
                    return false;
                }
                break;
            case 'H':
                haveHeight = ParseCount(value, &h.height);
                if (!haveHeight) {
                    *reason = "the YUV4MPEG2 header has an invalid height H" + value;
                    return false;
                }
                break;
            case 'F':
                if (!ParseRatio(value, &h.rateNumerator, &h.rateDenominator)) {
                    *reason = "the YUV4MPEG2 header has an invalid frame rate F" + value;
                    return false;
                }
                if (h.rateNumerator == 0 || h.rateDenominator == 0) h.rateNumerator = h.rateDenominator = 0;
                break;
            case 'I':
                interlace = value.empty() ? '?' : value[0];
                break;
            case 'C':
                h.chroma = value;
                break;
            case 'A':  // pixel aspect ratio: shown nowhere, not needed
            case 'X':  // extensions: ignored as the format asks
                break;
            default:
                *reason = "the YUV4MPEG2 header has an unknown parameter " + token;
                return false;
        }
    }
    if (!haveWidth || !haveHeight) {
        *reason = "the YUV4MPEG2 header gives no picture width and height";
        return false;
    }
    // 4:2:0 in each of its sitings; no C parameter means 4:2:0 as well.
    const std::string& c = h.chroma;
    if (!(c.empty() || c == "420" || c == "420jpeg" || c == "420paldv" || c == "420mpeg2")) {
        *reason = "chroma format " + ChromaName(c) + " (C" + c +
                  ") is not supported; only 4:2:0 8-bit sequences can be opened";
        return false;
    }
    if (interlace == 't' || interlace == 'b' || interlace == 'm') {
        *reason = std::string("interlaced content (I") + interlace +
                  ") is not supported; only progressive sequences can be opened";
        return false;
    }
    if (h.width % 2 != 0 || h.height % 2 != 0 || h.width < kMinSide || h.height < kMinSide ||
        h.width > kMaxWidth || h.height > kMaxHeight) {
        *reason = "the picture size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                  " cannot be taken (even sizes from 4x4 to 2048x1152)";
        return false;
    }
    *header = h;
    return true;
}

Y4mFrameHeader ParseY4mFrameHeader(const uint8_t* data, size_t size, size_t* length) {
    static const char kFrame[] = "FRAME";
    const size_t n = sizeof kFrame - 1;
    if (std::memcmp(data, kFrame, size < n ? size : n) != 0) return Y4mFrameHeader::kInvalid;
    if (size < n + 1) return Y4mFrameHeader::kIncomplete;
    if (data[n] != '\n' && data[n] != ' ') return Y4mFrameHeader::kInvalid;
    const size_t limit = size < kY4mMaxFrameHeaderBytes ? size : kY4mMaxFrameHeaderBytes;
    const void* newline = std::memchr(data, '\n', limit);
    if (!newline)
        return size < kY4mMaxFrameHeaderBytes ? Y4mFrameHeader::kIncomplete : Y4mFrameHeader::kInvalid;
    *length = static_cast<size_t>(static_cast<const uint8_t*>(newline) - data) + 1;
    return Y4mFrameHeader::kValid;
}

std::string Y4mStreamHeader(int width, int height, double rate) {
    int numerator = 30, denominator = 1;
    if (rate > 0.0) {
        const double ntsc = rate * 1.001;
        if (std::fabs(rate - std::round(rate)) > 1e-6 && std::fabs(ntsc - std::round(ntsc)) < 1e-3) {
            numerator = static_cast<int>(std::lround(ntsc)) * 1000;
            denominator = 1001;
        } else {
            for (int d : {1, 2, 10, 100, 1000}) {
                const double scaled = rate * d;
                if (std::fabs(scaled - std::round(scaled)) < 1e-6 || d == 1000) {
                    numerator = static_cast<int>(std::lround(scaled));
                    denominator = d;
                    break;
                }
            }
        }
    }
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(numerator) + ":" + std::to_string(denominator) + " Ip A0:0 C420jpeg\n";
}

bool IsY4mPath(const std::string& path) {
    if (path == "-") return true;
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".y4m";
}

}  // namespace tessaro
