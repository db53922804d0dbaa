#include "LcdDisplay.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace veloraplay {
namespace {

const QColor kPanelTop(0x0c, 0x24, 0x1c);
const QColor kPanelBottom(0x06, 0x14, 0x0f);
const QColor kLit(0x8c, 0xff, 0xc8);
const QColor kGhost(0x8c, 0xff, 0xc8, 28);  // an unlit segment, faintly there as on glass
const QColor kDim(0x5c, 0xb0, 0x8c);

// Segments a..g of each digit, as in a seven-segment cell.
constexpr unsigned char kDigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One bevelled segment: horizontal or vertical, from its top-left corner.
QPainterPath segment(QPointF at, double length, double thick, bool horizontal) {
    const double h = thick / 2;
    QPainterPath p;
    if (horizontal) {
        p.moveTo(at.x() + h, at.y());
        p.lineTo(at.x() + length - h, at.y());
        p.lineTo(at.x() + length, at.y() + h);
        p.lineTo(at.x() + length - h, at.y() + thick);
        p.lineTo(at.x() + h, at.y() + thick);
        p.lineTo(at.x(), at.y() + h);
    } else {
        p.moveTo(at.x() + h, at.y());
        p.lineTo(at.x() + thick, at.y() + h);
        p.lineTo(at.x() + thick, at.y() + length - h);
        p.lineTo(at.x() + h, at.y() + length);
        p.lineTo(at.x(), at.y() + length - h);
        p.lineTo(at.x(), at.y() + h);
    }
    p.closeSubpath();
    return p;
}

// Draws a digit cell `w` x `h` at `at`, slanted a little; a blank (' ') shows only the ghost.
void drawDigit(QPainter& p, QPointF at, double w, double h, QChar c) {
    const double t = std::max(2.0, w * 0.17);
    const double gap = t * 0.18;
    const double vertical = (h - t) / 2;
    const QPointF pos[7] = {
        {at.x() + gap, at.y()},                      // a: top
        {at.x() + w - t, at.y() + gap},              // b: upper right
        {at.x() + w - t, at.y() + vertical + gap},   // c: lower right
        {at.x() + gap, at.y() + h - t},              // d: bottom
        {at.x(), at.y() + vertical + gap},           // e: lower left
        {at.x(), at.y() + gap},                      // f: upper left
        {at.x() + gap, at.y() + vertical},           // g: middle
    };
    const bool horizontal[7] = {true, false, false, true, false, false, true};
    const unsigned char lit = c.isDigit() ? kDigitSegments[c.digitValue()] : 0;
    p.save();
    p.setPen(Qt::NoPen);
    QTransform slant;
    slant.translate(at.x(), at.y() + h);
    slant.shear(-0.08, 0);
    slant.translate(-at.x(), -(at.y() + h));
    p.setTransform(slant, true);
    for (int s = 0; s < 7; ++s) {
        const double length = horizontal[s] ? w - 2 * gap : vertical + t - 2 * gap;
        p.setBrush((lit >> s) & 1 ? kLit : kGhost);
        p.drawPath(segment(pos[s], length, t, horizontal[s]));
    }
    p.restore();
}

// Draws `text` (digits, blanks and ':') as a row of cells; returns the x after it.
// A ';' is an unlit colon.
double drawDigits(QPainter& p, QPointF at, double w, double h, const QString& text) {
    double x = at.x();
    for (const QChar c : text) {
        if (c == ':' || c == ';') {
            p.setPen(Qt::NoPen);
            p.setBrush(c == ':' ? kLit : kGhost);
            const double r = w * 0.11;
            p.drawEllipse(QPointF(x + r * 1.5, at.y() + h * 0.3), r, r);
            p.drawEllipse(QPointF(x + r * 0.8, at.y() + h * 0.72), r, r);
            x += w * 0.45;
            continue;
        }
        drawDigit(p, QPointF(x, at.y()), w, h, c);
        x += w * 1.28;
    }
    return x;
}

void drawStateGlyph(QPainter& p, QRectF box, StatusDisplayModel::State state) {
    p.setPen(Qt::NoPen);
    const auto glyph = [&](StatusDisplayModel::State which, const QColor& on) {
        return state == which ? on : kGhost;
    };
    const double s = box.height();
    // Play: a triangle.
    QPainterPath play;
    play.moveTo(box.left(), box.top());
    play.lineTo(box.left() + s * 0.85, box.top() + s / 2);
    play.lineTo(box.left(), box.bottom());
    play.closeSubpath();
    p.setBrush(glyph(StatusDisplayModel::State::Playing, kLit));
    p.drawPath(play);
    // Pause: two bars.
    const double px = box.left() + s * 1.25;
    p.setBrush(glyph(StatusDisplayModel::State::Paused, kLit));
    p.drawRect(QRectF(px, box.top(), s * 0.3, s));
    p.drawRect(QRectF(px + s * 0.5, box.top(), s * 0.3, s));
    // Stop: a square.
    p.setBrush(glyph(StatusDisplayModel::State::Stopped, kLit));
    p.drawRect(QRectF(box.left() + s * 2.35, box.top(), s, s));
}

}  // namespace

LcdDisplay::LcdDisplay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(260, 80);
}

void LcdDisplay::setFile(const QString& path) {
    file_ = path;
    setToolTip(path.isEmpty() ? QStringLiteral("Status Display") : path);
    update();
}

void LcdDisplay::setVelora(bool on) {
    velora_ = on;
    update();
}

void LcdDisplay::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient panel(r.topLeft(), r.bottomLeft());
    panel.setColorAt(0, kPanelTop);
    panel.setColorAt(1, kPanelBottom);
    p.setPen(QPen(QColor(0x2f, 0x5d, 0x4c), 1));
    p.setBrush(panel);
    p.drawRoundedRect(r, 7, 7);
    // A soft glare across the glass.
    QLinearGradient glare(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.45));
    glare.setColorAt(0, QColor(255, 255, 255, 22));
    glare.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glare);
    p.drawRoundedRect(r.adjusted(2, 2, -2, -r.height() * 0.55), 5, 5);

    const double pad = 10;
    const double bigH = r.height() * 0.42;
    const double bigW = bigH * 0.52;
    const double top = r.top() + pad;
    // Item number, then the elapsed time.
    double x = drawDigits(p, QPointF(r.left() + pad, top), bigW * 0.8, bigH * 0.8, QString::fromStdString(model_.itemText()));
    QString elapsed = QString::fromStdString(model_.elapsedText());
    if (elapsed.trimmed().isEmpty()) elapsed = QStringLiteral("  ;  ");  // the cells stay in place
    x = drawDigits(p, QPointF(x + bigW * 0.5, top), bigW, bigH, elapsed);

    // The right column: state, rate and bit rate, channels, the Velora badge.
    const double right = r.right() - pad;
    const double glyphH = bigH * 0.32;
    drawStateGlyph(p, QRectF(right - glyphH * 3.4, top, glyphH * 3.4, glyphH), model_.state());
    QFont small(QStringLiteral("DejaVu Sans Mono"));
    small.setPixelSize(std::max(8, static_cast<int>(glyphH * 0.95)));
    small.setBold(true);
    p.setFont(small);
    const double smallH = glyphH * 1.25;
    const double smallW = smallH * 0.52;
    const double row2 = top + glyphH + 6;
    const QString rate = QString::fromStdString(model_.rateText());
    const QString bits = QString::fromStdString(model_.bitrateText());
    double sx = right - (5 * smallW * 1.28 + 2 * QFontMetrics(small).horizontalAdvance(QStringLiteral("kbps")));
    sx = std::max(sx, x + 8);
    if (bits == QStringLiteral("PCM")) {
        p.setPen(kLit);
        p.drawText(QPointF(sx, row2 + smallH), QStringLiteral("PCM"));
        sx += QFontMetrics(small).horizontalAdvance(QStringLiteral("PCM ")) + smallW * 1.28;
    } else {
        sx = drawDigits(p, QPointF(sx, row2), smallW, smallH, bits);
        p.setPen(bits.trimmed().isEmpty() ? kGhost : kDim);
        p.drawText(QPointF(sx, row2 + smallH), QStringLiteral("kbps"));
        sx += QFontMetrics(small).horizontalAdvance(QStringLiteral("kbps ")) + 2;
    }
    sx = drawDigits(p, QPointF(sx, row2), smallW, smallH, rate);
    p.setPen(rate.trimmed().isEmpty() ? kGhost : kDim);
    p.drawText(QPointF(sx, row2 + smallH), QStringLiteral("kHz"));

    // Bottom line: the file's name, channels and the badge.
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(std::max(9, static_cast<int>(r.height() * 0.15)));
    p.setFont(name);
    const double base = r.bottom() - pad + 1;
    const QString channels = model_.channelGlyph() == 1   ? QStringLiteral("STEREO")
                             : model_.channels() == 1 ? QStringLiteral("MONO")
                                                          : QString();
    const QString badge = velora_ ? QStringLiteral("VELORA") : QString();
    const QFontMetrics fm(name);
    double tail = right;
    for (const QString& tag : {badge, channels}) {
        if (tag.isEmpty()) continue;
        const double w = fm.horizontalAdvance(tag) + 8;
        const QRectF box(tail - w, base - fm.ascent() - 2, w, fm.ascent() + 5);
        p.setPen(QPen(kDim, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box, 3, 3);
        p.setPen(kLit);
        p.drawText(box, Qt::AlignCenter, tag);
        tail -= w + 5;
    }
    const QString title = file_.isEmpty() ? QStringLiteral("Status Display") : QFileInfo(file_).fileName();
    p.setPen(file_.isEmpty() ? kDim : kLit);
    p.drawText(QPointF(r.left() + pad, base),
               fm.elidedText(title, Qt::ElideMiddle, static_cast<int>(tail - r.left() - pad - 6)));
}

}  // namespace veloraplay
