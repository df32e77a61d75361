// Everything the windows ask of the user: message boxes, file dialogs, the picture-size question,
// and opening a web address. The default implementation shows the real dialogs; tests answer
// with a script instead.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace tessaro::shell {

class Prompts {
  public:
    virtual ~Prompts() = default;
    // A message box with a warning icon.
    virtual void Warning(QWidget* parent, const QString& text);
    virtual void Information(QWidget* parent, const QString& text);
    // A capture source's problem: a warning box titled "Driver Warning".
    virtual void DriverWarning(QWidget* parent, const QString& text);
    // The chosen existing file, or "" on Cancel. `filter` is a Qt name filter list (";;").
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter);
    // The chosen file to write (the dialog asks before replacing one), or "" on Cancel.
    virtual QString SaveFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                             const QString& defaultSuffix);
    // Width and height of a ".cst" file typed by the user; false on Cancel. Text that is not a
    // number gives 0 (refused by the caller).
    virtual bool PictureSize(QWidget* parent, const QString& title, int* width, int* height);
    virtual bool OpenUrl(const QUrl& url);
};

}  // namespace tessaro::shell
