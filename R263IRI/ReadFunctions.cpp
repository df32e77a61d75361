#include "ReadFunctions.h"

#include <bit>

namespace r263iri {

bool SearchPictureStartCode(BitReader& r) {
    for (;;) {
        if (r.BitsLeft() < 22) {
            r.SkipBits(32);  // parks the reader at the end
            return false;
        }
        const uint32_t window = r.ShowBits(16);
        if (window != 0) {
            // No prefix can start at or before the last 1 bit of the window.
            r.SkipBits(16 - static_cast<uint32_t>(std::countr_zero(window)));
            continue;
        }
        if (r.ShowBits(17) != 1) {
            r.SkipBits(1);
            continue;
        }
        if ((r.ShowBits(22) & 31) == 0) {
            r.SkipBits(22);
            return true;
        }
        r.SkipBits(17);  // a GOB, slice or end-of-sequence code
    }
}

}  // namespace r263iri
