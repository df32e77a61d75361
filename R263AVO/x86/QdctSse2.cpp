// SSE2 build of the vector forward transforms.
#include "../Dct.h"
#include "../Qdct.h"
#include "QdctSimd.h"

namespace r263avo {

void QdctIntraBlockSse2(int16_t block[64], int qp) {
    if (!qdct_simd::QdctIntra<qdct_simd::SseOps>(block, QdctConstants[QdctRow(qp)]))
        QdctIntraBlockC(block, qp);
}

bool QdctInterBlockSse2(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit,
                        int colLimit) {
    const int q = QdctRow(qp);
    const qdct_simd::QdctOutcome outcome = qdct_simd::QdctInter(
        block, tables.x[q], tables.y[q], tables.zeroSum[q], tables.zeroSquares[q], tables.zeroColumnSum[q],
        rowLimit, colLimit);
    if (outcome == qdct_simd::QdctOutcome::kOutOfRange)
        return QdctInterBlockC(block, tables, qp, rowLimit, colLimit);
    return outcome == qdct_simd::QdctOutcome::kLevels;
}

void ForwardDctBlockSse2(int16_t block[64]) {
    if (!qdct_simd::ForwardDct<qdct_simd::SseOps>(block, QdctConstants[0])) ForwardDctBlockC(block);
}

}  // namespace r263avo
