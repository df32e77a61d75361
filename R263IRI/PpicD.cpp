#include "PpicD.h"

#include <cstring>

#include "AdvancedIPrediction_Annex_I.h"
#include "BlockPrediction.h"
#include "FrameOperations.h"
#include "GetFunctions.h"
#include "Idct.h"
#include "IpicD.h"

namespace r263iri {

int ChromaFromFourVectors(int sum) {
    // H.263 Table F.1: sixteenth positions 0..15 of the sum -> half-pel offset.
    static constexpr int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    const int magnitude = sum < 0 ? -sum : sum;
    const int c = 2 * (magnitude / 16) + kRound[magnitude % 16];
    return sum < 0 ? -c : c;
}

void ReadMvdPair(Decoder& d, int* dx, int* dy) {
    if (d.hdr.umv && d.hdr.plusPtype) {
        *dx = GetReversibleMvd(d.reader);
        *dy = GetReversibleMvd(d.reader);
        // Two "000" codes in a row could start a start code: the pair (+0.5, +0.5) carries a 1.
        if (*dx == 1 && *dy == 1) d.reader.SkipBits(1);
        return;
    }
    *dx = GetMvd(d.reader);
    *dy = GetMvd(d.reader);
}

int ApplyMvd(const PictureHeader& h, int predictor, int mvd) {
    if (!h.umv) return WrapVector(predictor, mvd);
    if (h.plusPtype) return predictor + mvd;
    int v = predictor + mvd;
    if (v > 63) v -= 64;
    if (v < -63) v += 64;
    return v;
}

namespace {

template <int Size>
void PredictSized(const uint8_t* plane, int width, int height, int x, int y, int hx, int hy, int rounding,
                  uint8_t* dst, int dstStride, InterpolateBlockFunction interpolate) {
    if (x >= 0 && y >= 0 && x + Size + hx <= width && y + Size + hy <= height) {
        interpolate(plane + y * width + x, width, hx, hy, rounding, Size, dst, dstStride);
        return;
    }
    // The block reaches outside the picture: fetch with clamped coordinates, which repeats the edge
    // samples outwards.
    uint8_t block[(Size + 1) * (Size + 1)];
    for (int j = 0; j <= Size; ++j) {
        int sy = y + j;
        sy = sy < 0 ? 0 : (sy > height - 1 ? height - 1 : sy);
        for (int i = 0; i <= Size; ++i) {
            int sx = x + i;
            sx = sx < 0 ? 0 : (sx > width - 1 ? width - 1 : sx);
            block[j * (Size + 1) + i] = plane[sy * width + sx];
        }
    }
    InterpolateBlockC(block, Size + 1, hx, hy, rounding, Size, dst, dstStride);
}

}  // namespace

void PredictBlock(const uint8_t* plane, int width, int height, int x, int y, int hx, int hy, int size,
                  int rounding, uint8_t* dst, int dstStride, InterpolateBlockFunction interpolate) {
    if (size == 16) {
        PredictSized<16>(plane, width, height, x, y, hx, hy, rounding, dst, dstStride, interpolate);
    } else {
        PredictSized<8>(plane, width, height, x, y, hx, hy, rounding, dst, dstStride, interpolate);
    }
}

MacroblockPlaces StorePlaces(const Decoder& d, uint8_t* store) {
    uint8_t* cb = store + d.LumaSize();
    return r263com::PicturePlaces(store, cb, cb + d.LumaSize() / 4, d.codedWidth, d.mbX, d.mbY);
}

void PredictMacroblock(const Decoder& d, const uint8_t* reference, const MvRecord& v, bool four,
                       const MacroblockPlaces& pred) {
    const int w = d.codedWidth, h = d.codedHeight;
    const int rounding = static_cast<int>(d.hdr.roundingType);
    const uint8_t* luma = reference;
    if (!four) {
        PredictBlock(luma, w, h, d.mbX + (v.x[0] >> 1), d.mbY + (v.y[0] >> 1), v.x[0] & 1, v.y[0] & 1, 16,
                     rounding, pred.y, pred.yStride, d.interpolate);
    } else {
        for (int b = 0; b < 4; ++b) {
            const int bx = d.mbX + (b & 1) * 8, by = d.mbY + (b >> 1) * 8;
            PredictBlock(luma, w, h, bx + (v.x[b] >> 1), by + (v.y[b] >> 1), v.x[b] & 1, v.y[b] & 1, 8,
                         rounding, pred.Block(b), pred.yStride, d.interpolate);
        }
    }
    int cx, cy;
    if (four) {
        cx = ChromaFromFourVectors(v.x[0] + v.x[1] + v.x[2] + v.x[3]);
        cy = ChromaFromFourVectors(v.y[0] + v.y[1] + v.y[2] + v.y[3]);
    } else {
        cx = ChromaFromOneVector(v.x[0]);
        cy = ChromaFromOneVector(v.y[0]);
    }
    const int cw = d.chromaWidth, ch = d.chromaHeight;
    const uint8_t* cb = reference + d.LumaSize();
    const int px = d.mbX / 2 + (cx >> 1), py = d.mbY / 2 + (cy >> 1);
    PredictBlock(cb, cw, ch, px, py, cx & 1, cy & 1, 8, rounding, pred.u, pred.cStride, d.interpolate);
    PredictBlock(cb + cw * ch, cw, ch, px, py, cx & 1, cy & 1, 8, rounding, pred.v, pred.cStride, d.interpolate);
}

void CopyMacroblock(const Decoder& d, const uint8_t* from, uint8_t* to) {
    const int w = d.codedWidth, cw = d.chromaWidth;
    const int luma = d.mbY * w + d.mbX;
    for (int y = 0; y < 16; ++y) std::memcpy(to + luma + y * w, from + luma + y * w, 16);
    for (int plane = 0; plane < 2; ++plane) {
        const int chroma = d.LumaSize() + plane * (d.LumaSize() / 4) + (d.mbY / 2) * cw + d.mbX / 2;
        for (int y = 0; y < 8; ++y) std::memcpy(to + chroma + y * cw, from + chroma + y * cw, 8);
    }
}

void ReconstructInter(Decoder& d, const MacroblockPlaces& to, const MacroblockPlaces& pred) {
    for (int b = 0; b < 6; ++b) {
        const uint8_t* p = pred.Block(b);
        const int pStride = pred.Stride(b), dStride = to.Stride(b);
        uint8_t* dst = to.Block(b);
        if (d.cbp & (32 >> b)) {
            int16_t* res = d.coeffs + 64 * b;
            d.idct(res);
            // In place when the prediction stands in the store: each line is read before written.
            d.addClip(p, pStride, res, dst, dStride);
        } else if (!pred.inPicture) {
            for (int y = 0; y < 8; ++y) std::memcpy(dst + y * dStride, p + y * pStride, 8);
        }
    }
}

namespace {

// Reads the P macroblock header. False on a pattern that is no code (or a four-vector type in a
// picture that does not allow four vectors).
bool ReadInterHeader(Decoder& d) {
    BitReader& r = d.reader;
    int mcbpc;
    for (;;) {
        d.cod = static_cast<int>(r.GetBit());
        if (d.cod) {
            d.mbType = kMbInter;
            d.cbp = 0;
            return true;
        }
        mcbpc = GetMcbpcInter(r);
        if (mcbpc == kInvalidCode) return false;
        if (mcbpc != kMcbpcStuffing) break;
    }
    d.mbType = mcbpc & 7;
    if ((d.mbType == kMbInter4V || d.mbType == kMbInter4VQ) && !d.hdr.fourVectors) return false;
    const bool intra = d.mbType == kMbIntra || d.mbType == kMbIntraQ;
    d.intraMode = (intra && d.hdr.aic) ? GetIntraMode(r) : 0;
    int cbpy = GetCbpy(r);
    if (cbpy == kInvalidCode) return false;
    // Under the alternative inter VLC an inter macroblock with both chroma blocks coded keeps the
    // intra meaning of CBPY (its luma blocks are then most likely coded too).
    const bool keepCbpy = d.hdr.aiv && (mcbpc >> 4) == 3;
    if (!intra && !keepCbpy) cbpy ^= 15;
    d.cbp = (cbpy << 2) | (mcbpc >> 4);
    if (d.mbType == kMbInterQ || d.mbType == kMbIntraQ || d.mbType == kMbInter4VQ)
        d.quant = GetDquant(r, d.hdr.mq != 0, d.quant);
    return true;
}

// Decodes the vectors of an inter macroblock into `v` (the caller's new record for this column).
void DecodeVectors(Decoder& d, MvRecord* v) {
    const MvRecord& above = d.mvTable[d.mbColumn];
    const MvRecord& aboveRight = d.mvTable[d.mbColumn + 1];
    const MvRecord& left = *d.left;
    const bool aboveAvailable = above.x[0] != kMvUnavailable;
    const bool four = d.mbType == kMbInter4V || d.mbType == kMbInter4VQ;

    const PictureHeader& h = d.hdr;
    // Candidates (A, B, C) per block: left / above / above-right neighbours, or blocks of this
    // macroblock, as the standard's four-vector prediction lays them out.
    int mvdx, mvdy;
    ReadMvdPair(d, &mvdx, &mvdy);
    v->x[0] = ApplyMvd(h, PredictComponent(left.x[1], above.x[2], aboveRight.x[2], aboveAvailable), mvdx);
    v->y[0] = ApplyMvd(h, PredictComponent(left.y[1], above.y[2], aboveRight.y[2], aboveAvailable), mvdy);
    if (!four) {
        for (int b = 1; b < 4; ++b) {
            v->x[b] = v->x[0];
            v->y[b] = v->y[0];
        }
    } else {
        ReadMvdPair(d, &mvdx, &mvdy);
        v->x[1] = ApplyMvd(h, PredictComponent(v->x[0], above.x[3], aboveRight.x[2], aboveAvailable), mvdx);
        v->y[1] = ApplyMvd(h, PredictComponent(v->y[0], above.y[3], aboveRight.y[2], aboveAvailable), mvdy);
        ReadMvdPair(d, &mvdx, &mvdy);
        v->x[2] = ApplyMvd(h, PredictComponent(left.x[3], v->x[0], v->x[1], true), mvdx);
        v->y[2] = ApplyMvd(h, PredictComponent(left.y[3], v->y[0], v->y[1], true), mvdy);
        ReadMvdPair(d, &mvdx, &mvdy);
        v->x[3] = ApplyMvd(h, PredictComponent(v->x[2], v->x[0], v->x[1], true), mvdx);
        v->y[3] = ApplyMvd(h, PredictComponent(v->y[2], v->y[0], v->y[1], true), mvdy);
    }
    d.lastPVectors[d.mbNumber] = *v;
    d.lastPFourVector[d.mbNumber] = four ? 1 : 0;
}

// With overlapped motion compensation (Annex F) a macroblock's prediction needs the vectors of
// the macroblock to its right: the macroblocks are parsed first and reconstructed when the
// whole picture is read.
void Defer(Decoder& d, DeferredKind kind, const MvRecord& v, int transform) {
    DeferredMacroblock& m = d.deferred[static_cast<size_t>(d.mbNumber)];
    m.kind = kind;
    m.cbp = static_cast<uint8_t>(d.cbp);
    m.transform = static_cast<uint8_t>(transform);
    m.quant = static_cast<uint8_t>(d.quant);
    m.four = d.mbType == kMbInter4V || d.mbType == kMbInter4VQ;
    m.v = v;
    std::memcpy(m.coeffs, d.coeffs, sizeof m.coeffs);
}

// Decodes one macroblock of a P picture. False on a pattern that is no code.
bool DecodeInterMacroblock(Decoder& d) {
    if (!ReadInterHeader(d)) return false;
    MvRecord& record = d.mvTable[d.mbColumn];
    const bool deferred = d.hdr.obmc != 0;
    if (d.cod || d.mbType == kMbIntra || d.mbType == kMbIntraQ) {
        // Skipped and intra macroblocks have the zero vector, for prediction and direct mode.
        record = MvRecord{};
        d.lastPVectors[d.mbNumber] = record;
        d.lastPFourVector[d.mbNumber] = 0;
        if (d.analysis.current) {
            RecordMacroblock(d, d.cod ? MacroblockKind::kNotCoded : MacroblockKind::kIntra, nullptr, nullptr,
                             false);
        }
    }
    if (d.cod && deferred) {
        if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
        Defer(d, DeferredKind::kSkipped, record, 0);
        return true;
    }
    if (d.cod) {
        // The zero vector predicts the macroblock by its own samples in the reference, and no
        // residual follows: the reconstruction is a copy of them.
        CopyMacroblock(d, d.Previous(), d.Current());
        d.cbp = 0;
        if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
        FinishAnchorMacroblock(d, false);
        return true;
    }
    if (d.mbType == kMbIntra || d.mbType == kMbIntraQ) {
        const int transform = DecodeIntraBlocks(d);
        if (deferred) {
            Defer(d, DeferredKind::kIntra, record, transform);
            return true;
        }
        WriteIntraMacroblock(d, d.Current(), transform);
        FinishAnchorMacroblock(d, true);
        return true;
    }
    MvRecord v;
    DecodeVectors(d, &v);
    record = v;
    if (d.analysis.current) {
        const bool four = d.mbType == kMbInter4V || d.mbType == kMbInter4VQ;
        RecordMacroblock(d, four ? MacroblockKind::kInter4V : MacroblockKind::kInter, &v, nullptr, four);
    }
    for (int b = 0; b < 6; ++b) {
        if (d.cbp & (32 >> b)) DecodeInterBlock(d, b, BlockQuant(d, b));
    }
    if (deferred) {
        if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
        Defer(d, DeferredKind::kInter, v, 0);
        return true;
    }
    const bool fourVectors = d.mbType == kMbInter4V || d.mbType == kMbInter4VQ;
    const MacroblockPlaces places = StorePlaces(d, d.Current());
    PredictMacroblock(d, d.Previous(), v, fourVectors, places);
    ReconstructInter(d, places, places);
    if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
    FinishAnchorMacroblock(d, true);
    return true;
}

// The vector that overlapped motion compensation takes from a neighbouring block: that block's
// for an inter macroblock, zero for a skipped one, and the current block's own vector for an
// intra macroblock, a macroblock outside the picture or one that was not decoded.
void RemoteVector(const Decoder& d, int column, int row, int block, int ownX, int ownY, int* x, int* y) {
    *x = ownX;
    *y = ownY;
    if (column < 0 || column >= d.mbPerRow || row < 0 || row >= d.mbRows) return;
    const DeferredMacroblock& m = d.deferred[static_cast<size_t>(row * d.mbPerRow + column)];
    if (m.kind == DeferredKind::kSkipped) {
        *x = *y = 0;
    } else if (m.kind == DeferredKind::kInter) {
        *x = m.v.x[block];
        *y = m.v.y[block];
    }
}

// H.263 Figures F.2, F.3 and F.4: the weights of the block's own prediction, of the prediction
// with the vector above (rows 0-3) or below (rows 4-7), and of the one with the vector left
// (columns 0-3) or right (columns 4-7). Every position sums to 8.
constexpr uint8_t kObmcOwn[64] = {4, 5, 5, 5, 5, 5, 5, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6,
                                  5, 5, 5, 5, 6, 6, 6, 6, 5, 5, 5, 5, 6, 6, 6, 6, 5, 5, 5, 5, 6, 6,
                                  6, 6, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 4, 5, 5, 5, 5, 5, 5, 4};
constexpr uint8_t kObmcVertical[64] = {2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1,
                                       1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                       1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2};
constexpr uint8_t kObmcHorizontal[64] = {2, 1, 1, 1, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1,
                                         2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1,
                                         1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, 2};

// Overwrites the luma of `pred` (16x16, stride 16) with the overlapped prediction of the current
// macroblock, whose block vectors are `v`.
void OverlapLuma(const Decoder& d, const uint8_t* reference, const MvRecord& v, uint8_t* pred) {
    const int w = d.codedWidth, h = d.codedHeight;
    const int rounding = static_cast<int>(d.hdr.roundingType);
    const uint8_t* luma = reference;
    const int c = d.mbColumn, r = d.mbRow;
    for (int b = 0; b < 4; ++b) {
        const int bx = d.mbX + (b & 1) * 8, by = d.mbY + (b >> 1) * 8;
        const int ox = v.x[b], oy = v.y[b];
        int ax, ay, bx2, by2, lx, ly, rx, ry;
        if (b < 2) {
            RemoteVector(d, c, r - 1, b + 2, ox, oy, &ax, &ay);
            bx2 = v.x[b + 2];
            by2 = v.y[b + 2];
        } else {
            ax = v.x[b - 2];
            ay = v.y[b - 2];
            bx2 = ox;  // the macroblock below is not decoded yet: the block's own vector
            by2 = oy;
        }
        if ((b & 1) == 0) {
            RemoteVector(d, c - 1, r, b + 1, ox, oy, &lx, &ly);
            rx = v.x[b + 1];
            ry = v.y[b + 1];
        } else {
            lx = v.x[b - 1];
            ly = v.y[b - 1];
            RemoteVector(d, c + 1, r, b - 1, ox, oy, &rx, &ry);
        }
        uint8_t own[64], above[64], below[64], left[64], right[64];
        auto predict = [&](int vx, int vy, uint8_t* dst) {
            PredictBlock(luma, w, h, bx + (vx >> 1), by + (vy >> 1), vx & 1, vy & 1, 8, rounding, dst, 8,
                         d.interpolate);
        };
        predict(ox, oy, own);
        predict(ax, ay, above);
        predict(bx2, by2, below);
        predict(lx, ly, left);
        predict(rx, ry, right);
        uint8_t* dst = pred + (b >> 1) * 128 + (b & 1) * 8;
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < 8; ++j) {
                const int k = i * 8 + j;
                const int vertical = i < 4 ? above[k] : below[k];
                const int horizontal = j < 4 ? left[k] : right[k];
                dst[i * 16 + j] = static_cast<uint8_t>((own[k] * kObmcOwn[k] + vertical * kObmcVertical[k] +
                                                        horizontal * kObmcHorizontal[k] + 4) >>
                                                       3);
            }
        }
    }
}

// Reconstructs the macroblocks that DecodeInterMacroblock deferred, in raster order, and filters
// each one as it is finished.
void ReconstructDeferred(Decoder& d) {
    const uint8_t* reference = d.Previous();
    for (int m = 0; m < d.mbCount; ++m) {
        const DeferredMacroblock& dm = d.deferred[static_cast<size_t>(m)];
        if (dm.kind == DeferredKind::kNone) continue;  // passed over by a header jump
        SetMacroblock(d, m);
        d.quant = dm.quant;
        d.cbp = dm.cbp;
        std::memcpy(d.coeffs, dm.coeffs, sizeof d.coeffs);
        if (dm.kind == DeferredKind::kIntra) {
            WriteIntraMacroblock(d, d.Current(), dm.transform);
            FinishAnchorMacroblock(d, true);
            continue;
        }
        alignas(16) uint8_t pred[r263com::kMacroblockBufferBytes];
        PredictMacroblock(d, reference, dm.v, dm.four, BufferPlaces(pred));
        OverlapLuma(d, reference, dm.v, pred);
        if (dm.kind == DeferredKind::kSkipped) d.cbp = 0;
        ReconstructInter(d, StorePlaces(d, d.Current()), BufferPlaces(pred));
        FinishAnchorMacroblock(d, dm.kind == DeferredKind::kInter);
    }
}

}  // namespace

void DecodeInterBlock(Decoder& d, int block, int q) {
    int16_t* coeffs = d.coeffs + 64 * block;
    std::memset(coeffs, 0, 64 * sizeof(int16_t));
    if (!d.hdr.aiv) {
        DecodeTcoefBlock(d, block, 0, q);
        return;
    }
    // Annex S: a block whose events run past 64 coefficients with the inter table (or meet a
    // pattern that is no code of it) was coded with the intra table of Annex I; it is read again
    // from its start.
    const BitReader start = d.reader;
    if (DecodeTcoefBlock(d, block, 0, q)) return;
    d.reader = start;
    std::memset(coeffs, 0, 64 * sizeof(int16_t));
    DecodeAlternativeInterBlock(d, block, q);
}

void DecodePPicture(Decoder& d) {
    if (d.hdr.obmc) {
        for (auto& m : d.deferred) m.kind = DeferredKind::kNone;
    }
    DecodeMacroblocks<DecodeInterMacroblock>(d);
    if (d.hdr.obmc) ReconstructDeferred(d);
}

}  // namespace r263iri
