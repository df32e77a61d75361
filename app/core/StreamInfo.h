// What an H.263 bitstream needs of a receiver, read from its picture headers alone: picture
// format and size, the optional modes (annexes) in use, the pictures by type, the size and
// bitrate, and the lowest profile and level of H.263 Annex X whose tools and limits the stream
// stays within.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace tessaro {

struct StreamInfo {
    int format = 0;  // source format code 1..6 of the first picture
    int width = 0, height = 0;
    int maxWidth = 0, maxHeight = 0;    // the largest picture of the stream
    int pictures = 0;                   // picture headers read
    int frames = 0;                     // frames they carry (a PB picture carries two)
    int badHeaders = 0;                 // start codes followed by no valid picture header
    std::map<std::string, int> byType;  // "I", "P", "PB", "Improved PB", "B", "EI", "EP"
    std::string annexes;                // the letters of the annexes in use, in alphabetical order ("IJKT")
    uint64_t bytes = 0;
};

// Reads every picture header of `stream`. False when no picture header is found at all.
bool AnalyseStream(const uint8_t* stream, size_t size, StreamInfo* info);

// "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "custom" for source format 1..6; "unknown" else.
const char* PictureFormatName(int format);

// "I 1, P 9" in the order I, P, PB, Improved PB, B, EI, EP.
std::string PictureCountText(const StreamInfo& info);
// "I, J, K, T", or "none" for a baseline stream.
std::string AnnexListText(const StreamInfo& info);

// Average bitrate in kbit/s (1000 bits) when the frames are shown at `frameRate` per second.
double StreamBitrateKbps(const StreamInfo& info, double frameRate);

// The lowest profile 0..8 whose tools cover the annexes in use; -1 when none does.
int StreamProfile(const StreamInfo& info);
// The name of a profile ("Baseline" for 0), "" for others.
const char* ProfileName(int profile);
// The lowest level (10, 45, 20, 30, 40, 50, 60, 70 in order of capability) whose largest picture,
// picture rate and bitrate the stream stays within at `frameRate`; -1 when none.
int StreamLevel(const StreamInfo& info, double frameRate);

}  // namespace tessaro
