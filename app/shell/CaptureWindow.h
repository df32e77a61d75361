// The capture window "Video": the live picture of one connected frame source, its four status
// panes, and the capture commands (raw capture, capture and encoding, source, format, frame rate,
// Preview and Overlay). At most one exists; the main frame routes its commands here.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "CaptureJob.h"
#include "Settings.h"
#include "SettingsStore.h"

class QLabel;
class QStatusBar;
class QTimer;

namespace tessaro::shell {

class JobBridge;
class Prompts;

// Shows the last frame it was given, scaled to the widget.
class CaptureView : public QWidget {
    Q_OBJECT
  public:
    explicit CaptureView(QWidget* parent = nullptr);
    void SetPicture(const QImage& image);
    const QImage& picture() const { return image_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
};

// What the window shares with the main frame.
struct CaptureContext {
    SettingsStore* store = nullptr;
    Prompts* prompts = nullptr;
    CodecSettings* settings = nullptr;  // the main frame's record
    uint32_t cpuFlags = 0;
    QString deviceFolder = QStringLiteral("/dev");
    std::function<std::vector<std::string>()> protectedPaths;  // files open as inputs
};

class CaptureWindow : public QWidget {
    Q_OBJECT
  public:
    enum class Mode { kPreview, kOverlay };
    static constexpr int kPreviewRateMs = 33;

    // Connects to `source` and starts the live picture; Connected() tells whether that worked
    // (the message is in ConnectError()).
    CaptureWindow(std::unique_ptr<FrameSource> source, const CaptureContext& context,
                  QWidget* parent = nullptr);
    ~CaptureWindow() override;

    bool Connected() const { return connected_; }
    const QString& ConnectError() const { return connectError_; }
    JobBridge* bridge() const { return bridge_.get(); }
    CaptureJob& job() { return *job_; }

    // Commands.
    void StartCapture();  // a raw capture, or the end of the running one
    void StartEncoding();
    void StopEncoding();
    void ShowVideoSource();
    void ShowVideoFormat();
    void SetFrameRateIndex(int index);
    void SetMode(Mode mode);
    // Connects to another source (the Video Source choice); false after a message.
    bool Reconnect(const SourceInfo& info);
    // Takes a new format and size; false after a message.
    bool ApplyFormat(uint32_t fourcc, int width, int height);

    // A run is under way (until its end has been handled here).
    bool Capturing() const { return runActive_ || job_->Capturing(); }
    bool Encoding() const { return Capturing() && encodeRun_; }
    Mode mode() const { return mode_; }
    int frameRateIndex() const { return frameRateIndex_; }
    double frameRate() const;
    // The dialog open now (Video Source or Video Format), if any.
    QDialog* openDialog() const { return dialog_.data(); }
    QLabel* pane(int i) const { return panes_[i]; }
    CaptureView* view() const { return view_; }
    // Pictures shown since the window opened (each delivered frame in overlay mode).
    int picturesShown() const { return picturesShown_; }
    void UpdatePanes();

  signals:
    // A run started or ended, or the mode, format or source changed.
    void stateChanged();
    // A capture run has ended and its files are closed.
    void captureFinished(bool completed);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class Reports;
    void Attach();
    void Detach();
    void ShowLatest();
    void PictureFactsChanged();
    bool FormatAccepted();
    void StartRun(const QString& output, bool encode);
    void RunFinished(bool completed);
    void StopForClosing();

    CaptureContext context_;
    std::unique_ptr<JobBridge> bridge_;
    std::unique_ptr<Reports> reports_;
    std::unique_ptr<CaptureJob> job_;
    bool connected_ = false;
    bool runActive_ = false, encodeRun_ = false;
    QString connectError_;
    Mode mode_ = Mode::kPreview;
    int frameRateIndex_ = 0;
    CaptureView* view_ = nullptr;
    QStatusBar* status_ = nullptr;
    QLabel* panes_[4] = {};
    QTimer* previewTimer_ = nullptr;
    QTimer* paneTimer_ = nullptr;
    QPointer<QDialog> dialog_;
    std::vector<uint8_t> yuv_, rgb24_;
    uint64_t shownSerial_ = 0;
    int picturesShown_ = 0;
    int shownWidth_ = 0, shownHeight_ = 0;
};

}  // namespace tessaro::shell
