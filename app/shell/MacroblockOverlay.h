// The macroblock analysis drawn over a decoded picture: each macroblock's kind as a translucent
// colour, its motion vectors as arrows, and the legend that names the colours. The mapping from
// the view to macroblocks is a plain function, tested without a window.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

#include "DecodeAnalysis.h"

class QGridLayout;
class QLabel;
class QPainter;

namespace tessaro::shell {

// The fill of a macroblock kind, translucent (alpha below 128) so that the picture shows through.
QColor OverlayColour(r263iri::MacroblockKind kind);
// The arrows of forward vectors (P-pictures and B forward) and of backward vectors.
QColor ForwardArrowColour();
QColor BackwardArrowColour();

// The macroblock under point `at` of a view of `viewSize` showing a picture of pictureWidth x
// pictureHeight samples scaled to the whole view; (-1, -1) outside the picture's macroblocks.
QPoint MacroblockAtPoint(QPoint at, QSize viewSize, int pictureWidth, int pictureHeight, int mbColumns,
                         int mbRows);

// Paints `picture`'s analysis over `target`, the rectangle the pictureWidth x pictureHeight
// picture is drawn into.
void PaintMacroblockOverlay(QPainter& painter, const AnalysedPicture& picture, const QRect& target,
                            int pictureWidth, int pictureHeight);

// The strip under an overlaid picture: the current picture's type and size, then a swatch and
// name for every kind and the two arrow colours.
class OverlayLegend : public QWidget {
    Q_OBJECT
  public:
    explicit OverlayLegend(QWidget* parent = nullptr);
    // "P-picture, 1234 bytes", or a note that the picture has no analysis.
    void SetPictureText(const QString& text);
    QString pictureText() const;
    // Lays the entries out in as many columns (2 to 4) as a picture `width` pixels wide holds.
    void FitWidth(int width);
    int columns() const { return columns_; }
    // A narrow window may clip the legend; it never widens the window.
    QSize minimumSizeHint() const override;

  private:
    QLabel* picture_;
    QGridLayout* grid_;
    std::vector<QWidget*> cells_;
    int columns_ = 0;
};

}  // namespace tessaro::shell
