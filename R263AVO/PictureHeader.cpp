#include "PictureHeader.h"

namespace r263avo {

namespace {

constexpr int kFormatCustom = 6;
constexpr int kFormatExtended = 7;  // PTYPE source format announcing PLUSPTYPE
constexpr int kTypeB = 3;

void WritePlusPtype(BitWriter& bw, const PictureHeaderConfig& c, int pictureType) {
    bw.PutBits(3, kFormatExtended);
    bw.PutBits(3, 1);  // UFEP 001: the full OPPTYPE follows in every picture

    // OPPTYPE, 18 bits.
    bw.PutBits(3, static_cast<uint32_t>(c.sourceFormat));
    bw.PutBits(1, 0);  // custom picture clock frequency
    bw.PutBits(1, 0);  // unrestricted motion vectors
    bw.PutBits(1, 0);  // syntax-based arithmetic coding
    bw.PutBits(1, 0);  // advanced prediction
    bw.PutBits(1, c.advIntra ? 1 : 0);
    bw.PutBits(1, (c.deblock && pictureType != kTypeB) ? 1 : 0);  // B-pictures are never filtered
    bw.PutBits(1, c.slices ? 1 : 0);
    bw.PutBits(1, 0);  // reference picture selection
    bw.PutBits(1, 0);  // independent segment decoding
    bw.PutBits(1, 0);  // alternative inter VLC
    bw.PutBits(1, c.modifiedQuant ? 1 : 0);
    bw.PutBits(4, 8);  // 1, 000

    // MPPTYPE, 9 bits: picture type, RPR 0, RRU 0, rounding type 0, then 001.
    bw.PutBits(3, static_cast<uint32_t>(pictureType));
    bw.PutBits(3, 0);
    bw.PutBits(3, 1);

    bw.PutBits(1, 0);  // CPM: no sub-bitstreams

    if (c.sourceFormat == kFormatCustom) {
        bw.PutBits(4, 2);  // pixel aspect ratio 12:11
        bw.PutBits(9, static_cast<uint32_t>(c.headerWidth / 4 - 1));
        bw.PutBits(1, 1);
        bw.PutBits(9, static_cast<uint32_t>(c.headerHeight / 4));
    }
    if (c.slices) bw.PutBits(2, 0);  // SSS: no rectangular slices, no arbitrary slice ordering
    if (pictureType == kTypeB) {
        bw.PutBits(4, 1);  // ELNUM
        bw.PutBits(4, 1);  // RLNUM
    }
}

}  // namespace

bool NeedsPlusPtype(int bPictures, bool slices, bool deblock, bool advIntra, bool modifiedQuant,
                    int sourceFormat) {
    return bPictures > 0 || slices || deblock || advIntra || modifiedQuant || sourceFormat == kFormatCustom;
}

void WritePictureHeader(BitWriter& bw, const PictureHeaderConfig& c, int pictureType, int tr, int quant) {
    bw.PutBits(17, 1);  // PSC
    bw.PutBits(5, 0);
    bw.PutBits(8, static_cast<uint32_t>(tr & 255));
    // PTYPE bits 1-5: marker 1, 0, split screen, document camera, freeze picture release.
    bw.PutBits(5, 0x10);
    if (c.plusPtype) {
        WritePlusPtype(bw, c, pictureType);
        bw.PutBits(5, static_cast<uint32_t>(quant));
    } else {
        bw.PutBits(3, static_cast<uint32_t>(c.sourceFormat));
        bw.PutBits(1, pictureType == 0 ? 0 : 1);
        bw.PutBits(1, 0);  // unrestricted motion vectors
        bw.PutBits(1, c.sacFlag ? 1 : 0);
        bw.PutBits(1, c.apFlag ? 1 : 0);
        bw.PutBits(1, 0);  // PB-frames
        bw.PutBits(5, static_cast<uint32_t>(quant));
        bw.PutBits(1, 0);  // CPM
    }
    bw.PutBits(1, 0);  // PEI: no PSUPP
}

}  // namespace r263avo
