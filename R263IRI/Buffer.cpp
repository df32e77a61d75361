#include "Buffer.h"

#include <algorithm>
#include <new>

namespace r263iri {
namespace {

size_t gAllocationLimit = 0;

int MbaWidth(int mbCount) {
    if (mbCount <= 48) return 6;
    if (mbCount <= 99) return 7;
    if (mbCount <= 396) return 9;
    if (mbCount <= 1584) return 11;
    if (mbCount <= 6336) return 13;
    return 14;
}

template <typename T>
void Allocate(std::vector<T>& v, size_t n, const T& fill, size_t* total) {
    *total += n * sizeof(T);
    if (gAllocationLimit != 0 && *total > gAllocationLimit) throw std::bad_alloc();
    v.assign(n, fill);
}

}  // namespace

void SetAllocationLimitForTesting(size_t bytes) {
    gAllocationLimit = bytes;
}

bool AllocateStores(Decoder& d, int displayWidth, int displayHeight, bool customFormat) {
    d.displayWidth = displayWidth;
    d.displayHeight = displayHeight;
    d.codedWidth = (displayWidth + 15) & ~15;
    d.codedHeight = (displayHeight + 15) & ~15;
    d.chromaWidth = d.codedWidth / 2;
    d.chromaHeight = d.codedHeight / 2;
    d.mbPerRow = d.codedWidth / 16;
    d.mbRows = d.codedHeight / 16;
    d.mbCount = d.mbPerRow * d.mbRows;
    d.mbaWidth = MbaWidth(d.mbCount);
    // Macroblock rows per GOB: for custom formats from the signalled (display) height, 1 up to 400
    // lines, 2 up to 800, 4 above; the standard formats give 1 up to CIF, 2 for 4CIF, 4 for 16CIF.
    const int lines = customFormat ? displayHeight : d.codedHeight;
    d.gobRows = customFormat ? (lines <= 400 ? 1 : (lines <= 800 ? 2 : 4))
                             : (lines <= 288 ? 1 : (lines <= 576 ? 2 : 4));
    const size_t picture = static_cast<size_t>(d.PictureSize());
    size_t total = 0;
    try {
        if (customFormat) {
            Allocate(d.cropStore, static_cast<size_t>(displayWidth) * displayHeight * 3 / 2, uint8_t{0},
                     &total);
        }
        for (auto& a : d.anchor) {
            Allocate(a, picture, uint8_t{0}, &total);
            // Chroma at the neutral value, so that areas never decoded show black.
            std::fill(a.begin() + d.LumaSize(), a.end(), uint8_t{128});
        }
        Allocate(d.bStore, picture, uint8_t{0}, &total);
        Allocate(d.lastPVectors, static_cast<size_t>(d.mbCount), MvRecord{}, &total);
        Allocate(d.lastPFourVector, static_cast<size_t>(d.mbCount), uint8_t{0}, &total);
        Allocate(d.mvTable, static_cast<size_t>(d.mbPerRow) + 3, MvRecord{}, &total);
        // The Annex I and J stores are small; they are kept for every stream, so that a stream
        // may switch those modes on at any picture.
        total += (static_cast<size_t>(d.mbPerRow) + 1) * kAicRecordSize * sizeof(int16_t);
        if (gAllocationLimit != 0 && total > gAllocationLimit) throw std::bad_alloc();
        d.aic.Init(d.mbPerRow);
        Allocate(d.mbCoded, static_cast<size_t>(d.mbCount), uint8_t{0}, &total);
        Allocate(d.mbQuant, static_cast<size_t>(d.mbCount), uint8_t{1}, &total);
    } catch (const std::bad_alloc&) {
        return false;
    }
    d.storeBytes = total;
    d.left = &d.mvTable[d.mbPerRow + 1];
    return true;
}

bool EnsureOverlapStore(Decoder& d) {
    const size_t count = static_cast<size_t>(d.mbCount);
    if (d.deferred.size() == count) return true;
    size_t total = d.storeBytes;
    try {
        Allocate(d.deferred, count, DeferredMacroblock{}, &total);
    } catch (const std::bad_alloc&) {
        return false;
    }
    d.storeBytes = total;
    return true;
}

void FreeStores(Decoder& d) {
    for (auto& a : d.anchor) std::vector<uint8_t>().swap(a);
    std::vector<uint8_t>().swap(d.bStore);
    std::vector<uint8_t>().swap(d.cropStore);
    std::vector<MvRecord>().swap(d.lastPVectors);
    std::vector<uint8_t>().swap(d.lastPFourVector);
    std::vector<int16_t>().swap(d.aic.records);
    d.aic.columns = 0;
    d.aic.left = 0;
    std::vector<uint8_t>().swap(d.mbCoded);
    std::vector<uint8_t>().swap(d.mbQuant);
    std::vector<DeferredMacroblock>().swap(d.deferred);
    std::vector<MvRecord>().swap(d.mvTable);
    d.storeBytes = 0;
    d.left = nullptr;
}

}  // namespace r263iri
