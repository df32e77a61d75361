// B-picture decoding (Annex O, temporal scalability): macroblock header, forward, backward,
// bidirectional and direct prediction from the two most recent anchor pictures.
#pragma once

#include <cstdint>

#include "DecoderState.h"

namespace r263iri {

// Prediction direction of a B macroblock.
enum class BPrediction : uint8_t { kIntra, kForward, kBackward, kBidirectional, kDirect };

// One row of the MBTYPE table of B pictures.
struct BMacroblockType {
    BPrediction prediction;
    bool hasCbp;     // CBPC and CBPY follow
    bool hasDquant;  // DQUANT follows
};

// Reads MBTYPE (H.263 Table O.4). Returns false, consuming nothing, when the next bits are no code;
// `stuffing` is set for the stuffing code (consumed; a new COD follows it).
bool GetBMacroblockType(BitReader& r, BMacroblockType* type, bool* stuffing);

// CBPC of B pictures: 0, 10, 111, 110 for 0..3; kInvalidCode-like -1 for no code.
int GetBCbpc(BitReader& r);

// Direct-mode vector of one component: the co-located vector `mv` of the next anchor scaled by
// the temporal distances trb (previous anchor to this picture) and trd (previous anchor to the
// next anchor), truncating toward zero. Zero vectors when trd is 0.
inline int DirectForward(int mv, int trb, int trd) {
    return trd == 0 ? 0 : trb * mv / trd;
}
inline int DirectBackward(int mv, int trb, int trd) {
    return trd == 0 ? 0 : (trb - trd) * mv / trd;
}

// Temporal distance from TR `from` to TR `to` with TR counted modulo `modulus`.
inline int TemporalDistance(uint32_t from, uint32_t to, uint32_t modulus) {
    return static_cast<int>((to + modulus - from % modulus) % modulus);
}

// Average of the forward and backward predictions of a macroblock (384 bytes each), truncating.
void AveragePredictions(const uint8_t* forward, const uint8_t* backward, uint8_t* out);

// Decodes a B picture into the B store, from the previous anchor (forward) and the current anchor
// (backward).
void DecodeBPicture(Decoder& d);

}  // namespace r263iri
