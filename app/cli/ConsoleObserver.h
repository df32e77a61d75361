// Prints a job's reports: log lines to standard output, problems to standard error, and a progress
// bar on standard error when it is a terminal.
#pragma once

#include <string>

#include "Job.h"

namespace tessaro::cli {

class ConsoleObserver : public JobObserver {
  public:
    ConsoleObserver();
    void Log(const std::string& line) override;
    void Error(const std::string& message) override;
    void ProgressStart(const std::string& label, int minimum, int maximum) override;
    void ProgressPosition(int position) override;
    void ProgressStop() override;

  private:
    void ClearBar();
    void DrawBar();

    bool terminal_;
    bool shown_ = false;
    std::string label_;
    int minimum_ = 0, maximum_ = 0, position_ = 0;
};

}  // namespace tessaro::cli
