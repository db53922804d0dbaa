#include "PositionSlider.h"

#include <QMouseEvent>
#include <QPainter>

namespace veloraplay {

PositionSlider::PositionSlider(bool postWhileDragging, QWidget* parent)
    : QWidget(parent), model_(220, kKnob, postWhileDragging), postWhileDragging_(postWhileDragging) {
    setMinimumSize(60, 16);
    setCursor(Qt::PointingHandCursor);
}

void PositionSlider::resizeEvent(QResizeEvent*) {
    // A new width keeps the value and the knob's grab state.
    const int value = model_.value();
    model_ = SliderModel(width(), kKnob, postWhileDragging_);
    model_.set(value);
}

void PositionSlider::setValue(int value) {
    if (model_.set(value)) update();
}

void PositionSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double mid = height() / 2.0;
    const QRectF groove(SliderModel::kMargin + kKnob / 2.0, mid - 2.5, width() - 2 * SliderModel::kMargin - kKnob, 5);
    p.setPen(QPen(QColor(0x0a, 0x18, 0x24), 1));
    p.setBrush(QColor(0x10, 0x26, 0x36));
    p.drawRoundedRect(groove, 2.5, 2.5);
    const auto knob = model_.knobX();
    if (!knob) return;  // idle: no knob
    // What has played, lit.
    QRectF done = groove;
    done.setRight(*knob + kKnob / 2.0);
    QLinearGradient fill(done.topLeft(), done.bottomLeft());
    fill.setColorAt(0, QColor(0x7d, 0xe8, 0xc0));
    fill.setColorAt(1, QColor(0x3c, 0xa8, 0x86));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(done, 2.5, 2.5);
    const QRectF k(*knob, mid - kKnob / 2.0, kKnob, kKnob);
    QRadialGradient metal(k.center() - QPointF(2, 3), kKnob * 0.8);
    metal.setColorAt(0, QColor(0xff, 0xff, 0xff));
    metal.setColorAt(0.5, QColor(0xc9, 0xd6, 0xe0));
    metal.setColorAt(1, QColor(0x7b, 0x8d, 0x9b));
    p.setPen(QPen(QColor(0x33, 0x44, 0x52), 1));
    p.setBrush(metal);
    p.drawEllipse(k.adjusted(0.5, 0.5, -0.5, -0.5));
}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (model_.press(static_cast<int>(event->position().x()))) update();
}

void PositionSlider::mouseMoveEvent(QMouseEvent* event) {
    const auto post = model_.move(static_cast<int>(event->position().x()));
    update();
    if (post && moved_) moved_(*post);
}

void PositionSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const auto post = model_.release(static_cast<int>(event->position().x()));
    update();
    if (post && moved_) moved_(*post);
}

}  // namespace veloraplay
