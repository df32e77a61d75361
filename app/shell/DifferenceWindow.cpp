#include "DifferenceWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "DifferenceImage.h"
#include "Job.h"
#include "VideoWindow.h"

namespace tessaro::shell {
namespace {

QString BaseName(const VideoFile& file) {
    return QFileInfo(QString::fromStdString(file.name())).fileName();
}

}  // namespace

DifferenceView::DifferenceView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void DifferenceView::SetImage(const QImage& image) {
    image_ = image;
    update();
}

void DifferenceView::SetClientSize(QSize size) {
    clientSize_ = size;
    updateGeometry();
}

void DifferenceView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull()) {
        // Not black: black would read as "no difference".
        painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        return;
    }
    // The picture keeps its shape; what is left of the client area around it is the window's.
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.fillRect(rect(), palette().window());
    painter.drawImage(target, image_);
}

DifferenceWindow::DifferenceWindow(std::shared_ptr<VideoDocument> first,
                                   std::shared_ptr<VideoDocument> second, QWidget* parent)
    : QWidget(parent), first_(std::move(first)), second_(std::move(second)), gain_(kDefaultDifferenceGain) {
    setWindowTitle(
        QStringLiteral("Difference: %1 - %2").arg(BaseName(first_->file), BaseName(second_->file)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new DifferenceView(this);
    view_->setObjectName(QStringLiteral("differenceView"));
    const VideoFile& file = first_->file;
    // Small pictures start at twice their size, so that single differing pixels can be seen.
    const int zoom = file.width() > 0 && file.width() < 352 ? 2 : 1;
    view_->SetClientSize(QSize(std::max(file.width(), 16), std::max(file.height(), 16)) * zoom);
    layout->addWidget(view_, 1);

    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 1, 4, 1);
    auto* label = new QLabel(QStringLiteral("&Gain:"), bar);
    gainBox_ = new QComboBox(bar);
    gainBox_->setObjectName(QStringLiteral("differenceGain"));
    gainBox_->setToolTip(QStringLiteral("Amplification of the absolute luma difference"));
    for (int g : kDifferenceGains) gainBox_->addItem(QStringLiteral("x%1").arg(g), g);
    gainBox_->setCurrentIndex(gainBox_->findData(gain_));
    label->setBuddy(gainBox_);
    row->addWidget(label);
    row->addWidget(gainBox_);
    row->addStretch(1);
    largestPane_ = new QLabel(bar);
    largestPane_->setObjectName(QStringLiteral("largestDifference"));
    row->addWidget(largestPane_);
    layout->addWidget(bar);
    connect(gainBox_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetGain(gainBox_->itemData(index).toInt()); });

    status_ = new QStatusBar(this);
    status_->setSizeGripEnabled(false);
    QFont font = status_->font();
    font.setPointSize(8);
    status_->setFont(font);
    snrPane_ = new QLabel(status_);
    snrPane_->setObjectName(QStringLiteral("differenceStatus"));
    // The text never widens the window past the picture; the whole of it is in the tooltip.
    snrPane_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->addWidget(snrPane_, 1);
    layout->addWidget(status_);

    const size_t frameBytes = static_cast<size_t>(std::max<int64_t>(file.frameBytes(), 0));
    a_.assign(frameBytes, 0);
    b_.assign(frameBytes, 0);
    ShowFrame(0);
}

void DifferenceWindow::SetGain(int gain) {
    gain_ = ClampDifferenceGain(gain);
    const int index = gainBox_->findData(gain_);
    if (index >= 0 && index != gainBox_->currentIndex()) {
        const QSignalBlocker block(gainBox_);
        gainBox_->setCurrentIndex(index);
    }
    Render();
}

void DifferenceWindow::ShowFrame(int frame) {
    frame_ = std::clamp(frame, 0, std::max(first_->file.frameCount() - 1, 0));
    Render();
    emit frameShown(frame_);
}

void DifferenceWindow::Render() {
    const VideoFile &a = first_->file, &b = second_->file;
    const int w = a.width(), h = a.height();
    image_ = QImage();
    largest_ = 0;
    QString text;
    const bool sameShape = a.isRaw() && b.isRaw() && w > 0 && h > 0 && b.width() == w && b.height() == h &&
                           a.frameBytes() == static_cast<int64_t>(a_.size());
    if (!sameShape) {
        text = QStringLiteral("The sequences are no longer raw sequences of the same size");
    } else if (frame_ >= b.frameCount()) {
        text = QStringLiteral("Frame %1: %2 has only %3 frames")
                   .arg(frame_)
                   .arg(BaseName(b))
                   .arg(b.frameCount());
    } else if (!a.ReadFrame(frame_, a_.data()) || !b.ReadFrame(frame_, b_.data())) {
        text = QStringLiteral("Frame %1 could not be read").arg(frame_);
    } else {
        image_ = QImage(w, h, QImage::Format_Grayscale8);
        // Row by row: the image's lines are padded to four bytes.
        for (int y = 0; y < h; ++y) {
            const size_t at = static_cast<size_t>(y) * w;
            largest_ =
                std::max(largest_, AmplifiedDifference(a_.data() + at, b_.data() + at, static_cast<size_t>(w),
                                                       gain_, image_.scanLine(y)));
        }
        MeasureFrameSnr(a_.data(), b_.data(), w, h, &snr_[0], &snr_[1], &snr_[2]);
        if (snr_[0] >= 1000.0 && snr_[1] >= 1000.0 && snr_[2] >= 1000.0) {
            text = QStringLiteral("Frame %1: identical (PSNR Y = U = V = 1000.00 dB)").arg(frame_);
        } else {
            text = QStringLiteral("Frame %1: PSNR Y %2, U %3, V %4 dB")
                       .arg(frame_)
                       .arg(snr_[0], 0, 'f', 2)
                       .arg(snr_[1], 0, 'f', 2)
                       .arg(snr_[2], 0, 'f', 2);
        }
    }
    largestPane_->setText(image_.isNull() ? QString()
                                          : QStringLiteral("Largest difference: %1").arg(largest_));
    snrPane_->setText(text);
    snrPane_->setToolTip(text);
    view_->SetImage(image_);
}

QString DifferenceWindow::statusText() const {
    return snrPane_->text();
}

}  // namespace tessaro::shell
