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

namespace {

template <int Size>
void PredictSized(const uint8_t* plane, int width, int height, int x, int y, int hx, int hy, int rounding,
                  uint8_t* dst, int dstStride) {
    const int stride = width + 2 * kBorder;
    if (x >= -kBorder && y >= -kBorder && x + Size + hx <= width + kBorder &&
        y + Size + hy <= height + kBorder) {
        InterpolateBlock(plane + y * stride + x, stride, hx, hy, rounding, Size, dst, dstStride);
        return;
    }
    // The block reaches beyond the border: fetch with clamped coordinates.
    uint8_t block[(Size + 1) * (Size + 1)];
    for (int j = 0; j <= Size; ++j) {
        int sy = y + j;
        sy = sy < -kBorder ? -kBorder : (sy > height + kBorder - 1 ? height + kBorder - 1 : sy);
        for (int i = 0; i <= Size; ++i) {
            int sx = x + i;
            sx = sx < -kBorder ? -kBorder : (sx > width + kBorder - 1 ? width + kBorder - 1 : sx);
            block[j * (Size + 1) + i] = plane[sy * stride + sx];
        }
    }
    InterpolateBlockC(block, Size + 1, hx, hy, rounding, Size, dst, dstStride);
}

}  // namespace

void PredictBlock(const uint8_t* plane, int width, int height, int x, int y, int hx, int hy, int size,
                  int rounding, uint8_t* dst, int dstStride) {
    if (size == 16) {
        PredictSized<16>(plane, width, height, x, y, hx, hy, rounding, dst, dstStride);
    } else {
        PredictSized<8>(plane, width, height, x, y, hx, hy, rounding, dst, dstStride);
    }
}

void PredictMacroblock(const Decoder& d, const uint8_t* reference, const MvRecord& v, bool four,
                       uint8_t* pred) {
    const int w = d.codedWidth, h = d.codedHeight;
    const int rounding = static_cast<int>(d.hdr.roundingType);
    const uint8_t* luma = reference + kBorder * d.PaddedWidth() + kBorder;
    if (!four) {
        PredictBlock(luma, w, h, d.mbX + (v.x[0] >> 1), d.mbY + (v.y[0] >> 1), v.x[0] & 1, v.y[0] & 1, 16,
                     rounding, pred, 16);
    } else {
        for (int b = 0; b < 4; ++b) {
            const int bx = d.mbX + (b & 1) * 8, by = d.mbY + (b >> 1) * 8;
            PredictBlock(luma, w, h, bx + (v.x[b] >> 1), by + (v.y[b] >> 1), v.x[b] & 1, v.y[b] & 1, 8,
                         rounding, pred + (b >> 1) * 128 + (b & 1) * 8, 16);
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
    const int chromaPadded = d.PaddedChromaWidth() * d.PaddedChromaHeight();
    const uint8_t* cb =
        reference + d.PaddedWidth() * d.PaddedHeight() + kBorder * d.PaddedChromaWidth() + kBorder;
    const int px = d.mbX / 2 + (cx >> 1), py = d.mbY / 2 + (cy >> 1);
    PredictBlock(cb, cw, ch, px, py, cx & 1, cy & 1, 8, rounding, pred + 256, 8);
    PredictBlock(cb + chromaPadded, cw, ch, px, py, cx & 1, cy & 1, 8, rounding, pred + 320, 8);
}

void ReconstructInter(Decoder& d, uint8_t* store, const uint8_t* pred) {
    const int w = d.codedWidth, cw = d.chromaWidth;
    for (int b = 0; b < 6; ++b) {
        const uint8_t* p;
        int pStride, dStride;
        uint8_t* dst;
        if (b < 4) {
            p = pred + (b >> 1) * 128 + (b & 1) * 8;
            pStride = 16;
            dst = store + (d.mbY + (b >> 1) * 8) * w + d.mbX + (b & 1) * 8;
            dStride = w;
        } else {
            p = pred + 256 + (b - 4) * 64;
            pStride = 8;
            dst = store + d.LumaSize() + (b - 4) * (d.LumaSize() / 4) + (d.mbY / 2) * cw + d.mbX / 2;
            dStride = cw;
        }
        if (d.cbp & (32 >> b)) {
            int16_t* res = d.coeffs + 64 * b;
            IdctBlock(res);
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x)
                    dst[y * dStride + x] = ClipSample(p[y * pStride + x] + res[y * 8 + x]);
            }
        } else {
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
            d.mbType = 0;
            d.cbp = 0;
            return true;
        }
        mcbpc = GetMcbpcInter(r);
        if (mcbpc == kInvalidCode) return false;
        if (mcbpc != kMcbpcStuffing) break;
    }
    d.mbType = mcbpc & 7;
    if ((d.mbType == 2 || d.mbType == 5) && !d.hdr.fourVectors) return false;
    const bool intra = d.mbType == 3 || d.mbType == 4;
    d.intraMode = (intra && d.hdr.aic) ? GetIntraMode(r) : 0;
    int cbpy = GetCbpy(r);
    if (cbpy == kInvalidCode) return false;
    if (!intra) cbpy ^= 15;
    d.cbp = (cbpy << 2) | (mcbpc >> 4);
    if (d.mbType == 1 || d.mbType == 4 || d.mbType == 5) d.quant = GetDquant(r, d.hdr.mq != 0, d.quant);
    return true;
}

// Decodes the vectors of an inter macroblock into `v` (the caller's new record for this column).
void DecodeVectors(Decoder& d, MvRecord* v) {
    BitReader& r = d.reader;
    const MvRecord& above = d.mvTable[d.mbColumn];
    const MvRecord& aboveRight = d.mvTable[d.mbColumn + 1];
    const MvRecord& left = *d.left;
    const bool aboveAvailable = above.x[0] != kMvUnavailable;
    const bool four = d.mbType == 2 || d.mbType == 5;

    // Candidates (A, B, C) per block: left / above / above-right neighbours, or blocks of this
    // macroblock, as the standard's four-vector prediction lays them out.
    int mvdx = GetMvd(r), mvdy = GetMvd(r);
    v->x[0] = WrapVector(PredictComponent(left.x[1], above.x[2], aboveRight.x[2], aboveAvailable), mvdx);
    v->y[0] = WrapVector(PredictComponent(left.y[1], above.y[2], aboveRight.y[2], aboveAvailable), mvdy);
    if (!four) {
        for (int b = 1; b < 4; ++b) {
            v->x[b] = v->x[0];
            v->y[b] = v->y[0];
        }
    } else {
        mvdx = GetMvd(r);
        mvdy = GetMvd(r);
        v->x[1] = WrapVector(PredictComponent(v->x[0], above.x[3], aboveRight.x[2], aboveAvailable), mvdx);
        v->y[1] = WrapVector(PredictComponent(v->y[0], above.y[3], aboveRight.y[2], aboveAvailable), mvdy);
        mvdx = GetMvd(r);
        mvdy = GetMvd(r);
        v->x[2] = WrapVector(PredictComponent(left.x[3], v->x[0], v->x[1], true), mvdx);
        v->y[2] = WrapVector(PredictComponent(left.y[3], v->y[0], v->y[1], true), mvdy);
        mvdx = GetMvd(r);
        mvdy = GetMvd(r);
        v->x[3] = WrapVector(PredictComponent(v->x[2], v->x[0], v->x[1], true), mvdx);
        v->y[3] = WrapVector(PredictComponent(v->y[2], v->y[0], v->y[1], true), mvdy);
    }
    d.lastPVectors[d.mbNumber] = *v;
    d.lastPFourVector[d.mbNumber] = four ? 1 : 0;
}

// Decodes one macroblock of a P picture. False on a pattern that is no code.
bool DecodeInterMacroblock(Decoder& d) {
    if (!ReadInterHeader(d)) return false;
    MvRecord& record = d.mvTable[d.mbColumn];
    alignas(16) uint8_t pred[384];
    if (d.cod || d.mbType == 3 || d.mbType == 4) {
        // Skipped and intra macroblocks have the zero vector, for prediction and direct mode.
        record = MvRecord{};
        d.lastPVectors[d.mbNumber] = record;
        d.lastPFourVector[d.mbNumber] = 0;
    }
    if (d.cod) {
        PredictMacroblock(d, d.padded[0].data(), record, false, pred);
        d.cbp = 0;
        ReconstructInter(d, d.Current(), pred);
        if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
        FinishAnchorMacroblock(d, false);
        return true;
    }
    if (d.mbType == 3 || d.mbType == 4) {
        const int transform = DecodeIntraBlocks(d);
        WriteIntraMacroblock(d, d.Current(), transform);
        FinishAnchorMacroblock(d, true);
        return true;
    }
    MvRecord v;
    DecodeVectors(d, &v);
    record = v;
    for (int b = 0; b < 6; ++b) {
        if (d.cbp & (32 >> b)) {
            std::memset(d.coeffs + 64 * b, 0, 64 * sizeof(int16_t));
            DecodeTcoefBlock(d, b, 0, BlockQuant(d, b));
        }
    }
    PredictMacroblock(d, d.padded[0].data(), v, d.mbType == 2 || d.mbType == 5, pred);
    ReconstructInter(d, d.Current(), pred);
    if (d.hdr.aic) AicMarkNotIntra(d.aic, d.mbColumn);
    FinishAnchorMacroblock(d, true);
    return true;
}

}  // namespace

void DecodePPicture(Decoder& d) {
    PadPicture(d, d.Previous(), d.padded[0].data());
    DecodeMacroblocks<DecodeInterMacroblock>(d);
}

}  // namespace r263iri
