#include "BandMeter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "BandMeters.h"

namespace veloraplay {

BandMeter::BandMeter(int band, QWidget* parent) : QWidget(parent) {
    setToolTip(QString::fromStdString(BandMeters::tooltip(band)));
    setMinimumSize(14, 34);
    setCursor(Qt::SizeVerCursor);
}

void BandMeter::setSkin(int skin) {
    if (skin == skin_) return;
    skin_ = skin;
    update();
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

double BandMeter::markerY(int step) {
    // Steps 0..5 take four pixel rows each from y = 27 upwards (step s: rows 27-4s .. 30-4s);
    // step 6 owns everything above row 7. Each marker sits mid-way in its rows.
    return 29.0 - 4.0 * std::clamp(step, 0, BandMeters::kMaxStep);
}

void BandMeter::follow(double y) {
    const int step = BandMeters::stepForY(static_cast<int>(std::floor(y)));
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
    const bool on = isEnabled();
    const bool ocean = skin_ != 0;
    const double w = width();
    // The meter's slot, centred, the gain scale's ticks on either side.
    const double slotW = std::max(6.0, w - 12);
    const QRectF slot((w - slotW) / 2, 1, slotW, 32);
    p.setPen(QPen(ocean ? QColor(0x2c, 0x7c, 0x9c) : QColor(0x3a, 0x3e, 0x44), 1));
    p.setBrush(ocean ? QColor(0x02, 0x0e, 0x1c) : QColor(0x10, 0x14, 0x18));
    p.drawRoundedRect(slot.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    // Seven cells from the bottom, green to amber to red, on the same rows as the steps.
    for (int c = 0; c < BandMeters::kMaxMeter; ++c) {
        const double y = markerY(c) - 1.5;
        const QRectF cell(slot.left() + 2, y, slot.width() - 4, 3);
        QColor colour = !on     ? QColor(0x9a, 0x9e, 0xa2)
                        : c < 4 ? QColor(0x5c, 0xe0, 0x9a)
                        : c < 6 ? QColor(0xf2, 0xc4, 0x4c)
                                : QColor(0xff, 0x5a, 0x4a);
        if (!(on && c < level_)) colour.setAlpha(on ? 40 : 60);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRoundedRect(cell, 0.8, 0.8);
    }
    // The scale: a short tick per step at both sides, the unity step longer.
    const QColor tick = ocean ? QColor(0x7c, 0xd8, 0xea, 150) : QColor(0x3a, 0x3f, 0x45, 170);
    p.setPen(QPen(tick, 1));
    for (int s = 0; s <= BandMeters::kMaxStep; ++s) {
        const double y = markerY(s);
        const double len = s == BandMeters::kUnityStep ? 4 : 2;
        p.drawLine(QPointF(slot.left() - 1 - len, y), QPointF(slot.left() - 1, y));
        p.drawLine(QPointF(slot.right() + 1, y), QPointF(slot.right() + 1 + len, y));
    }
    // The gain step: a pointer at each side and a bright line across, at the marker's height.
    const double y = markerY(step_);
    const QColor mark = !on ? QColor(0x80, 0x84, 0x89) : ocean ? QColor(0xe6, 0xfc, 0xff) : QColor(0xff, 0xff, 0xff);
    const QColor markEdge = !on ? QColor(0x60, 0x64, 0x68) : ocean ? QColor(0x0a, 0x40, 0x60) : QColor(0x22, 0x26, 0x2b);
    p.setPen(QPen(mark, 1.2));
    p.drawLine(QPointF(slot.left() + 1, y), QPointF(slot.right() - 1, y));
    QPainterPath left, right;
    left.moveTo(0.5, y - 3);
    left.lineTo(slot.left() + 1.5, y);
    left.lineTo(0.5, y + 3);
    left.closeSubpath();
    right.moveTo(w - 0.5, y - 3);
    right.lineTo(slot.right() - 1.5, y);
    right.lineTo(w - 0.5, y + 3);
    right.closeSubpath();
    p.setPen(QPen(markEdge, 0.8));
    p.setBrush(mark);
    p.drawPath(left);
    p.drawPath(right);
}

}  // namespace veloraplay
