#include "Prompts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>

namespace tessaro::shell {

void Prompts::Warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Tessaro"), text);
}

void Prompts::DriverWarning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Driver Warning"), text);
}

void Prompts::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("Tessaro"), text);
}

QString Prompts::OpenFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString Prompts::SaveFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                          const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

bool Prompts::PictureSize(QWidget* parent, const QString& title, int* width, int* height) {
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto* form = new QFormLayout(&dialog);
    auto* widthEdit = new QLineEdit(&dialog);
    auto* heightEdit = new QLineEdit(&dialog);
    form->addRow(QStringLiteral("Width:"), widthEdit);
    form->addRow(QStringLiteral("Height:"), heightEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return false;
    *width = widthEdit->text().trimmed().toInt();
    *height = heightEdit->text().trimmed().toInt();
    return true;
}

bool Prompts::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace tessaro::shell
