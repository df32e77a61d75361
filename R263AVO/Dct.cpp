// Exact forward DCT: the Qdct transform with the unscaled constants.
#include "Dct.h"

#include "Qdct.h"

namespace r263avo {

void ForwardDctBlock(int16_t block[64]) {
    QdctTransform(block, QdctConstants[0]);
}

}  // namespace r263avo
