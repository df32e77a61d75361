// B-picture coder (Annex O, temporal scalability): forward prediction from the older of the two
// latest anchors, or intra. Nothing predicts from a B-picture, so its reconstruction is optional
// and it is never deblocked.
#pragma once

#include "Buffer.h"
#include "PictureCoding.h"

namespace r263avo {

// MBTYPE codes of the B-picture macroblock types this coder uses (H.263 Table O.4).
enum BMbTypeCode : int {
    kBForwardNoCoefficients,  // 100
    kBForward,                // 101
    kBIntra,                  // 0000 01
};
void WriteBMbType(BitWriter& bw, BMbTypeCode type);

// CBPC of B-pictures (Annex O): chroma bits (Cb, Cr) 00 -> 0, 01 -> 10, 10 -> 111, 11 -> 110.
void WriteBCbpc(BitWriter& bw, int cbpc);

// Codes pc.input as a B-picture (pc.pictureType 3) predicted forward from pc.reference.
// Every macroblock is coded (COD 0): INTER without coefficients and with a
// zero vector as MBTYPE 100, other INTER ones as 101, INTRA as 000001 (with Annex I when on).
// Reconstructs into pc.recon only when pc.reconstruct; never filters.
void CodeBPicture(const PictureCoding& pc);

}  // namespace r263avo
