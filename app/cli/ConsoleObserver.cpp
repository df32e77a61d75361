#include "ConsoleObserver.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tessaro::cli {

ConsoleObserver::ConsoleObserver(FILE* logStream) : log_(logStream), terminal_(isatty(STDERR_FILENO) == 1) {}

void ConsoleObserver::Log(const std::string& line) {
    ClearBar();
    std::fputs(line.c_str(), log_);
    std::fputc('\n', log_);
    std::fflush(log_);
    DrawBar();
}

void ConsoleObserver::Error(const std::string& message) {
    ClearBar();
    std::fprintf(stderr, "tessaro-cli: %s\n", message.c_str());
    DrawBar();
}

void ConsoleObserver::ProgressStart(const std::string& label, int minimum, int maximum) {
    if (!terminal_) return;
    label_ = label;
    minimum_ = minimum;
    maximum_ = maximum;
    position_ = minimum;
    shown_ = true;
    DrawBar();
}

void ConsoleObserver::ProgressPosition(int position) {
    position_ = position;
    DrawBar();
}

void ConsoleObserver::ProgressStop() {
    ClearBar();
    shown_ = false;
}

void ConsoleObserver::ClearBar() {
    if (shown_) std::fputs("\r\033[K", stderr);
}

void ConsoleObserver::DrawBar() {
    if (!shown_) return;
    constexpr int kWidth = 40;
    const int span = maximum_ - minimum_;
    const double fraction = span > 0 ? static_cast<double>(position_ - minimum_) / span : 1.0;
    const int done = std::clamp(static_cast<int>(fraction * kWidth), 0, kWidth);
    const int percent = std::clamp(static_cast<int>(fraction * 100), 0, 100);
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(done, '#').c_str(),
                 std::string(kWidth - done, ' ').c_str(), percent);
    std::fflush(stderr);
}

}  // namespace tessaro::cli
