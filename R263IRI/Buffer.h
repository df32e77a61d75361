// Allocation of the frame stores and work tables of a stream.
#pragma once

#include <cstddef>

#include "DecoderState.h"

namespace r263iri {

// Derives the stream geometry from a display size and allocates every store. Returns false when
// memory is short (the stores allocated so far stay for DecoderClose to free).
bool AllocateStores(Decoder& d, int displayWidth, int displayHeight, bool customFormat);

// Frees every store and table.
void FreeStores(Decoder& d);

// For tests: makes allocations fail once more than `bytes` bytes would be held (0 lifts the limit).
void SetAllocationLimitForTesting(size_t bytes);

}  // namespace r263iri
