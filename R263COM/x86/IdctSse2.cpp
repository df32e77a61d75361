// SSE2 build of the vector inverse DCT.
#include "../Idct.h"
#include "IdctSimd.h"

namespace r263com {

void IdctBlockSse2(int16_t block[64]) {
    idct_simd::Idct8x8<idct_simd::SseOps>(block);
}

}  // namespace r263com
