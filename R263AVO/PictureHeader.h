// Picture headers (plain PTYPE or PLUSPTYPE). GOB and slice headers are in Slice_Annex_K.h.
#pragma once

#include "Buffer.h"

namespace r263avo {

// What the picture header needs to know of the encoder's configuration.
struct PictureHeaderConfig {
    int sourceFormat = 2;                   // 1..5, or 6 custom
    int headerWidth = 0, headerHeight = 0;  // custom format: multiples of 4
    bool plusPtype = false;
    bool advIntra = false;       // Annex I
    bool deblock = false;        // Annex J
    bool slices = false;         // Annex K
    bool modifiedQuant = false;  // Annex T
    int sacFlag = 0;             // PTYPE bit 11 of a plain header
    int apFlag = 0;              // PTYPE bit 12 of a plain header
};

// PLUSPTYPE is needed as soon as any feature beyond the baseline header is in use.
bool NeedsPlusPtype(int bPictures, bool slices, bool deblock, bool advIntra, bool modifiedQuant,
                    int sourceFormat);

// Writes PSC through PEI for a picture of `pictureType` (0 I, 1 P, 3 B) with temporal reference
// `tr` (0..255) and quantiser `quant` (1..31). Starts at the writer's current (aligned) position.
void WritePictureHeader(BitWriter& bw, const PictureHeaderConfig& config, int pictureType, int tr, int quant);

}  // namespace r263avo
