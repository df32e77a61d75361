// Intra picture decoding, and the macroblock and block pieces that P and B pictures share with it.
#pragma once

#include "DecoderState.h"

namespace r263iri {

// Decodes an I picture into the current anchor store.
void DecodeIPicture(Decoder& d);

// Sets the macroblock number, column, row and pixel position.
void SetMacroblock(Decoder& d, int m);

// Reads the TCOEF events of one block from scan position `start` and stores the dequantised
// coefficients of block `block` (0..5) of the coefficient buffer, with quantiser q.
void DecodeTcoefBlock(Decoder& d, int block, int start, int q);

// Quantiser of block b (0..5): the chroma quantiser for b >= 4 under modified quantisation.
int BlockQuant(const Decoder& d, int block);

// INTRADC and TCOEF of the six blocks of an intra macroblock (CBP from the decoder state). Returns
// the blocks that need the inverse transform (bit 5 - b for block b).
int DecodeIntraBlocks(Decoder& d);

// Inverse-transforms the blocks flagged in `transform` and writes the six blocks, clipped, into
// the picture store at the current macroblock.
void WriteIntraMacroblock(Decoder& d, uint8_t* store, int transform);

// The pieces of the picture loop shared by every picture type.
//
// Returns the macroblock to decode next when a GOB or slice header stands in front of it, m
// itself when none does, or -1 when the picture ends there.
int CheckSegmentHeader(Decoder& d, int m, bool* headerRead);

}  // namespace r263iri
