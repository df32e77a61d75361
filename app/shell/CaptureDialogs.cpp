#include "CaptureDialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tessaro::shell {
namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QString SizeText(FrameSize s) {
    return QStringLiteral("%1x%2").arg(s.width).arg(s.height);
}

}  // namespace

VideoSourceDialog::VideoSourceDialog(std::vector<SourceInfo> sources, const QString& current, QWidget* parent)
    : QDialog(parent), sources_(std::move(sources)) {
    setWindowTitle(QStringLiteral("Video Source"));
    setObjectName(QStringLiteral("videoSourceDialog"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("sourceList"));
    for (const SourceInfo& s : sources_) {
        QString text = QString::fromStdString(s.name);
        if (!s.device.empty()) text += QStringLiteral(" (%1)").arg(QString::fromStdString(s.device));
        list_->addItem(text);
        if (QString::fromStdString(s.name) == current) list_->setCurrentRow(list_->count() - 1);
    }
    if (list_->currentRow() < 0 && list_->count() > 0) list_->setCurrentRow(0);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(list_);
    layout->addWidget(OkCancel(this));
}

const SourceInfo* VideoSourceDialog::chosen() const {
    const int row = list_->currentRow();
    return row >= 0 && row < static_cast<int>(sources_.size()) ? &sources_[static_cast<size_t>(row)]
                                                               : nullptr;
}

VideoFormatDialog::VideoFormatDialog(std::vector<SourceFormat> formats, uint32_t fourcc, FrameSize size,
                                     QWidget* parent)
    : QDialog(parent), formats_(std::move(formats)) {
    setWindowTitle(QStringLiteral("Video Format"));
    setObjectName(QStringLiteral("videoFormatDialog"));
    auto* form = new QFormLayout;
    formatBox_ = new QComboBox(this);
    formatBox_->setObjectName(QStringLiteral("formatBox"));
    for (const SourceFormat& f : formats_) formatBox_->addItem(QString::fromStdString(FourccText(f.fourcc)));
    sizeBox_ = new QComboBox(this);
    sizeBox_->setObjectName(QStringLiteral("sizeBox"));
    width_ = new QSpinBox(this);
    height_ = new QSpinBox(this);
    width_->setObjectName(QStringLiteral("widthBox"));
    height_->setObjectName(QStringLiteral("heightBox"));
    form->addRow(QStringLiteral("Format:"), formatBox_);
    form->addRow(QStringLiteral("Size:"), sizeBox_);
    form->addRow(QStringLiteral("Width:"), width_);
    form->addRow(QStringLiteral("Height:"), height_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this));

    int at = 0;
    for (size_t i = 0; i < formats_.size(); ++i) {
        if (formats_[i].fourcc == fourcc) at = static_cast<int>(i);
    }
    formatBox_->setCurrentIndex(at);
    FillSizes(size);
    connect(formatBox_, &QComboBox::currentIndexChanged, this, [this] { FillSizes(this->size()); });
    connect(sizeBox_, &QComboBox::currentIndexChanged, this, [this] { UpdateCustom(); });
}

const SourceFormat* VideoFormatDialog::Current() const {
    const int i = formatBox_->currentIndex();
    return i >= 0 && i < static_cast<int>(formats_.size()) ? &formats_[static_cast<size_t>(i)] : nullptr;
}

void VideoFormatDialog::FillSizes(FrameSize wanted) {
    const SourceFormat* f = Current();
    const QSignalBlocker block(sizeBox_);
    sizeBox_->clear();
    if (!f) return;
    int at = -1;
    for (const FrameSize& s : f->sizes) {
        if (s == wanted) at = sizeBox_->count();
        sizeBox_->addItem(SizeText(s));
    }
    if (f->customSizes) {
        sizeBox_->addItem(QStringLiteral("Custom"));
        width_->setRange(f->minimum.width, f->maximum.width);
        height_->setRange(f->minimum.height, f->maximum.height);
        width_->setValue(wanted.width);
        height_->setValue(wanted.height);
        if (at < 0) at = sizeBox_->count() - 1;
    }
    sizeBox_->setCurrentIndex(std::max(at, 0));
    UpdateCustom();
}

void VideoFormatDialog::UpdateCustom() {
    const SourceFormat* f = Current();
    const bool custom = f && f->customSizes && sizeBox_->currentIndex() == static_cast<int>(f->sizes.size());
    width_->setEnabled(custom);
    height_->setEnabled(custom);
}

uint32_t VideoFormatDialog::fourcc() const {
    const SourceFormat* f = Current();
    return f ? f->fourcc : 0;
}

FrameSize VideoFormatDialog::size() const {
    const SourceFormat* f = Current();
    const int i = sizeBox_->currentIndex();
    if (f && i >= 0 && i < static_cast<int>(f->sizes.size())) return f->sizes[static_cast<size_t>(i)];
    return {width_->value(), height_->value()};
}

}  // namespace tessaro::shell
