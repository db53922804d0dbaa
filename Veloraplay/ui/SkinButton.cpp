#include "SkinButton.h"

#include <QPainter>

#include "SkinArt.h"

namespace veloraplay {

QString skinButtonTooltip(int id) {
    switch (id) {
        case 1000: return QStringLiteral("Start Playback");
        case 1001: return QStringLiteral("Stop Playback");
        case 1002: return QStringLiteral("Select Input File");
        case 1029: return QStringLiteral("Pause/Continue Playback");
        case 1003: return QStringLiteral("Next Item in  Folder");
        case 1022: return QStringLiteral("Previous Item in Folder");
        case 1024: return QStringLiteral("Open Audio File Library");
        case 1013: return QStringLiteral("Open Velora Encoder");
        case 1008: return QStringLiteral("Enable/Disable Enhancement");
        case 1010: return QStringLiteral("Adjust Playback Volume");
        default: return {};
    }
}

SkinButton::SkinButton(int id, QWidget* parent) : QAbstractButton(parent), id_(id) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setToolTip(skinButtonTooltip(id));
    setAttribute(Qt::WA_Hover);
}

void SkinButton::setSkin(int skin) {
    if (skin == skin_) return;
    skin_ = skin;
    update();
}

void SkinButton::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    update();
}

void SkinButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void SkinButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const ButtonLook look = !isEnabled() ? ButtonLook::Disabled
                            : isDown()   ? ButtonLook::Pressed
                            : underMouse() ? ButtonLook::Hover
                                           : ButtonLook::Normal;
    paintSkinButton(p, rect(), skin_, id_, look, on_);
}

}  // namespace veloraplay
