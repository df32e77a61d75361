#include "QuantTables.h"

namespace r263com {

const uint8_t kChromaQuantT2[32] = {0,  1,  2,  3,  4,  5,  6,  6,  7,  8,  9,  9,  10, 10, 11, 11,
                                    12, 12, 12, 13, 13, 13, 14, 14, 14, 14, 14, 15, 15, 15, 15, 15};

}  // namespace r263com
