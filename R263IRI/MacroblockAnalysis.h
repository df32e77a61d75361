// The per-picture macroblock analysis that the decoder keeps when asked (DecoderSetAnalysis):
// each macroblock's type, QUANT, CBP and vectors, and the picture's type, TR and size in bytes.
//
// One record table per picture store (the two anchors and the B store), so that the analysis
// leaves the decoder with its picture, in display order. While the analysis is off nothing here is
// allocated and `current` stays null: the macroblock decoders test that pointer and do nothing
// else.
#pragma once

#include <cstdint>
#include <vector>

#include "R263IRI.h"

namespace r263iri {

class Decoder;
struct MvRecord;

// Store indices of the analysis tables: the anchor stores keep their own index (0, 1).
constexpr int kAnalysisBStore = 2;

struct AnalysisState {
    bool on = false;
    std::vector<MacroblockAnalysis> records[3];
    PictureAnalysis pictures[3];
    MacroblockAnalysis* current = nullptr;  // the table of the picture being decoded, or null
    int currentStore = -1;
    int returned = -1;          // store of the picture the last call returned, or -1
    uint32_t pictureStart = 0;  // byte of the picture start code being decoded
};

// Called before the picture header is parsed: remembers where the search for it starts.
void NoteAnalysisSearchStart(Decoder& d, uint32_t byteIndex);

// Starts the analysis of a picture to be decoded into `store` (0, 1 or kAnalysisBStore): every
// macroblock is kNotDecoded until its decoder records it. No-op while the analysis is off, and
// when its table cannot be allocated (the picture then has no analysis).
void BeginPictureAnalysis(Decoder& d, int store);

// Ends the analysis of the picture just decoded: its size in bytes, up to the next picture
// start code.
void EndPictureAnalysis(Decoder& d);

// Names the store whose picture the call returns (-1: none).
void SetReturnedAnalysis(Decoder& d, int store);

// Records the current macroblock (d.mbNumber) with the QUANT and CBP in force. `forward` and
// `backward` may be null (zero vectors).
void RecordMacroblock(Decoder& d, MacroblockKind kind, const MvRecord* forward, const MvRecord* backward,
                      bool fourVectors);

// The first byte-aligned picture start code at or after byte `from` of stream[0, size), or size.
uint32_t NextPictureStart(const uint8_t* stream, uint32_t size, uint32_t from);

}  // namespace r263iri
