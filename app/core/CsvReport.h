// The per-picture figures of encode and compare runs as comma-separated values: one header row,
// then one row per report, in the order the run made them. The SNR values are written as the log
// lines show them (two decimals, 1000.00 for a plane without error); a picture whose SNR was not
// measured has empty SNR cells.
#pragma once

#include <string>
#include <vector>

#include "Job.h"

namespace tessaro {

// "frame,type,bytes,snr_y,snr_u,snr_v"
std::string PictureCsvHeader();
std::string PictureCsvRow(const PictureReport& picture);
// "frame,snr_y,snr_u,snr_v"
std::string ComparisonCsvHeader();
std::string ComparisonCsvRow(const FrameComparison& frame);

// Whole documents, each row ended by a newline.
std::string PictureCsv(const std::vector<PictureReport>& pictures);
std::string ComparisonCsv(const std::vector<FrameComparison>& frames);

// Writes `text` to `path` under a temporary name and renames it into place (see OutputFile).
// False with `error` ("Error Opening ..." or "Error writing ...").
bool WriteTextFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace tessaro
