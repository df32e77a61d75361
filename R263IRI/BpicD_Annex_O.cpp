// B-picture decoding (Annex O).
#include "BpicD_Annex_O.h"

#include <cstring>

#include "AdvancedIPrediction_Annex_I.h"
#include "DeblockingFilter_Annex_J.h"
#include "FrameOperations.h"
#include "GetFunctions.h"
#include "IpicD.h"
#include "PpicD.h"

namespace r263iri {

namespace {

struct MbTypeCode {
    uint16_t bits;  // the code, right-aligned
    uint8_t length;
    BMacroblockType type;
};

using P = BPrediction;

// H.263 Table O.4: MBTYPE of B pictures (the stuffing code 0000 0000 1 is handled apart).
constexpr MbTypeCode kMbTypeCodes[] = {
    {0b11, 2, {P::kDirect, true, false}},
    {0b0001, 4, {P::kDirect, true, true}},
    {0b100, 3, {P::kForward, false, false}},
    {0b101, 3, {P::kForward, true, false}},
    {0b00110, 5, {P::kForward, true, true}},
    {0b010, 3, {P::kBackward, false, false}},
    {0b011, 3, {P::kBackward, true, false}},
    {0b00111, 5, {P::kBackward, true, true}},
    {0b00100, 5, {P::kBidirectional, false, false}},
    {0b00101, 5, {P::kBidirectional, true, false}},
    {0b00001, 5, {P::kBidirectional, true, true}},
    {0b000001, 6, {P::kIntra, true, false}},
    {0b0000001, 7, {P::kIntra, true, true}},
};

}  // namespace

bool GetBMacroblockType(BitReader& r, BMacroblockType* type, bool* stuffing) {
    *stuffing = false;
    const uint32_t peek = r.ShowBits(9);
    if (peek == 1) {
        r.SkipBits(9);
        *stuffing = true;
        return true;
    }
    for (const MbTypeCode& c : kMbTypeCodes) {
        if ((peek >> (9 - c.length)) == c.bits) {
            r.SkipBits(c.length);
            *type = c.type;
            return true;
        }
    }
    return false;
}

int GetBCbpc(BitReader& r) {
    if (r.GetBit() == 0) return 0;
    if (r.GetBit() == 0) return 1;
    return r.GetBit() ? 2 : 3;
}

void AveragePredictions(const uint8_t* forward, const uint8_t* backward, uint8_t* out) {
    for (int i = 0; i < 384; ++i) out[i] = static_cast<uint8_t>((forward[i] + backward[i]) >> 1);
}

namespace {

// The vectors decoded for the current B macroblock.
struct BVectors {
    MvRecord forward{};
    MvRecord backward{};
    bool four = false;  // direct mode from a four-vector macroblock of the next anchor
};

// Reads an MVD pair and predicts it from slot `slot` of the neighbouring records (16x16 rule).
void DecodeVector(Decoder& d, int slot, int* vx, int* vy) {
    const MvRecord& above = d.mvTable[d.mbColumn];
    const MvRecord& aboveRight = d.mvTable[d.mbColumn + 1];
    const MvRecord& left = *d.left;
    const bool aboveAvailable = above.x[slot] != kMvUnavailable;
    int mvdx, mvdy;
    ReadMvdPair(d, &mvdx, &mvdy);
    *vx = ApplyMvd(d.hdr, PredictComponent(left.x[slot], above.x[slot], aboveRight.x[slot], aboveAvailable),
                   mvdx);
    *vy = ApplyMvd(d.hdr, PredictComponent(left.y[slot], above.y[slot], aboveRight.y[slot], aboveAvailable),
                   mvdy);
}

void SetAll(MvRecord* r, int x, int y) {
    for (int b = 0; b < 4; ++b) {
        r->x[b] = x;
        r->y[b] = y;
    }
}

// Direct mode: the co-located vectors of the next anchor scaled by the temporal distances.
void DirectVectors(const Decoder& d, BVectors* v) {
    const uint32_t modulus = d.hdr.customPcf && d.hdr.plusPtype ? 1024u : 256u;
    const uint32_t previous = d.anchorTr[d.currentAnchor ^ 1], next = d.anchorTr[d.currentAnchor];
    const int trd = TemporalDistance(previous, next, modulus);
    const int trb = TemporalDistance(previous, d.currentTr, modulus);
    const MvRecord& mv = d.lastPVectors[d.mbNumber];
    for (int b = 0; b < 4; ++b) {
        v->forward.x[b] = DirectForward(mv.x[b], trb, trd);
        v->forward.y[b] = DirectForward(mv.y[b], trb, trd);
        v->backward.x[b] = DirectBackward(mv.x[b], trb, trd);
        v->backward.y[b] = DirectBackward(mv.y[b], trb, trd);
    }
    v->four = d.lastPFourVector[d.mbNumber] != 0;
}

// Reads the B macroblock header and the macroblock's coefficients. False on a pattern that is
// no code.
bool ReadBMacroblock(Decoder& d, BMacroblockType* type, BVectors* v) {
    BitReader& r = d.reader;
    MvRecord& record = d.mvTable[d.mbColumn];
    for (;;) {
        d.cod = static_cast<int>(r.GetBit());
        if (d.cod) {
            // Not coded: forward prediction with the zero vector, no coefficients.
            *type = {P::kForward, false, false};
            d.cbp = 0;
            record = MvRecord{};
            *v = BVectors{};
            return true;
        }
        bool stuffing = false;
        if (!GetBMacroblockType(r, type, &stuffing)) return false;
        if (!stuffing) break;
    }
    const bool intra = type->prediction == P::kIntra;
    d.intraMode = (intra && d.hdr.aic) ? GetIntraMode(r) : 0;
    d.cbp = 0;
    if (type->hasCbp) {
        const int cbpc = GetBCbpc(r);
        int cbpy = GetCbpy(r);
        if (cbpy == kInvalidCode) return false;
        // As in P-pictures, the alternative inter VLC keeps the intra meaning of CBPY for an inter
        // macroblock whose two chroma blocks are coded.
        const bool keepCbpy = d.hdr.aiv && cbpc == 3;
        if (!intra && !keepCbpy) cbpy ^= 15;
        d.cbp = (cbpy << 2) | cbpc;
    }
    if (type->hasDquant) d.quant = GetDquant(r, d.hdr.mq != 0, d.quant);

    *v = BVectors{};
    int fx = 0, fy = 0, bx = 0, by = 0;
    if (type->prediction == P::kForward || type->prediction == P::kBidirectional) {
        DecodeVector(d, 0, &fx, &fy);
        SetAll(&v->forward, fx, fy);
    }
    if (type->prediction == P::kBackward || type->prediction == P::kBidirectional) {
        DecodeVector(d, 1, &bx, &by);
        SetAll(&v->backward, bx, by);
    }
    if (type->prediction == P::kDirect) DirectVectors(d, v);
    // Forward vectors in slot 0, backward vectors in slot 1; direct and intra macroblocks leave
    // zero vectors for the prediction of their neighbours.
    record = MvRecord{};
    record.x[0] = fx;
    record.y[0] = fy;
    record.x[1] = bx;
    record.y[1] = by;

    std::memset(d.coeffs, 0, sizeof d.coeffs);
    if (intra) return true;  // read by DecodeIntraBlocks
    for (int b = 0; b < 6; ++b) {
        if (d.cbp & (32 >> b)) DecodeInterBlock(d, b, BlockQuant(d, b));
    }
    return true;
}

// Records the current B macroblock for the analysis: the kind, and the vectors its prediction
// uses (none for intra, the forward or backward ones alone, both for bidirectional and direct).
void RecordBMacroblock(Decoder& d, const BMacroblockType& type, const BVectors& v) {
    MacroblockKind kind = MacroblockKind::kNotCoded;
    const MvRecord* forward = nullptr;
    const MvRecord* backward = nullptr;
    if (!d.cod) {
        switch (type.prediction) {
            case P::kIntra:
                kind = MacroblockKind::kIntra;
                break;
            case P::kForward:
                kind = MacroblockKind::kForward;
                forward = &v.forward;
                break;
            case P::kBackward:
                kind = MacroblockKind::kBackward;
                backward = &v.backward;
                break;
            case P::kBidirectional:
                kind = MacroblockKind::kBidirectional;
                forward = &v.forward;
                backward = &v.backward;
                break;
            case P::kDirect:
                kind = MacroblockKind::kDirect;
                forward = &v.forward;
                backward = &v.backward;
                break;
        }
    }
    RecordMacroblock(d, kind, forward, backward, v.four);
}

// Decodes one macroblock of a B picture into the B store. False on a pattern that is no code.
bool DecodeBMacroblock(Decoder& d) {
    BMacroblockType type{};
    BVectors v;
    if (!ReadBMacroblock(d, &type, &v)) return false;
    if (d.analysis.current) RecordBMacroblock(d, type, v);
    uint8_t* store = d.bStore.data();
    if (type.prediction == P::kIntra) {
        const int transform = DecodeIntraBlocks(d);
        WriteIntraMacroblock(d, store, transform);
    } else {
        alignas(16) uint8_t pred[r263com::kMacroblockBufferBytes];
        const uint8_t* forwardRef = d.Previous();
        const uint8_t* backwardRef = d.Current();
        switch (type.prediction) {
            case P::kForward:
                PredictMacroblock(d, forwardRef, v.forward, false, BufferPlaces(pred));
                break;
            case P::kBackward:
                PredictMacroblock(d, backwardRef, v.backward, false, BufferPlaces(pred));
                break;
            default: {
                alignas(16) uint8_t forward[r263com::kMacroblockBufferBytes], backward[r263com::kMacroblockBufferBytes];
                PredictMacroblock(d, forwardRef, v.forward, v.four, BufferPlaces(forward));
                PredictMacroblock(d, backwardRef, v.backward, v.four, BufferPlaces(backward));
                AveragePredictions(forward, backward, pred);
                break;
            }
        }
        ReconstructInter(d, StorePlaces(d, store), BufferPlaces(pred));
        if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
    }
    if (d.hdr.df) {
        // B pictures are filtered only when their own header asks for it.
        d.mbCoded[d.mbNumber] = d.cod ? 0 : 1;
        d.mbQuant[d.mbNumber] = static_cast<uint8_t>(d.quant);
        DeblockMacroblock(store, d.codedWidth, d.codedHeight, d.mbCoded.data(), d.mbQuant.data(), d.mbNumber,
                          d.hdr.mq != 0);
    }
    return true;
}

}  // namespace

void DecodeBPicture(Decoder& d) {
    DecodeMacroblocks<DecodeBMacroblock>(d);
}

}  // namespace r263iri
