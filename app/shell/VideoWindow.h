// The window of one opened file: the document (its VideoFile and busy flags), the view that draws
// the current frame scaled to its client area, the playback bar and the three status panes.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "DecodeAnalysis.h"
#include "VideoFile.h"

class QSlider;
class QMenu;
class QToolButton;
class QStatusBar;

namespace tessaro::shell {

// What one window shows. Shared with the jobs that run on it, so that it stays valid until the
// last of them has ended, even after its window is gone.
struct VideoDocument {
    explicit VideoDocument(int frameRateIndex) : file(frameRateIndex) {}
    ~VideoDocument();
    VideoFile file;
    bool encodeBusy = false;
    bool decodeBusy = false;
    // The decoded output of a bitstream, and whether it goes with the document.
    std::string decodedPath;
    bool deleteDecoded = false;
    // A decoded bitstream's macroblock analysis and header facts (null for other files and while
    // the stream is decoded).
    std::shared_ptr<const StreamAnalysis> analysis;
};

class OverlayLegend;
class StreamPropertiesDialog;

// The picture: the current frame scaled to the whole client area, black when nothing is drawable.
class VideoView : public QWidget {
    Q_OBJECT
  public:
    VideoView(std::shared_ptr<VideoDocument> document, uint32_t cpuFlags, QWidget* parent);
    void SetFrame(int frame);
    void SetClientSize(QSize size);
    QSize sizeHint() const override { return clientSize_; }
    QSize minimumSizeHint() const override { return {16, 16}; }
    // Prepares the buffers after an open (nothing is allocated per frame).
    void Prepare();
    // Renders the current frame into the image (false when nothing is drawable).
    bool RenderFrame();
    const QImage& image() const { return image_; }

    // The macroblock analysis drawn over the picture, and macroblock tooltips.
    void SetOverlay(bool on);
    bool overlay() const { return overlay_; }
    // The analysis of the frame shown (clamped like the drawing), or null.
    const AnalysedPicture* CurrentAnalysis() const;
    // The tooltip for view point `at`: the macroblock's facts, empty when the overlay is off or
    // there is no macroblock there.
    QString MacroblockToolTip(QPoint at) const;

  signals:
    void clicked();
    void contextMenuWanted(const QPoint& globalPosition);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    std::shared_ptr<VideoDocument> document_;
    uint32_t cpuFlags_;
    QSize clientSize_{176, 144};
    int frame_ = 0;
    int renderedFrame_ = -1;
    bool overlay_ = false;
    std::vector<uint8_t> yuv_, rgb24_;
    QImage image_;
};

// A status pane with a width of `characters` average characters that may shrink to nothing, so
// that it never widens the window past the picture.
class PaneLabel : public QLabel {
  public:
    PaneLabel(int characters, QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  private:
    int characters_;
};

class VideoWindow : public QWidget {
    Q_OBJECT
  public:
    VideoWindow(std::shared_ptr<VideoDocument> document, uint32_t cpuFlags, QWidget* parent = nullptr);
    ~VideoWindow() override;

    const std::shared_ptr<VideoDocument>& document() const { return document_; }
    VideoFile& file() { return document_->file; }
    // After an open or reopen: title, size, slider range, redraw.
    void Reopened();

    int zoom() const { return zoom_; }
    void SetZoom(int zoom);
    // The zoom that the client size equals exactly, or 0.
    int CheckedZoom() const;
    void SetFrameRateIndex(int index);
    int frameRateIndex() const { return document_->file.frameRateIndex(); }

    bool playing() const { return playing_; }
    void TogglePlayback();
    void StopPlayback();
    int currentFrame() const { return currentFrame_; }
    void SeekFrame(int frame);
    int timerPeriod() const { return timer_.interval(); }

    // A raw sequence that is neither busy nor playing.
    bool CanEncodeOrCompare() const;
    bool canOfferContextMenu() const;

    VideoView* view() const { return view_; }
    QSlider* slider() const { return slider_; }
    QToolButton* playButton() const { return playButton_; }
    QString sizePane() const { return sizePane_->text(); }
    QString bitratePane() const { return bitratePane_->text(); }
    QString ratePane() const { return ratePane_->text(); }
    void UpdatePanes();

    // A decoded bitstream whose analysis is there to show.
    bool HasAnalysis() const;
    // The macroblock overlay with its legend; only on a window with HasAnalysis().
    void SetOverlayShown(bool shown);
    bool overlayShown() const { return view_->overlay(); }
    OverlayLegend* legend() const { return legend_; }
    // The current picture's type and size in bytes, as the legend shows it.
    QString PictureText() const;
    // Opens (or raises) the stream's properties; null when the window holds no decoded stream.
    StreamPropertiesDialog* ShowProperties();
    StreamPropertiesDialog* propertiesDialog() const;

  signals:
    void stateChanged();
    void contextMenuWanted(const QPoint& globalPosition);
    // The current frame changed (a seek, a playback tick, a reopen).
    void frameShown(int frame);

  private:
    void Tick();
    void ApplyClientSize();
    QSize PictureSize() const;

    std::shared_ptr<VideoDocument> document_;
    VideoView* view_;
    QSlider* slider_;
    QToolButton* playButton_;
    QStatusBar* status_;
    PaneLabel *sizePane_, *bitratePane_, *ratePane_;
    OverlayLegend* legend_;
    QPointer<StreamPropertiesDialog> properties_;  // a child of this window while open
    QTimer timer_;
    bool playing_ = false;
    int currentFrame_ = 0;
    int zoom_ = 1;
};

}  // namespace tessaro::shell
