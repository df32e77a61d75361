#include "MacroblockOverlay.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tessaro::shell {

using r263iri::MacroblockKind;

namespace {

constexpr int kFillAlpha = 96;
// Width of one legend entry, in average characters ("bidirectional" and its swatch).
constexpr int kLegendEntryCharacters = 18;

// Every kind in the legend's order.
constexpr MacroblockKind kLegendKinds[] = {
    MacroblockKind::kIntra,         MacroblockKind::kInter,   MacroblockKind::kInter4V,
    MacroblockKind::kNotCoded,      MacroblockKind::kForward, MacroblockKind::kBackward,
    MacroblockKind::kBidirectional, MacroblockKind::kDirect,  MacroblockKind::kNotDecoded,
};

// One arrow from `from` to `to` (view pixels) with a dark outline, so that it reads on light and
// dark pictures alike.
void DrawArrow(QPainter& painter, QPointF from, QPointF to, const QColor& colour) {
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length < 0.5) return;
    const QPen outline(QColor(0, 0, 0, 160), 3.0, Qt::SolidLine, Qt::RoundCap);
    const QPen pen(colour, 1.4, Qt::SolidLine, Qt::RoundCap);
    // The head: two strokes back from the tip, at most a third of the shaft.
    const double head = std::min(4.0, length / 3.0 + 1.0);
    const QPointF unit = d / length;
    const QPointF normal(-unit.y(), unit.x());
    const QPointF left = to - unit * head + normal * head * 0.6;
    const QPointF right = to - unit * head - normal * head * 0.6;
    for (const QPen& p : {outline, pen}) {
        painter.setPen(p);
        painter.drawLine(from, to);
        painter.drawLine(to, left);
        painter.drawLine(to, right);
    }
}

bool HasForward(MacroblockKind k) {
    return k == MacroblockKind::kInter || k == MacroblockKind::kInter4V || k == MacroblockKind::kForward ||
           k == MacroblockKind::kBidirectional || k == MacroblockKind::kDirect;
}

bool HasBackward(MacroblockKind k) {
    return k == MacroblockKind::kBackward || k == MacroblockKind::kBidirectional ||
           k == MacroblockKind::kDirect;
}

// Arrows of one set of block vectors of the macroblock at (mbX, mbY) picture samples: one from
// the macroblock's centre, or four from the centres of its 8x8 luma blocks.
void DrawVectors(QPainter& painter, const r263iri::BlockVectors& v, bool four, int mbX, int mbY, double sx,
                 double sy, QPointF origin, const QColor& colour) {
    // Vectors are in half-pel units: half a sample each. Zero vectors draw nothing: the colour
    // already tells the kind, and a dot in every still macroblock would bury the moving ones.
    auto arrow = [&](double cx, double cy, int vx, int vy) {
        if (vx == 0 && vy == 0) return;
        const QPointF from = origin + QPointF(cx * sx, cy * sy);
        DrawArrow(painter, from, from + QPointF(vx * 0.5 * sx, vy * 0.5 * sy), colour);
    };
    if (!four) {
        arrow(mbX + 8.0, mbY + 8.0, v.x[0], v.y[0]);
        return;
    }
    for (int b = 0; b < 4; ++b) arrow(mbX + (b & 1) * 8 + 4.0, mbY + (b >> 1) * 8 + 4.0, v.x[b], v.y[b]);
}

QPixmap Swatch(const QColor& fill, const QColor& arrow, int size) {
    QPixmap pixmap(size, size);
    // A mid-grey ground, so that a translucent fill looks as it does over an average picture.
    pixmap.fill(QColor(150, 150, 150));
    QPainter painter(&pixmap);
    if (fill.isValid()) {
        painter.fillRect(pixmap.rect(), fill);
        painter.setPen(QColor(0, 0, 0, 120));
        painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    }
    if (arrow.isValid()) {
        painter.setRenderHint(QPainter::Antialiasing);
        DrawArrow(painter, QPointF(2, size - 3), QPointF(size - 2, 3), arrow);
    }
    return pixmap;
}

}  // namespace

QColor OverlayColour(MacroblockKind kind) {
    switch (kind) {
        case MacroblockKind::kNotDecoded:
            return QColor(255, 0, 255, 120);  // damage stands out
        case MacroblockKind::kNotCoded:
            return QColor(160, 160, 160, 48);
        case MacroblockKind::kInter:
            return QColor(40, 110, 255, kFillAlpha);
        case MacroblockKind::kInter4V:
            return QColor(0, 210, 230, kFillAlpha);
        case MacroblockKind::kIntra:
            return QColor(235, 40, 40, kFillAlpha);
        case MacroblockKind::kDirect:
            return QColor(180, 90, 235, kFillAlpha);
        case MacroblockKind::kForward:
            return QColor(60, 200, 80, kFillAlpha);
        case MacroblockKind::kBackward:
            return QColor(255, 160, 20, kFillAlpha);
        case MacroblockKind::kBidirectional:
            return QColor(250, 230, 40, kFillAlpha);
    }
    return QColor(0, 0, 0, 0);
}

QColor ForwardArrowColour() {
    return QColor(255, 255, 255);
}

QColor BackwardArrowColour() {
    return QColor(255, 200, 0);
}

QPoint MacroblockAtPoint(QPoint at, QSize viewSize, int pictureWidth, int pictureHeight, int mbColumns,
                         int mbRows) {
    if (viewSize.width() <= 0 || viewSize.height() <= 0 || pictureWidth <= 0 || pictureHeight <= 0 ||
        at.x() < 0 || at.y() < 0 || at.x() >= viewSize.width() || at.y() >= viewSize.height()) {
        return {-1, -1};
    }
    // The sample under the point, in 64-bit arithmetic: views and pictures are small, but the
    // product of two sizes is not bounded by either.
    const int64_t x = int64_t{at.x()} * pictureWidth / viewSize.width();
    const int64_t y = int64_t{at.y()} * pictureHeight / viewSize.height();
    const int column = static_cast<int>(x / 16), row = static_cast<int>(y / 16);
    if (column >= mbColumns || row >= mbRows) return {-1, -1};
    return {column, row};
}

void PaintMacroblockOverlay(QPainter& painter, const AnalysedPicture& picture, const QRect& target,
                            int pictureWidth, int pictureHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || target.isEmpty()) return;
    const double sx = double(target.width()) / pictureWidth, sy = double(target.height()) / pictureHeight;
    const QPointF origin = target.topLeft();
    painter.save();
    painter.setClipRect(target);
    for (int r = 0; r < picture.mbRows; ++r) {
        for (int c = 0; c < picture.mbColumns; ++c) {
            const r263iri::MacroblockAnalysis* m = picture.At(c, r);
            if (!m) continue;
            // The macroblock's own pixels: the last column and row may reach past the display size.
            const QRectF cell(origin.x() + c * 16 * sx, origin.y() + r * 16 * sy, 16 * sx, 16 * sy);
            painter.fillRect(cell, OverlayColour(m->kind));
        }
    }
    // A faint grid on the macroblock boundaries.
    painter.setPen(QPen(QColor(0, 0, 0, 56), 0));
    for (int c = 1; c < picture.mbColumns; ++c) {
        const double x = origin.x() + c * 16 * sx;
        painter.drawLine(QPointF(x, target.top()), QPointF(x, target.bottom() + 1));
    }
    for (int r = 1; r < picture.mbRows; ++r) {
        const double y = origin.y() + r * 16 * sy;
        painter.drawLine(QPointF(target.left(), y), QPointF(target.right() + 1, y));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (int r = 0; r < picture.mbRows; ++r) {
        for (int c = 0; c < picture.mbColumns; ++c) {
            const r263iri::MacroblockAnalysis* m = picture.At(c, r);
            if (!m) continue;
            const bool four = m->fourVectors != 0;
            if (HasForward(m->kind)) {
                DrawVectors(painter, m->forward, four, c * 16, r * 16, sx, sy, origin, ForwardArrowColour());
            }
            if (HasBackward(m->kind)) {
                DrawVectors(painter, m->backward, four, c * 16, r * 16, sx, sy, origin,
                            BackwardArrowColour());
            }
        }
    }
    painter.restore();
}

OverlayLegend::OverlayLegend(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("overlayLegend"));
    QFont small = font();
    small.setPointSize(7);
    setFont(small);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 2, 3, 2);
    layout->setSpacing(1);
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("overlayPicture"));
    QFont bold = small;
    bold.setBold(true);
    picture_->setFont(bold);
    layout->addWidget(picture_);
    grid_ = new QGridLayout();
    QGridLayout* grid = grid_;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    const int swatch = QFontMetrics(small).height() - 2;
    auto addEntry = [&](const QPixmap& pixmap, const QString& name) {
        auto* cell = new QWidget(this);
        auto* row = new QHBoxLayout(cell);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(3);
        auto* icon = new QLabel(cell);
        icon->setPixmap(pixmap);
        auto* text = new QLabel(name, cell);
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(icon);
        row->addWidget(text, 1);
        cell->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        cells_.push_back(cell);
    };
    for (MacroblockKind kind : kLegendKinds) {
        addEntry(Swatch(OverlayColour(kind), QColor(), swatch),
                 QString::fromLatin1(MacroblockKindName(kind)));
    }
    addEntry(Swatch(QColor(), ForwardArrowColour(), swatch), QStringLiteral("forward vector"));
    addEntry(Swatch(QColor(), BackwardArrowColour(), swatch), QStringLiteral("backward vector"));
    layout->addLayout(grid);
    FitWidth(176);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void OverlayLegend::FitWidth(int width) {
    const int entry = fontMetrics().averageCharWidth() * kLegendEntryCharacters;
    const int columns = std::clamp(width / std::max(entry, 1), 2, 4);
    if (columns == columns_) return;
    columns_ = columns;
    for (QWidget* cell : cells_) grid_->removeWidget(cell);
    for (int c = 0; c < 4; ++c) grid_->setColumnStretch(c, c < columns ? 1 : 0);
    for (int i = 0; i < static_cast<int>(cells_.size()); ++i)
        grid_->addWidget(cells_[i], i / columns, i % columns);
}

void OverlayLegend::SetPictureText(const QString& text) {
    picture_->setText(text);
}

QString OverlayLegend::pictureText() const {
    return picture_->text();
}

QSize OverlayLegend::minimumSizeHint() const {
    return {0, QWidget::minimumSizeHint().height()};
}

}  // namespace tessaro::shell
