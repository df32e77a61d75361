// The capture window's dialogs: the Video Source list and the Video Format choice, both filled
// from what the sources offer.
#pragma once

#include <QDialog>
#include <vector>

#include "FrameSource.h"

class QComboBox;
class QListWidget;
class QSpinBox;

namespace tessaro::shell {

// Lists the sources (devices, then the test pattern) with the connected one selected.
class VideoSourceDialog : public QDialog {
    Q_OBJECT
  public:
    VideoSourceDialog(std::vector<SourceInfo> sources, const QString& current, QWidget* parent = nullptr);
    // The entry selected; nullptr when nothing is.
    const SourceInfo* chosen() const;
    QListWidget* list() const { return list_; }

  private:
    std::vector<SourceInfo> sources_;
    QListWidget* list_ = nullptr;
};

// The formats of a source and, for the chosen one, its sizes; "Custom" opens the width and
// height fields when the format takes other sizes too.
class VideoFormatDialog : public QDialog {
    Q_OBJECT
  public:
    VideoFormatDialog(std::vector<SourceFormat> formats, uint32_t fourcc, FrameSize size,
                      QWidget* parent = nullptr);
    uint32_t fourcc() const;
    FrameSize size() const;
    QComboBox* formatBox() const { return formatBox_; }
    QComboBox* sizeBox() const { return sizeBox_; }
    QSpinBox* widthBox() const { return width_; }
    QSpinBox* heightBox() const { return height_; }

  private:
    void FillSizes(FrameSize wanted);
    void UpdateCustom();
    const SourceFormat* Current() const;

    std::vector<SourceFormat> formats_;
    QComboBox *formatBox_ = nullptr, *sizeBox_ = nullptr;
    QSpinBox *width_ = nullptr, *height_ = nullptr;
};

}  // namespace tessaro::shell
