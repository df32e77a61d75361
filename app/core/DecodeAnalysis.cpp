#include "DecodeAnalysis.h"

#include <cstdio>
#include <cstdlib>

#include "Job.h"

namespace tessaro {

using r263iri::MacroblockKind;

const r263iri::MacroblockAnalysis* AnalysedPicture::At(int c, int r) const {
    if (c < 0 || r < 0 || c >= mbColumns || r >= mbRows) return nullptr;
    const size_t i = static_cast<size_t>(r) * static_cast<size_t>(mbColumns) + static_cast<size_t>(c);
    return i < macroblocks.size() ? &macroblocks[i] : nullptr;
}

const AnalysedPicture* StreamAnalysis::Picture(int k) const {
    if (k < 0 || static_cast<size_t>(k) >= pictures.size()) return nullptr;
    return &pictures[static_cast<size_t>(k)];
}

bool AppendPictureAnalysis(const r263iri::PictureAnalysis* picture, StreamAnalysis* analysis) {
    if (!analysis) return false;
    if (!picture || !picture->macroblocks || picture->mbColumns <= 0 || picture->mbRows <= 0) {
        analysis->complete = false;
        return false;
    }
    const size_t count = static_cast<size_t>(picture->mbColumns) * static_cast<size_t>(picture->mbRows);
    // Once incomplete, later pictures would no longer line up with their frames.
    if (!analysis->complete ||
        (analysis->records + count) * sizeof(r263iri::MacroblockAnalysis) > kMaxAnalysisBytes) {
        analysis->complete = false;
        return false;
    }
    AnalysedPicture p;
    p.type = picture->pictureType == 0 ? 'I' : picture->pictureType == 3 ? 'B' : 'P';
    p.temporalReference = picture->temporalReference;
    p.bytes = picture->bytes;
    p.mbColumns = picture->mbColumns;
    p.mbRows = picture->mbRows;
    p.macroblocks.assign(picture->macroblocks, picture->macroblocks + count);
    analysis->pictures.push_back(std::move(p));
    analysis->records += count;
    return true;
}

const char* MacroblockKindName(MacroblockKind kind) {
    switch (kind) {
        case MacroblockKind::kNotDecoded:
            return "not decoded";
        case MacroblockKind::kNotCoded:
            return "not coded";
        case MacroblockKind::kInter:
            return "inter";
        case MacroblockKind::kInter4V:
            return "inter 4V";
        case MacroblockKind::kIntra:
            return "intra";
        case MacroblockKind::kDirect:
            return "direct";
        case MacroblockKind::kForward:
            return "forward";
        case MacroblockKind::kBackward:
            return "backward";
        case MacroblockKind::kBidirectional:
            return "bidirectional";
    }
    return "unknown";
}

std::string VectorText(int halfPelX, int halfPelY) {
    // Half-pel units to pixels: an odd value ends in .5.
    auto component = [](int v) {
        const int magnitude = std::abs(v);
        return Format("%s%d%s", v < 0 ? "-" : v > 0 ? "+" : "", magnitude / 2, (magnitude & 1) ? ".5" : "");
    };
    return Format("(%s, %s)", component(halfPelX).c_str(), component(halfPelY).c_str());
}

namespace {

std::string CbpText(int cbp) {
    // Y0 Y1 Y2 Y3 Cb Cr, one digit each.
    std::string text;
    for (int b = 0; b < 6; ++b) text += (cbp & (32 >> b)) ? '1' : '0';
    return text;
}

std::string BlockVectorsText(const r263iri::BlockVectors& v, bool four) {
    if (!four) return VectorText(v.x[0], v.y[0]);
    std::string text;
    for (int b = 0; b < 4; ++b) {
        if (b) text += ' ';
        text += VectorText(v.x[b], v.y[b]);
    }
    return text;
}

bool UsesForward(MacroblockKind k) {
    return k == MacroblockKind::kInter || k == MacroblockKind::kInter4V || k == MacroblockKind::kForward ||
           k == MacroblockKind::kBidirectional || k == MacroblockKind::kDirect;
}

bool UsesBackward(MacroblockKind k) {
    return k == MacroblockKind::kBackward || k == MacroblockKind::kBidirectional ||
           k == MacroblockKind::kDirect;
}

}  // namespace

std::string DescribeMacroblock(const AnalysedPicture& picture, int column, int row) {
    const r263iri::MacroblockAnalysis* m = picture.At(column, row);
    if (!m) return {};
    std::string text =
        Format("Macroblock %d (column %d, row %d)\n", row * picture.mbColumns + column, column, row);
    text += std::string("Type: ") + MacroblockKindName(m->kind);
    if (m->kind == MacroblockKind::kNotDecoded) return text;
    text += Format("\nQUANT: %d", m->quant);
    const bool four = m->fourVectors != 0;
    if (picture.type == 'B') {
        if (UsesForward(m->kind)) text += "\nForward vector: " + BlockVectorsText(m->forward, four);
        if (UsesBackward(m->kind)) text += "\nBackward vector: " + BlockVectorsText(m->backward, four);
    } else if (UsesForward(m->kind)) {
        text += std::string(four ? "\nVectors: " : "\nVector: ") + BlockVectorsText(m->forward, four);
    }
    text += "\nCBP: " + CbpText(m->cbp) + " (Y0 Y1 Y2 Y3 Cb Cr)";
    return text;
}

std::string PictureSummary(const AnalysedPicture& picture) {
    return Format("%c-picture, %u bytes", picture.type, picture.bytes);
}

std::vector<std::pair<std::string, std::string>> StreamPropertyRows(const StreamInfo& info,
                                                                    double frameRate) {
    std::vector<std::pair<std::string, std::string>> rows;
    std::string size = Format("%s, %dx%d", PictureFormatName(info.format), info.width, info.height);
    if (info.maxWidth != info.width || info.maxHeight != info.height) {
        size += Format(" (up to %dx%d)", info.maxWidth, info.maxHeight);
    }
    rows.emplace_back("Picture format", size);
    rows.emplace_back("Annexes", AnnexListText(info));
    rows.emplace_back("Pictures", Format("%d (%s)", info.pictures, PictureCountText(info).c_str()));
    rows.emplace_back("Size", Format("%llu bytes", static_cast<unsigned long long>(info.bytes)));
    rows.emplace_back("Bitrate",
                      Format("%.1f Kbps at %.1f fps", StreamBitrateKbps(info, frameRate), frameRate));
    const int profile = StreamProfile(info);
    rows.emplace_back("Profile", profile >= 0 ? Format("%d (%s)", profile, ProfileName(profile))
                                              : std::string("none (the annexes in use fit no profile)"));
    const int level = StreamLevel(info, frameRate);
    rows.emplace_back("Level", level >= 0
                                   ? Format("%d", level)
                                   : std::string("none (picture size, rate or bitrate above level 70)"));
    return rows;
}

}  // namespace tessaro
