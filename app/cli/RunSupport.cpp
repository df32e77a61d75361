#include "RunSupport.h"

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Settings.h"

namespace tessaro::cli {

void PrintError(const std::string& message) {
    std::fprintf(stderr, "tessaro-cli: %s\n", message.c_str());
}

namespace {

bool ParseSliceLength(const std::string& text, int* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < 1 || value > INT32_MAX) return false;
    *out = static_cast<int>(value);
    return true;
}

}  // namespace

bool RunValues(FileSettingsStore& file, const std::vector<std::string>& overrides, SettingsMap* values,
               int* sliceLength) {
    SettingsMap extra;
    *sliceLength = 0;
    for (const std::string& item : overrides) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        if (eq != std::string::npos && key == kSliceLengthKey) {
            if (!ParseSliceLength(item.substr(eq + 1), sliceLength)) {
                PrintError(std::string(kSliceLengthKey) + " must be a whole number of at least 1: " +
                           item.substr(eq + 1));
                return false;
            }
            continue;
        }
        const SettingInfo* info = FindSetting(key);
        if (eq == std::string::npos || !info) {
            PrintError("--set expects Group/Name=VALUE with a known setting: " + item);
            return false;
        }
        std::string error;
        if (!ValidateSettingText(*info, item.substr(eq + 1), &error)) {
            PrintError(error);
            return false;
        }
        extra[key] = item.substr(eq + 1);
    }
    OverlaySettingsStore overlay(file, extra);
    *values = overlay.ReadAll();
    return true;
}

StopOnSignal::StopOnSignal(std::function<void()> stop) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);  // wakes the waiter when this object goes
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
    waiter_ = std::thread([this, set, stop = std::move(stop)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0 || done_.load()) return;
            if (signal == SIGINT || signal == SIGTERM) stop();
        }
    });
}

StopOnSignal::~StopOnSignal() {
    done_.store(true);
    pthread_kill(waiter_.native_handle(), SIGUSR1);
    waiter_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace tessaro::cli
