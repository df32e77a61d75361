// What a decoded stream holds beyond its pictures, for the decoded window: the macroblock
// analysis of every output picture (display order, as the decoder returned them) and the stream
// information of its headers, with the texts that describe them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "R263IRI.h"
#include "StreamInfo.h"

namespace tessaro {

// One output picture: its type, TR, size in the stream and its macroblocks (raster order).
struct AnalysedPicture {
    char type = 'I';  // 'I', 'P' or 'B'
    uint32_t temporalReference = 0;
    uint32_t bytes = 0;
    int mbColumns = 0, mbRows = 0;
    std::vector<r263iri::MacroblockAnalysis> macroblocks;

    // The macroblock at column c, row r, or null outside the picture.
    const r263iri::MacroblockAnalysis* At(int c, int r) const;
};

struct StreamAnalysis {
    // pictures[k] belongs to output frame k. Shorter than the output when the collection stopped
    // at its memory limit (`complete` false then) or the decoder gave a picture no analysis.
    std::vector<AnalysedPicture> pictures;
    bool complete = true;
    size_t records = 0;     // macroblock records held by `pictures`
    std::string source;     // the bitstream's path
    bool haveInfo = false;  // `info` holds the stream's header facts
    StreamInfo info;

    // The analysis of output frame k, or null.
    const AnalysedPicture* Picture(int k) const;
};

// Memory the analysis of one stream may take; pictures beyond it are not collected. At 36 bytes
// a macroblock this holds over 9000 CIF pictures.
constexpr size_t kMaxAnalysisBytes = size_t{128} << 20;

// Appends the decoder's analysis of the picture it has just returned; false (nothing appended,
// `complete` cleared) when there is none or the memory limit is reached.
bool AppendPictureAnalysis(const r263iri::PictureAnalysis* picture, StreamAnalysis* analysis);

// "not coded", "inter", "inter 4V", "intra", "direct", "forward", "backward", "bidirectional",
// "not decoded".
const char* MacroblockKindName(r263iri::MacroblockKind kind);

// A vector in pixels, as shown to the user: "(+1.5, -2)".
std::string VectorText(int halfPelX, int halfPelY);

// The tooltip of a macroblock: position, type, QUANT, vectors and CBP, one fact a line.
std::string DescribeMacroblock(const AnalysedPicture& picture, int column, int row);

// "P-picture, 1234 bytes".
std::string PictureSummary(const AnalysedPicture& picture);

// The properties of a decoded stream as (name, value) rows: format and size, annexes, pictures by
// type, bitrate at `frameRate`, profile and level.
std::vector<std::pair<std::string, std::string>> StreamPropertyRows(const StreamInfo& info, double frameRate);

}  // namespace tessaro
