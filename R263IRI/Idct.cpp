// The decoder's inverse DCT is the shared one (R263COM/Idct), the same the encoder runs.
#include "Idct.h"

#include "R263COM/Idct.h"

namespace r263iri {

void IdctBlock(int16_t block[64]) {
    r263com::IdctBlock(block);
}

void IdctBlockC(int16_t block[64]) {
    r263com::IdctBlockC(block);
}

}  // namespace r263iri
