// The commands of tessaro-cli. Each returns the process exit status (0 success, 1 failure).
#pragma once

#include <string>
#include <vector>

namespace tessaro::cli {

// Options shared by the commands that open raw sequences and read settings.
struct CommonOptions {
    std::string size;                    // WxH for ".cst" files
    std::vector<std::string> overrides;  // Group/Name=VALUE, for this run only
};

struct EncodeOptions {
    std::string input, output, recon;
    std::string csv;           // per-picture figures, one row per coded picture
    int start = -1, end = -1;  // -1: as the settings have them
    bool bPictureSnr = false;  // SNR lines for B-picture runs too
};

int RunEncode(const EncodeOptions& options, const CommonOptions& common);
int RunDecode(const std::string& input, const std::string& output, const CommonOptions& common);
int RunCompare(const std::string& first, const std::string& second, const std::string& csv,
               const CommonOptions& common);
int RunInfo(const std::string& path, const CommonOptions& common);
int RunGenerate(const std::string& format, int frames, const std::string& output, unsigned seed);

int RunSettingsList();
int RunSettingsGet(const std::string& key);
int RunSettingsSet(const std::string& key, const std::string& value);
int RunSettingsReset();

}  // namespace tessaro::cli
