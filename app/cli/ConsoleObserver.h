// Prints a job's reports: log lines to standard output (or standard error, when standard output
// carries a sequence), problems to standard error, and a progress bar on standard error when it
// is a terminal. Keeps the per-picture reports for a CSV file when asked.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "Job.h"

namespace tessaro::cli {

class ConsoleObserver : public JobObserver {
  public:
    explicit ConsoleObserver(FILE* logStream = stdout);
    void Log(const std::string& line) override;
    void Error(const std::string& message) override;
    void ProgressStart(const std::string& label, int minimum, int maximum) override;
    void ProgressPosition(int position) override;
    void ProgressStop() override;
    void Picture(const PictureReport& picture) override {
        if (keepReports) pictures.push_back(picture);
    }
    void Compared(const FrameComparison& frame) override {
        if (keepReports) compared.push_back(frame);
    }

    bool keepReports = false;  // set for a CSV file: the reports are kept for it
    std::vector<PictureReport> pictures;
    std::vector<FrameComparison> compared;

  private:
    void ClearBar();
    void DrawBar();

    FILE* log_;
    bool terminal_;
    bool shown_ = false;
    std::string label_;
    int minimum_ = 0, maximum_ = 0, position_ = 0;
};

}  // namespace tessaro::cli
