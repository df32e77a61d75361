// Public interface of the H.263+ encoder library.
//
// The encoder state lives in an explicit context (`Encoder`); tests and batch tools create their
// own. The functions without a context argument at the bottom are a thin facade over one
// process-wide instance, for callers that follow the classic calling order:
//   fill GlobalEncoderParams() -> EncoderOpen() -> EncodeFrame()... -> EncoderFlushFrame()... ->
//   EncoderClose().
// Include guard rather than #pragma once: the build copies this header to the public include
// folder, and both copies may be reached in one translation unit.
#ifndef TESSARO_R263AVO_H
#define TESSARO_R263AVO_H

#include <cstddef>
#include <cstdint>

namespace r263avo {

// What the caller hands to the encoder. Read only by EncoderOpen, except ComputeSnr, which every
// EncodeFrame call reads.
struct EncoderParams {
    int32_t StartFrame = 0;    // first input frame of the range
    int32_t EndFrame = 0;      // last input frame of the range (rate control)
    int32_t FrameCount = 0;    // frames in the source; not read by the encoder
    int32_t SourceFormat = 2;  // 1 sub-QCIF, 2 QCIF, 3 CIF, 4 4CIF, 5 16CIF, 6 custom
    int32_t Width = 176;       // input picture size in pixels
    int32_t Height = 144;
    int32_t SearchWindow = 15;    // motion search range in whole pixels
    int32_t PQuantizer = 8;       // clamped to 5..31
    int32_t IQuantizer = 8;       // clamped to 5..31
    int32_t RateControl = 0;      // 1 = picture-level rate control, otherwise constant quantiser
    int32_t Bitrate = 64000;      // bits per second
    int32_t FrameRateActual = 1;  // frame step: every N-th input frame is coded
    int32_t FrameRateInput = 1;   // input frame period in ticks of FrameRateTarget
    int32_t SyncInsertPeriod = 0;
    int32_t IFramePeriod = 0;
    int32_t IntraMBRefreshPeriod = 0;
    int32_t GOBMode = 0;  // nonzero: GOB headers
    int32_t Speed = 1;    // 1..5, row of the speed preset table
    float FrameRateTarget = 30.0f;
    int32_t PtypeSacFlag = 0;
    int32_t PtypeApFlag = 0;
    int32_t UseAdvIntraCoding = 0;  // Annex I
    int32_t UseDeblockFilter = 0;   // Annex J
    int32_t UseSliceMode = 0;       // Annex K
    int32_t MBlocksPerSlice = 0;
    int32_t UseTrueBPictures = 0;  // Annex O
    int32_t BPictures = 0;
    int32_t BQuantizer = 0;
    int32_t EnhLayerQuantizer = 0;
    int32_t UseModifiedQuant = 0;  // Annex T
    int32_t ComputeSnr = 0;
    // Nonzero: B-pictures are also reconstructed (into a store of their own that nothing predicts
    // from), so that EncoderLastReconstruction and the SNR figures cover them. Off by default:
    // a B-picture's reconstruction is not needed for coding.
    int32_t ReconstructBPictures = 0;
    // Threads that code a picture's macroblock rows: 0 = one per processor core, 1 = the calling
    // thread only. Every count gives the same bytes.
    int32_t Threads = 1;
    // Nonzero: the encoder keeps, for the picture of the last call, what it chose for each
    // macroblock (EncoderLastDecisions). Off by default: no work is done for it then.
    int32_t RecordDecisions = 0;
};

// What the caller reads after each EncodeFrame / EncoderFlushFrame call.
struct EncoderStats {
    const uint8_t* OutputBuffer = nullptr;  // bytes of the last call
    uint32_t ByteCount = 0;                 // bytes produced by the last call
    double SnrY = 0.0, SnrU = 0.0, SnrV = 0.0;
    double SnrSumY = 0.0, SnrSumU = 0.0, SnrSumV = 0.0;  // the caller adds to these
};

// Picture type codes as reported for a coded picture.
enum PictureType : int32_t { kPictureI = 0, kPictureP = 1, kPictureB = 3 };

// A reconstructed picture held by the encoder: planar Y, U, V at the coded size (multiples of 16),
// each plane contiguous with its width as stride.
struct ReconstructedPicture {
    const uint8_t* data = nullptr;
    int32_t codedWidth = 0;
    int32_t codedHeight = 0;
    int32_t frame = -1;  // input frame number of the picture
    int32_t type = -1;   // PictureType
};

// What the encoder chose for one macroblock, numbered as the decoder's MacroblockKind
// (R263IRI.h) so that the two can be compared: 1 not coded, 2 inter (one vector), 4 intra,
// 6 forward (B-pictures). The encoder uses no other kinds.
struct MacroblockDecision {
    uint8_t kind = 0;
    uint8_t quant = 0;     // QUANT, 1..31
    uint8_t cbp = 0;       // coded blocks: Y0 in bit 5 down to Cr in bit 0
    int16_t x = 0, y = 0;  // the vector in half-pel units (zero for intra and not coded)
};
enum DecisionKind : uint8_t {
    kDecisionNotCoded = 1,
    kDecisionInter = 2,
    kDecisionIntra = 4,
    kDecisionForward = 6
};

class Encoder;  // opaque encoder context

Encoder* EncoderCreate();
void EncoderDestroy(Encoder* encoder);

// Returns 0, or -1 when the parameters cannot be coded (SourceFormat outside 1..6, Speed outside
// 1..5, FrameRateActual below 1, or above 1 with B-pictures, whose schedule assumes that every
// frame is coded, MBlocksPerSlice below 1 with slices on, bad custom size) or memory is short; after -1
// nothing is allocated and EncoderClose is harmless.
int32_t EncoderOpen(Encoder& encoder, const EncoderParams& params);

// Why the last EncoderOpen returned -1, naming the setting at fault (for example "Speed must be
// 1 to 5"); "" after an EncoderOpen that succeeded or before the first one. The text stays valid
// for the life of the process.
const char* EncoderLastError(const Encoder& encoder);

// Codes zero or one picture for input frame `frame` (planar Width x Height 4:2:0). Returns the
// number of the last input frame this call accounts for (the caller continues at result + 1),
// or -1 when the encoder is not open or the call cannot be placed in the schedule.
//
// Pictures leave the encoder in coding order. With B-pictures (UseTrueBPictures) a call may code
// a picture other than its own input: the first I-picture and every B-picture are held back and
// coded after the anchor that follows them in display order, so the stream reads I0 P3 B1 B2 P6
// B4 B5 ... for two B-pictures. A caller that wants display order (a reconstruction file, a
// viewer) reorders by the frame number that EncoderLastReconstruction reports. With ComputeSnr
// the SNR values describe the picture coded by the call, measured against that picture's own
// input; they are left as they were after a call that produced no reconstruction.
int32_t EncodeFrame(Encoder& encoder, int32_t frame, int32_t intraRequest, uint32_t* iPicture,
                    const uint8_t* picture, uint32_t* byteCount);

// Codes one picture still held for B-picture reordering; call it BPictures times (after the clamp
// to 5) after the last EncodeFrame. Held frames are coded in frame order: those before the last
// anchor as B-pictures, later ones as P-pictures (I when an intra request is waiting); a call with
// nothing left to code reports 0 bytes. Returns 0, or -1 when not open.
int32_t EncoderFlushFrame(Encoder& encoder, uint32_t* byteCount);

void EncoderClose(Encoder& encoder);

EncoderStats& EncoderGetStats(Encoder& encoder);

// ComputeSnr is read on every call; this changes it on an open encoder.
void EncoderSetComputeSnr(Encoder& encoder, int32_t computeSnr);

// Work for the coding threads' idle moments: with several threads, a thread that would wait for
// another (a macroblock above not finished yet) first calls step(context), which does one short
// piece of the work and returns false once none is left; the threads without a row left at the
// end of a picture call it until it returns false. Steps run only within EncodeFrame /
// EncoderFlushFrame calls, on any of the coding threads and on several at once, so the work should
// be one the caller would otherwise do between the calls. Null step: none (the default). Kept by
// EncoderOpen.
void EncoderSetIdleWork(Encoder& encoder, bool (*step)(void*), void* context);

// The frame the caller will pass to the next EncodeFrame call, when it has it already: with two
// coding threads the encoder may code that picture's top rows during the next call, beside the
// rows of the picture of that call. `picture` must stay unchanged until it is passed to
// EncodeFrame. Applies to the next EncodeFrame call only. A hint that turns out wrong (another
// frame, another buffer, an intra request) costs the work done ahead, never the bitstream: the
// bytes are those of a run without hints.
void EncoderSetNextFrame(Encoder& encoder, int32_t frame, const uint8_t* picture);
// Whether the open encoder uses EncoderSetNextFrame's hints (two coding threads, no B-pictures,
// a constant quantiser, no decision records, pictures at the coded size).
bool EncoderCodesAhead(const Encoder& encoder);

// The reconstruction of the picture coded by the last EncodeFrame / EncoderFlushFrame call, with
// that picture's input frame number (coding order; see EncodeFrame). Returns false when that call
// coded no picture or the picture was not reconstructed (a B-picture without
// ReconstructBPictures).
bool EncoderLastReconstruction(const Encoder& encoder, ReconstructedPicture* out);

// With RecordDecisions: the decisions for every macroblock (raster order, *count of them) of the
// picture coded by the last EncodeFrame / EncoderFlushFrame call. False when that call coded no
// picture or RecordDecisions is off.
bool EncoderLastDecisions(const Encoder& encoder, const MacroblockDecision** decisions, int32_t* count);

// ---- Process-wide facade -------------------------------------------------------------------

EncoderParams& GlobalEncoderParams();
EncoderStats& GlobalEncoderStats();
int32_t EncoderOpen();
const char* EncoderLastError();
int32_t EncodeFrame(int32_t frame, int32_t intraRequest, uint32_t* iPicture, const uint8_t* picture,
                    uint32_t* byteCount);
int32_t EncoderFlushFrame(uint32_t* byteCount);
void EncoderClose();
bool EncoderLastReconstruction(ReconstructedPicture* out);

}  // namespace r263avo

#endif  // TESSARO_R263AVO_H
