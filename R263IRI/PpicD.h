// P-picture decoding: macroblock header, motion vectors and motion-compensated prediction.
#pragma once

#include <cstdint>

#include "BlockPrediction.h"
#include "DecoderState.h"

namespace r263iri {

// Decodes a P picture into the current anchor store, predicting from the previous one.
void DecodePPicture(Decoder& d);

// Predicts a size x size block from a reference plane of width x height samples (stride width);
// (x, y) is the integer position of the block's top-left prediction sample and (hx, hy) the
// half-sample flags. Positions outside the plane are clamped into it, which repeats the edge
// samples without limit (the prediction outside the picture that unrestricted vectors reach).
// `interpolate` is the decoder's selected kernel (the plain one by default).
void PredictBlock(const uint8_t* plane, int width, int height, int x, int y, int hx, int hy, int size,
                  int rounding, uint8_t* dst, int dstStride,
                  r263com::InterpolateBlockFunction interpolate = r263com::InterpolateBlockC);

// Forms the prediction of the current macroblock from a reference picture store with the block
// vectors of `v` (one vector, block Y0's, unless `four`) at `pred`: a buffer, or the macroblock's
// place in the picture store it is reconstructed in (StorePlaces).
void PredictMacroblock(const Decoder& d, const uint8_t* reference, const MvRecord& v, bool four,
                       const MacroblockPlaces& pred);

// The current macroblock's place in a picture store.
MacroblockPlaces StorePlaces(const Decoder& d, uint8_t* store);

// Copies the current macroblock's samples from one picture store to another.
void CopyMacroblock(const Decoder& d, const uint8_t* from, uint8_t* to);

// Writes prediction plus residual (blocks of the CBP, inverse-transformed here) or the prediction
// alone (other blocks) to `to`, the current macroblock's place in a picture store (StorePlaces); a
// prediction formed there already (pred is `to`) is completed in place.
void ReconstructInter(Decoder& d, const MacroblockPlaces& to, const MacroblockPlaces& pred);

// Chroma vector component in chroma half-pel units for one luma vector component (half-pel).
inline int ChromaFromOneVector(int v) {
    return (v >> 2) * 2 + ((v & 3) != 0 ? 1 : 0);
}

// Chroma vector component in chroma half-pel units for the sum of four luma block components.
int ChromaFromFourVectors(int sum);

// Median vector predictor of one component: the left candidate when the above one is unavailable.
inline int PredictComponent(int a, int b, int c, bool aboveAvailable) {
    if (!aboveAvailable) return a;
    const int mx = a > b ? (a > c ? a : c) : (b > c ? b : c);
    const int mn = a < b ? (a < c ? a : c) : (b < c ? b : c);
    return a + b + c - mx - mn;
}

// Reads the TCOEF events of the INTER block `block` (0..5) from scan position 0 with quantiser q:
// with the standard's inter table, or under Annex S with the Annex I intra table when the inter
// table runs past the block's 64 coefficients.
void DecodeInterBlock(Decoder& d, int block, int q);

// Reads the MVD pair of one vector (horizontal, then vertical) as the picture codes it: Table 14
// of the standard, or the reversible codes of Annex D when unrestricted vectors are on under
// PLUSPTYPE (where a pair of two +0.5 differences is followed by one stuffing bit "1").
void ReadMvdPair(Decoder& d, int* dx, int* dy);

// The vector component for a predictor and a decoded difference in the picture's vector mode:
// the default range -16..15.5 pixels (WrapVector); with unrestricted vectors under the plain
// PTYPE the range -31.5..31.5, the difference taking whichever of its two values lands inside;
// with unrestricted vectors under PLUSPTYPE the plain sum.
int ApplyMvd(const PictureHeader& h, int predictor, int mvd);

// Adds a decoded difference to a predictor and brings the result into -32..31 half-pels.
inline int WrapVector(int predictor, int mvd) {
    int v = predictor + mvd;
    if (v >= 32) v -= 64;
    if (v < -32) v += 64;
    return v;
}

}  // namespace r263iri
