#include "CaptureWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "CaptureDialogs.h"
#include "ClrConv.h"
#include "JobBridge.h"
#include "Prompts.h"
#include "VideoFile.h"

namespace tessaro::shell {
namespace {

const char* const kRawExtensions[6] = {"sqcif", "qcif", "cif", "4cif", "16cif", "cst"};

}  // namespace

// The job's reports: the ordinary ones through the bridge, the source's warnings to the window.
class CaptureWindow::Reports : public CaptureObserver {
  public:
    Reports(CaptureWindow* window, JobBridge* bridge) : window_(window), bridge_(bridge) {}
    void Log(const std::string& line) override { bridge_->Log(line); }
    void Error(const std::string& message) override { bridge_->Error(message); }
    void ProgressStart(const std::string& label, int minimum, int maximum) override {
        bridge_->ProgressStart(label, minimum, maximum);
    }
    void ProgressPosition(int position) override { bridge_->ProgressPosition(position); }
    void ProgressStop() override { bridge_->ProgressStop(); }
    void Picture(const PictureReport& picture) override { bridge_->Picture(picture); }
    void Finished(const JobResult& result) override { bridge_->Finished(result); }
    void StopRequested() override { bridge_->StopRequested(); }
    void DriverWarning(int, const std::string& text) override {
        const QString message = QString::fromStdString(text);
        CaptureWindow* window = window_;
        // Queued: the source's thread never waits for the interface thread.
        QMetaObject::invokeMethod(
            window,
            [window, message] {
                window->context_.prompts->DriverWarning(window, message);
                emit window->stateChanged();
            },
            Qt::QueuedConnection);
    }

  private:
    CaptureWindow* window_;
    JobBridge* bridge_;
};

CaptureView::CaptureView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("captureView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptureView::SetPicture(const QImage& image) {
    const bool resized = image.size() != image_.size();
    image_ = image;
    if (resized) updateGeometry();
    update();
}

QSize CaptureView::sizeHint() const {
    return image_.isNull() ? QSize(176, 144) : image_.size();
}

void CaptureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        painter.drawImage(rect(), image_);
    }
}

CaptureWindow::CaptureWindow(std::unique_ptr<FrameSource> source, const CaptureContext& context,
                             QWidget* parent)
    : QWidget(parent), context_(context) {
    setWindowTitle(QStringLiteral("Video"));
    setObjectName(QStringLiteral("captureWindow"));
    bridge_ = std::make_unique<JobBridge>();
    reports_ = std::make_unique<Reports>(this, bridge_.get());
    connect(bridge_.get(), &JobBridge::errorMessage, this,
            [this](const QString& m) { context_.prompts->Warning(this, m); });
    // Queued: the worker waits until its last report is handled, and the run is joined after.
    connect(
        bridge_.get(), &JobBridge::finished, this,
        [this](bool completed, int, const QString&) { RunFinished(completed); }, Qt::QueuedConnection);

    view_ = new CaptureView(this);
    status_ = new QStatusBar(this);
    status_->setSizeGripEnabled(false);
    const int widths[3] = {4, 8, 9};
    const QFontMetrics metrics(status_->font());
    for (int i = 0; i < 4; ++i) {
        panes_[i] = new QLabel(status_);
        panes_[i]->setObjectName(QStringLiteral("capturePane%1").arg(i + 1));
        if (i < 3) {
            panes_[i]->setMinimumWidth(metrics.averageCharWidth() * (widths[i] + 2));
            status_->addWidget(panes_[i]);
        } else {
            status_->addWidget(panes_[i], 1);
        }
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);

    previewTimer_ = new QTimer(this);
    previewTimer_->setInterval(kPreviewRateMs);
    connect(previewTimer_, &QTimer::timeout, this, &CaptureWindow::ShowLatest);
    paneTimer_ = new QTimer(this);
    paneTimer_->setInterval(100);
    connect(paneTimer_, &QTimer::timeout, this, &CaptureWindow::UpdatePanes);

    frameRateIndex_ = std::clamp(context_.settings->frameRateIndex, 0, 5);
    mode_ = context_.settings->captureOverlay != 0 ? Mode::kOverlay : Mode::kPreview;
    job_ = std::make_unique<CaptureJob>(std::move(source));
    std::string error;
    Attach();
    connected_ = job_->StartPreview(&error);
    if (!connected_) {
        connectError_ = QString::fromStdString(error);
        return;
    }
    PictureFactsChanged();
    paneTimer_->start();
    UpdatePanes();
}

CaptureWindow::~CaptureWindow() {
    StopForClosing();
    Detach();
    bridge_->Detach();
    job_.reset();
    if (connected_) {
        CodecSettings& s = *context_.settings;
        s.captureOverlay = mode_ == Mode::kOverlay ? 1 : 0;
        s.captureFrameRate = frameRateIndex_;
        const int overlay = s.captureOverlay, rate = frameRateIndex_;
        context_.store->Update([&](SettingsMap& m) {
            m["Capture/OverlayFlag"] = std::to_string(overlay);
            m["Capture/FrameRate"] = std::to_string(rate);
        });
    }
}

double CaptureWindow::frameRate() const {
    return FrameRateOfIndex(frameRateIndex_);
}

void CaptureWindow::Attach() {
    job_->SetIdleObserver(reports_.get());
    job_->SetFrameRate(frameRate());
    SetMode(mode_);
}

void CaptureWindow::Detach() {
    previewTimer_->stop();
    job_->SetFrameListener(nullptr);
    job_->SetIdleObserver(nullptr);
    job_->StopPreview();
}

void CaptureWindow::SetMode(Mode mode) {
    mode_ = mode;
    if (mode == Mode::kOverlay) {
        previewTimer_->stop();
        // Every delivered frame asks for a picture of its own.
        job_->SetFrameListener([this](uint64_t) {
            QMetaObject::invokeMethod(
                this, [this] { ShowLatest(); }, Qt::QueuedConnection);
        });
    } else {
        job_->SetFrameListener(nullptr);
        previewTimer_->start();
    }
    emit stateChanged();
}

void CaptureWindow::ShowLatest() {
    int w = 0, h = 0;
    const uint64_t serial = job_->LatestFrame(shownSerial_, &yuv_, &w, &h);
    if (serial == 0 || serial == shownSerial_ || w < 2 || h < 2) return;
    if (yuv_.size() < static_cast<size_t>(w) * h * 3 / 2) return;
    shownSerial_ = serial;
    rgb24_.resize(static_cast<size_t>(w) * h * 3);
    clrconv::ConvertI420ToRgb24(yuv_.data(), rgb24_.data(), w, h, w * h, context_.cpuFlags);
    QImage image(w, h, QImage::Format_RGB32);
    // The converter writes a bottom-up BGR bitmap; the image is top-down 0xffRRGGBB.
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = rgb24_.data() + static_cast<size_t>(h - 1 - y) * w * 3;
        auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < w; ++x, src += 3) {
            dst[x] = 0xff000000u | uint32_t{src[2]} << 16 | uint32_t{src[1]} << 8 | src[0];
        }
    }
    view_->SetPicture(image);
    ++picturesShown_;
}

void CaptureWindow::UpdatePanes() {
    const FrameSource& source = job_->source();
    const uint32_t fourcc = source.fourcc();
    const int bits = BitsPerPixelOf(fourcc);
    const int w = source.width(), h = source.height();
    const std::string texts[4] = {FormatPaneText(fourcc, bits), SizePaneText(w, h),
                                  BitratePaneText(CaptureBitrateKbps(w, h, bits, frameRate())),
                                  FramePaneText(job_->FrameCounter(), frameRate())};
    for (int i = 0; i < 4; ++i) {
        const QString text = QString::fromStdString(texts[i]);
        if (panes_[i]->text() != text) panes_[i]->setText(text);
    }
}

void CaptureWindow::PictureFactsChanged() {
    const int w = job_->source().width(), h = job_->source().height();
    if (w != shownWidth_ || h != shownHeight_) {
        shownWidth_ = w;
        shownHeight_ = h;
        // A new picture size starts the encoder parameters afresh (1000 frames of that size).
        ReinitEncoderParams(context_.store->ReadAll(), 1000, PictureFormatOfSize(w, h), w, h,
                            context_.settings);
        view_->setMinimumSize(std::min(w, 64), std::min(h, 48));
        view_->SetPicture(QImage());
        shownSerial_ = 0;
        if (QWidget* frame = parentWidget()) {
            // Inside its sub-window: the view keeps the picture's own size.
            const QSize extra = frame->size() - size();
            frame->resize(QSize(w, h + status_->sizeHint().height()) + extra);
        } else {
            resize(w, h + status_->sizeHint().height());
        }
    }
    UpdatePanes();
    emit stateChanged();
}

bool CaptureWindow::FormatAccepted() {
    if (CaptureFormatAccepted(job_->source().fourcc())) return true;
    context_.prompts->Warning(this, QString::fromLatin1(kCaptureFormatRefusal));
    ShowVideoFormat();
    return false;
}

void CaptureWindow::StartCapture() {
    if (Capturing()) {
        if (!encodeRun_) job_->StopCapture();
        return;
    }
    if (!FormatAccepted()) return;
    const int w = job_->source().width(), h = job_->source().height();
    const QString ext = QString::fromLatin1(kRawExtensions[PictureFormatOfSize(w, h) - 1]);
    const QString output =
        context_.prompts->SaveFile(this, QStringLiteral("Save As Raw YUV12 Video File"),
                                   QString::fromStdString(context_.settings->currentDirectory),
                                   QStringLiteral("Raw YUV12 Video Files (*.%1)").arg(ext), ext);
    if (output.isEmpty()) return;
    StartRun(output, false);
}

void CaptureWindow::StartEncoding() {
    if (Capturing() || !FormatAccepted()) return;
    QString output = QString::fromStdString(context_.settings->general.DefaultOutputFile);
    if (output.isEmpty()) {
        output = context_.prompts->SaveFile(this, QStringLiteral("Save As H263 Bitstream Video File"),
                                            QString::fromStdString(context_.settings->currentDirectory),
                                            QStringLiteral("H263 Bitstream Video Files (*.263)"),
                                            QStringLiteral("263"));
        if (output.isEmpty()) return;
    }
    StartRun(output, true);
}

void CaptureWindow::StartRun(const QString& output, bool encode) {
    CaptureConfig config;
    config.outputPath = output.toStdString();
    config.encode = encode;
    config.settings = *context_.settings;
    config.settings.coder.StartFrame = 0;
    config.frameRate = frameRate();
    if (context_.protectedPaths) config.protectedPaths = context_.protectedPaths();
    bridge_->Reset();
    std::string error;
    if (!job_->Start(config, *reports_, &error)) {
        if (!error.empty()) context_.prompts->Warning(this, QString::fromStdString(error));
        return;
    }
    runActive_ = true;
    encodeRun_ = encode;
    UpdatePanes();
    emit stateChanged();
}

void CaptureWindow::StopEncoding() {
    if (Encoding()) job_->Stop();
}

void CaptureWindow::RunFinished(bool completed) {
    if (!runActive_) return;
    job_->Wait();
    runActive_ = false;
    encodeRun_ = false;
    UpdatePanes();
    emit stateChanged();
    emit captureFinished(completed);
}

void CaptureWindow::StopForClosing() {
    if (!job_ || !runActive_) return;
    job_->StopCapture();
    job_->Stop();
    job_->Wait();
    // The stop lines and the end of the run are handled before the window goes.
    QCoreApplication::sendPostedEvents(bridge_.get(), QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    RunFinished(true);
}

void CaptureWindow::closeEvent(QCloseEvent* event) {
    StopForClosing();
    event->accept();
}

void CaptureWindow::SetFrameRateIndex(int index) {
    frameRateIndex_ = std::clamp(index, 0, 5);
    job_->SetFrameRate(frameRate());
    UpdatePanes();
    emit stateChanged();
}

void CaptureWindow::ShowVideoSource() {
    if (Capturing() || dialog_) return;
    auto* dialog = new VideoSourceDialog(ListSources(context_.deviceFolder.toStdString()),
                                         QString::fromStdString(job_->source().Name()), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (const SourceInfo* info = dialog->chosen()) {
            // The same source again reconnects only when it stopped streaming (after a failure).
            if (info->name != job_->source().Name() || !job_->source().Capturing()) Reconnect(*info);
        }
    });
    dialog_ = dialog;
    dialog->open();
}

bool CaptureWindow::Reconnect(const SourceInfo& info) {
    if (Capturing()) return false;
    std::string error;
    std::unique_ptr<FrameSource> source = OpenSource(info, &error);
    if (!source) {
        context_.prompts->Warning(this, QString::fromStdString(error));
        return false;
    }
    Detach();
    job_ = std::make_unique<CaptureJob>(std::move(source));
    Attach();
    if (!job_->StartPreview(&error)) context_.prompts->Warning(this, QString::fromStdString(error));
    PictureFactsChanged();
    return true;
}

void CaptureWindow::ShowVideoFormat() {
    if (Capturing() || dialog_) return;
    const FrameSource& source = job_->source();
    auto* dialog =
        new VideoFormatDialog(source.Formats(), source.fourcc(), {source.width(), source.height()}, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const FrameSize size = dialog->size();
        ApplyFormat(dialog->fourcc(), size.width, size.height);
    });
    dialog_ = dialog;
    dialog->open();
}

bool CaptureWindow::ApplyFormat(uint32_t fourcc, int width, int height) {
    std::string error;
    const bool ok = job_->SetFormat(fourcc, width, height, &error);
    if (!ok) context_.prompts->Warning(this, QString::fromStdString(error));
    PictureFactsChanged();
    return ok;
}

}  // namespace tessaro::shell
