// Encoder open/close, geometry, buffers, the per-call dispatch to the picture coders, the input
// copy and the process-wide facade.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "Bpic_Annex_O.h"
#include "CPUInfo.h"
#include "EncoderState.h"
#include "Ipic.h"
#include "Ppic.h"
#include "R263COM/CodingTypes.h"
#include "R263COM/PictureFormats.h"
#include "Slice_Annex_K.h"
#include "Snr.h"

namespace r263avo {

namespace {

constexpr int kFormatCustom = 6;
constexpr int kMinQuant = 5;
constexpr int kMaxQuant = 31;
constexpr int kMaxBPictures = 5;
// Vectors must stay within the -16..15.5 pixel range that an MVD can reach without Annex D; with
// the half-pel refinement on top, 15 whole pixels is the widest search that keeps them there.
constexpr int kMaxSearchWindow = 15;
constexpr int kMaxCustomWidth = 2048;
constexpr int kMaxCustomHeight = 1152;

// The public picture type codes are the shared MPPTYPE numbers.
static_assert(static_cast<int>(kPictureI) == r263com::kPicI &&
              static_cast<int>(kPictureP) == r263com::kPicP && static_cast<int>(kPictureB) == r263com::kPicB);

int RoundUp(int v, int m) {
    return (v + m - 1) / m * m;
}

// Copies one plane of iw x ih samples into a w x h plane, repeating the last sample of each line
// and the last line.
void CopyPlaneExtended(const uint8_t* src, int iw, int ih, uint8_t* dst, int w, int h) {
    for (int j = 0; j < ih; ++j) {
        const uint8_t* s = src + static_cast<long>(j) * iw;
        uint8_t* d = dst + static_cast<long>(j) * w;
        std::memcpy(d, s, static_cast<size_t>(iw));
        std::memset(d + iw, s[iw - 1], static_cast<size_t>(w - iw));
    }
    const uint8_t* last = dst + static_cast<long>(ih - 1) * w;
    for (int j = ih; j < h; ++j) std::memcpy(dst + static_cast<long>(j) * w, last, static_cast<size_t>(w));
}

void CopyInput(const Geometry& g, const uint8_t* picture, uint8_t* store) {
    if (g.inputWidth == g.width && g.inputHeight == g.height) {
        std::memcpy(store, picture, g.pictureBytes);
        return;
    }
    const int iw = g.inputWidth, ih = g.inputHeight;
    const int w = g.width, h = g.height;
    const long inLuma = static_cast<long>(iw) * ih;
    const long inChroma = static_cast<long>(iw / 2) * (ih / 2);
    const long luma = static_cast<long>(w) * h;
    const long chroma = luma / 4;
    CopyPlaneExtended(picture, iw, ih, store, w, h);
    CopyPlaneExtended(picture + inLuma, iw / 2, ih / 2, store + luma, w / 2, h / 2);
    CopyPlaneExtended(picture + inLuma + inChroma, iw / 2, ih / 2, store + luma + chroma, w / 2, h / 2);
}

int ClampedBPictures(const EncoderParams& p) {
    return p.UseTrueBPictures ? std::clamp(p.BPictures, 0, kMaxBPictures) : 0;
}

// The reason the parameters cannot be coded, naming the setting at fault, or null when they can.
const char* ParamsRefusal(const EncoderParams& p) {
    if (p.SourceFormat < 1 || p.SourceFormat > kFormatCustom) return "SourceFormat must be 1 to 6";
    if (p.Speed < 1 || p.Speed > 5) return "Speed must be 1 to 5";
    if (p.FrameRateActual < 1) return "FrameRateActual must be 1 or more";
    // The B-picture schedule holds every input frame: a frame step would make the anchors and
    // the call results disagree about which frames the caller hands in.
    if (ClampedBPictures(p) > 0 && p.FrameRateActual > 1)
        return "B-pictures (UseTrueBPictures, BPictures) need FrameRateActual 1";
    if (p.UseSliceMode && p.MBlocksPerSlice < 1) return "MBlocksPerSlice must be 1 or more with UseSliceMode";
    // The rate controller divides by the clock rate.
    if (p.RateControl == 1 && !(std::isfinite(p.FrameRateTarget) && p.FrameRateTarget > 0.0f))
        return "FrameRateTarget must be above 0 with RateControl";
    return nullptr;
}

// The view of the encoder state for one picture coded from `input` (a picture at the coded
// size). Anchors reconstruct into the current reconstruction and predict from the other one;
// B-pictures predict from the other one too (the anchor before the latest) and reconstruct, when
// asked, into their own store.
PictureCoding MakePictureCoding(Encoder& e, int pictureType, int32_t trSource, const uint8_t* input,
                                int current, int ref) {
    const Geometry& g = e.geo;
    const EncoderParams& p = e.params;
    PictureCoding pc;
    pc.kernels = &e.kernels;
    pc.writer = &e.writer;
    pc.header = &e.header;
    pc.pictureType = pictureType;
    pc.tr = trSource & 255;
    pc.quant = e.quant;
    pc.modifiedQuant = e.modifiedQuant;
    pc.mbPerRow = g.mbPerRow;
    pc.mbCount = g.mbCount;
    pc.gobHeaders = e.gobHeaders;
    pc.mbPerGob = g.gobRows * g.mbPerRow;
    pc.slices = p.UseSliceMode != 0;
    pc.mbPerSlice = p.MBlocksPerSlice;
    pc.mbaBits = g.mbaBits;
    pc.input = MakeConstPictureView(input, g.width, g.height);
    if (pictureType == kPictureB) {
        pc.reconstruct = !e.bRecon.empty();
        if (pc.reconstruct) pc.recon = MakePictureView(e.bRecon.data(), g.width, g.height);
    } else {
        pc.recon = MakePictureView(e.recon[current], g.width, g.height);
        pc.deblock = p.UseDeblockFilter != 0;
        pc.mbCoded = e.mbCoded[current].data();
        pc.mbQuant = e.mbQuant[current].data();
    }
    pc.reference = MakePictureView(e.recon[ref], g.width, g.height);
    pc.preset = &e.preset;
    pc.interTables = &e.interTables;
    pc.searchWindow = p.SearchWindow;
    pc.aboveRecords = e.aboveRecords.data();
    pc.leftRecord = &e.leftRecord;
    pc.advIntra = p.UseAdvIntraCoding != 0;
    pc.aic = &e.aic;
    pc.blocks = e.blocks;
    pc.aicPixels = e.aicPixels;
    pc.aicRecon = e.aicRecon;
    pc.prediction = e.prediction;
    pc.wavefront = e.wavefront.Threads() > 1 ? &e.wavefront : nullptr;
    pc.decisions = e.decisions.empty() ? nullptr : e.decisions.data();
    return pc;
}

// The view for the current reconstruction and its reference.
PictureCoding MakePictureCoding(Encoder& e, int pictureType, int32_t trSource, const uint8_t* input) {
    return MakePictureCoding(e, pictureType, trSource, input, e.current, e.reference);
}

void NoteCoded(Encoder& e, int pictureType, int32_t frame, const uint8_t* recon, const uint8_t* input) {
    e.lastCoded = true;
    e.lastFrame = frame;
    e.lastType = pictureType;
    e.lastRecon = recon;
    e.lastInput = input;
}

// Sets the current quantiser for an anchor of `pictureType`. The first P-picture starts from
// PQuantizer; afterwards rate control carries its own quantiser over. With a constant quantiser
// every P-picture uses PQuantizer, also after an I-picture that an intra request put in between.
void SetAnchorQuant(Encoder& e, int pictureType) {
    if (pictureType == kPictureI) {
        e.quant = e.params.IQuantizer;
        return;
    }
    if (e.schedule.firstPPending || e.rateControl.mode != 1) e.quant = e.params.PQuantizer;
    e.schedule.firstPPending = false;
}

// B-pictures follow the same rule as P-pictures, with a first-B flag of their own.
void SetBQuant(Encoder& e) {
    if (e.schedule.firstBPending || e.rateControl.mode != 1) e.quant = e.params.PQuantizer;
    e.schedule.firstBPending = false;
}

// The reconstruction store that is neither the current picture's nor its reference; with two
// stores, the reference (the next anchor overwrites it).
int SpareRecon(const Encoder& e) {
    for (int k = 0; k < e.reconCount; ++k) {
        if (k != e.current && k != e.reference) return k;
    }
    return e.reference;
}

// Codes `input` (a picture at the coded size) as an I- or P-picture of input frame `frame`,
// with temporal reference source `trSource`.
void CodeAnchor(Encoder& e, int pictureType, int32_t frame, int32_t trSource, const uint8_t* input) {
    SetAnchorQuant(e, pictureType);
    // The latest anchor becomes the reference. The picture goes into the store its rows were
    // coded ahead in, when they were coded for it; else into the store neither of the two holds
    // (with two stores, the old reference).
    const bool aheadFits =
        e.ahead && e.aheadFrame == frame && e.aheadInput == input && pictureType == kPictureP;
    const int next = aheadFits ? e.aheadRecon : SpareRecon(e);
    e.reference = e.current;
    e.current = next;
    if (!aheadFits) e.wavefront.DropAhead();
    e.ahead = false;
    const PictureCoding pc = MakePictureCoding(e, pictureType, trSource, input);
    // The next frame, when the caller has it and it will be the next anchor, a P-picture with
    // the same quantiser: its top rows are coded beside this picture's rows, into the store that
    // is neither this picture's nor its reference.
    if (e.codeAhead && e.nextPicture && e.nextFrame == e.schedule.nextAnchor && !e.schedule.intraPending) {
        const int store = SpareRecon(e);
        PictureCoding nextPc = MakePictureCoding(e, kPictureP, e.nextFrame, e.nextPicture, store, e.current);
        nextPc.quant = e.params.PQuantizer;
        e.wavefront.SetNext(nextPc, PMacroblockCoder());
        e.ahead = true;
        e.aheadFrame = e.nextFrame;
        e.aheadInput = e.nextPicture;
        e.aheadRecon = store;
    }
    e.nextPicture = nullptr;
    if (pictureType == kPictureI) {
        CodeIPicture(pc);
    } else {
        CodePPicture(pc);
    }
    e.schedule.lastAnchorFrame = frame;
    NoteCoded(e, pictureType, frame, e.recon[e.current], input);
}

// Codes the picture held in B-slot `slot` as a B-picture and empties the slot.
void CodeHeldB(Encoder& e, int slot) {
    SetBQuant(e);
    const int32_t frame = e.bSlotFrame[slot];
    const uint8_t* input = e.bSlots[slot].data();
    CodeBPicture(MakePictureCoding(e, kPictureB, frame, input));
    e.bSlotFrame[slot] = -1;
    NoteCoded(e, kPictureB, frame, e.bRecon.empty() ? nullptr : e.bRecon.data(), input);
}

// Codes the first I-picture, held since the first call. Its TR is 0 whatever its frame number,
// and rate control makes no update after it.
void CodeHeldFirstAnchor(Encoder& e) {
    CodeAnchor(e, kPictureI, e.schedule.heldAnchorFrame, 0, e.anchorInput.data());
    e.schedule.firstAnchorPending = false;
}

// The SNR of the picture coded by this call against its own input, when it was reconstructed.
void MeasureSnr(Encoder& e) {
    if (!e.computeSnr || !e.lastCoded || e.lastRecon == nullptr) return;
    const Geometry& g = e.geo;
    const SnrValues s =
        ComputeSnr(MakeConstPictureView(e.lastRecon, g.width, g.height),
                   MakeConstPictureView(e.lastInput, g.width, g.height), g.inputWidth, g.inputHeight);
    e.stats.SnrY = s.y;
    e.stats.SnrU = s.u;
    e.stats.SnrV = s.v;
}

// Pads the call's bitstream to a byte boundary and hands its bytes to the caller.
uint32_t FinishCall(Encoder& e) {
    e.writer.AlignToByte();
    const uint32_t bytes = e.writer.ByteCount();
    e.stats.OutputBuffer = e.output.data();
    e.stats.ByteCount = bytes;
    e.writer.ResetByteCount();
    return bytes;
}

}  // namespace

int CustomGobRows(int lines) {
    if (lines <= 400) return 1;
    if (lines <= 800) return 2;
    return 4;
}

bool DeriveGeometry(int format, int width, int height, Geometry* g) {
    if (format < 1 || format > kFormatCustom) return false;
    if (width < 4 || height < 4 || (width & 1) || (height & 1)) return false;
    Geometry r;
    r.format = format;
    r.inputWidth = width;
    r.inputHeight = height;
    if (format == kFormatCustom) {
        r.headerWidth = RoundUp(width, 4);
        r.headerHeight = RoundUp(height, 4);
        r.width = RoundUp(width, 16);
        r.height = RoundUp(height, 16);
        if (r.width > kMaxCustomWidth || r.height > kMaxCustomHeight) return false;
        r.gobRows = CustomGobRows(r.headerHeight);
    } else {
        int fw = 0, fh = 0;
        if (!r263com::StandardFormatSize(format, &fw, &fh)) return false;
        // A smaller input is extended to the format's size; a larger one cannot be coded.
        if (width > fw || height > fh) return false;
        r.width = fw;
        r.height = fh;
        r.headerWidth = fw;
        r.headerHeight = fh;
        r.gobRows = r263com::kFormatGobRows[format];
    }
    r.mbPerRow = r.width / 16;
    r.mbRows = r.height / 16;
    r.mbCount = r.mbPerRow * r.mbRows;
    r.mbaBits = MbaFieldWidth(r.mbCount);
    r.pictureBytes = static_cast<size_t>(r.width) * r.height * 3 / 2;
    *g = r;
    return true;
}

Position ClassifyCall(Schedule& s, int32_t frame, bool intraRequest) {
    if (s.bPictures > 0 && !s.intraPending && intraRequest) s.intraPending = true;
    if (frame == s.startFrame) {
        s.intraPending = false;
        s.nextAnchor = frame + s.step + s.bPictures;
        return Position::kI;
    }
    if (s.bPictures == 0 && intraRequest) {
        s.nextAnchor = frame + s.step;
        return Position::kI;
    }
    if (frame != s.nextAnchor) return Position::kB;
    s.nextAnchor = frame + s.step + s.bPictures;
    if (s.intraPending) {
        s.intraPending = false;
        return Position::kI;
    }
    return Position::kP;
}

void Encoder::Release() {
    isOpen = false;
    output.Clear();
    reconStore.Clear();
    recon = {};
    anchorInput.Clear();
    bSlots.clear();
    bSlotFrame = {};
    bRecon.Clear();
    aic = AicStores{};
    mbCoded = {};
    mbQuant = {};
    codeAhead = false;
    ahead = false;
    nextPicture = nullptr;
    aboveRecords = {};
    decisions = {};
    wavefront.Release();
    lastCoded = false;
    lastRecon = nullptr;
    lastInput = nullptr;
    stats.OutputBuffer = nullptr;
    stats.ByteCount = 0;
}

Encoder* EncoderCreate() {
    return new (std::nothrow) Encoder();
}

void EncoderDestroy(Encoder* encoder) {
    delete encoder;
}

int32_t EncoderOpen(Encoder& e, const EncoderParams& params) {
    e.Release();  // opening again replaces the previous run
    e.lastError = ParamsRefusal(params);
    if (e.lastError) return -1;
    Geometry geo;
    if (!DeriveGeometry(params.SourceFormat, params.Width, params.Height, &geo)) {
        e.lastError = params.SourceFormat == kFormatCustom
                          ? "Width and Height must be even, at least 4 and within the custom size limit"
                          : "Width and Height must be even, at least 4 and not above the SourceFormat's size";
        return -1;
    }

    EncoderParams p = params;
    p.PQuantizer = std::clamp(p.PQuantizer, kMinQuant, kMaxQuant);
    p.IQuantizer = std::clamp(p.IQuantizer, kMinQuant, kMaxQuant);
    p.BPictures = ClampedBPictures(p);
    p.SearchWindow = std::clamp(p.SearchWindow, 0, kMaxSearchWindow);
    p.MBlocksPerSlice = std::max(p.MBlocksPerSlice, 1);

    // More threads than macroblock rows would only wait.
    const int threads = std::min(ResolveThreadCount(p.Threads), geo.mbRows);
    // Two threads code the next picture's top rows beside the current picture's, where nothing
    // about the next picture depends on how the current one turns out: no B-pictures, a constant
    // quantiser, and the caller's pictures used as they are.
    const bool codeAhead = threads == 2 && p.BPictures == 0 && p.RateControl != 1 && !p.RecordDecisions &&
                           geo.inputWidth == geo.width && geo.inputHeight == geo.height;
    try {
        // Sized for the worst case (every coefficient escaped, headers everywhere), so no content
        // can overflow it.
        e.output.Reset(WorstCasePictureBytes(geo.mbCount));
        const int stores = codeAhead ? 3 : 2;
        e.reconStore.ResetDense(static_cast<size_t>(stores) * geo.pictureBytes);
        e.recon = {};
        for (int k = 0; k < stores; ++k)
            e.recon[static_cast<size_t>(k)] = e.reconStore.data() + k * geo.pictureBytes;
        e.reconCount = stores;
        e.anchorInput.Reset(geo.pictureBytes);
        e.aboveRecords.assign(static_cast<size_t>(geo.mbPerRow) + 1, MbRecord{});
        e.bSlots.resize(static_cast<size_t>(p.BPictures));
        for (auto& b : e.bSlots) b.Reset(geo.pictureBytes);
        e.bSlotFrame.assign(static_cast<size_t>(p.BPictures), -1);
        if (p.BPictures > 0 && p.ReconstructBPictures) e.bRecon.Reset(geo.pictureBytes);
        if (p.UseAdvIntraCoding) e.aic.Init(geo.mbPerRow);
        if (p.UseDeblockFilter) {
            for (int k = 0; k < stores; ++k) {
                e.mbCoded[static_cast<size_t>(k)].assign(static_cast<size_t>(geo.mbCount), 1);
                e.mbQuant[static_cast<size_t>(k)].assign(static_cast<size_t>(geo.mbCount), 1);
            }
        }
        if (p.RecordDecisions) e.decisions.assign(static_cast<size_t>(geo.mbCount), MacroblockDecision{});
    } catch (const std::bad_alloc&) {
        e.Release();
        e.lastError = "not enough memory for the encoder's picture stores";
        return -1;
    }
    // Should the threads not start, the calling thread codes alone, with the same bytes.
    if (threads > 1) e.wavefront.Init(threads, geo.mbPerRow, geo.mbRows, p.UseAdvIntraCoding != 0);
    e.codeAhead = codeAhead && e.wavefront.Threads() == 2;

    e.params = p;
    e.geo = geo;
    e.gobHeaders = p.GOBMode != 0 && p.UseSliceMode == 0;
    e.modifiedQuant = p.UseModifiedQuant != 0;
    e.computeSnr = p.ComputeSnr;
    e.header = PictureHeaderConfig{};
    e.header.sourceFormat = geo.format;
    e.header.headerWidth = geo.headerWidth;
    e.header.headerHeight = geo.headerHeight;
    e.header.advIntra = p.UseAdvIntraCoding != 0;
    e.header.deblock = p.UseDeblockFilter != 0;
    e.header.slices = p.UseSliceMode != 0;
    e.header.modifiedQuant = e.modifiedQuant;
    e.header.sacFlag = p.PtypeSacFlag;
    e.header.apFlag = p.PtypeApFlag;
    e.header.plusPtype = NeedsPlusPtype(p.BPictures, e.header.slices, e.header.deblock, e.header.advIntra,
                                        e.header.modifiedQuant, geo.format);

    e.kernels = SelectEncoderKernels(cpuinfo::SimdFlags());
    e.preset = SpeedPresets[p.Speed - 1];
    InitInterQdctTables(e.interTables, e.preset.qdctParam);

    e.schedule = Schedule{};
    e.schedule.startFrame = p.StartFrame;
    e.schedule.step = p.FrameRateActual;
    e.schedule.bPictures = p.BPictures;
    e.current = 0;
    e.reference = 1;
    e.ahead = false;
    e.nextPicture = nullptr;
    e.quant = p.PQuantizer;
    e.leftRecord = MbRecord{};
    RateControlReset(e.rateControl, p);
    e.writer.Reset(e.output.data(), e.output.size());
    e.stats = EncoderStats{};
    e.stats.OutputBuffer = e.output.data();
    e.lastCoded = false;
    e.lastFrame = -1;
    e.lastType = -1;
    e.isOpen = true;
    return 0;
}

int32_t EncodeFrame(Encoder& e, int32_t frame, int32_t intraRequest, uint32_t* iPicture,
                    const uint8_t* picture, uint32_t* byteCount) {
    if (byteCount) *byteCount = 0;
    // The next frame's hint holds for this call only.
    struct HintForThisCall {
        Encoder& e;
        ~HintForThisCall() { e.nextPicture = nullptr; }
    } hint{e};
    if (!e.isOpen || picture == nullptr) return -1;
    // The next anchor and the result lie up to step + nB frames ahead and must stay countable.
    if (frame > std::numeric_limits<int32_t>::max() - e.schedule.step - e.schedule.bPictures) return -1;
    e.lastCoded = false;
    e.stats.ByteCount = 0;

    Schedule& sc = e.schedule;
    const Schedule saved = sc;
    const int nB = sc.bPictures;
    const Position position = ClassifyCall(sc, frame, intraRequest != 0);
    // Without B-pictures there is no slot to hold a frame at a B position; with them, an anchor
    // cannot follow while the first I-picture is still held (the caller skipped frames).
    const bool unplaceable =
        position == Position::kB ? nB == 0 : nB > 0 && sc.firstAnchorPending && frame != sc.startFrame;
    if (unplaceable) {
        sc = saved;
        return -1;
    }

    int32_t trSource = frame;
    int storeSlot = -1;  // the B-slot that receives this call's input once its old picture is coded
    if (position == Position::kB) {
        storeSlot = sc.bSlotIndex;
        if (e.bSlotFrame[storeSlot] != -1) {
            trSource = e.bSlotFrame[storeSlot];
            CodeHeldB(e, storeSlot);
        } else if (storeSlot == nB - 1 && sc.firstAnchorPending) {
            trSource = 0;
            CodeHeldFirstAnchor(e);
        }
        sc.bSlotIndex = storeSlot + 1 < nB ? storeSlot + 1 : 0;
    } else if (nB == 0 && e.geo.inputWidth == e.geo.width && e.geo.inputHeight == e.geo.height) {
        // Without B-pictures the anchor is coded (and its SNR measured) within this call, so a
        // picture already at the coded size is read from the caller's buffer without a copy.
        CodeAnchor(e, position == Position::kI ? kPictureI : kPictureP, frame, frame, picture);
    } else {
        CopyInput(e.geo, picture, e.anchorInput.data());
        if (nB > 0 && sc.firstAnchorPending) {
            sc.heldAnchorFrame = frame;  // coded once the first B-slots are filled
        } else {
            CodeAnchor(e, position == Position::kI ? kPictureI : kPictureP, frame, frame,
                       e.anchorInput.data());
        }
    }

    int32_t result = frame;  // only stored: the caller goes on with the next frame
    if (e.lastCoded) {
        const int32_t step =
            RateControlUpdate(e.rateControl, e.writer.TotalBits(), frame, trSource, &e.quant);
        const uint32_t bytes = FinishCall(e);
        if (byteCount) *byteCount = bytes;
        if (iPicture) *iPicture = e.lastType == kPictureI ? 1u : 0u;
        MeasureSnr(e);  // before the slot of a B-picture's input takes the new picture
        result = frame + step - 1;
    }
    if (storeSlot >= 0) {
        CopyInput(e.geo, picture, e.bSlots[storeSlot].data());
        e.bSlotFrame[storeSlot] = frame;  // the frame step is 1 with B-pictures: the result is `frame`
    }
    if (e.writer.Overflowed()) return -1;  // cannot happen with the worst-case sized buffer
    return result;
}

int32_t EncoderFlushFrame(Encoder& e, uint32_t* byteCount) {
    if (byteCount) *byteCount = 0;
    e.nextPicture = nullptr;
    if (!e.isOpen) return -1;
    e.lastCoded = false;
    e.stats.ByteCount = 0;
    Schedule& sc = e.schedule;
    ++sc.flushCounter;
    if (sc.bPictures == 0) return 0;  // nothing is ever held back without B-pictures

    if (sc.firstAnchorPending && sc.heldAnchorFrame >= 0) {
        // The input ended before the first I-picture's turn came.
        CodeHeldFirstAnchor(e);
    } else {
        // The held frames leave in frame order. Those before the last anchor are B-pictures
        // between it and the anchor before; those after it have no later anchor, so each becomes
        // the next anchor itself.
        int slot = -1;
        for (int t = 0; t < sc.bPictures; ++t) {
            const int32_t f = e.bSlotFrame[t];
            if (f != -1 && (slot < 0 || f < e.bSlotFrame[slot])) slot = t;
        }
        if (slot < 0) return 0;  // a slot that never received a frame
        const int32_t frame = e.bSlotFrame[slot];
        if (frame < sc.lastAnchorFrame) {
            CodeHeldB(e, slot);
        } else {
            const int type = sc.intraPending ? kPictureI : kPictureP;
            sc.intraPending = false;
            CodeAnchor(e, type, frame, frame, e.bSlots[slot].data());
            e.bSlotFrame[slot] = -1;
        }
    }
    const uint32_t bytes = FinishCall(e);
    if (e.writer.Overflowed()) return -1;
    if (byteCount) *byteCount = bytes;
    MeasureSnr(e);
    return 0;
}

void EncoderClose(Encoder& e) {
    e.Release();
}

EncoderStats& EncoderGetStats(Encoder& e) {
    return e.stats;
}

void EncoderSetComputeSnr(Encoder& e, int32_t computeSnr) {
    e.computeSnr = computeSnr;
}

void EncoderSetNextFrame(Encoder& e, int32_t frame, const uint8_t* picture) {
    e.nextFrame = frame;
    e.nextPicture = picture;
}

bool EncoderCodesAhead(const Encoder& e) {
    return e.isOpen && e.codeAhead;
}

void EncoderSetIdleWork(Encoder& e, bool (*step)(void*), void* context) {
    e.wavefront.SetIdleWork(step, context);
}

bool EncoderLastReconstruction(const Encoder& e, ReconstructedPicture* out) {
    if (!e.isOpen || !e.lastCoded || e.lastRecon == nullptr || out == nullptr) return false;
    out->data = e.lastRecon;
    out->codedWidth = e.geo.width;
    out->codedHeight = e.geo.height;
    out->frame = e.lastFrame;
    out->type = e.lastType;
    return true;
}

bool EncoderLastDecisions(const Encoder& e, const MacroblockDecision** decisions, int32_t* count) {
    if (!e.isOpen || !e.lastCoded || e.decisions.empty() || !decisions || !count) return false;
    *decisions = e.decisions.data();
    *count = static_cast<int32_t>(e.decisions.size());
    return true;
}

// ---- Process-wide facade -------------------------------------------------------------------

namespace {

struct GlobalInstance {
    EncoderParams params;
    Encoder encoder;
};

GlobalInstance& Global() {
    static GlobalInstance instance;
    return instance;
}

}  // namespace

EncoderParams& GlobalEncoderParams() {
    return Global().params;
}

EncoderStats& GlobalEncoderStats() {
    return Global().encoder.stats;
}

int32_t EncoderOpen() {
    return EncoderOpen(Global().encoder, Global().params);
}

const char* EncoderLastError(const Encoder& e) {
    return e.lastError ? e.lastError : "";
}

const char* EncoderLastError() {
    return EncoderLastError(Global().encoder);
}

int32_t EncodeFrame(int32_t frame, int32_t intraRequest, uint32_t* iPicture, const uint8_t* picture,
                    uint32_t* byteCount) {
    GlobalInstance& g = Global();
    g.encoder.computeSnr = g.params.ComputeSnr;  // read on every call
    return EncodeFrame(g.encoder, frame, intraRequest, iPicture, picture, byteCount);
}

int32_t EncoderFlushFrame(uint32_t* byteCount) {
    return EncoderFlushFrame(Global().encoder, byteCount);
}

void EncoderClose() {
    EncoderClose(Global().encoder);
}

bool EncoderLastReconstruction(ReconstructedPicture* out) {
    return EncoderLastReconstruction(Global().encoder, out);
}

}  // namespace r263avo
