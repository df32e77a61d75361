#include "MacroblockAnalysis.h"

#include <algorithm>
#include <new>

#include "DecoderState.h"

namespace r263iri {
namespace {

// Vectors are bounded by the picture size and the vector range, far inside 16 bits in any stream
// that decodes; a damaged stream may pile up predictors, so the value saturates instead of
// wrapping.
int16_t Saturate16(int32_t v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

void CopyVectors(const MvRecord& from, BlockVectors* to) {
    for (int b = 0; b < 4; ++b) {
        to->x[b] = Saturate16(from.x[b]);
        to->y[b] = Saturate16(from.y[b]);
    }
}

}  // namespace

uint32_t NextPictureStart(const uint8_t* stream, uint32_t size, uint32_t from) {
    if (!stream) return size;
    for (uint32_t i = from; i + 2 < size; ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80) return i;
    }
    return size;
}

void NoteAnalysisSearchStart(Decoder& d, uint32_t byteIndex) {
    if (d.analysis.on) d.analysis.pictureStart = byteIndex;
}

void BeginPictureAnalysis(Decoder& d, int store) {
    AnalysisState& a = d.analysis;
    a.current = nullptr;
    a.currentStore = -1;
    if (!a.on || store < 0 || store > kAnalysisBStore) return;
    std::vector<MacroblockAnalysis>& table = a.records[store];
    try {
        table.assign(static_cast<size_t>(d.mbCount), MacroblockAnalysis{});
    } catch (const std::bad_alloc&) {
        std::vector<MacroblockAnalysis>().swap(table);
        a.pictures[store] = PictureAnalysis{};
        return;
    }
    PictureAnalysis& p = a.pictures[store];
    p.pictureType = static_cast<int32_t>(d.hdr.pictureType);
    p.temporalReference = d.currentTr;
    // The search started where the previous picture's data ended; the picture's own start code
    // is the first one from there.
    const BitReader& r = d.reader;
    a.pictureStart = NextPictureStart(r.data, r.size, a.pictureStart);
    p.bytes = 0;
    p.mbColumns = d.mbPerRow;
    p.mbRows = d.mbRows;
    p.macroblocks = table.data();
    a.current = table.data();
    a.currentStore = store;
}

void EndPictureAnalysis(Decoder& d) {
    AnalysisState& a = d.analysis;
    if (!a.current) return;
    const BitReader& r = d.reader;
    const uint32_t end = NextPictureStart(r.data, r.size, r.byteIndex);
    a.pictures[a.currentStore].bytes = end > a.pictureStart ? end - a.pictureStart : 0;
    a.current = nullptr;
}

void SetReturnedAnalysis(Decoder& d, int store) {
    AnalysisState& a = d.analysis;
    a.returned = a.on && store >= 0 && store <= kAnalysisBStore && !a.records[store].empty() ? store : -1;
}

void RecordMacroblock(Decoder& d, MacroblockKind kind, const MvRecord* forward, const MvRecord* backward,
                      bool fourVectors) {
    MacroblockAnalysis& m = d.analysis.current[d.mbNumber];
    m.kind = kind;
    m.quant = static_cast<uint8_t>(d.quant);
    m.cbp = static_cast<uint8_t>(d.cbp & 63);
    m.fourVectors = fourVectors ? 1 : 0;
    m.forward = BlockVectors{};
    m.backward = BlockVectors{};
    if (forward) CopyVectors(*forward, &m.forward);
    if (backward) CopyVectors(*backward, &m.backward);
}

void DecoderSetAnalysis(Decoder& decoder, bool on) {
    AnalysisState& a = decoder.analysis;
    a.on = on;
    a.current = nullptr;
    a.returned = -1;
    if (!on) {
        for (auto& table : a.records) std::vector<MacroblockAnalysis>().swap(table);
        for (auto& p : a.pictures) p = PictureAnalysis{};
    }
}

const PictureAnalysis* DecoderPictureAnalysis(const Decoder& decoder) {
    const AnalysisState& a = decoder.analysis;
    if (!a.on || a.returned < 0) return nullptr;
    return &a.pictures[a.returned];
}

}  // namespace r263iri
