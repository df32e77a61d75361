// Padded reference pictures and the cut of custom sizes to the display size.
#pragma once

#include <cstdint>

#include "DecoderState.h"

namespace r263iri {

constexpr int kBorder = 15;  // samples of edge replication on every side of a padded plane

// Copies a plane of width x height samples (stride width) into a padded plane of
// (width + 30) x (height + 30) samples, replicating the edge samples into the border.
void PadPlane(const uint8_t* src, int width, int height, uint8_t* dst);

// Pads the three planes of a picture store (coded size) into a padded reference store.
void PadPicture(const Decoder& d, const uint8_t* picture, uint8_t* padded);

// Copies the display-size window of a picture store into the crop store and returns it.
const uint8_t* CropPicture(Decoder& d, const uint8_t* picture);

// The picture as handed out: cut to the display size when that differs from the coded size.
const uint8_t* OutputPicture(Decoder& d, const uint8_t* picture);

}  // namespace r263iri
