// Public interface of the H.263+ decoder library.
//
// The decoder state lives in an explicit context (`Decoder`); tests and fuzzers create their own.
// The functions without a context argument at the bottom are a thin facade over one process-wide
// instance. The whole stream is held in memory by the caller:
//   DecoderOpen() -> DecodePicture()... while position < size -> DecoderFlush() -> DecoderClose().
// I- and P-pictures come back one call late, B-pictures at once, so pictures leave in display
// order.
// Include guard rather than #pragma once: the build copies this header to the public include
// folder, and both copies may be reached in one translation unit.
#ifndef TESSARO_R263IRI_H
#define TESSARO_R263IRI_H

#include <cstddef>
#include <cstdint>

namespace r263iri {

// What the last DecodePicture call did with the picture it met.
enum class DecodeStatus : int32_t {
    kDecoded = 0,      // a picture was decoded (it may be damaged and resynchronised)
    kNoPicture,        // no picture start code before the end of the stream
    kUnsupportedMode,  // the picture uses a mode this decoder does not implement; skipped
    kFormatChanged,    // format or custom size differ from the first picture; skipped
    kBadPictureSize,   // size 0 or above 2048x1152; skipped
    kOutOfMemory,      // the stores could not be allocated; pictureBytes holds -1
    kPictureTooShort,  // less data before the next picture than its macroblocks need; skipped
};

// Facts about the stream and the last call, for logging.
struct DecoderInfo {
    int32_t displayWidth = 0, displayHeight = 0;  // size of the returned pictures
    int32_t codedWidth = 0, codedHeight = 0;      // multiples of 16
    int32_t sourceFormat = 0;                     // 1..6 of the first picture
    uint32_t picturesHandled = 0;                 // DecodePicture calls that met a picture
    DecodeStatus lastStatus = DecodeStatus::kNoPicture;
    const char* lastMessage = "";  // human-readable reason for the last status
};

// ---- Macroblock analysis (off unless DecoderSetAnalysis switches it on) ---------------------

// How a macroblock was coded. I- and P-pictures use kNotCoded..kIntra, B-pictures kNotCoded,
// kIntra and kDirect..kBidirectional. kNotDecoded marks a macroblock the decoder passed over
// (damaged data up to the next GOB or slice header).
enum class MacroblockKind : uint8_t {
    kNotDecoded = 0,  // passed over (damaged data)
    kNotCoded,        // COD = 1: the prediction with the zero vector (forward in B-pictures)
    kInter,           // one vector
    kInter4V,         // four vectors, one per luma block
    kIntra,           // no prediction from another picture
    kDirect,          // B: vectors scaled from the next anchor's co-located macroblock
    kForward,         // B: from the previous anchor
    kBackward,        // B: from the next anchor
    kBidirectional,   // B: the average of a forward and a backward prediction
};

// Four block vectors (luma blocks Y0..Y3) in half-pel units, horizontal in x, vertical in y.
// A one-vector macroblock repeats its vector in all four.
struct BlockVectors {
    int16_t x[4] = {0, 0, 0, 0};
    int16_t y[4] = {0, 0, 0, 0};
};

// One macroblock as the stream coded it.
struct MacroblockAnalysis {
    MacroblockKind kind = MacroblockKind::kNotDecoded;
    uint8_t quant = 0;        // QUANT in force for the macroblock, 1..31
    uint8_t cbp = 0;          // coded blocks: Y0 in bit 5 down to Cr in bit 0
    uint8_t fourVectors = 0;  // 1 when the four block vectors may differ (kInter4V, or kDirect
                              // from a four-vector macroblock)
    BlockVectors forward;     // P: the macroblock's vectors; B: the forward vectors
    BlockVectors backward;    // B only: the backward vectors
};

// One decoded picture: its header facts and its macroblocks in raster order.
struct PictureAnalysis {
    int32_t pictureType = 0;         // 0 I, 1 P, 3 B (the MPPTYPE codes)
    uint32_t temporalReference = 0;  // TR (with ETR under a custom clock)
    uint32_t bytes = 0;              // stream bytes from its picture start code to the next one
    int32_t mbColumns = 0, mbRows = 0;
    const MacroblockAnalysis* macroblocks = nullptr;  // mbColumns x mbRows records
};

class Decoder;  // opaque decoder context

Decoder* DecoderCreate();
void DecoderDestroy(Decoder* decoder);

// Clears the state. Returns 0.
int32_t DecoderOpen(Decoder& decoder);

// Decodes the next picture of `stream` (size bytes). `position` receives the reader's byte index
// plus 1; the caller loops while it is below `size`. `pictureBytes` is written by the call that
// sets up the stream (the size of every returned picture, or 0xFFFFFFFF on allocation failure).
// `first` non-zero restarts at byte 0. Returns a picture (display size, planar Y, U, V) valid until
// the next call, or nullptr. Never reads outside stream[0, size).
const uint8_t* DecodePicture(Decoder& decoder, const uint8_t* stream, size_t size, uint32_t* position,
                             uint32_t* pictureBytes, int32_t first);

// The picture held back by the output delay, or nullptr.
const uint8_t* DecoderFlush(Decoder& decoder);

void DecoderClose(Decoder& decoder);

const DecoderInfo& DecoderGetInfo(const Decoder& decoder);

// Switches the macroblock analysis on or off. DecoderOpen keeps the switch. Off (the default),
// decoding does no analysis work beyond one test per macroblock.
void DecoderSetAnalysis(Decoder& decoder, bool on);

// The analysis of the picture that the last DecodePicture or DecoderFlush call returned (so in
// display order, like the pictures), valid until the next call; nullptr when that call returned
// no picture or the analysis is off.
const PictureAnalysis* DecoderPictureAnalysis(const Decoder& decoder);

// Width and height of the standard source formats 1..5 (sub-QCIF to 16CIF), from the table both
// codec libraries use; false, outputs untouched, for any other value.
bool StandardPictureSize(int32_t format, int32_t* width, int32_t* height);

// ---- Process-wide facade -------------------------------------------------------------------

int32_t DecoderOpen();
const uint8_t* DecodePicture(const uint8_t* stream, size_t size, uint32_t* position, uint32_t* pictureBytes,
                             int32_t first);
const uint8_t* DecoderFlush();
void DecoderClose();
const DecoderInfo& DecoderGetInfo();

}  // namespace r263iri

#endif  // TESSARO_R263IRI_H
