// The decoder's inverse DCT is the encoder's (shared so that both reconstruct alike).
#include "Idct.h"

#include "../R263AVO/Idct.h"

namespace r263iri {

void IdctBlock(int16_t block[64]) {
    r263avo::IdctBlock(block);
}

void IdctBlockC(int16_t block[64]) {
    r263avo::IdctBlockC(block);
}

}  // namespace r263iri
