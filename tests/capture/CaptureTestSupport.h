// What the capture tests share: an observer that records the reports and lets a test wait for a
// condition on them, and quick settings for capture runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "CaptureJob.h"

namespace tessaro::capturetest {

class Recorder : public CaptureObserver {
  public:
    void Log(const std::string& line) override { Add(lines, line); }
    void Error(const std::string& message) override { Add(errors, message); }
    void DriverWarning(int code, const std::string& text) override {
        Add(warnings, std::to_string(code) + " " + text);
    }
    void Picture(const PictureReport& picture) override {
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pictures.push_back(picture.frame);
            hook = onPicture;
        }
        changed_.notify_all();
        if (hook) hook(picture.frame);
    }
    void Finished(const JobResult&) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished = true;
        }
        changed_.notify_all();
    }

    // Waits up to ten seconds for `condition` (checked under the recorder's lock).
    bool WaitFor(const std::function<bool()>& condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), condition);
    }
    // Copies taken under the lock.
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines;
    }

    std::vector<std::string> lines, errors, warnings;
    std::vector<int> pictures;
    bool finished = false;
    // Run on the reporting thread with each new log line / coded picture.
    std::function<void(const std::string&)> onLine;
    std::function<void(int)> onPicture;

  private:
    void Add(std::vector<std::string>& list, const std::string& text) {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            list.push_back(text);
            if (&list == &lines) hook = onLine;
        }
        changed_.notify_all();
        if (hook) hook(text);
    }
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Settings of a capture run: log on, progress and SNR off, EndFrame as given.
inline CodecSettings CaptureSettings(int endFrame, int frameRateActual = 1) {
    CodecSettings s;
    s.general.ShowProgress = 0;
    s.general.ShowSNR = 0;
    s.coder.EndFrame = endFrame;
    s.coder.FrameRateActual = frameRateActual;
    s.coder.PQuantizer = 13;
    s.coder.IQuantizer = 5;
    return s;
}

}  // namespace tessaro::capturetest
