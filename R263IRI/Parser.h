// Picture, GOB and slice headers.
#pragma once

#include "DecoderState.h"

namespace r263iri {

enum class HeaderStatus {
    kPicture,    // a picture header was read; the reader stands at the first bit after it
    kNoPicture,  // no picture start code before the end of the stream
};

// Searches the next picture start code bit by bit and reads the picture header that follows it.
HeaderStatus ParsePictureHeader(Decoder& d);

// The mode of the current header that the decoder does not implement, as a message, or nullptr.
const char* UnsupportedMode(const PictureHeader& h);

// Picture size named by the current header: false when the header names none (format code 0, 7
// or a plain-header custom format).
bool HeaderPictureSize(const PictureHeader& h, int* width, int* height);

// Called in front of a macroblock whose next 16 bits are zero, or after a pattern that is no code:
// searches the next GOB header (slice header with SS on) from the next byte boundary, reads it and
// resets the prediction state. Returns the macroblock number it names, or -1 when the picture ends
// there (a picture start code or the end of the stream; the reader then stands at that code).
int ReadSegmentHeader(Decoder& d);

// The header of the first slice, right after the picture header. Returns its MBA, or -1 when it
// names no macroblock of the picture.
int ReadFirstSliceHeader(Decoder& d);

// Sets every column record of the motion-vector table to unavailable and the spares to zero.
void ResetMotionPrediction(Decoder& d);

// Resets the prediction state at a picture start or a GOB or slice header: the motion-vector
// table and, with advanced intra coding, the Annex I store.
void ResetPrediction(Decoder& d);

}  // namespace r263iri
