#include "Settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <thread>

namespace tessaro {
namespace {

using NumberRef = int* (*)(CodecSettings&);
using TextRef = std::string* (*)(CodecSettings&);

struct Entry {
    SettingInfo info;
    NumberRef number;  // kNumber
    TextRef text;      // kString
};

constexpr SettingKind N = SettingKind::kNumber;
constexpr SettingKind S = SettingKind::kString;

// Keys, defaults and accepted ranges of every persisted value, grouped as in the settings sheet.
const Entry kEntries[] = {
    {{"General/LogInfoCoder", N, 1, 0, 1, true, "log lines of the jobs on/off"},
     [](CodecSettings& s) { return &s.general.LogInfoCoder; },
     nullptr},
    {{"General/ShowSNR", N, 0, 0, 1, true, "per-frame and average SNR lines of the encode job"},
     [](CodecSettings& s) { return &s.general.ShowSNR; },
     nullptr},
    {{"General/ShowProgress", N, 1, 0, 1, true, "progress indicator of the encode and decode jobs"},
     [](CodecSettings& s) { return &s.general.ShowProgress; },
     nullptr},
    {{"General/StartupFile", S, 0, 0, 0, true, "file opened when the application starts"},
     nullptr,
     [](CodecSettings& s) { return &s.general.StartupFile; }},
    {{"General/DefaultOutputFile", S, 0, 0, 0, true, "bitstream written by the encode job without asking"},
     nullptr,
     [](CodecSettings& s) { return &s.general.DefaultOutputFile; }},
    {{"General/DeleteDecodedFile", N, 1, 0, 1, true,
      "delete a bitstream's decoded file when its window closes"},
     [](CodecSettings& s) { return &s.general.DeleteDecodedFile; },
     nullptr},
    {{"General/UseErrorConceal", N, 0, 0, 1, true, "stored only"},
     [](CodecSettings& s) { return &s.general.UseErrorConceal; },
     nullptr},
    {{"General/FrameRate", N, 0, 0, 5, false, "playback rate index: 30.0 25.0 15.0 12.5 10.0 8.3 fps"},
     [](CodecSettings& s) { return &s.frameRateIndex; },
     nullptr},
    {{"General/CurrentDirectory", S, 0, 0, 0, false, "starting folder of the file dialogs"},
     nullptr,
     [](CodecSettings& s) { return &s.currentDirectory; }},
    {{"Coder/SearchWindow", N, 15, 0, 15, true, "motion search range in pixels"},
     [](CodecSettings& s) { return &s.coder.SearchWindow; },
     nullptr},
    {{"Coder/PQuantizer", N, 13, 1, 31, true,
      "quantiser of P- and B-pictures (the first ones under rate control)"},
     [](CodecSettings& s) { return &s.coder.PQuantizer; },
     nullptr},
    {{"Coder/IQuantizer", N, 5, 1, 31, true, "quantiser of I-pictures"},
     [](CodecSettings& s) { return &s.coder.IQuantizer; },
     nullptr},
    {{"Coder/RateControl", N, 0, 0, 3, true, "1 picture-level rate control; 0, 2 and 3 constant quantiser"},
     [](CodecSettings& s) { return &s.coder.RateControl; },
     nullptr},
    {{"Coder/Bitrate", N, 64000, 14400, 10000000, true, "target bit rate in bits per second"},
     [](CodecSettings& s) { return &s.coder.Bitrate; },
     nullptr},
    {{"Coder/FrameRateActual", N, 1, 1, 3, true, "code every N-th input frame"},
     [](CodecSettings& s) { return &s.coder.FrameRateActual; },
     nullptr},
    {{"Coder/FrameRateInput", N, 1, 1, 3, true, "input frame period in ticks of the target rate"},
     [](CodecSettings& s) { return &s.coder.FrameRateInput; },
     nullptr},
    {{"Coder/SyncInsertPeriod", N, 0, 0, 100, true, "stored only"},
     [](CodecSettings& s) { return &s.coder.SyncInsertPeriod; },
     nullptr},
    {{"Coder/IFramePeriod", N, 0, 0, 300, true, "intra picture every N frames of the range (0 = first only)"},
     [](CodecSettings& s) { return &s.coder.IFramePeriod; },
     nullptr},
    {{"Coder/IntraMBRefreshPeriod", N, 0, 0, 300, true, "stored only"},
     [](CodecSettings& s) { return &s.coder.IntraMBRefreshPeriod; },
     nullptr},
    {{"Coder/Speed", N, 1, 1, 5, true, "encoding speed preset"},
     [](CodecSettings& s) { return &s.coder.Speed; },
     nullptr},
    {{"Coder/GOBMode", N, 0, 0, 1, true, "GOB headers"},
     [](CodecSettings& s) { return &s.coder.GOBMode; },
     nullptr},
    {{"Coder/Threads", N, 0, 0, 64, true,
      "threads that encode each picture's macroblock rows (0 = one per processor core); every count gives "
      "the same bitstream; above 1 a decode writes its pictures on a thread of their own"},
     [](CodecSettings& s) { return &s.coder.Threads; },
     nullptr},
    {{"Coder/FrameRateTarget", SettingKind::kFrameRateTarget, 30, 25, 30, true,
      "target frame rate, 25 or 30"},
     nullptr,
     nullptr},
    {{"Advanced/UseAdvIntraCoding", N, 0, 0, 1, true, "advanced intra coding (Annex I)"},
     [](CodecSettings& s) { return &s.coder.UseAdvIntraCoding; },
     nullptr},
    {{"Advanced/UseDeblockFilter", N, 0, 0, 1, true, "deblocking filter (Annex J)"},
     [](CodecSettings& s) { return &s.coder.UseDeblockFilter; },
     nullptr},
    {{"Advanced/UseSliceMode", N, 0, 0, 1, true, "slice structure (Annex K)"},
     [](CodecSettings& s) { return &s.coder.UseSliceMode; },
     nullptr},
    {{"Advanced/UseTrueBPictures", N, 0, 0, 1, true, "B-pictures (Annex O)"},
     [](CodecSettings& s) { return &s.coder.UseTrueBPictures; },
     nullptr},
    {{"Advanced/BPictures", N, 3, 1, 5, true, "B-pictures between anchors"},
     [](CodecSettings& s) { return &s.coder.BPictures; },
     nullptr},
    {{"Advanced/BQuantizer", N, 13, 1, 31, true, "stored only (B-pictures use PQuantizer)"},
     [](CodecSettings& s) { return &s.coder.BQuantizer; },
     nullptr},
    {{"Advanced/EnhLayerQuantizer", N, 13, 1, 31, true, "stored only"},
     [](CodecSettings& s) { return &s.coder.EnhLayerQuantizer; },
     nullptr},
    {{"Advanced/UseModifiedQuant", N, 0, 0, 1, true, "modified quantisation (Annex T)"},
     [](CodecSettings& s) { return &s.coder.UseModifiedQuant; },
     nullptr},
    {{"Capture/OverlayFlag", N, 0, 0, INT_MAX, false, "overlay mode of the capture window"},
     [](CodecSettings& s) { return &s.captureOverlay; },
     nullptr},
    {{"Capture/FrameRate", N, 0, 0, 5, false, "frame rate index of the capture window"},
     [](CodecSettings& s) { return &s.captureFrameRate; },
     nullptr},
};

const Entry* FindEntry(const std::string& key) {
    for (const Entry& e : kEntries) {
        if (key == e.info.key) return &e;
    }
    return nullptr;
}

int ClampNumber(const SettingInfo& info, int64_t raw) {
    if (raw == -1) return info.defaultValue;
    return static_cast<int>(std::clamp<int64_t>(raw, info.minValue, info.maxValue));
}

float ClampFrameRateTarget(int64_t raw) {
    if (raw == -1) return 30.0f;
    return std::clamp(static_cast<float>(raw), 25.0f, 30.0f);
}

// Loads one value of the record from the stored values.
void LoadEntry(const Entry& e, const SettingsMap& values, CodecSettings* s) {
    switch (e.info.kind) {
        case SettingKind::kNumber:
            *e.number(*s) = ClampNumber(e.info, ReadNumber(values, e.info.key));
            break;
        case SettingKind::kString:
            *e.text(*s) = ReadString(values, e.info.key);
            break;
        case SettingKind::kFrameRateTarget:
            s->coder.FrameRateTarget = ClampFrameRateTarget(ReadNumber(values, e.info.key));
            break;
    }
}

bool StartsWith(const char* key, const char* group) {
    return std::string(key).rfind(group, 0) == 0;
}

// The text a stored value stands for after loading (a missing "Coder/Bitrate" means "64000").
std::string NormalizedText(const Entry& e, const SettingsMap& values) {
    CodecSettings s;
    LoadEntry(e, values, &s);
    return SettingText(s, e.info);
}

bool ParseWholeNumber(const std::string& text, int64_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 12) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = negative ? -v : v;
    return true;
}

}  // namespace

int ResolvedThreads(int threadsSetting) {
    if (threadsSetting > 0) return threadsSetting;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

const std::vector<SettingInfo>& SettingsRegistry() {
    static const std::vector<SettingInfo> registry = [] {
        std::vector<SettingInfo> r;
        for (const Entry& e : kEntries) r.push_back(e.info);
        return r;
    }();
    return registry;
}

const SettingInfo* FindSetting(const std::string& key) {
    const Entry* e = FindEntry(key);
    return e ? &e->info : nullptr;
}

int64_t ParseStoredNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t{1} << 40);  // saturate, no overflow
    }
    v = negative ? -v : v;
    return std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}

int32_t ReadNumber(const SettingsMap& values, const std::string& key) {
    auto it = values.find(key);
    if (it == values.end()) return -1;
    return static_cast<int32_t>(ParseStoredNumber(it->second));
}

std::string ReadString(const SettingsMap& values, const std::string& key) {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

void LoadGeneral(const SettingsMap& values, CodecSettings* settings) {
    for (const Entry& e : kEntries) {
        if (StartsWith(e.info.key, "General/") || StartsWith(e.info.key, "Capture/"))
            LoadEntry(e, values, settings);
    }
    settings->coder.ComputeSnr = settings->general.ShowSNR != 0 ? 1 : 0;
}

void ReinitEncoderParams(const SettingsMap& values, int frameCount, int format, int width, int height,
                         CodecSettings* settings) {
    r263avo::EncoderParams& p = settings->coder;
    p.StartFrame = 0;
    p.EndFrame = std::max(0, std::min(frameCount - 1, 999));
    p.FrameCount = frameCount;
    p.SourceFormat = format;
    p.Width = width;
    p.Height = height;
    for (const Entry& e : kEntries) {
        if (StartsWith(e.info.key, "Coder/") || StartsWith(e.info.key, "Advanced/"))
            LoadEntry(e, values, settings);
    }
    p.MBlocksPerSlice = width / 16;
    p.PtypeSacFlag = 0;
    p.PtypeApFlag = 0;
    p.ComputeSnr = settings->general.ShowSNR != 0 ? 1 : 0;
}

CodecSettings LoadSettings(const SettingsMap& values) {
    CodecSettings s;
    LoadGeneral(values, &s);
    ReinitEncoderParams(values, 0, 0, 0, 0, &s);
    return s;
}

std::string SettingText(const CodecSettings& settings, const SettingInfo& info) {
    const Entry* e = FindEntry(info.key);
    if (!e) return {};
    CodecSettings& s = const_cast<CodecSettings&>(settings);  // the accessors only read here
    switch (info.kind) {
        case SettingKind::kNumber:
            return std::to_string(*e->number(s));
        case SettingKind::kString:
            return *e->text(s);
        case SettingKind::kFrameRateTarget:
            return std::to_string(static_cast<int>(settings.coder.FrameRateTarget));
    }
    return {};
}

bool ValidateSettingText(const SettingInfo& info, const std::string& text, std::string* error) {
    if (info.kind == SettingKind::kString) {
        if (text.size() > 4096) {
            *error = std::string("value of ") + info.key + " is too long";
            return false;
        }
        return true;
    }
    int64_t v = 0;
    if (!ParseWholeNumber(text, &v)) {
        *error = std::string("value of ") + info.key + " must be a whole number: " + text;
        return false;
    }
    if (v == -1) return true;  // back to the default
    const bool anyPositive = std::string(info.key) == "General/ShowSNR";
    if (v < info.minValue || (!anyPositive && v > info.maxValue)) {
        *error = std::string("value of ") + info.key + " must be between " + std::to_string(info.minValue) +
                 " and " + std::to_string(info.maxValue) + " (or -1 for the default): " + text;
        return false;
    }
    return true;
}

bool SetSettingFromText(CodecSettings* settings, const SettingInfo& info, const std::string& text,
                        std::string* error) {
    const Entry* e = FindEntry(info.key);
    if (!e) {
        *error = std::string("unknown setting ") + info.key;
        return false;
    }
    if (!ValidateSettingText(info, text, error)) return false;
    SettingsMap one{{info.key, text}};
    LoadEntry(*e, one, settings);
    return true;
}

bool SaveSettings(SettingsStore& store, const CodecSettings& loaded, const CodecSettings& edited,
                  const std::vector<std::string>& keys) {
    std::vector<const Entry*> entries;
    if (keys.empty()) {
        for (const Entry& e : kEntries) {
            if (e.info.dialog) entries.push_back(&e);
        }
    } else {
        for (const std::string& key : keys) {
            if (const Entry* e = FindEntry(key)) entries.push_back(e);
        }
    }
    return store.Update([&](SettingsMap& current) {
        for (const Entry* e : entries) {
            const std::string ours = SettingText(edited, e->info);
            const std::string base = SettingText(loaded, e->info);
            if (ours != base || NormalizedText(*e, current) == ours) current[e->info.key] = ours;
        }
    });
}

}  // namespace tessaro
