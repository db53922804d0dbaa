#include "BandMeter.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "BandMeters.h"

namespace veloraplay {
namespace {

// The gain steps are read over a control 31 pixels high; a taller one scales to it.
constexpr double kStepSpan = 31.0;

}  // namespace

BandMeter::BandMeter(int band, QWidget* parent) : QWidget(parent) {
    setToolTip(QString::fromStdString(BandMeters::tooltip(band)));
    setMinimumSize(14, 40);
    setCursor(Qt::SizeVerCursor);
}

void BandMeter::setLevel(int meter) {
    meter = std::clamp(meter, 0, BandMeters::kMaxMeter);
    if (meter == level_) return;
    level_ = meter;
    update();
}

void BandMeter::setStep(int step) {
    step = std::clamp(step, 0, BandMeters::kMaxStep);
    if (step == step_) return;
    step_ = step;
    update();
}

void BandMeter::follow(double y) {
    const int step = BandMeters::stepForY(static_cast<int>(y * kStepSpan / std::max(1, height())));
    if (step == step_) return;
    step_ = step;
    update();
    if (changed_) changed_(step_);
}

void BandMeter::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) return;
    dragging_ = true;
    follow(event->position().y());
}

void BandMeter::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) follow(event->position().y());
}

void BandMeter::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
}

void BandMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(QPen(QColor(0x1d, 0x2a, 0x33), 1));
    p.setBrush(QColor(0x0b, 0x14, 0x1a));
    p.drawRoundedRect(r, 3, 3);
    // Seven cells from the bottom, green to amber to red.
    const int cells = BandMeters::kMaxMeter;
    const double gap = 2;
    const double cellH = (r.height() - 4 - gap * (cells - 1)) / cells;
    const bool on = isEnabled();
    for (int c = 0; c < cells; ++c) {
        const QRectF cell(r.left() + 3, r.bottom() - 2 - (c + 1) * cellH - c * gap, r.width() - 6, cellH);
        QColor colour = c < 4 ? QColor(0x5c, 0xe0, 0x9a) : c < 6 ? QColor(0xf2, 0xc4, 0x4c) : QColor(0xff, 0x5a, 0x4a);
        if (!(on && c < level_)) colour.setAlpha(38);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRoundedRect(cell, 1.5, 1.5);
    }
    // The gain step: a bright bar across the meter, at the height the mouse sets it from.
    const double y = r.top() + 3 + (BandMeters::kMaxStep - step_) * (r.height() - 6) / BandMeters::kMaxStep;
    p.setPen(QPen(on ? QColor(0xe8, 0xf4, 0xff) : QColor(0x80, 0x8c, 0x96), 2));
    p.drawLine(QPointF(r.left() + 1, y), QPointF(r.right() - 1, y));
}

}  // namespace veloraplay
