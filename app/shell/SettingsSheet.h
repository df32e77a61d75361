// The settings sheet "V263+ ODI Settings": the General, Coder and Advanced pages over a copy of
// the settings record. A page is left (another tab, or OK) only when its numbers are inside their
// ranges and its own checks hold; otherwise the message is shown and the field is selected.
#pragma once

#include <QDialog>
#include <vector>

#include "Settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QScrollBar;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace tessaro::shell {

class Prompts;

class SettingsSheet : public QDialog {
    Q_OBJECT
  public:
    // `settings` holds the picture facts of the active file (FrameCount, SourceFormat, Width,
    // Height); `capture` is set when the sheet is opened from the capture window.
    SettingsSheet(const CodecSettings& settings, bool capture, Prompts& prompts, QWidget* parent = nullptr);

    // The values of the controls (valid after the sheet was accepted).
    const CodecSettings& edited() const { return edited_; }
    QTabWidget* tabs() const { return tabs_; }

    void accept() override;

  private:
    // A number edit with its range check and an optional up-down control.
    struct NumberField {
        QLineEdit* edit = nullptr;
        QScrollBar* spin = nullptr;
        int minimum = 0, maximum = 0;
        bool checked = true;  // read-only fields are not range-checked
        int page = 0;
    };
    QWidget* BuildGeneral();
    QWidget* BuildCoder();
    QWidget* BuildAdvanced();
    QWidget* Number(QWidget* parent, const char* name, int value, int minimum, int maximum, int page,
                    int spinMinimum = 0, int spinMaximum = -1, bool readOnly = false);
    QLineEdit* Edit(const char* name) const;
    int Value(const char* name) const;
    void FillRateLists();
    void UpdateEnabling();
    // The range checks and the page's own checks; false after showing the message.
    bool LeavePage(int page);
    void Refuse(QLineEdit* edit, const std::string& message);
    void Collect();

    CodecSettings original_, edited_;
    bool capture_;
    Prompts& prompts_;
    QTabWidget* tabs_ = nullptr;
    int currentPage_ = 0;
    bool switching_ = false;
    std::vector<bool> visited_ = {true, false, false};
    std::vector<NumberField> numbers_;

    QCheckBox *showLog_ = nullptr, *showSnr_ = nullptr, *showProgress_ = nullptr, *deleteDecoded_ = nullptr,
              *errorConceal_ = nullptr;
    QLineEdit *startupFile_ = nullptr, *defaultOutput_ = nullptr;
    QComboBox *target_ = nullptr, *actual_ = nullptr, *input_ = nullptr, *rateControl_ = nullptr;
    QCheckBox* gob_ = nullptr;
    QSpinBox* threads_ = nullptr;
    QSlider* speed_ = nullptr;
    QCheckBox *useB_ = nullptr, *advIntra_ = nullptr, *modQuant_ = nullptr, *deblock_ = nullptr, *slices_ = nullptr;
};

}  // namespace tessaro::shell
