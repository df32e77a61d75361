// The difference view of a comparison: the absolute luma difference of two raw sequences of the
// same size, amplified (DifferenceImage.h) and shown as grey on black, one frame at a time. It
// shows the frame that the first sequence's window shows and gives that frame's PSNR (the compare
// job's measure) in its status bar. Two equal frames give a black picture.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QStatusBar;

namespace tessaro::shell {

struct VideoDocument;

// The picture, scaled to the whole client area; mid-grey when there is no difference to show.
class DifferenceView : public QWidget {
    Q_OBJECT
  public:
    explicit DifferenceView(QWidget* parent);
    void SetImage(const QImage& image);
    void SetClientSize(QSize size);
    QSize sizeHint() const override { return clientSize_; }
    QSize minimumSizeHint() const override { return {16, 16}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    QSize clientSize_{176, 144};
};

class DifferenceWindow : public QWidget {
    Q_OBJECT
  public:
    // Both documents hold raw sequences of the same width and height.
    DifferenceWindow(std::shared_ptr<VideoDocument> first, std::shared_ptr<VideoDocument> second,
                     QWidget* parent = nullptr);

    // Shows the difference of frame `frame` of the two sequences (clamped to the first one's
    // frames). A frame the second sequence lacks, or one that cannot be read, shows no picture and
    // says why in the status bar.
    void ShowFrame(int frame);
    int frame() const { return frame_; }
    // The amplification, one of kDifferenceGains.
    int gain() const { return gain_; }
    void SetGain(int gain);

    // The shown difference (Format_Grayscale8, the picture's size), null when there is none.
    const QImage& image() const { return image_; }
    // The largest absolute luma difference of the shown frame (0..255).
    int largestDifference() const { return largest_; }
    // The PSNR of the shown frame per plane (valid when image() is not null).
    double snrY() const { return snr_[0]; }
    double snrU() const { return snr_[1]; }
    double snrV() const { return snr_[2]; }
    QString statusText() const;
    DifferenceView* view() const { return view_; }
    QComboBox* gainBox() const { return gainBox_; }

  signals:
    void frameShown(int frame);

  private:
    void Render();

    std::shared_ptr<VideoDocument> first_, second_;
    DifferenceView* view_;
    QComboBox* gainBox_;
    QStatusBar* status_;
    QLabel* snrPane_;
    QLabel* largestPane_;
    int frame_ = 0;
    int gain_;
    int largest_ = 0;
    double snr_[3] = {0.0, 0.0, 0.0};
    std::vector<uint8_t> a_, b_;
    QImage image_;
};

}  // namespace tessaro::shell
