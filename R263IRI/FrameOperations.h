// The cut of custom sizes to the display size.
#pragma once

#include <cstdint>

#include "DecoderState.h"

namespace r263iri {

// Copies the display-size window of a picture store into the crop store and returns it.
const uint8_t* CropPicture(Decoder& d, const uint8_t* picture);

// The picture as handed out: cut to the display size when that differs from the coded size.
const uint8_t* OutputPicture(Decoder& d, const uint8_t* picture);

}  // namespace r263iri
