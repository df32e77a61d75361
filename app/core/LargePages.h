// Picture stores backed by large pages. A picture store is written whole at every picture, so each
// of its 4 KB pages costs a page fault the first time and a translation miss whenever the caches
// lose track of it. Where the system offers transparent large pages on request, a store of 1 MB
// or more is mapped on 2 MB boundaries and asked for them: one fault per 2 MB. On some virtual
// machines a page fault costs over 10 microseconds, and a 4CIF encode took some 600 of them
// before its first picture was done.
#pragma once

#include <cstddef>

namespace tessaro {

// n zero bytes; from 1 MB on, a mapping of whole 2 MB pages (the rest of the last one unused)
// asked for large pages. nullptr when memory is short.
void* AllocateLargePageStore(size_t n);
// Takes back a store of AllocateLargePageStore with the size it was asked for.
void ReleaseLargePageStore(void* p, size_t n);

// Makes the codec's dense stores (its reconstructed pictures) come from AllocateLargePageStore.
// Idempotent and safe on any thread; the jobs call it before they open a codec.
void UseLargePagesForPictureStores();

}  // namespace tessaro
