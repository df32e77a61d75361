#include "VideoWindow.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "AviFile.h"
#include "ClrConv.h"
#include "MacroblockOverlay.h"
#include "OutputFiles.h"
#include "ShellLogic.h"
#include "StreamProperties.h"

namespace tessaro::shell {

VideoDocument::~VideoDocument() {
    file.Close();
    if (deleteDecoded && !decodedPath.empty()) DeleteDecodedFile(decodedPath);
}

VideoView::VideoView(std::shared_ptr<VideoDocument> document, uint32_t cpuFlags, QWidget* parent)
    : QWidget(parent), document_(std::move(document)), cpuFlags_(cpuFlags) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void VideoView::SetFrame(int frame) {
    frame_ = frame;
    update();
}

void VideoView::SetClientSize(QSize size) {
    clientSize_ = size;
    updateGeometry();
}

void VideoView::Prepare() {
    const VideoFile& file = document_->file;
    renderedFrame_ = -1;
    const int w = file.width(), h = file.height();
    if (w <= 0 || h <= 0 || (!file.isRaw() && !file.isAvi())) {
        yuv_.clear();
        rgb24_.clear();
        image_ = QImage();
        return;
    }
    if (file.isRaw()) {
        yuv_.assign(static_cast<size_t>(file.frameBytes()), 0);
        rgb24_.assign(static_cast<size_t>(w) * h * 3, 0);
    }
    image_ = QImage(w, h, QImage::Format_RGB32);
    image_.fill(Qt::black);
}

bool VideoView::RenderFrame() {
    if (document_->decodeBusy || image_.isNull()) return false;
    VideoFile& file = document_->file;
    const int count = file.frameCount();
    if (count <= 0) return false;
    const int k = std::clamp(frame_, 0, count - 1);
    if (k == renderedFrame_) return true;
    const int w = file.width(), h = file.height();
    if (file.isRaw()) {
        if (!file.ReadFrame(k, yuv_.data())) return false;
        clrconv::ConvertI420ToRgb24(yuv_.data(), rgb24_.data(), w, h, w * h, cpuFlags_);
        // The converter writes a bottom-up BGR bitmap; the image is top-down 0xffRRGGBB.
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = rgb24_.data() + static_cast<size_t>(h - 1 - y) * w * 3;
            auto* dst = reinterpret_cast<uint32_t*>(image_.scanLine(y));
            for (int x = 0; x < w; ++x, src += 3) {
                dst[x] = 0xff000000u | uint32_t{src[2]} << 16 | uint32_t{src[1]} << 8 | src[0];
            }
        }
    } else if (file.isAvi()) {
        if (!file.avi()->ReadFrameRgb32(k, image_.bits(), static_cast<int>(image_.bytesPerLine())))
            return false;
    } else {
        return false;
    }
    renderedFrame_ = k;
    return true;
}

void VideoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (RenderFrame()) {
        painter.drawImage(rect(), image_);
        if (const AnalysedPicture* picture = overlay_ ? CurrentAnalysis() : nullptr) {
            PaintMacroblockOverlay(painter, *picture, rect(), image_.width(), image_.height());
        }
    } else {
        painter.fillRect(rect(), Qt::black);
    }
}

void VideoView::SetOverlay(bool on) {
    overlay_ = on;
    if (!on) QToolTip::hideText();
    update();
}

const AnalysedPicture* VideoView::CurrentAnalysis() const {
    const StreamAnalysis* analysis = document_->analysis.get();
    const int count = document_->file.frameCount();
    if (!analysis || document_->decodeBusy || count <= 0) return nullptr;
    return analysis->Picture(std::clamp(frame_, 0, count - 1));
}

QString VideoView::MacroblockToolTip(QPoint at) const {
    const AnalysedPicture* picture = overlay_ ? CurrentAnalysis() : nullptr;
    const VideoFile& file = document_->file;
    if (!picture) return {};
    const QPoint mb =
        MacroblockAtPoint(at, size(), file.width(), file.height(), picture->mbColumns, picture->mbRows);
    if (mb.x() < 0) return {};
    return QString::fromStdString(DescribeMacroblock(*picture, mb.x(), mb.y()));
}

bool VideoView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = MacroblockToolTip(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void VideoView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked();
}

void VideoView::contextMenuEvent(QContextMenuEvent* event) {
    emit contextMenuWanted(event->globalPos());
}

PaneLabel::PaneLabel(int characters, QWidget* parent) : QLabel(parent), characters_(characters) {}

QSize PaneLabel::sizeHint() const {
    const int w =
        characters_ > 0 ? fontMetrics().averageCharWidth() * characters_ : QLabel::sizeHint().width();
    return {w, QLabel::sizeHint().height()};
}

QSize PaneLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

VideoWindow::VideoWindow(std::shared_ptr<VideoDocument> document, uint32_t cpuFlags, QWidget* parent)
    : QWidget(parent), document_(std::move(document)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new VideoView(document_, cpuFlags, this);
    layout->addWidget(view_, 1);
    legend_ = new OverlayLegend(this);
    legend_->hide();
    layout->addWidget(legend_);

    auto* bar = new QWidget(this);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(2, 1, 2, 1);
    playButton_ = new QToolButton(bar);
    playButton_->setAutoRaise(true);
    playButton_->setToolTip(QStringLiteral("Play / Pause"));
    slider_ = new QSlider(Qt::Horizontal, bar);
    slider_->setMinimumWidth(16);
    barLayout->addWidget(playButton_);
    barLayout->addWidget(slider_, 1);
    layout->addWidget(bar);

    status_ = new QStatusBar(this);
    status_->setSizeGripEnabled(false);
    QFont font = status_->font();
    font.setPointSize(8);
    status_->setFont(font);
    sizePane_ = new PaneLabel(9, status_);  // "1408x1152"
    bitratePane_ = new PaneLabel(10, status_);
    ratePane_ = new PaneLabel(0, status_);
    status_->addWidget(sizePane_);
    status_->addWidget(bitratePane_);
    status_->addWidget(ratePane_, 1);
    layout->addWidget(status_);

    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &VideoWindow::Tick);
    connect(view_, &VideoView::clicked, this, &VideoWindow::TogglePlayback);
    connect(playButton_, &QToolButton::clicked, this, &VideoWindow::TogglePlayback);
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (value != currentFrame_) SeekFrame(value);
    });
    connect(view_, &VideoView::contextMenuWanted, this, [this](const QPoint& at) {
        if (canOfferContextMenu()) emit contextMenuWanted(at);
    });
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
}

VideoWindow::~VideoWindow() {
    timer_.stop();
}

QSize VideoWindow::PictureSize() const {
    const VideoFile& file = document_->file;
    if (file.width() > 0 && file.height() > 0) return {file.width(), file.height()};
    return {176, 144};  // not known yet
}

void VideoWindow::Reopened() {
    StopPlayback();
    if (overlayShown() && !HasAnalysis()) {
        view_->SetOverlay(false);
        legend_->hide();
    }
    const VideoFile& file = document_->file;
    setWindowTitle(QFileInfo(QString::fromStdString(file.name())).fileName());
    currentFrame_ = 0;
    view_->Prepare();
    view_->SetFrame(0);
    {
        const QSignalBlocker block(slider_);
        slider_->setRange(0, std::max(file.frameCount() - 1, 0));
        slider_->setValue(0);
    }
    ApplyClientSize();
    UpdatePanes();
    emit stateChanged();
    emit frameShown(currentFrame_);
}

void VideoWindow::ApplyClientSize() {
    const QSize picture = PictureSize();
    const QSize want = picture * zoom_;
    view_->SetClientSize(want);
    legend_->FitWidth(want.width());
    QWidget* top = parentWidget() && parentWidget()->inherits("QMdiSubWindow") ? parentWidget() : this;
    QSize extra;
    for (int pass = 0; pass < 3; ++pass) {
        layout()->activate();
        if (top != this && top->layout()) top->layout()->activate();
        extra = top->size() - view_->size();
        const QSize diff = want - view_->size();
        if (diff.isNull()) break;
        top->resize(top->size() + diff);
    }
    // The window is never dragged larger than 6 x the picture.
    top->setMaximumSize(picture.width() * kMaxDragFactor + extra.width(),
                        picture.height() * kMaxDragFactor + extra.height());
}

void VideoWindow::SetZoom(int zoom) {
    zoom_ = ClampZoom(zoom);
    ApplyClientSize();
    UpdatePanes();
    emit stateChanged();
}

int VideoWindow::CheckedZoom() const {
    const QSize picture = PictureSize();
    return ZoomOfClientSize(picture.width(), picture.height(), view_->width(), view_->height());
}

void VideoWindow::SetFrameRateIndex(int index) {
    document_->file.SetFrameRateIndex(std::clamp(index, 0, 5));
    if (playing_) timer_.start(PlaybackPeriodMs(frameRateIndex()));
    UpdatePanes();
    emit stateChanged();
}

void VideoWindow::TogglePlayback() {
    if (playing_) {
        StopPlayback();
        emit stateChanged();
        return;
    }
    const VideoFile& file = document_->file;
    if (document_->decodeBusy || (!file.isRaw() && !file.isAvi()) || file.frameCount() <= 0) return;
    currentFrame_ = PlaybackStartFrame(currentFrame_, file.frameCount());
    view_->SetFrame(currentFrame_);
    emit frameShown(currentFrame_);
    playing_ = true;
    timer_.start(PlaybackPeriodMs(frameRateIndex()));
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    UpdatePanes();
    emit stateChanged();
}

void VideoWindow::StopPlayback() {
    timer_.stop();
    if (!playing_) return;
    playing_ = false;
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
}

void VideoWindow::Tick() {
    const PlaybackStep step = PlaybackTick(currentFrame_, document_->file.frameCount());
    currentFrame_ = step.frame;
    if (step.stop) StopPlayback();
    {
        const QSignalBlocker block(slider_);
        slider_->setValue(currentFrame_);
    }
    view_->SetFrame(currentFrame_);
    UpdatePanes();
    emit frameShown(currentFrame_);
    if (step.stop) emit stateChanged();
}

void VideoWindow::SeekFrame(int frame) {
    const int count = document_->file.frameCount();
    currentFrame_ = std::clamp(frame, 0, std::max(count - 1, 0));
    {
        const QSignalBlocker block(slider_);
        slider_->setValue(currentFrame_);
    }
    view_->SetFrame(currentFrame_);
    UpdatePanes();
    emit frameShown(currentFrame_);
}

bool VideoWindow::CanEncodeOrCompare() const {
    const VideoFile& file = document_->file;
    return !document_->decodeBusy && !document_->encodeBusy && !playing_ && file.isRaw();
}

bool VideoWindow::canOfferContextMenu() const {
    return !document_->encodeBusy && !playing_;
}

void VideoWindow::UpdatePanes() {
    const VideoFile& file = document_->file;
    const QSize shown = PictureSize() * zoom_;
    sizePane_->setText(QString::fromStdString(SizePaneText(shown.width(), shown.height())));
    const bool drawable = !document_->decodeBusy && (file.isRaw() || file.isAvi());
    bitratePane_->setText(drawable ? QString::fromStdString(BitratePaneText(file.bitrateKbps())) : QString());
    ratePane_->setText(drawable ? QString::fromStdString(RatePaneText(file.frameRate(), currentFrame_))
                                : QString());
    if (legend_->isVisible()) legend_->SetPictureText(PictureText());
    if (properties_) properties_->SetFrameRate(file.frameRate());
}

bool VideoWindow::HasAnalysis() const {
    const VideoDocument& d = *document_;
    return d.analysis && !d.decodeBusy && d.file.isBitstream() && d.file.isRaw();
}

void VideoWindow::SetOverlayShown(bool shown) {
    shown = shown && HasAnalysis();
    if (shown == overlayShown()) return;
    view_->SetOverlay(shown);
    legend_->setVisible(shown);
    if (shown) legend_->SetPictureText(PictureText());
    // The picture keeps its size; the window grows or shrinks by the legend.
    ApplyClientSize();
    emit stateChanged();
}

QString VideoWindow::PictureText() const {
    if (!HasAnalysis()) return {};
    if (const AnalysedPicture* picture = view_->CurrentAnalysis()) {
        return QStringLiteral("Frame %1: %2")
            .arg(currentFrame_)
            .arg(QString::fromStdString(PictureSummary(*picture)));
    }
    return QStringLiteral("Frame %1: no analysis kept for this picture").arg(currentFrame_);
}

StreamPropertiesDialog* VideoWindow::ShowProperties() {
    const std::shared_ptr<const StreamAnalysis>& analysis = document_->analysis;
    if (!HasAnalysis() || !analysis->haveInfo) return nullptr;
    if (!properties_) {
        const QString name = QFileInfo(QString::fromStdString(analysis->source)).fileName();
        properties_ = new StreamPropertiesDialog(name, analysis->info, document_->file.frameRate(), this);
        properties_->setWindowFlag(Qt::Window);
        properties_->setAttribute(Qt::WA_DeleteOnClose);
    }
    properties_->show();
    properties_->raise();
    properties_->activateWindow();
    return properties_;
}

StreamPropertiesDialog* VideoWindow::propertiesDialog() const {
    return properties_;
}

}  // namespace tessaro::shell
