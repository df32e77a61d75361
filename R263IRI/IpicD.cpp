#include "IpicD.h"

#include <algorithm>
#include <cstring>

#include "AdvancedIPrediction_Annex_I.h"
#include "DeblockingFilter_Annex_J.h"
#include "GetFunctions.h"
#include "Idct.h"
#include "Parser.h"
#include "R263COM/Dequant.h"

namespace r263iri {

void SetMacroblock(Decoder& d, int m) {
    d.mbNumber = m;
    d.mbColumn = m % d.mbPerRow;
    d.mbRow = m / d.mbPerRow;
    d.mbX = d.mbColumn * 16;
    d.mbY = d.mbRow * 16;
}

int BlockQuant(const Decoder& d, int block) {
    return (block >= 4 && d.hdr.mq) ? ChromaQuant(d.quant) : d.quant;
}

namespace {

template <bool (*ReadEvent)(BitReader&, bool, TcoefEvent*)>
bool DecodeInterStyleBlock(Decoder& d, int block, int start, int q) {
    int16_t* coeffs = d.coeffs + 64 * block;
    const bool mq = d.hdr.mq != 0;
    TcoefEvent ev;
    int pos = start;
    for (;;) {
        if (!ReadEvent(d.reader, mq, &ev)) return false;  // no code: the block ends here
        pos += ev.run;
        // An event past the 64th coefficient, including one that follows a 64th coefficient
        // without LAST, makes the block too long.
        if (pos > 63) return false;
        if (ev.level != 0) coeffs[kZigzag[pos]] = r263com::ReconstructLevel(ev.level, q);
        ++pos;
        if (ev.last) return true;
    }
}

}  // namespace

bool DecodeTcoefBlock(Decoder& d, int block, int start, int q) {
    return DecodeInterStyleBlock<GetTcoef>(d, block, start, q);
}

void DecodeAlternativeInterBlock(Decoder& d, int block, int q) {
    DecodeInterStyleBlock<GetAicTcoef>(d, block, 0, q);
}

void DecodeAicBlock(Decoder& d, int block, int q) {
    int16_t* coeffs = d.coeffs + 64 * block;
    const uint8_t* scan = AicScan(d.intraMode);
    const bool mq = d.hdr.mq != 0;
    TcoefEvent ev;
    int pos = 0;
    while (pos < 64) {
        if (!GetAicTcoef(d.reader, mq, &ev)) return;  // no code: the block ends here
        pos += ev.run;
        if (pos > 63) return;
        coeffs[scan[pos]] = r263com::ReconstructAicLevel(ev.level, q);
        ++pos;
        if (ev.last) return;
    }
}

int DecodeIntraBlocks(Decoder& d) {
    if (d.hdr.aic) {
        // Annex I: coded blocks from scan position 0 without INTRADC, then the prediction from
        // the neighbouring intra blocks; every block carries a prediction and is transformed.
        std::memset(d.coeffs, 0, sizeof d.coeffs);
        for (int b = 0; b < 6; ++b) {
            if (d.cbp & (32 >> b)) DecodeAicBlock(d, b, BlockQuant(d, b));
        }
        AicPredictMacroblock(d.aic, d.mbColumn, d.intraMode, d.coeffs);
        return 63;
    }
    int transform = 0;
    for (int b = 0; b < 6; ++b) {
        int16_t* block = d.coeffs + 64 * b;
        int dc = static_cast<int>(d.reader.GetBits(8));
        if (dc == 255) dc = 128;
        if (d.cbp & (32 >> b)) {
            std::memset(block, 0, 64 * sizeof(int16_t));
            DecodeTcoefBlock(d, b, 1, BlockQuant(d, b));
            block[0] = static_cast<int16_t>(dc * 8);
            transform |= 32 >> b;
        } else {
            for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(dc);
        }
    }
    return transform;
}

namespace {

void WriteBlock(const int16_t* block, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y, dst += stride, block += 8) {
        for (int x = 0; x < 8; ++x) dst[x] = ClipSample(block[x]);
    }
}

// Reads the intra macroblock header of an I picture. False on a pattern that is no code.
bool ReadIntraHeader(Decoder& d) {
    int mcbpc;
    do {
        mcbpc = GetMcbpcIntra(d.reader);
    } while (mcbpc == kMcbpcStuffing);
    if (mcbpc == kInvalidCode) return false;
    d.mbType = mcbpc & 7;
    d.intraMode = d.hdr.aic ? GetIntraMode(d.reader) : 0;
    const int cbpy = GetCbpy(d.reader);
    if (cbpy == kInvalidCode) return false;
    d.cbp = (cbpy << 2) | (mcbpc >> 4);
    if (d.mbType == kMbIntraQ) d.quant = GetDquant(d.reader, d.hdr.mq != 0, d.quant);
    return true;
}

}  // namespace

void WriteIntraMacroblock(Decoder& d, uint8_t* store, int transform) {
    const int w = d.codedWidth, cw = d.chromaWidth;
    uint8_t* y = store + d.mbY * w + d.mbX;
    for (int b = 0; b < 6; ++b) {
        if (transform & (32 >> b)) d.idct(d.coeffs + 64 * b);
    }
    WriteBlock(d.coeffs, y, w);
    WriteBlock(d.coeffs + 64, y + 8, w);
    WriteBlock(d.coeffs + 128, y + 8 * w, w);
    WriteBlock(d.coeffs + 192, y + 8 * w + 8, w);
    const int chromaOffset = (d.mbY / 2) * cw + d.mbX / 2;
    WriteBlock(d.coeffs + 256, store + d.LumaSize() + chromaOffset, cw);
    WriteBlock(d.coeffs + 320, store + d.LumaSize() + d.LumaSize() / 4 + chromaOffset, cw);
}

void FinishAnchorMacroblock(Decoder& d, bool coded) {
    const int m = d.mbNumber;
    d.mbCoded[m] = coded ? 1 : 0;
    d.mbQuant[m] = static_cast<uint8_t>(d.quant);
    if (d.hdr.df) {
        DeblockMacroblock(d.Current(), d.codedWidth, d.codedHeight, d.mbCoded.data(), d.mbQuant.data(), m,
                          d.hdr.mq != 0);
    }
}

int CheckSegmentHeader(Decoder& d, int m, bool* headerRead) {
    if (d.reader.ShowBits(22) >= 64) return m;
    const int next = ReadSegmentHeader(d);
    if (next >= 0) *headerRead = true;
    return next;
}

namespace {

// Decodes one macroblock of an I picture. False on a pattern that is no code.
bool DecodeIntraMacroblock(Decoder& d) {
    if (!ReadIntraHeader(d)) return false;
    if (d.analysis.current) RecordMacroblock(d, MacroblockKind::kIntra, nullptr, nullptr, false);
    const int transform = DecodeIntraBlocks(d);
    WriteIntraMacroblock(d, d.Current(), transform);
    FinishAnchorMacroblock(d, true);  // every macroblock of an I picture counts as coded
    return true;
}

}  // namespace

void DecodeIPicture(Decoder& d) {
    // The direct mode of B pictures finds no vectors in an I picture.
    std::fill(d.lastPVectors.begin(), d.lastPVectors.end(), MvRecord{});
    std::fill(d.lastPFourVector.begin(), d.lastPFourVector.end(), uint8_t{0});
    DecodeMacroblocks<DecodeIntraMacroblock>(d);
}

}  // namespace r263iri
