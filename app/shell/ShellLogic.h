// Window logic that needs no window: playback periods and stepping, zoom sizes, the texts of the
// status panes, and the checks of the settings sheet. Each is a plain function or value type so
// that it is tested without a widget.
#pragma once

#include <string>
#include <vector>

namespace tessaro::shell {

// Playback timer period in milliseconds of a FrameRateIndex: 33, 40, 66, 83, 100, 125 for 0..5
// (30.0 ... 8.3 fps); 33 for any other index.
int PlaybackPeriodMs(int frameRateIndex);

// The frame a playback starts from: 0 when `current` is at (or past) the last frame.
int PlaybackStartFrame(int current, int frameCount);

// One playback tick: the next frame, and whether playback stops there (the last frame reached).
struct PlaybackStep {
    int frame = 0;
    bool stop = false;
};
PlaybackStep PlaybackTick(int current, int frameCount);

// Zoom factors 1..5 (100 % .. 500 %); a window is never dragged larger than 6 x the picture.
constexpr int kMinZoom = 1, kMaxZoom = 5, kMaxDragFactor = 6;
int ClampZoom(int zoom);
// The zoom whose size equals the client size exactly, or 0 when none does (no check mark then).
int ZoomOfClientSize(int pictureWidth, int pictureHeight, int clientWidth, int clientHeight);

// Size pane: "%dx%d" of the displayed size.
std::string SizePaneText(int width, int height);
// Bitrate pane: "%.1f Kbps" below 1024 Kbps, else "%.1f Mbps".
std::string BitratePaneText(double kbps);
// Rate pane: "%0.1f fps" while the current frame is 0, else the frame number.
std::string RatePaneText(double frameRate, int currentFrame);

// "SUBQCIF", "QCIF", "CIF", "4CIF", "16CIF", "CUSTOM" for format codes 1..6, "" otherwise.
std::string InputFormatName(int format);

// The items of the actual and input frame-rate lists for a target rate (25.0 or 30.0): the
// target divided by 1, 2 and 3.
std::vector<std::string> FrameRateListItems(float target);

// The range message of a number field.
std::string RangeMessage(int minimum, int maximum);

// A whole decimal number of a field in minimum..maximum. Empty text, other characters and numbers
// outside the range fail.
bool ParseFieldNumber(const std::string& text, int minimum, int maximum, int* value);

// Which field of a page a failed check points at.
enum class Field { kNone, kStart, kEnd, kMBlocksPerSlice };

struct PageCheck {
    bool ok = true;
    Field field = Field::kNone;
    std::string message;
};

// The frame range of the Coder page for a file of `frameCount` frames: Start at most the last
// frame; End from Start up to the last frame, and fewer than 1000 frames in the range.
PageCheck CheckFrameRange(int startFrame, int endFrame, int frameCount);

// The macroblock count of a picture (width x height / 256, at least 1 so that a tiny custom
// picture can still be given a valid value).
int MacroblockCount(int width, int height);
// MBlocks Per Slice of the Advanced page: 1..MacroblockCount.
PageCheck CheckSliceSize(int mblocksPerSlice, int width, int height);

}  // namespace tessaro::shell
