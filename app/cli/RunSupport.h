// What every command of tessaro-cli that runs a job needs: error lines, the user's settings with
// this run's overrides, and stopping on Ctrl-C or SIGTERM.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SettingsStore.h"

namespace tessaro::cli {

// "tessaro-cli: MESSAGE" on standard error.
void PrintError(const std::string& message);

// The slice length of a run; the settings sheet sets it too, and it is never stored.
inline constexpr const char* kSliceLengthKey = "Advanced/MBlocksPerSlice";

// The values of `file` with this run's --set overrides (one Group/Name=VALUE each); false after
// a bad override, which has been reported. The slice length, which is no stored setting, goes to
// `sliceLength` (0 when not given).
bool RunValues(FileSettingsStore& file, const std::vector<std::string>& overrides, SettingsMap* values,
               int* sliceLength);

// While alive, SIGINT and SIGTERM call `stop` instead of ending the process, so that a job can
// close its files and rename them into place.
class StopOnSignal {
  public:
    explicit StopOnSignal(std::function<void()> stop);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

  private:
    sigset_t previous_;
    std::atomic<bool> done_{false};
    std::thread waiter_;
};

}  // namespace tessaro::cli
