#include "PositionSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "SkinArt.h"

namespace veloraplay {

PositionSlider::PositionSlider(bool postWhileDragging, QWidget* parent)
    : QWidget(parent), model_(220, kKnob, postWhileDragging), postWhileDragging_(postWhileDragging) {
    setMinimumSize(60, 16);
}

void PositionSlider::fit() const {
    if (track_ == width()) return;
    // A new width keeps the value; a drag in progress ends with it.
    const int value = model_.value();
    track_ = width();
    model_ = SliderModel(track_, kKnob, postWhileDragging_);
    model_.set(value);
}

void PositionSlider::resizeEvent(QResizeEvent*) {
    fit();
}

void PositionSlider::setValue(int value) {
    fit();
    if (!model_.set(value)) return;
    // Idle takes no input, so it offers none.
    setCursor(model_.value() > 100 ? Qt::ArrowCursor : Qt::PointingHandCursor);
    update();
}

void PositionSlider::setSkin(int skin) {
    if (skin == skin_) return;
    skin_ = skin;
    update();
}

QRect PositionSlider::knobRect() const {
    fit();
    const auto knob = model_.knobX();
    if (!knob) return {};
    return {*knob, height() / 2 - kKnob / 2, kKnob, kKnob};
}

void PositionSlider::paintEvent(QPaintEvent*) {
    fit();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const SkinPalette& pal = skinPalette(skin_);
    const bool metal = skin_ == kSkinBrushedMetal;
    const double mid = height() / 2.0;
    const double grooveH = metal ? 4 : 5;
    const QRectF groove(SliderModel::kMargin + kKnob / 2.0 - 2, mid - grooveH / 2,
                        width() - 2 * SliderModel::kMargin - kKnob + 4, grooveH);
    QLinearGradient slot(groove.topLeft(), groove.bottomLeft());
    slot.setColorAt(0, pal.grooveTop);
    slot.setColorAt(1, pal.grooveBottom);
    p.setPen(QPen(pal.grooveEdge, 1));
    p.setBrush(slot);
    p.drawRoundedRect(groove, grooveH / 2, grooveH / 2);
    if (metal) {
        // The slot's lit lower lip.
        p.setPen(QPen(QColor(255, 255, 255, 150), 1));
        p.drawLine(QPointF(groove.left() + 2, groove.bottom() + 1), QPointF(groove.right() - 2, groove.bottom() + 1));
    }
    const auto knob = model_.knobX();
    if (!knob) return;  // idle: no knob
    // What has played (or the level), lit.
    QRectF done = groove.adjusted(0.5, 0.5, -0.5, -0.5);
    done.setRight(std::max(done.left() + grooveH, *knob + kKnob / 2.0));
    QLinearGradient fill(done.topLeft(), done.bottomLeft());
    fill.setColorAt(0, pal.fillTop);
    fill.setColorAt(1, pal.fillBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(done, grooveH / 2, grooveH / 2);
    if (!metal) {
        QColor glow = pal.fillTop;
        glow.setAlpha(50);
        p.setPen(QPen(glow, 3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(done.adjusted(-1, -1, 1, 1), grooveH / 2 + 1, grooveH / 2 + 1);
    }
    const QRectF k(*knob, mid - kKnob / 2.0, kKnob, kKnob);
    if (metal) {
        // A machined cap with a grip line.
        const QRectF cap = k.adjusted(1.5, 0.5, -1.5, -0.5);
        QLinearGradient face(cap.topLeft(), cap.bottomLeft());
        face.setColorAt(0, pal.knobLight);
        face.setColorAt(0.5, pal.knobMid);
        face.setColorAt(1, pal.knobDark);
        p.setPen(QPen(pal.knobEdge, 1));
        p.setBrush(face);
        p.drawRoundedRect(cap, 2.5, 2.5);
        p.setPen(QPen(QColor(0x40, 0x45, 0x4b), 1));
        p.drawLine(QPointF(cap.center().x(), cap.top() + 3), QPointF(cap.center().x(), cap.bottom() - 3));
        p.setPen(QPen(QColor(255, 255, 255, 180), 1));
        p.drawLine(QPointF(cap.center().x() + 1, cap.top() + 3), QPointF(cap.center().x() + 1, cap.bottom() - 3));
    } else {
        QRadialGradient glass(k.center() - QPointF(2, 3), kKnob * 0.8);
        glass.setColorAt(0, pal.knobLight);
        glass.setColorAt(0.45, pal.knobMid);
        glass.setColorAt(1, pal.knobDark);
        p.setPen(QPen(pal.knobEdge, 1));
        p.setBrush(glass);
        p.drawEllipse(k.adjusted(0.5, 0.5, -0.5, -0.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 120));
        p.drawEllipse(QRectF(k.left() + 3.5, k.top() + 2, kKnob - 7, 4));
    }
}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    fit();
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
