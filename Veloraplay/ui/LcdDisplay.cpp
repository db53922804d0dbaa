#include "LcdDisplay.h"

#include "SkinArt.h"

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace veloraplay {
namespace {


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
void drawDigit(QPainter& p, const SkinPalette& pal, QPointF at, double w, double h, QChar c) {
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
        p.setBrush((lit >> s) & 1 ? pal.lit : pal.ghost);
        p.drawPath(segment(pos[s], length, t, horizontal[s]));
    }
    p.restore();
}

// Draws `text` (digits, blanks and ':') as a row of cells; returns the x after it.
// A ';' is an unlit colon.
double drawDigits(QPainter& p, const SkinPalette& pal, QPointF at, double w, double h, const QString& text) {
    double x = at.x();
    for (const QChar c : text) {
        if (c == ':' || c == ';') {
            p.setPen(Qt::NoPen);
            p.setBrush(c == ':' ? pal.lit : pal.ghost);
            const double r = w * 0.11;
            p.drawEllipse(QPointF(x + r * 1.5, at.y() + h * 0.3), r, r);
            p.drawEllipse(QPointF(x + r * 0.8, at.y() + h * 0.72), r, r);
            x += w * 0.45;
            continue;
        }
        drawDigit(p, pal, QPointF(x, at.y()), w, h, c);
        x += w * 1.28;
    }
    return x;
}

void drawStateGlyph(QPainter& p, const SkinPalette& pal, QRectF box, StatusDisplayModel::State state) {
    p.setPen(Qt::NoPen);
    const auto glyph = [&](StatusDisplayModel::State which, const QColor& on) {
        return state == which ? on : pal.ghost;
    };
    const double s = box.height();
    // Play: a triangle.
    QPainterPath play;
    play.moveTo(box.left(), box.top());
    play.lineTo(box.left() + s * 0.85, box.top() + s / 2);
    play.lineTo(box.left(), box.bottom());
    play.closeSubpath();
    p.setBrush(glyph(StatusDisplayModel::State::Playing, pal.lit));
    p.drawPath(play);
    // Pause: two bars.
    const double px = box.left() + s * 1.25;
    p.setBrush(glyph(StatusDisplayModel::State::Paused, pal.lit));
    p.drawRect(QRectF(px, box.top(), s * 0.3, s));
    p.drawRect(QRectF(px + s * 0.5, box.top(), s * 0.3, s));
    // Stop: a square.
    p.setBrush(glyph(StatusDisplayModel::State::Stopped, pal.lit));
    p.drawRect(QRectF(box.left() + s * 2.35, box.top(), s, s));
}

// A small outlined tag ("STEREO", "VELORA") ending at `right`; returns its left edge.
double drawTag(QPainter& p, const SkinPalette& pal, double right, double top, const QString& text, bool lit) {
    const QFontMetricsF fm(p.font());
    const double w = fm.horizontalAdvance(text) + 6;
    const QRectF box(right - w, top, w, fm.height() + 1);
    p.setPen(QPen(lit ? pal.dim : pal.ghost, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    p.setPen(lit ? pal.lit : pal.ghost);
    p.drawText(box, Qt::AlignCenter, text);
    return box.left();
}

QFont lcdFont(double pixels, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(std::max(6, static_cast<int>(pixels)));
    f.setBold(bold);
    return f;
}

}  // namespace

LcdDisplay::LcdDisplay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 60);
    setToolTip(QStringLiteral("Status Display"));
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

void LcdDisplay::setSkin(int skin) {
    if (skin == skin_) return;
    skin_ = skin;
    update();
}

QString LcdDisplay::channelText() const {
    switch (model_.channelGlyph()) {
        case 1: return QStringLiteral("STEREO");
        case 2: return QStringLiteral("3 CH");
        default: return model_.channels() == 1 ? QStringLiteral("MONO") : QString();
    }
}

QString LcdDisplay::titleText() const {
    return file_.isEmpty() ? QStringLiteral("Status Display") : QDir::toNativeSeparators(file_);
}

void LcdDisplay::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const SkinPalette& pal = skinPalette(skin_);
    // What shows at the corners: the body's well colour, so the rounded glass sits in it.
    p.fillRect(rect(), skin_ == kSkinBrushedMetal ? QColor(0x7c, 0x81, 0x87) : QColor(0x04, 0x14, 0x24));
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = skin_ == kSkinBrushedMetal ? 6 : 8;
    QLinearGradient panel(r.topLeft(), r.bottomLeft());
    panel.setColorAt(0, pal.lcdTop);
    panel.setColorAt(1, pal.lcdBottom);
    p.setPen(QPen(pal.lcdFrame, 1));
    p.setBrush(panel);
    p.drawRoundedRect(r, radius, radius);
    // A soft glare across the glass.
    QLinearGradient glare(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.45));
    glare.setColorAt(0, QColor(255, 255, 255, 24));
    glare.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glare);
    p.drawRoundedRect(r.adjusted(2, 2, -2, -r.height() * 0.55), radius - 2, radius - 2);

    const double scale = std::min(r.height() / 78.0, r.width() / 262.0);
    const double pad = 8 * scale;
    const double left = r.left() + pad, right = r.right() - pad, top = r.top() + pad;
    const QFont caption = lcdFont(7 * scale, true);

    // The item number and the elapsed time, in segment digits; captions above them.
    p.setFont(caption);
    p.setPen(pal.dim);
    const double itemH = 22 * scale, itemW = 11 * scale;
    const double timeH = 34 * scale, timeW = 16 * scale;
    p.drawText(QPointF(left, top + 6 * scale), QStringLiteral("ITEM"));
    double x = drawDigits(p, pal, QPointF(left, top + (timeH - itemH) + 1 * scale), itemW, itemH,
                          QString::fromStdString(model_.itemText()));
    QString elapsed = QString::fromStdString(model_.elapsedText());
    if (elapsed.trimmed().isEmpty()) elapsed = QStringLiteral("  ;  ");  // the cells stay in place
    if (elapsed.size() == 4) elapsed.prepend(QLatin1Char(' '));          // "M:SS" takes the same cells as "MM:SS"
    const double timeX = x + 4 * scale;
    x = drawDigits(p, pal, QPointF(timeX, top + 1 * scale), timeW, timeH, elapsed);

    // The right column: state and channels, then bit rate and rate.
    const double glyphH = 8 * scale;
    drawStateGlyph(p, pal, QRectF(right - glyphH * 3.4, top + 1, glyphH * 3.4, glyphH), model_.state());
    p.setFont(caption);
    const QString channels = channelText();
    drawTag(p, pal, right - glyphH * 3.4 - 6 * scale, top - 1.5 * scale, channels.isEmpty() ? QStringLiteral("STEREO") : channels,
            !channels.isEmpty());

    const double smallH = 13 * scale, smallW = 6.5 * scale;
    const double row2 = top + 19 * scale;
    const QFontMetricsF cm(caption);
    const QString rate = QString::fromStdString(model_.rateText());
    const QString bits = QString::fromStdString(model_.bitrateText());
    // Laid out from the right: "kHz", two rate digits, a gap, the unit and three bit-rate digits.
    double cx = right - cm.horizontalAdvance(QStringLiteral("kHz"));
    p.setPen(rate.trimmed().isEmpty() ? pal.ghost : pal.dim);
    p.drawText(QPointF(cx, row2 + smallH), QStringLiteral("kHz"));
    cx -= 2 * smallW * 1.28 + 2 * scale;
    drawDigits(p, pal, QPointF(cx, row2), smallW, smallH, rate.isEmpty() ? QStringLiteral("  ") : rate);
    cx -= 7 * scale;
    if (bits == QStringLiteral("PCM")) {
        // The PCM glyph in place of the digits and their unit.
        const QFont pcm = lcdFont(11 * scale, true);
        p.setFont(pcm);
        const double w = QFontMetricsF(pcm).horizontalAdvance(QStringLiteral("PCM"));
        p.setPen(pal.lit);
        p.drawText(QRectF(cx - w - 2, row2, w + 2, smallH + 1), Qt::AlignRight | Qt::AlignBottom, QStringLiteral("PCM"));
        p.setFont(caption);
    } else {
        const QString unit = QStringLiteral("kbps");
        cx -= cm.horizontalAdvance(unit);
        p.setPen(bits.trimmed().isEmpty() ? pal.ghost : pal.dim);
        p.drawText(QPointF(cx, row2 + smallH), unit);
        cx -= 3 * smallW * 1.28 + 2 * scale;
        drawDigits(p, pal, QPointF(cx, row2), smallW, smallH, bits.isEmpty() ? QStringLiteral("   ") : bits);
    }

    // A rule, then the file's name and the badge.
    const double ruleY = r.bottom() - 20 * scale;
    p.setPen(QPen(pal.ghost, 1));
    p.drawLine(QPointF(left, ruleY + 0.5), QPointF(right, ruleY + 0.5));
    const QFont name = lcdFont(10 * scale, false);
    const QRectF nameBox(left, ruleY + 2, right - left, r.bottom() - ruleY - 4);
    double tail = right;
    if (velora_) {
        p.setFont(caption);
        tail = drawTag(p, pal, right, nameBox.center().y() - cm.height() / 2 - 0.5, QStringLiteral("VELORA"), true) - 5;
    }
    p.setFont(name);
    p.setPen(file_.isEmpty() ? pal.dim : pal.lit);
    const QFontMetricsF fm(name);
    p.drawText(QRectF(left, nameBox.top(), tail - left, nameBox.height()), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(titleText(), Qt::ElideLeft, tail - left));
}

}  // namespace veloraplay
