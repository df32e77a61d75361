#include <cstdio>

#include "BpicD_Annex_O.h"
#include "Buffer.h"
#include "CPUInfo.h"
#include "FrameOperations.h"
#include "IpicD.h"
#include "Parser.h"
#include "PpicD.h"
#include "R263COM/PictureFormats.h"
#include "R263IRI.h"

namespace r263iri {
namespace {

constexpr int kMaxWidth = 2048;
constexpr int kMaxHeight = 1152;

void SetStatus(Decoder& d, DecodeStatus status, const std::string& message) {
    d.message = message;
    d.info.lastStatus = status;
    d.info.lastMessage = d.message.c_str();
}

// Sets up the stream at its first decodable picture. False (status set) when the picture's size
// is unusable or memory is short.
bool SetUpStream(Decoder& d, int width, int height, uint32_t* pictureBytes) {
    const bool custom = d.hdr.sourceFormat == 6;
    if (!AllocateStores(d, width, height, custom)) {
        FreeStores(d);
        if (pictureBytes) *pictureBytes = 0xFFFFFFFFu;
        SetStatus(d, DecodeStatus::kOutOfMemory, "the frame stores could not be allocated");
        return false;
    }
    d.setUp = true;
    d.firstFormat = d.hdr.sourceFormat;
    d.firstWidth = static_cast<uint32_t>(width);
    d.firstHeight = static_cast<uint32_t>(height);
    d.pictureBytes = static_cast<uint32_t>(width * height * 3 / 2);
    if (pictureBytes) *pictureBytes = d.pictureBytes;
    d.info.displayWidth = d.displayWidth;
    d.info.displayHeight = d.displayHeight;
    d.info.codedWidth = d.codedWidth;
    d.info.codedHeight = d.codedHeight;
    d.info.sourceFormat = static_cast<int32_t>(d.firstFormat);
    return true;
}

// Checks the picture against the stream set up by the first one. False (status set) when the
// picture cannot be decoded with the stores of the stream.
bool CheckPictureFormat(Decoder& d, int width, int height) {
    char text[160];
    if (d.hdr.sourceFormat != d.firstFormat || static_cast<uint32_t>(width) != d.firstWidth ||
        static_cast<uint32_t>(height) != d.firstHeight) {
        std::snprintf(text, sizeof text,
                      "picture size %dx%d differs from the stream's %ux%u; picture skipped", width, height,
                      d.firstWidth, d.firstHeight);
        SetStatus(d, DecodeStatus::kFormatChanged, text);
        return false;
    }
    // Advanced intra coding and deblocking may change from picture to picture: their stores exist
    // for every stream.
    return true;
}

}  // namespace

Decoder* DecoderCreate() {
    return new Decoder();
}

void DecoderDestroy(Decoder* decoder) {
    delete decoder;
}

int32_t DecoderOpen(Decoder& decoder) {
    // Clears everything but the bit reader, which the first DecodePicture call sets, and the
    // analysis switch, which is the caller's choice rather than stream state.
    const BitReader reader = decoder.reader;
    const bool analysis = decoder.analysis.on;
    decoder = Decoder();
    decoder.reader = reader;
    DecoderSetAnalysis(decoder, analysis);
    const uint32_t simd = cpuinfo::SimdFlags();
    decoder.idct = r263com::SelectIdct(simd);
    decoder.interpolate = r263com::SelectInterpolateBlock(simd);
    decoder.addClip = r263com::SelectAddClipBlock(simd);
    return 0;
}

namespace {

// True when the bits between the end of the picture header and the next byte-aligned picture start
// code (or the end of the stream) are fewer than the picture's macroblock count: every macroblock
// takes at least one bit, so such a picture is a bare header (or a cut one) and would only repeat
// the previous picture, however large the header claims it is. A start code that is not byte-aligned
// is not looked for; missing one only lets a damaged picture through to the normal decoding.
bool PictureDataTooShort(const Decoder& d) {
    const BitReader& r = d.reader;
    if (r.AtEnd()) return d.mbCount > 0;
    const uint64_t needed = static_cast<uint64_t>(d.mbCount);
    uint32_t end = r.bitIndex == 0 ? r.byteIndex : r.byteIndex + 1;
    for (; end + 2 < r.size; ++end) {
        if (r.data[end] == 0 && r.data[end + 1] == 0 && (r.data[end + 2] & 0xFC) == 0x80) break;
        if (uint64_t(end - r.byteIndex) * 8 > needed + 8) return false;  // enough already
    }
    if (end + 2 >= r.size) end = r.size;
    const uint64_t bits = uint64_t(end - r.byteIndex) * 8 - r.bitIndex;
    return bits < needed;
}

}  // namespace

const uint8_t* DecodePicture(Decoder& d, const uint8_t* stream, size_t size, uint32_t* position,
                             uint32_t* pictureBytes, int32_t first) {
    if (first) {
        d.reader.Reset(stream, size);
    } else {
        d.reader.Attach(stream, size);
    }
    const uint8_t* result = nullptr;
    int resultStore = -1;  // the store behind `result`, for the analysis
    NoteAnalysisSearchStart(d, d.reader.byteIndex);

    if (ParsePictureHeader(d) == HeaderStatus::kNoPicture) {
        SetStatus(d, DecodeStatus::kNoPicture, "no picture start code before the end of the stream");
    } else {
        ++d.info.picturesHandled;
        int width = 0, height = 0;
        const char* unsupported = UnsupportedMode(d.hdr);
        if (!HeaderPictureSize(d.hdr, &width, &height) || width <= 0 || height <= 0 || width > kMaxWidth ||
            height > kMaxHeight) {
            char text[120];
            std::snprintf(text, sizeof text,
                          "picture size %dx%d (format %u) cannot be decoded; picture skipped", width, height,
                          d.hdr.sourceFormat);
            SetStatus(d, DecodeStatus::kBadPictureSize, text);
        } else if (!d.setUp && !SetUpStream(d, width, height, pictureBytes)) {
            // status set; nothing decoded
        } else if (!CheckPictureFormat(d, width, height)) {
            // status set
        } else if (unsupported) {
            SetStatus(d, DecodeStatus::kUnsupportedMode, unsupported);
        } else if (PictureDataTooShort(d)) {
            SetStatus(d, DecodeStatus::kPictureTooShort,
                      "less data before the next picture than its macroblocks need; picture skipped");
        } else if (d.hdr.pictureType == kPicB && !d.anchorHeld) {
            SetStatus(d, DecodeStatus::kUnsupportedMode,
                      "B-picture without an anchor picture before it; picture skipped");
        } else if (d.hdr.pictureType == kPicP && d.hdr.obmc && !EnsureOverlapStore(d)) {
            if (pictureBytes) *pictureBytes = 0xFFFFFFFFu;
            SetStatus(d, DecodeStatus::kOutOfMemory, "the frame stores could not be allocated");
        } else if (d.hdr.pictureType == kPicB) {
            d.currentTr = d.hdr.customPcf && d.hdr.plusPtype ? (d.hdr.etr << 8 | d.hdr.tr) : d.hdr.tr;
            BeginPictureAnalysis(d, kAnalysisBStore);
            DecodeBPicture(d);
            EndPictureAnalysis(d);
            result = OutputPicture(d, d.bStore.data());
            resultStore = kAnalysisBStore;
            SetStatus(d, DecodeStatus::kDecoded, "B-picture");
            if (pictureBytes) *pictureBytes = d.pictureBytes;
        } else {
            d.currentTr = d.hdr.customPcf && d.hdr.plusPtype ? (d.hdr.etr << 8 | d.hdr.tr) : d.hdr.tr;
            d.currentAnchor ^= 1;  // the older anchor's store receives the new picture
            d.anchorTr[d.currentAnchor] = d.currentTr;
            d.previousAnchorValid = d.anchorHeld;
            BeginPictureAnalysis(d, d.currentAnchor);
            if (d.hdr.pictureType == kPicI) {
                DecodeIPicture(d);
            } else {
                d.lastPTr = d.currentTr;
                DecodePPicture(d);
            }
            EndPictureAnalysis(d);
            if (d.anchorHeld) {
                result = OutputPicture(d, d.Previous());
                resultStore = d.currentAnchor ^ 1;
            }
            d.anchorHeld = true;
            SetStatus(d, DecodeStatus::kDecoded, d.hdr.pictureType == kPicI ? "I-picture" : "P-picture");
            if (pictureBytes) *pictureBytes = d.pictureBytes;
        }
        ++d.pictureCounter;
    }
    if (d.analysis.on) SetReturnedAnalysis(d, result ? resultStore : -1);
    if (position) *position = d.reader.byteIndex + 1;
    return result;
}

const uint8_t* DecoderFlush(Decoder& d) {
    SetReturnedAnalysis(d, -1);
    if (!d.setUp || !d.anchorHeld) return nullptr;
    d.anchorHeld = false;
    SetReturnedAnalysis(d, d.currentAnchor);
    return OutputPicture(d, d.Current());
}

void DecoderClose(Decoder& d) {
    FreeStores(d);
    d.setUp = false;
    d.anchorHeld = false;
    d.previousAnchorValid = false;
}

const DecoderInfo& DecoderGetInfo(const Decoder& d) {
    return d.info;
}

bool StandardPictureSize(int32_t format, int32_t* width, int32_t* height) {
    int w = 0, h = 0;
    if (!width || !height || !r263com::StandardFormatSize(format, &w, &h)) return false;
    *width = w;
    *height = h;
    return true;
}

// ---- Process-wide facade -------------------------------------------------------------------

namespace {
Decoder& Global() {
    static Decoder instance;
    return instance;
}
}  // namespace

int32_t DecoderOpen() {
    return DecoderOpen(Global());
}

const uint8_t* DecodePicture(const uint8_t* stream, size_t size, uint32_t* position, uint32_t* pictureBytes,
                             int32_t first) {
    return DecodePicture(Global(), stream, size, position, pictureBytes, first);
}

const uint8_t* DecoderFlush() {
    return DecoderFlush(Global());
}

void DecoderClose() {
    DecoderClose(Global());
}

const DecoderInfo& DecoderGetInfo() {
    return DecoderGetInfo(Global());
}

}  // namespace r263iri
