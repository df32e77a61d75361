#include "StreamInfo.h"

#include <algorithm>

namespace tessaro {
namespace {

const int kWidths[6] = {0, 128, 176, 352, 704, 1408};
const int kHeights[6] = {0, 96, 144, 288, 576, 1152};

// Bits of a picture header, most significant first; reads past the end give zeros and set `over`.
class HeaderBits {
  public:
    HeaderBits(const uint8_t* data, size_t size, size_t start) : data_(data), size_(size), bit_(start * 8) {}
    uint32_t Get(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++bit_) {
            const size_t byte = bit_ >> 3;
            if (byte >= size_) {
                over = true;
                v <<= 1;
                continue;
            }
            v = (v << 1) | ((data_[byte] >> (7 - (bit_ & 7))) & 1u);
        }
        return v;
    }
    bool over = false;

  private:
    const uint8_t* data_;
    size_t size_;
    size_t bit_;
};

// The optional modes of the last header that carried them (PLUSPTYPE with UFEP 001).
struct Modes {
    bool known = false;
    int format = 0;
    int width = 0, height = 0;
    bool clock = false;
    std::string annexes;
};

void AddAnnex(std::string* annexes, char letter) {
    if (annexes->find(letter) == std::string::npos) annexes->push_back(letter);
}

// Reads the header of the picture whose start code begins at `at`; false when it is none.
bool ReadHeader(const uint8_t* s, size_t size, size_t at, Modes* modes, StreamInfo* info) {
    HeaderBits bits(s, size, at);
    bits.Get(22);  // PSC
    bits.Get(8);   // TR
    if (bits.Get(1) != 1 || bits.Get(1) != 0) return false;
    bits.Get(3);  // split screen, document camera, freeze picture release
    const int format = static_cast<int>(bits.Get(3));
    std::string used;
    std::string type;
    int width = 0, height = 0, frames = 1;
    if (format >= 1 && format <= 5) {
        const bool inter = bits.Get(1) == 1;
        const bool umv = bits.Get(1), sac = bits.Get(1), ap = bits.Get(1), pb = bits.Get(1);
        if (umv) used += 'D';
        if (sac) used += 'E';
        if (ap) used += 'F';
        type = !inter ? "I" : pb ? "PB" : "P";
        if (pb && inter) {
            used += 'G';
            frames = 2;
        }
        width = kWidths[format];
        height = kHeights[format];
        *modes = Modes{};
    } else if (format == 7) {
        const uint32_t ufep = bits.Get(3);
        if (ufep == 1) {
            Modes m;
            m.known = true;
            m.format = static_cast<int>(bits.Get(3));
            m.clock = bits.Get(1) == 1;
            const char letters[] = {'D', 'E', 'F', 'I', 'J', 'K', 'N', 'R', 'S', 'T'};
            for (char letter : letters) {
                if (bits.Get(1)) m.annexes += letter;
            }
            if (bits.Get(4) != 0x8) return false;
            if (m.format < 1 || m.format > 6) return false;
            *modes = m;
        } else if (ufep != 0 || !modes->known) {
            return false;
        }
        const uint32_t pictureType = bits.Get(3);
        const bool rpr = bits.Get(1), rru = bits.Get(1);
        bits.Get(1);  // rounding type
        if (bits.Get(3) != 1) return false;
        static const char* const kTypes[] = {"I", "P", "Improved PB", "B", "EI", "EP"};
        if (pictureType > 5) return false;
        type = kTypes[pictureType];
        if (pictureType == 2) {
            used += 'M';
            frames = 2;
        }
        if (pictureType >= 3) used += 'O';
        if (rpr) used += 'P';
        if (rru) used += 'Q';
        used += modes->annexes;
        if (bits.Get(1)) {  // CPM: continuous presence multipoint, with its PSBI
            used += 'C';
            bits.Get(2);
        }
        if (modes->format == 6) {
            if (ufep == 1) {
                bits.Get(4);  // PAR
                modes->width = (static_cast<int>(bits.Get(9)) + 1) * 4;
                if (bits.Get(1) != 1) return false;
                modes->height = static_cast<int>(bits.Get(9)) * 4;
            }
            width = modes->width;
            height = modes->height;
            if (width <= 0 || height <= 0) return false;
        } else {
            width = kWidths[modes->format];
            height = kHeights[modes->format];
        }
    } else {
        return false;
    }
    if (bits.over) return false;
    if (info->pictures == 0) {
        info->format = format == 7 ? modes->format : format;
        info->width = width;
        info->height = height;
    }
    info->maxWidth = std::max(info->maxWidth, width);
    info->maxHeight = std::max(info->maxHeight, height);
    ++info->pictures;
    info->frames += frames;
    ++info->byType[type];
    for (char letter : used) AddAnnex(&info->annexes, letter);
    return true;
}

// The annexes each profile allows (those that picture headers show).
struct Profile {
    int number;
    const char* name;
    const char* annexes;
};
const Profile kProfiles[] = {
    {0, "Baseline", ""},
    {1, "H.320 Coding Efficiency Version 2 Backward-Compatibility", "IJT"},
    {2, "Version 1 Backward-Compatibility", "F"},
    {3, "Version 2 Interactive and Streaming Wireless", "IJKT"},
    {4, "Version 3 Interactive and Streaming Wireless", "IJKNT"},
    {5, "Conversational High Compression", "DFIJT"},
    {6, "Conversational Internet", "DFIJKT"},
    {7, "Conversational Interlace", "DFIJT"},
    {8, "High Latency", "DFIJKOPT"},
};

// Limits of a level: the largest picture at the largest picture rate, and the bitrate. A level
// with two entries allows a larger picture at a lower rate or a smaller one at a higher rate.
struct LevelLimit {
    int level;
    int width, height;
    double rate;  // pictures per second (the standard's picture clock 30000/1001 Hz divided down)
    double kbps;
};
const LevelLimit kLevels[] = {
    {10, 176, 144, 30000.0 / 2002, 64},    {45, 176, 144, 30000.0 / 2002, 128},
    {20, 176, 144, 30000.0 / 1001, 128},   {20, 352, 288, 30000.0 / 2002, 128},
    {30, 352, 288, 30000.0 / 1001, 384},   {40, 352, 288, 30000.0 / 1001, 2048},
    {50, 352, 240, 60000.0 / 1001, 4096},  {50, 352, 288, 50.0, 4096},
    {60, 720, 240, 60000.0 / 1001, 8192},  {60, 720, 288, 50.0, 8192},
    {70, 720, 480, 60000.0 / 1001, 16384}, {70, 720, 576, 50.0, 16384},
};

}  // namespace

bool AnalyseStream(const uint8_t* s, size_t size, StreamInfo* info) {
    *info = StreamInfo{};
    info->bytes = size;
    Modes modes;
    // Picture start codes are byte aligned: 0000 0000 0000 0000 1000 00.
    for (size_t i = 0; i + 2 < size; ++i) {
        if (s[i] != 0 || s[i + 1] != 0 || (s[i + 2] & 0xFC) != 0x80) continue;
        if (!ReadHeader(s, size, i, &modes, info)) ++info->badHeaders;
        i += 2;
    }
    std::sort(info->annexes.begin(), info->annexes.end());
    return info->pictures > 0;
}

const char* PictureFormatName(int format) {
    static const char* const names[] = {"", "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "custom"};
    return format >= 1 && format <= 6 ? names[format] : "unknown";
}

std::string PictureCountText(const StreamInfo& info) {
    static const char* const kOrder[] = {"I", "P", "PB", "Improved PB", "B", "EI", "EP"};
    std::string text;
    for (const char* type : kOrder) {
        const auto it = info.byType.find(type);
        if (it == info.byType.end()) continue;
        if (!text.empty()) text += ", ";
        text += std::string(type) + " " + std::to_string(it->second);
    }
    return text;
}

std::string AnnexListText(const StreamInfo& info) {
    if (info.annexes.empty()) return "none";
    std::string text;
    for (char letter : info.annexes) {
        if (!text.empty()) text += ", ";
        text += letter;
    }
    return text;
}

double StreamBitrateKbps(const StreamInfo& info, double frameRate) {
    if (info.frames <= 0 || frameRate <= 0.0) return 0.0;
    const double seconds = info.frames / frameRate;
    return static_cast<double>(info.bytes) * 8.0 / 1000.0 / seconds;
}

int StreamProfile(const StreamInfo& info) {
    for (const Profile& p : kProfiles) {
        const std::string allowed = p.annexes;
        const bool covered = std::all_of(info.annexes.begin(), info.annexes.end(), [&](char letter) {
            return allowed.find(letter) != std::string::npos;
        });
        if (covered) return p.number;
    }
    return -1;
}

const char* ProfileName(int profile) {
    for (const Profile& p : kProfiles) {
        if (p.number == profile) return p.name;
    }
    return "";
}

int StreamLevel(const StreamInfo& info, double frameRate) {
    const double kbps = StreamBitrateKbps(info, frameRate);
    // The nominal rates of the settings (30.0, 15.0) stand for the standard's 29.97 and 14.985.
    const double slack = 1.0011;
    for (const LevelLimit& l : kLevels) {
        if (info.maxWidth <= l.width && info.maxHeight <= l.height && frameRate <= l.rate * slack &&
            kbps <= l.kbps) {
            return l.level;
        }
    }
    return -1;
}

}  // namespace tessaro
