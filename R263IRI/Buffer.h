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

// The store of deferred macroblocks that overlapped block motion compensation (Annex F) needs,
// some 800 bytes a macroblock: made when the first picture that uses it arrives. False when
// memory is short.
bool EnsureOverlapStore(Decoder& d);

// For tests: makes allocations fail once more than `bytes` bytes would be held (0 lifts the limit).
void SetAllocationLimitForTesting(size_t bytes);

}  // namespace r263iri
