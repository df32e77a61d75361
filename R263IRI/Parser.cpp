#include "Parser.h"

#include "R263COM/PictureFormats.h"

namespace r263iri {

HeaderStatus ParsePictureHeader(Decoder& d) {
    BitReader& r = d.reader;
    PictureHeader& h = d.hdr;
    if (!SearchPictureStartCode(r)) return HeaderStatus::kNoPicture;

    h.tr = r.GetBits(8);
    r.SkipBits(2);  // PTYPE bits 1-2
    h.splitScreen = r.GetBit();
    h.documentCamera = r.GetBit();
    h.freezeRelease = r.GetBit();
    const uint32_t format = r.GetBits(3);

    if (format == 7) {
        h.plusPtype = 1;
        h.ufep = r.GetBits(3);
        if (h.ufep != 0) {
            h.sourceFormat = r.GetBits(3);
            h.customPcf = r.GetBit();
            h.umv = r.GetBit();
            h.sac = r.GetBit();
            h.ap = r.GetBit();
            h.aic = r.GetBit();
            h.df = r.GetBit();
            h.ss = r.GetBit();
            h.rps = r.GetBit();
            h.isd = r.GetBit();
            h.aiv = r.GetBit();
            h.mq = r.GetBit();
            r.SkipBits(4);
        }
        h.pictureType = r.GetBits(3);
        h.rpr = r.GetBit();
        h.rru = r.GetBit();
        h.roundingType = r.GetBit();
        r.SkipBits(3);
        h.pb = 0;
        h.cpm = r.GetBit();
        if (h.cpm) h.psbi = r.GetBits(2);
        // The fields below belong to a full update (UFEP 001) only; the other non-zero values are
        // reserved and bring OPPTYPE but none of them.
        const bool fullUpdate = h.ufep == 1;
        if (fullUpdate) {
            if (h.sourceFormat == 6) {
                h.par = r.GetBits(4);
                h.pwi = r.GetBits(9);
                r.SkipBits(1);
                h.phi = r.GetBits(9);
                if (h.par == 15) {
                    h.eparWidth = r.GetBits(8);
                    h.eparHeight = r.GetBits(8);
                }
            }
            if (h.customPcf) {
                h.clockConversion = r.GetBit();
                h.clockDivisor = r.GetBits(7);
            }
        }
        if (h.customPcf) h.etr = r.GetBits(2);
        if (fullUpdate && h.umv) h.uui = r.GetBit() ? 1 : (r.GetBit() ? 2 : 0);
        if (fullUpdate && h.ss) {
            h.rs = r.GetBit();
            h.aso = r.GetBit();
        }
        if (h.pictureType == kPicB || h.pictureType == kPicEI || h.pictureType == kPicEP) {
            h.elnum = r.GetBits(4);
            if (fullUpdate) h.rlnum = r.GetBits(4);
        }
        // Reference picture selection and resampling carry fields of variable length; such
        // pictures are not decoded, so the header is not read further.
        if (h.rps || h.rpr) return HeaderStatus::kPicture;
    } else {
        h.plusPtype = 0;
        h.sourceFormat = format;
        h.pictureType = r.GetBit() ? kPicP : kPicI;
        h.umv = r.GetBit();
        h.sac = r.GetBit();
        h.ap = r.GetBit();
        h.pb = r.GetBit();
        h.roundingType = 0;
        h.rpr = h.rru = 0;
    }

    h.pquant = r.GetBits(5);
    if (!h.plusPtype) {
        h.cpm = r.GetBit();
        if (h.cpm) h.psbi = r.GetBits(2);
    }
    if (h.pb || h.pictureType == kPicImprovedPB) {
        h.trb = r.GetBits(h.plusPtype && h.customPcf ? 5 : 3);
        h.dbquant = r.GetBits(2);
    }
    // PEI and PSUPP: supplemental data is skipped (bits past the end read as 0 and end the loop).
    h.pei = r.GetBit();
    for (uint32_t pei = h.pei; pei != 0; pei = r.GetBit()) r.SkipBits(8);

    // Four-vector macroblocks belong to Annexes F and J; ffmpeg writes them in P pictures that
    // signal neither, so they are read in every P picture.
    h.fourVectors = h.pictureType == kPicP ? 1 : 0;
    h.obmc = (h.ap && h.pictureType == kPicP) ? 1 : 0;
    return HeaderStatus::kPicture;
}

const char* UnsupportedMode(const PictureHeader& h) {
    switch (h.pictureType) {
        case kPicI:
        case kPicP:
        case kPicB:
            break;
        case kPicImprovedPB:
            return "improved PB-frames (Annex M) are not supported; picture skipped";
        case kPicEI:
        case kPicEP:
            return "EI and EP pictures (Annex O) are not supported; picture skipped";
        default:
            return "reserved picture type; picture skipped";
    }
    if (h.sac) return "syntax-based arithmetic coding (Annex E) is not supported; picture skipped";
    if (h.pb) return "PB-frames (Annex G) are not supported; picture skipped";
    if (h.rps) return "reference picture selection (Annex N) is not supported; picture skipped";
    if (h.isd) return "independent segment decoding (Annex R) is not supported; picture skipped";
    if (h.rpr) return "reference picture resampling (Annex P) is not supported; picture skipped";
    if (h.rru) return "reduced-resolution update (Annex Q) is not supported; picture skipped";
    return nullptr;
}

bool HeaderPictureSize(const PictureHeader& h, int* width, int* height) {
    if (r263com::StandardFormatSize(static_cast<int>(h.sourceFormat), width, height)) return true;
    if (h.sourceFormat == 6 && h.plusPtype) {
        *width = static_cast<int>(h.pwi) * 4 + 4;
        *height = static_cast<int>(h.phi) * 4;
        return true;
    }
    return false;
}

void ResetMotionPrediction(Decoder& d) {
    for (int c = 0; c < d.mbPerRow; ++c) {
        for (int i = 0; i < 4; ++i) d.mvTable[c].x[i] = d.mvTable[c].y[i] = kMvUnavailable;
    }
    for (int c = d.mbPerRow; c < d.mbPerRow + 3; ++c) d.mvTable[c] = MvRecord{};
    d.left = &d.mvTable[d.mbPerRow + 1];
}

void ResetPrediction(Decoder& d) {
    ResetMotionPrediction(d);
    if (d.hdr.aic) ResetAicStore(d.aic);
}

namespace {

enum class Sync { kSegment, kPicture, kEnd };

// Byte-aligned search for the next start code that opens a segment of this picture: a GOB start
// code with a GOB number of the picture (slice mode off) or a slice start code (slice mode on).
// Consumes the 17-bit prefix of the code it takes. A picture start code ends the search without
// being consumed; other codes are passed over.
Sync FindSegmentStart(Decoder& d) {
    BitReader& r = d.reader;
    const uint32_t gobCount = static_cast<uint32_t>((d.mbRows + d.gobRows - 1) / d.gobRows);
    // A code right at the reader is taken even when it is not byte-aligned (stuffing before it is
    // optional); otherwise codes are looked for at byte boundaries.
    bool aligned = false;
    for (;;) {
        if (r.BitsLeft() < 22) {
            r.SkipBits(32);
            return Sync::kEnd;
        }
        if (r.ShowBits(17) == 1) {
            const uint32_t code = r.ShowBits(22) & 31;
            if (code == 0) return Sync::kPicture;
            const bool taken = d.hdr.ss ? (code & 16) != 0 : code < gobCount;
            if (taken) {
                r.SkipBits(17);
                return Sync::kSegment;
            }
        }
        if (aligned) {
            r.SkipBits(8);
        } else {
            r.ByteAlign();
            aligned = true;
        }
    }
}

int ReadSliceHeaderBody(Decoder& d, bool first) {
    BitReader& r = d.reader;
    const PictureHeader& h = d.hdr;
    r.SkipBits(1);                       // SEPB1
    if (h.cpm && !first) r.SkipBits(4);  // SSBI
    const int mba = static_cast<int>(r.GetBits(d.mbaWidth));
    if (h.rs || (!h.cpm && d.mbaWidth >= 12) || (h.cpm && d.mbaWidth >= 10)) r.SkipBits(1);  // SEPB2
    if (!first) {
        const int q = static_cast<int>(r.GetBits(5));  // SQUANT
        d.quant = q < 1 ? 1 : q;
    }
    if (h.rs) r.SkipBits(3);    // SWI
    r.SkipBits(1);              // SEPB3
    if (!first) r.SkipBits(2);  // GFID
    return mba < d.mbCount ? mba : -1;
}

}  // namespace

int ReadSegmentHeader(Decoder& d) {
    BitReader& r = d.reader;
    for (;;) {
        if (FindSegmentStart(d) != Sync::kSegment) return -1;
        int mb;
        if (d.hdr.ss) {
            mb = ReadSliceHeaderBody(d, false);
        } else {
            const int gn = static_cast<int>(r.GetBits(5));
            if (d.hdr.cpm) r.SkipBits(2);  // GSBI
            r.SkipBits(2);                 // GFID
            const int q = static_cast<int>(r.GetBits(5));
            d.quant = q < 1 ? 1 : q;
            mb = gn * d.gobRows * d.mbPerRow;
        }
        if (mb < 0) continue;  // names no macroblock of this picture: look further
        ResetPrediction(d);
        return mb;
    }
}

int ReadFirstSliceHeader(Decoder& d) {
    const int mb = ReadSliceHeaderBody(d, true);
    ResetPrediction(d);
    return mb;
}

}  // namespace r263iri
