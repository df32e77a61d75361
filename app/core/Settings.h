// The settings record of the application: every persisted value, its default, its accepted range,
// and the loading, re-initialising and saving of the record through a SettingsStore.
//
// Numbers are stored as decimal text; a stored "-1" (or a missing value) means absent and takes
// the default; any other value below or above the range takes the nearest bound.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "R263AVO.h"
#include "SettingsStore.h"

namespace tessaro {

struct GeneralSettings {
    int LogInfoCoder = 1;
    int ShowSNR = 0;
    int ShowProgress = 1;
    std::string StartupFile;
    std::string DefaultOutputFile;
    int DeleteDecodedFile = 1;
    int UseErrorConceal = 0;
};

// The whole record: the General part, the encoder parameters, and the values kept beside them.
struct CodecSettings {
    GeneralSettings general;
    r263avo::EncoderParams coder;
    int frameRateIndex = 0;        // General/FrameRate
    std::string currentDirectory;  // General/CurrentDirectory
    int captureOverlay = 0;        // Capture/OverlayFlag
    int captureFrameRate = 0;      // Capture/FrameRate
};

enum class SettingKind { kNumber, kString, kFrameRateTarget };

// One persisted value. `dialog` marks the values written by the settings sheet.
struct SettingInfo {
    const char* key;  // "Group/Name"
    SettingKind kind;
    int defaultValue;
    int minValue;
    int maxValue;
    bool dialog;
    const char* help;
};

// The threads a job runs for Coder/Threads: the value itself, or one per processor core for 0.
int ResolvedThreads(int threadsSetting);

// Every persisted value, in the order of the groups General, Coder, Advanced, Capture.
const std::vector<SettingInfo>& SettingsRegistry();
const SettingInfo* FindSetting(const std::string& key);

// Leading decimal digits with an optional sign (leading blanks skipped), saturated to 32 bits;
// text without digits gives 0. Absent text gives -1.
int64_t ParseStoredNumber(const std::string& text);
int32_t ReadNumber(const SettingsMap& values, const std::string& key);
std::string ReadString(const SettingsMap& values, const std::string& key);

// The General part, FrameRate, CurrentDirectory and the Capture values, with the clamps.
void LoadGeneral(const SettingsMap& values, CodecSettings* settings);

// Every Coder and Advanced value with the clamps, plus the picture facts of an opened file:
// StartFrame 0, EndFrame min(frameCount - 1, 999) (at least 0), MBlocksPerSlice = width / 16.
// ComputeSnr follows the General part's ShowSNR already held in `settings`.
void ReinitEncoderParams(const SettingsMap& values, int frameCount, int format, int width, int height,
                         CodecSettings* settings);

// General part plus coder values (for a record without an open file).
CodecSettings LoadSettings(const SettingsMap& values);

// The value of one persisted setting in a record, as its stored text ("1", "64000", "30", a path).
std::string SettingText(const CodecSettings& settings, const SettingInfo& info);

// Sets one value of the record from user text. Numbers must be whole decimal numbers inside the
// setting's range (-1 resets to the default; for ShowSNR any positive value means on). False with
// a message otherwise.
bool SetSettingFromText(CodecSettings* settings, const SettingInfo& info, const std::string& text,
                        std::string* error);

// Checks user text for a setting without keeping it (for run-only overrides).
bool ValidateSettingText(const SettingInfo& info, const std::string& text, std::string* error);

// Writes `edited` into the store. For each of `keys` (all dialog values when empty) the stored
// text is replaced when the user changed the value since `loaded`, or when the stored text means
// the same value in another form (a missing value, ShowSNR 7 stored as 1). A value that another
// process changed meanwhile and this one did not is kept. Nothing is rewritten when every stored
// text already matches. False when the store could not be written.
bool SaveSettings(SettingsStore& store, const CodecSettings& loaded, const CodecSettings& edited,
                  const std::vector<std::string>& keys = {});

}  // namespace tessaro
