// Advanced intra coding (Annex I), encoder side.
#include "AdvancedIPrediction_Annex_I.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Dct.h"
#include "EncodeCoefficients.h"
#include "Iquant.h"
#include "Quant.h"

namespace r263avo {

namespace {

// Block indices inside a macroblock.
constexpr int kY0 = 0, kY1 = 1, kY2 = 2, kY3 = 3;

// Weight of the AC differences against the DC difference in the mode costs.
constexpr int64_t kAcWeight = 32;

int64_t DcCost(const int16_t* c, const int16_t* a, const int16_t* l) {
    int64_t ac = 0;
    for (int k = 1; k < 8; ++k) ac += std::abs(c[k]) + std::abs(c[8 * k]);
    return std::abs(c[0] - (a[0] + l[0] + 1) / 2) + kAcWeight * ac;
}

int64_t VerticalCost(const int16_t* c, const int16_t* a) {
    int64_t ac = 0;
    for (int k = 1; k < 8; ++k) ac += std::abs(c[8 * k]) + std::abs(c[k] - a[k]);
    return std::abs(c[0] - a[0]) + kAcWeight * ac;
}

int64_t HorizontalCost(const int16_t* c, const int16_t* l) {
    int64_t ac = 0;
    for (int k = 1; k < 8; ++k) ac += std::abs(c[k]) + std::abs(c[8 * k] - l[8 * k]);
    return std::abs(c[0] - l[0]) + kAcWeight * ac;
}

// The DC after prediction: made even (toward zero in modes 2 and 3, downward in mode 0), then
// made odd by adding one, then limited to 0..2048.
int16_t ReconstructDc(int s, int mode) {
    if (mode == kAicDc) {
        s -= s & 1;
    } else if (s & 1) {
        s += s > 0 ? -1 : 1;
    }
    return static_cast<int16_t>(std::clamp(s + 1, 0, 2048));
}

}  // namespace

void SetAicUnavailable(AicMacroblock& record) {
    std::memset(record.block, 0, sizeof(record.block));
    for (auto& b : record.block) b[0] = kAicUnavailableDc;
}

const AicMacroblock& AicUnavailableRecord() {
    static const AicMacroblock record = [] {
        AicMacroblock r;
        SetAicUnavailable(r);
        return r;
    }();
    return record;
}

void AicStores::Init(int mbPerRow) {
    above.assign(static_cast<size_t>(std::max(mbPerRow, 1)) + 1, AicMacroblock{});
    ResetAicStores(*this);
}

const AicMacroblock& AicStores::Above(int column) const {
    if (column < 0 || column >= Columns()) return AicUnavailableRecord();
    return above[static_cast<size_t>(column)];
}

void ResetAicStores(AicStores& stores) {
    for (auto& r : stores.above) SetAicUnavailable(r);
    SetAicUnavailable(stores.left);
}

void AicStartRow(AicStores& stores) {
    SetAicUnavailable(stores.left);
}

void AicStoreMacroblock(AicStores& stores, int column, const int16_t recon[6][64]) {
    std::memcpy(stores.left.block, recon, sizeof(stores.left.block));
    if (column >= 0 && column < stores.Columns()) stores.above[static_cast<size_t>(column)] = stores.left;
}

void AicMarkNotIntra(AicStores& stores, int column) {
    SetAicUnavailable(stores.left);
    if (column >= 0 && column < stores.Columns()) stores.above[static_cast<size_t>(column)] = stores.left;
}

const int16_t* AicLeftNeighbour(int b, const int16_t current[6][64], const AicMacroblock& left) {
    switch (b) {
        case kY0:
            return left.block[kY1];
        case kY1:
            return current[kY0];
        case kY2:
            return left.block[kY3];
        case kY3:
            return current[kY2];
        default:
            return left.block[b];
    }
}

const int16_t* AicAboveNeighbour(int b, const int16_t current[6][64], const AicMacroblock& above) {
    switch (b) {
        case kY0:
            return above.block[kY2];
        case kY1:
            return above.block[kY3];
        case kY2:
            return current[kY0];
        case kY3:
            return current[kY1];
        default:
            return above.block[b];
    }
}

int ChooseAicMode(const int16_t coefficients[6][64], const AicMacroblock& above, const AicMacroblock& left) {
    int64_t dc = 0, vertical = 0, horizontal = 0;
    for (int b = 0; b < 6; ++b) {
        const int16_t* c = coefficients[b];
        const int16_t* a = AicAboveNeighbour(b, coefficients, above);
        const int16_t* l = AicLeftNeighbour(b, coefficients, left);
        dc += DcCost(c, a, l);
        vertical += VerticalCost(c, a);
        horizontal += HorizontalCost(c, l);
    }
    // DC wins every tie it is part of; vertical wins a tie with horizontal.
    if (dc > vertical) return vertical > horizontal ? kAicHorizontal : kAicVertical;
    return dc > horizontal ? kAicHorizontal : kAicDc;
}

int AicDcPredictor(int leftDc, int aboveDc) {
    const bool leftOk = leftDc != kAicUnavailableDc;
    const bool aboveOk = aboveDc != kAicUnavailableDc;
    if (leftOk && aboveOk) return (leftDc + aboveDc) / 2;
    if (leftOk) return leftDc;
    if (aboveOk) return aboveDc;
    return kAicUnavailableDc;
}

void AicPredict(int16_t block[64], const int16_t left[64], const int16_t above[64], int mode) {
    switch (mode) {
        case kAicVertical:
            for (int k = 0; k < 8; ++k) block[k] = static_cast<int16_t>(block[k] - above[k]);
            break;
        case kAicHorizontal:
            for (int k = 0; k < 8; ++k) block[8 * k] = static_cast<int16_t>(block[8 * k] - left[8 * k]);
            break;
        default:
            block[0] = static_cast<int16_t>(block[0] - AicDcPredictor(left[0], above[0]));
            break;
    }
}

void AicReconstruct(int16_t block[64], const int16_t left[64], const int16_t above[64], int mode) {
    int s;
    switch (mode) {
        case kAicVertical:
            s = block[0] + above[0];
            for (int k = 1; k < 8; ++k) block[k] = static_cast<int16_t>(block[k] + above[k]);
            break;
        case kAicHorizontal:
            s = block[0] + left[0];
            for (int k = 1; k < 8; ++k) block[8 * k] = static_cast<int16_t>(block[8 * k] + left[8 * k]);
            break;
        default:
            mode = kAicDc;
            s = block[0] + AicDcPredictor(left[0], above[0]);
            break;
    }
    block[0] = ReconstructDc(s, mode);
}

int AicCodeMacroblock(const int16_t pixels[6][64], int qp, int chromaQp, bool modifiedQuant,
                      const AicStores& stores, int column, int16_t levels[6][64], int16_t recon[6][64],
                      ForwardDctFunction forwardDct) {
    const AicMacroblock& above = stores.Above(column);
    // A macroblock in column 0 never has a left neighbour, whatever the caller did at the row start.
    const AicMacroblock& left = column == 0 ? AicUnavailableRecord() : stores.left;

    alignas(16) int16_t coefficients[6][64];
    std::memcpy(coefficients, pixels, sizeof(coefficients));
    for (auto& b : coefficients) forwardDct(b);
    const int mode = ChooseAicMode(coefficients, above, left);

    // Blocks in order Y0..Cr: a neighbour inside the macroblock is the block reconstructed just
    // before, so `recon` is filled as it is read.
    for (int b = 0; b < 6; ++b) {
        const int q = b < 4 ? qp : chromaQp;
        const int16_t* l = AicLeftNeighbour(b, recon, left);
        const int16_t* a = AicAboveNeighbour(b, recon, above);
        int16_t residual[64];
        std::memcpy(residual, coefficients[b], sizeof(residual));
        AicPredict(residual, l, a, mode);
        QuantizeIntraBlock(residual, levels[b], q, modifiedQuant);
        DequantizeIntraCopy(levels[b], recon[b], q);
        AicReconstruct(recon[b], l, a, mode);
    }
    return mode;
}

const uint8_t* AicScan(int mode) {
    if (mode == kAicVertical) return AltHorizontalScan;
    if (mode == kAicHorizontal) return AltVerticalScan;
    return ZigzagScan;
}

}  // namespace r263avo
