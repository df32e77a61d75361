// The narrow view of the encoder state that one picture coder works with, and the GOB-header
// bookkeeping the I-, P- (and later B-) picture coders share.
#pragma once

#include <cstdint>

#include "Buffer.h"
#include "MBlockOperations.h"
#include "MotionEst.h"
#include "Picture.h"
#include "PictureHeader.h"
#include "Qdct.h"

namespace r263avo {

struct PictureCoding {
    BitWriter* writer = nullptr;
    const PictureHeaderConfig* header = nullptr;
    int pictureType = 0;  // PictureType
    int tr = 0;           // temporal reference, 0..255
    int quant = 0;        // picture quantiser (luma); chroma goes through ChromaQuant
    bool modifiedQuant = false;

    // Geometry (coded size, multiples of 16).
    int mbPerRow = 0, mbCount = 0;
    bool gobHeaders = false;
    int mbPerGob = 0;  // macroblock rows per GOB x macroblocks per row

    ConstPictureView input;          // picture being coded
    PictureView recon;               // its reconstruction (I and P pictures)
    uint8_t* reconInterp = nullptr;  // half-pel image of `recon`, built at the end
    ConstPictureView reference;      // previous anchor's reconstruction (P pictures)
    const uint8_t* referenceInterp = nullptr;

    // Motion search (P pictures).
    const SpeedPreset* preset = nullptr;
    const InterQdctTables* interTables = nullptr;
    int searchWindow = 0;
    MbRecord* aboveRecords = nullptr;  // mbPerRow + 1 records
    MbRecord* leftRecord = nullptr;

    // Work buffers.
    int16_t (*blocks)[64] = nullptr;  // six blocks
    uint8_t* prediction = nullptr;    // kPredBytes
};

// Marks the row above as unavailable for prediction (picture start, GOB header) and clears the
// spare and the left record.
void ResetMotionRecords(const PictureCoding& pc);

// Called before every macroblock: writes a GOB header at the start of each GOB but the first
// (and resets the motion records there). `gobCounter` starts at 0 for each picture.
void MaybeWriteGobHeader(const PictureCoding& pc, int mbIndex, int* gobCounter);

// Coded block pattern bit of block b (0..5): 32 for block 0 down to 1 for block 5.
inline int CbpBit(int b) {
    return 32 >> b;
}

}  // namespace r263avo
