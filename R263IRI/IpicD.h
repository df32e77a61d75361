// Intra picture decoding, and the macroblock and block pieces that P and B pictures share with it.
#pragma once

#include "DecoderState.h"
#include "Parser.h"

namespace r263iri {

// Decodes an I picture into the current anchor store.
void DecodeIPicture(Decoder& d);

// Sets the macroblock number, column, row and pixel position.
void SetMacroblock(Decoder& d, int m);

// Reads the TCOEF events of one block from scan position `start` and stores the dequantised
// coefficients of block `block` (0..5) of the coefficient buffer, with quantiser q. False when the
// events run past the block's 64 coefficients or meet a pattern that is no code (the block ends
// there).
bool DecodeTcoefBlock(Decoder& d, int block, int start, int q);

// Annex S: reads an INTER block coded with the intra table of Annex I (zigzag scan, from position
// 0) and dequantises it as an inter block with quantiser q.
void DecodeAlternativeInterBlock(Decoder& d, int block, int q);

// Reads the TCOEF events of an Annex I intra block (Table I.2, scan of the current INTRA_MODE,
// from position 0) and stores REC = 2 x q x LEVEL into block `block` of the coefficient buffer.
void DecodeAicBlock(Decoder& d, int block, int q);

// Quantiser of block b (0..5): the chroma quantiser for b >= 4 under modified quantisation.
int BlockQuant(const Decoder& d, int block);

// The blocks of an intra macroblock (CBP and INTRA_MODE from the decoder state): INTRADC and TCOEF,
// or with advanced intra coding the Annex I blocks and their prediction. Returns the blocks that
// need the inverse transform (bit 5 - b for block b).
int DecodeIntraBlocks(Decoder& d);

// Inverse-transforms the blocks flagged in `transform` and writes the six blocks, clipped, into
// the picture store at the current macroblock.
void WriteIntraMacroblock(Decoder& d, uint8_t* store, int transform);

// After a macroblock of an I or P picture: records whether it is coded (COD = 0 or INTRA) and its
// QUANT, and runs the deblocking filter when the picture has it on.
void FinishAnchorMacroblock(Decoder& d, bool coded);

// The pieces of the picture loop shared by every picture type.
//
// Returns the macroblock to decode next when a GOB or slice header stands in front of it, m
// itself when none does, or -1 when the picture ends there.
int CheckSegmentHeader(Decoder& d, int m, bool* headerRead);

// The macroblock loop of every picture type: sets the picture's QUANT, reads the first slice
// header (or resets the prediction state), then decodes the macroblocks in order with
// `DecodeMacroblock` (a direct call, so that it can be inlined into the loop), reading the GOB and
// slice headers in front of them. When a macroblock meets a pattern that is no code
// (`DecodeMacroblock` returns false), decoding continues at the next GOB or slice header of the
// picture. Keeps d.left at the record of the macroblock to the left, or at the zero spare at a row
// start and after a header.
template <bool (*DecodeMacroblock)(Decoder& d)>
void DecodeMacroblocks(Decoder& d) {
    d.quant = d.hdr.pquant < 1 ? 1 : static_cast<int>(d.hdr.pquant);
    int m = 0;
    bool headerRead = false;
    if (d.hdr.ss) {
        m = ReadFirstSliceHeader(d);
        headerRead = true;
    } else {
        ResetPrediction(d);
    }
    MvRecord* const leftSpare = &d.mvTable[d.mbPerRow + 1];
    while (m >= 0 && m < d.mbCount) {
        m = CheckSegmentHeader(d, m, &headerRead);
        if (m < 0) break;
        SetMacroblock(d, m);
        d.headerRead = headerRead;
        headerRead = false;
        if (d.mbColumn == 0 || d.headerRead) d.left = leftSpare;
        if (!DecodeMacroblock(d)) {
            // A pattern that is no code: continue at the next GOB or slice of this picture.
            m = ReadSegmentHeader(d);
            headerRead = m >= 0;
            continue;
        }
        d.left = &d.mvTable[d.mbColumn];
        m = d.mbNumber + 1;
    }
}

}  // namespace r263iri
