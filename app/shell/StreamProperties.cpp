#include "StreamProperties.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "DecodeAnalysis.h"

namespace tessaro::shell {

StreamPropertiesDialog::StreamPropertiesDialog(const QString& name, const StreamInfo& info, double frameRate,
                                               QWidget* parent)
    : QDialog(parent), info_(info), frameRate_(frameRate) {
    setObjectName(QStringLiteral("streamProperties"));
    setWindowTitle(QStringLiteral("Properties - %1").arg(name));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>%1</b>").arg(name.toHtmlEscaped()), this);
    layout->addWidget(title);
    form_ = new QFormLayout();
    form_->setLabelAlignment(Qt::AlignLeft);
    layout->addLayout(form_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Fill();
}

void StreamPropertiesDialog::SetFrameRate(double frameRate) {
    frameRate_ = frameRate;
    Fill();
}

void StreamPropertiesDialog::Fill() {
    while (form_->rowCount() > 0) form_->removeRow(0);
    for (const auto& [name, value] : StreamPropertyRows(info_, frameRate_)) {
        auto* label = new QLabel(QString::fromStdString(value), this);
        label->setObjectName(QString::fromStdString(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form_->addRow(QString::fromStdString(name) + QLatin1Char(':'), label);
    }
}

QString StreamPropertiesDialog::Value(const QString& name) const {
    for (int row = 0; row < form_->rowCount(); ++row) {
        auto* label = qobject_cast<QLabel*>(form_->itemAt(row, QFormLayout::FieldRole)->widget());
        if (label && label->objectName() == name) return label->text();
    }
    return {};
}

}  // namespace tessaro::shell
