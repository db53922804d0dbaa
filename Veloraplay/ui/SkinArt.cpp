#include "SkinArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace veloraplay {

QRect SkinLayout::button(int id) const {
    for (const SkinButtonPlace& place : buttons)
        if (place.id == id) return place.rect;
    return {};
}

QRect SkinLayout::bandRect(int index) const {
    if (extendedHeight == 0 || index < 0 || index >= 8) return {};
    return {firstBand + QPoint(index * kBandStep, 0), band};
}

QRect SkinLayout::extendedPanel() const {
    if (extendedHeight == 0) return {};
    return {0, body.height(), body.width(), extendedHeight};
}

namespace {

// Button ids, as the window's commands name them.
constexpr int kPlay = 1000, kStop = 1001, kEject = 1002, kNext = 1003, kEnhance = 1008,
              kVolume = 1010, kEncoder = 1013, kPrevious = 1022, kLibrary = 1024, kPause = 1029;

SkinLayout makeMetal() {
    SkinLayout l;
    l.body = {400, 150};
    l.extendedHeight = 56;
    l.display = {12, 10, 262, 78};
    l.position = {12, 94, 262, 16};
    l.handle = {288, 116, 100, 26};
    l.band = {20, 34};
    l.firstBand = {45, 157};
    const int y = 116, w = 46, h = 26;
    l.buttons = {
        {kPrevious, {12, y, w, h}},  {kPlay, {66, y, w, h}},   {kStop, {66, y, w, h}},
        {kPause, {120, y, w, h}},    {kNext, {174, y, w, h}},  {kEject, {228, y, w, h}},
        {kEnhance, {288, 10, 100, 24}}, {kLibrary, {288, 40, 48, 24}}, {kEncoder, {340, 40, 48, 24}},
        {kVolume, {288, 68, 100, 20}},
    };
    return l;
}

SkinLayout makeOcean() {
    SkinLayout l;
    l.body = {400, 150};
    l.display = {14, 12, 258, 78};
    l.position = {14, 96, 258, 16};
    l.volume = {300, 96, 88, 16};
    l.band = {20, 34};
    const int y = 118, w = 46, h = 24;
    l.buttons = {
        {kPrevious, {14, y, w, h}},  {kPlay, {67, y, w, h}},   {kStop, {67, y, w, h}},
        {kPause, {120, y, w, h}},    {kNext, {173, y, w, h}},  {kEject, {226, y, w, h}},
        {kEnhance, {286, 12, 102, 24}}, {kLibrary, {286, 42, 49, 24}}, {kEncoder, {339, 42, 49, 24}},
    };
    return l;
}

QFont artFont(double pixels, bool bold, double spacing = 0) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(std::max(6, static_cast<int>(std::lround(pixels))));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

// A tiny deterministic noise source, so that every run draws the same brushing.
struct Noise {
    uint32_t state;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
    }
};

// Text cut into the metal: a light lower edge, then the dark letters.
void engrave(QPainter& p, const QRectF& box, int flags, const QString& text, const QFont& font,
             const QColor& ink = QColor(0x3a, 0x3f, 0x45)) {
    p.setFont(font);
    p.setPen(QColor(255, 255, 255, 150));
    p.drawText(box.translated(0, 1), flags, text);
    p.setPen(ink);
    p.drawText(box, flags, text);
}

// A well pressed into the panel around a control: dark above, lit below.
void metalWell(QPainter& p, const QRectF& r, double radius) {
    QLinearGradient edge(r.topLeft(), r.bottomLeft());
    edge.setColorAt(0, QColor(0x4a, 0x4e, 0x54, 200));
    edge.setColorAt(1, QColor(255, 255, 255, 210));
    p.setPen(Qt::NoPen);
    p.setBrush(edge);
    p.drawRoundedRect(r, radius, radius);
    p.setBrush(QColor(0x7c, 0x81, 0x87));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), std::max(0.0, radius - 1), std::max(0.0, radius - 1));
}

void screw(QPainter& p, QPointF c, double angle) {
    QRadialGradient head(c - QPointF(1, 1.2), 3.6);
    head.setColorAt(0, QColor(0xf4, 0xf5, 0xf6));
    head.setColorAt(1, QColor(0x86, 0x8b, 0x91));
    p.setPen(QPen(QColor(0x55, 0x5a, 0x60), 0.8));
    p.setBrush(head);
    p.drawEllipse(c, 3.2, 3.2);
    p.save();
    p.translate(c);
    p.rotate(angle);
    p.setPen(QPen(QColor(0x44, 0x48, 0x4e), 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-2.1, 0), QPointF(2.1, 0));
    p.restore();
}

QColor grey(double r, double g, double b, double shade) {
    return QColor(static_cast<int>(r * shade * 255), static_cast<int>(g * shade * 255), static_cast<int>(b * shade * 255));
}

// Brushed aluminium over `r`: a soft vertical sheen crossed by fine horizontal streaks.
void brushedMetal(QPainter& p, const QRectF& r, uint32_t seed, double shade) {
    QLinearGradient base(r.topLeft(), r.bottomLeft());
    base.setColorAt(0, grey(0.84, 0.85, 0.87, shade));
    base.setColorAt(0.45, grey(0.75, 0.76, 0.78, shade));
    base.setColorAt(1, grey(0.68, 0.69, 0.71, shade));
    p.fillRect(r, base);
    // A broad diagonal highlight, as light falls across a sheet.
    QLinearGradient sheen(r.topLeft(), r.bottomRight());
    sheen.setColorAt(0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.35, QColor(255, 255, 255, 40));
    sheen.setColorAt(0.55, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.8, QColor(255, 255, 255, 22));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(r, sheen);
    Noise n{seed};
    p.save();
    p.setClipRect(r);
    for (double y = r.top() + 0.25; y < r.bottom(); y += 0.5) {
        double x = r.left() - n.next() * 60;
        while (x < r.right()) {
            const double len = 20 + n.next() * 140;
            const double a = n.next();
            const bool light = n.next() > 0.5;
            QColor c = light ? QColor(255, 255, 255) : QColor(0x30, 0x34, 0x38);
            c.setAlpha(static_cast<int>((light ? a * 0.22 : a * 0.14) * 255));
            p.setPen(QPen(c, 0.5));
            p.drawLine(QPointF(x, y), QPointF(x + len, y));
            x += len + n.next() * 30;
        }
    }
    p.restore();
}

void paintMetal(QPainter& p, bool extended) {
    const SkinLayout& l = skinLayout(0);
    const QRectF body(0, 0, l.body.width(), l.body.height());
    brushedMetal(p, body, 7u, 1.0);
    if (extended) {
        const QRectF panel = l.extendedPanel();
        brushedMetal(p, panel, 91u, 0.93);
        // The seam between the body and the panel.
        p.setPen(QPen(QColor(0x4c, 0x50, 0x56), 1));
        p.drawLine(QPointF(0, panel.top() + 0.5), QPointF(panel.right() + 1, panel.top() + 0.5));
        p.setPen(QPen(QColor(255, 255, 255, 160), 1));
        p.drawLine(QPointF(0, panel.top() + 1.5), QPointF(panel.right() + 1, panel.top() + 1.5));
        // One well holding the eight controls, with their centres below.
        const QRect first = l.bandRect(0);
        const QRect last = l.bandRect(7);
        metalWell(p, QRectF(first.left() - 5, first.top() - 3, last.right() - first.left() + 11, first.height() + 6), 4);
        const char* labels[8] = {"172", "516", "1k", "1.9k", "3.1k", "4.7k", "6.5k", "9.3k"};
        const QFont tiny = artFont(7.5, true);
        for (int b = 0; b < 8; ++b) {
            const QRect br = l.bandRect(b);
            engrave(p, QRectF(br.center().x() - 14, br.bottom() + 4, 29, 10), Qt::AlignCenter,
                    QString::fromLatin1(labels[b]), tiny);
        }
        // The scale at the left of the well, and the panel's legend at the right.
        const QFont scale = artFont(7, true);
        engrave(p, QRectF(first.left() - 36, first.top() - 2, 28, 10), Qt::AlignRight | Qt::AlignVCenter,
                QStringLiteral("+"), scale);
        engrave(p, QRectF(first.left() - 36, first.top() + 12, 28, 10), Qt::AlignRight | Qt::AlignVCenter,
                QStringLiteral("0"), scale);
        engrave(p, QRectF(first.left() - 36, first.top() + 26, 28, 10), Qt::AlignRight | Qt::AlignVCenter,
                QStringLiteral("\u2212"), scale);
        engrave(p, QRectF(l.handle.left(), panel.top() + 12, l.handle.width(), 12), Qt::AlignCenter,
                QStringLiteral("BAND GAIN"), artFont(9, true, 1.2));
        engrave(p, QRectF(l.handle.left(), panel.top() + 26, l.handle.width(), 10), Qt::AlignCenter,
                QStringLiteral("press & drag a band"), artFont(7, false));
        screw(p, QPointF(8, panel.bottom() - 7), 35);
        screw(p, QPointF(panel.right() - 7, panel.bottom() - 7), 110);
    }
    // The outer bevel of the whole case.
    const QRectF all(0, 0, l.body.width(), l.body.height() + (extended ? l.extendedHeight : 0));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x4a, 0x4e, 0x54), 1));
    p.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setPen(QPen(QColor(255, 255, 255, 190), 1));
    p.drawLine(QPointF(1.5, 1.5), QPointF(all.right() - 1.5, 1.5));
    p.drawLine(QPointF(1.5, 1.5), QPointF(1.5, all.bottom() - 1.5));
    p.setPen(QPen(QColor(0x60, 0x64, 0x6a, 150), 1));
    p.drawLine(QPointF(1.5, all.bottom() - 1.5), QPointF(all.right() - 1.5, all.bottom() - 1.5));
    p.drawLine(QPointF(all.right() - 1.5, 1.5), QPointF(all.right() - 1.5, all.bottom() - 1.5));

    // Wells around the display, the position track and the transport keys.
    metalWell(p, QRectF(l.display).adjusted(-3, -3, 3, 3), 9);
    metalWell(p, QRectF(l.position).adjusted(-3, -2, 3, 2), 5);
    const QRect prev = l.button(kPrevious), eject = l.button(kEject);
    metalWell(p, QRectF(prev.left() - 3, prev.top() - 3, eject.right() - prev.left() + 7, prev.height() + 6), 5);
    const QRect enh = l.button(kEnhance), vol = l.button(kVolume);
    metalWell(p, QRectF(enh.left() - 3, enh.top() - 3, enh.width() + 6, vol.bottom() - enh.top() + 7), 5);
    // Behind the enhancement key, which only Velora streams show: a blank, unlit key.
    p.setPen(QPen(QColor(0x5c, 0x61, 0x67), 1));
    p.setBrush(QColor(0x9a, 0x9e, 0xa3));
    p.drawRoundedRect(QRectF(enh).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    engrave(p, QRectF(enh), Qt::AlignCenter, QStringLiteral("PLUS"), artFont(10, true, 1.0), QColor(0x70, 0x75, 0x7b));

    // The maker's plate between the keys and the handle.
    const QRectF plate(l.handle.left(), vol.bottom() + 5, l.handle.width(), l.handle.top() - vol.bottom() - 7);
    engrave(p, plate.adjusted(0, 0, 0, -8), Qt::AlignCenter, QStringLiteral("VELORA"), artFont(11, true, 2.5),
            QColor(0x2e, 0x33, 0x39));
    engrave(p, plate.adjusted(0, 12, 0, 0), Qt::AlignCenter, QStringLiteral("AUDIO PLAYER"), artFont(6.5, false, 1.4));

    // The handle: a ridged grip with an arrow that tells which way the panel goes.
    const QRectF h = QRectF(l.handle);
    metalWell(p, h, 5);
    QLinearGradient grip(h.topLeft(), h.bottomLeft());
    grip.setColorAt(0, QColor(0xd6, 0xd8, 0xdb));
    grip.setColorAt(1, QColor(0xa4, 0xa8, 0xad));
    p.setPen(Qt::NoPen);
    p.setBrush(grip);
    p.drawRoundedRect(h.adjusted(2, 2, -2, -2), 4, 4);
    for (int i = 0; i < 7; ++i) {
        const double x = h.left() + 10 + i * 4;
        p.setPen(QPen(QColor(0x5a, 0x5f, 0x65), 1));
        p.drawLine(QPointF(x, h.top() + 7), QPointF(x, h.bottom() - 7));
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.drawLine(QPointF(x + 1, h.top() + 7), QPointF(x + 1, h.bottom() - 7));
    }
    engrave(p, QRectF(h.left() + 36, h.top(), 44, h.height()), Qt::AlignCenter, QStringLiteral("BANDS"),
            artFont(8, true, 1.0));
    QPainterPath arrow;
    const double ax = h.right() - 13, ay = h.center().y();
    if (extended) {
        arrow.moveTo(ax - 4, ay + 2);
        arrow.lineTo(ax + 4, ay + 2);
        arrow.lineTo(ax, ay - 3);
    } else {
        arrow.moveTo(ax - 4, ay - 2);
        arrow.lineTo(ax + 4, ay - 2);
        arrow.lineTo(ax, ay + 3);
    }
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawPath(arrow.translated(0, 1));
    p.setBrush(QColor(0x34, 0x39, 0x3f));
    p.drawPath(arrow);

    screw(p, QPointF(6.5, 6.5), 20);
    screw(p, QPointF(l.body.width() - 6.5, 6.5), 75);
    screw(p, QPointF(6.5, l.body.height() - 5.5), 140);
    screw(p, QPointF(l.body.width() - 6.5, l.body.height() - 5.5), 60);
}

void paintOcean(QPainter& p) {
    const SkinLayout& l = skinLayout(1);
    const QRectF body(0, 0, l.body.width(), l.body.height());
    p.fillRect(body, QColor(0x02, 0x0a, 0x14));  // behind the rounded corners
    const QRectF shell = body.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient deep(shell.topLeft(), shell.bottomLeft());
    deep.setColorAt(0, QColor(0x12, 0x4a, 0x6e));
    deep.setColorAt(0.5, QColor(0x0a, 0x2c, 0x4a));
    deep.setColorAt(1, QColor(0x05, 0x17, 0x2c));
    p.setPen(QPen(QColor(0x03, 0x0d, 0x18), 1));
    p.setBrush(deep);
    p.drawRoundedRect(shell, 14, 14);
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(shell.adjusted(1, 1, -1, -1), 13, 13);
    p.setClipPath(clip);
    // Swell lines across the lower half, like light through moving water.
    for (int i = 0; i < 6; ++i) {
        QPainterPath wave;
        const double base = 70 + i * 15;
        const double amp = 5 + i * 1.5;
        wave.moveTo(-10, base);
        for (double x = -10; x <= body.width() + 10; x += 4)
            wave.lineTo(x, base + amp * std::sin(x / (48.0 + i * 9) + i * 1.3));
        p.setPen(QPen(QColor(0x5f, 0xd6, 0xe8, 16 + i * 4), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    // Glass: a bright rim at the top and a gloss over the upper part.
    QLinearGradient gloss(0, 0, 0, body.height() * 0.5);
    gloss.setColorAt(0, QColor(255, 255, 255, 46));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    QPainterPath glossShape;
    glossShape.moveTo(0, 0);
    glossShape.lineTo(body.width(), 0);
    glossShape.lineTo(body.width(), body.height() * 0.32);
    glossShape.cubicTo(body.width() * 0.6, body.height() * 0.46, body.width() * 0.35, body.height() * 0.30, 0,
                       body.height() * 0.44);
    glossShape.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawPath(glossShape);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x6c, 0xe0, 0xf0, 120), 1));
    p.drawRoundedRect(shell.adjusted(1, 1, -1, -1), 13, 13);

    // Recessed glass around the display, the tracks and the keys.
    const auto well = [&](const QRectF& r, double radius) {
        QLinearGradient edge(r.topLeft(), r.bottomLeft());
        edge.setColorAt(0, QColor(0x00, 0x06, 0x10, 220));
        edge.setColorAt(1, QColor(0x7c, 0xe4, 0xf4, 110));
        p.setPen(Qt::NoPen);
        p.setBrush(edge);
        p.drawRoundedRect(r, radius, radius);
        p.setBrush(QColor(0x04, 0x14, 0x24, 235));
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    };
    well(QRectF(l.display).adjusted(-3, -3, 3, 3), 10);
    well(QRectF(l.position).adjusted(-3, -2, 3, 2), 9);
    well(QRectF(l.volume).adjusted(-3, -2, 3, 2), 9);
    const QRect prev = l.button(kPrevious), eject = l.button(kEject);
    well(QRectF(prev.left() - 3, prev.top() - 3, eject.right() - prev.left() + 7, prev.height() + 6),
         (prev.height() + 6) / 2.0);

    // The speaker beside the volume track.
    const double sy = l.volume.center().y() + 0.5, sx = l.button(kEnhance).left() + 1;
    QPainterPath speaker;
    speaker.moveTo(sx, sy - 2.5);
    speaker.lineTo(sx + 3, sy - 2.5);
    speaker.lineTo(sx + 7, sy - 6);
    speaker.lineTo(sx + 7, sy + 6);
    speaker.lineTo(sx + 3, sy + 2.5);
    speaker.lineTo(sx, sy + 2.5);
    speaker.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9e, 0xee, 0xf8));
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x9e, 0xee, 0xf8), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(sx + 4, sy - 4, 6, 8), -50 * 16, 100 * 16);

    // Labels and the wordmark.
    p.setPen(QColor(0x7c, 0xd8, 0xea, 200));
    p.setFont(artFont(7.5, true, 1.6));
    p.drawText(QRectF(l.volume.left(), l.volume.top() - 15, l.volume.width(), 11), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VOLUME"));
    const QRect enh = l.button(kEnhance);
    // Behind the enhancement key, which only Velora streams show: its empty outline.
    p.setPen(QPen(QColor(0x6c, 0xd8, 0xec, 60), 1));
    p.setBrush(QColor(0x04, 0x14, 0x24, 120));
    p.drawRoundedRect(QRectF(enh).adjusted(0.5, 0.5, -0.5, -0.5), enh.height() / 2.0, enh.height() / 2.0);
    p.setPen(QColor(0x6c, 0xd8, 0xec, 70));
    p.setFont(artFont(9, true, 1.0));
    p.drawText(QRectF(enh), Qt::AlignCenter, QStringLiteral("PLUS"));
    const QRectF mark(enh.left(), l.button(kPrevious).top() - 2, enh.width(), 30);
    QLinearGradient ink(mark.topLeft(), mark.bottomLeft());
    ink.setColorAt(0, QColor(0xe6, 0xfc, 0xff));
    ink.setColorAt(1, QColor(0x5c, 0xd0, 0xe6));
    p.setFont(artFont(15, true, 1.0));
    p.setPen(QPen(QBrush(ink), 1));
    p.drawText(mark.adjusted(0, 0, 0, -10), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("velora"));
    p.setPen(QColor(0x6c, 0xc8, 0xdc, 190));
    p.setFont(artFont(7, false, 2.2));
    p.drawText(mark.adjusted(0, 19, -1, 0), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("OCEANIC"));
    // A row of small port lights under the side keys.
    for (int i = 0; i < 3; ++i) {
        const QPointF c(enh.left() + 6 + i * 9, l.button(kLibrary).bottom() + 11);
        QRadialGradient dot(c, 3);
        dot.setColorAt(0, QColor(0x9e, 0xf2, 0xff, 220 - i * 60));
        dot.setColorAt(1, QColor(0x1a, 0x60, 0x80, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(c, 3, 3);
    }
}

// The glyph of each key, in `ink`, centred in `box`.
void paintGlyph(QPainter& p, const QRectF& box, int id, const QColor& ink, const QColor& accent) {
    const double s = std::min(box.height() * 0.44, 11.0);
    const QPointF c = box.center();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const auto triangle = [&](double left, double top, double w, double h, bool right) {
        QPainterPath t;
        if (right) {
            t.moveTo(left, top);
            t.lineTo(left + w, top + h / 2);
            t.lineTo(left, top + h);
        } else {
            t.moveTo(left + w, top);
            t.lineTo(left, top + h / 2);
            t.lineTo(left + w, top + h);
        }
        t.closeSubpath();
        p.drawPath(t);
    };
    switch (id) {
        case kPlay:
            triangle(c.x() - s * 0.4, c.y() - s * 0.55, s * 0.95, s * 1.1, true);
            break;
        case kStop:
            p.drawRoundedRect(QRectF(c.x() - s * 0.45, c.y() - s * 0.45, s * 0.9, s * 0.9), 1, 1);
            break;
        case kPause:
            p.drawRoundedRect(QRectF(c.x() - s * 0.45, c.y() - s * 0.5, s * 0.3, s), 0.8, 0.8);
            p.drawRoundedRect(QRectF(c.x() + s * 0.15, c.y() - s * 0.5, s * 0.3, s), 0.8, 0.8);
            break;
        case kNext:
            triangle(c.x() - s * 0.75, c.y() - s * 0.45, s * 0.6, s * 0.9, true);
            triangle(c.x() - s * 0.15, c.y() - s * 0.45, s * 0.6, s * 0.9, true);
            p.drawRect(QRectF(c.x() + s * 0.5, c.y() - s * 0.45, s * 0.2, s * 0.9));
            break;
        case kPrevious:
            p.drawRect(QRectF(c.x() - s * 0.7, c.y() - s * 0.45, s * 0.2, s * 0.9));
            triangle(c.x() - s * 0.45, c.y() - s * 0.45, s * 0.6, s * 0.9, false);
            triangle(c.x() + s * 0.15, c.y() - s * 0.45, s * 0.6, s * 0.9, false);
            break;
        case kEject: {
            QPainterPath t;
            t.moveTo(c.x() - s * 0.55, c.y() + s * 0.12);
            t.lineTo(c.x(), c.y() - s * 0.55);
            t.lineTo(c.x() + s * 0.55, c.y() + s * 0.12);
            t.closeSubpath();
            p.drawPath(t);
            p.drawRect(QRectF(c.x() - s * 0.55, c.y() + s * 0.3, s * 1.1, s * 0.22));
            break;
        }
        case kLibrary:
            for (int i = 0; i < 3; ++i) {
                const double y = c.y() - s * 0.45 + i * s * 0.38;
                p.drawEllipse(QRectF(c.x() - s * 0.7, y, s * 0.2, s * 0.2));
                p.drawRoundedRect(QRectF(c.x() - s * 0.38, y, s * 1.1, s * 0.2), 0.6, 0.6);
            }
            break;
        case kEncoder:
            p.setBrush(accent);
            p.drawEllipse(QPointF(c.x() - s * 0.45, c.y()), s * 0.32, s * 0.32);
            p.setBrush(ink);
            for (int i = 0; i < 4; ++i) {
                const double h = s * (0.35 + 0.2 * ((i * 3) % 4));
                p.drawRoundedRect(QRectF(c.x() + s * (0.05 + i * 0.22), c.y() - h / 2, s * 0.12, h), 0.4, 0.4);
            }
            break;
        case kVolume: {
            QPainterPath speaker;
            const double x = c.x() - s * 0.5;
            speaker.moveTo(x, c.y() - s * 0.22);
            speaker.lineTo(x + s * 0.3, c.y() - s * 0.22);
            speaker.lineTo(x + s * 0.65, c.y() - s * 0.5);
            speaker.lineTo(x + s * 0.65, c.y() + s * 0.5);
            speaker.lineTo(x + s * 0.3, c.y() + s * 0.22);
            speaker.lineTo(x, c.y() + s * 0.22);
            speaker.closeSubpath();
            p.drawPath(speaker);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(ink, 1.1, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(x + s * 0.45, c.y() - s * 0.3, s * 0.5, s * 0.6), -55 * 16, 110 * 16);
            p.drawArc(QRectF(x + s * 0.35, c.y() - s * 0.55, s * 0.95, s * 1.1), -55 * 16, 110 * 16);
            break;
        }
        default:
            break;
    }
}

// A labelled side key: the glyph box at the left of `r`, then the label.
void labelledKey(QPainter& p, const QRectF& r, const QString& label, const QColor& ink, double size) {
    p.setPen(ink);
    p.setFont(artFont(size, true, 1.0));
    p.drawText(r.adjusted(r.height() * 0.9, 0, -4, 0), Qt::AlignCenter, label);
}

// The enhancement key's lamp: lit when on.
void lamp(QPainter& p, QPointF c, double radius, bool on, const QColor& lit, const QColor& off) {
    if (on) {
        QRadialGradient glow(c, radius * 2.6);
        QColor g = lit;
        g.setAlpha(110);
        glow.setColorAt(0, g);
        g.setAlpha(0);
        glow.setColorAt(1, g);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, radius * 2.6, radius * 2.6);
    }
    QRadialGradient bulb(c - QPointF(radius * 0.3, radius * 0.35), radius * 1.3);
    bulb.setColorAt(0, on ? QColor(255, 255, 255) : off.lighter(160));
    bulb.setColorAt(0.45, on ? lit : off);
    bulb.setColorAt(1, on ? lit.darker(160) : off.darker(180));
    p.setPen(QPen(QColor(0, 0, 0, 140), 0.8));
    p.setBrush(bulb);
    p.drawEllipse(c, radius, radius);
}

void metalButton(QPainter& p, const QRectF& rect, int id, ButtonLook look, bool on) {
    const QRectF r = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    const bool pressed = look == ButtonLook::Pressed || (id == kEnhance && !on && look != ButtonLook::Disabled);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    switch (look) {
        case ButtonLook::Normal:
            face.setColorAt(0, QColor(0xf6, 0xf7, 0xf8));
            face.setColorAt(0.5, QColor(0xd8, 0xdb, 0xde));
            face.setColorAt(1, QColor(0xb6, 0xba, 0xbf));
            break;
        case ButtonLook::Hover:
            face.setColorAt(0, QColor(0xff, 0xff, 0xff));
            face.setColorAt(0.5, QColor(0xe6, 0xe9, 0xec));
            face.setColorAt(1, QColor(0xc4, 0xc8, 0xcd));
            break;
        case ButtonLook::Pressed:
            face.setColorAt(0, QColor(0x9a, 0x9e, 0xa4));
            face.setColorAt(0.6, QColor(0xb4, 0xb8, 0xbd));
            face.setColorAt(1, QColor(0xc8, 0xcb, 0xcf));
            break;
        case ButtonLook::Disabled:
            face.setColorAt(0, QColor(0xd2, 0xd4, 0xd6));
            face.setColorAt(1, QColor(0xc2, 0xc4, 0xc7));
            break;
    }
    if (id == kEnhance && !on && look != ButtonLook::Pressed && look != ButtonLook::Disabled) {
        // "PLUSD": the key latched down.
        face.setStops({});
        face.setColorAt(0, QColor(0xae, 0xb2, 0xb7));
        face.setColorAt(1, QColor(0xcc, 0xcf, 0xd3));
    }
    p.setPen(QPen(QColor(0x3e, 0x43, 0x49), 1));
    p.setBrush(face);
    p.drawRoundedRect(r, 3.5, 3.5);
    p.setBrush(Qt::NoBrush);
    if (!pressed) {
        p.setPen(QPen(QColor(255, 255, 255, look == ButtonLook::Disabled ? 90 : 200), 1));
        p.drawLine(QPointF(r.left() + 3, r.top() + 1.5), QPointF(r.right() - 3, r.top() + 1.5));
    } else {
        p.setPen(QPen(QColor(0x30, 0x34, 0x3a, 90), 1));
        p.drawLine(QPointF(r.left() + 3, r.top() + 1.5), QPointF(r.right() - 3, r.top() + 1.5));
    }
    const QColor ink = look == ButtonLook::Disabled ? QColor(0x9c, 0xa0, 0xa5) : QColor(0x26, 0x2a, 0x2f);
    const QRectF inner = pressed ? r.translated(0.5, 1) : r;
    if (id == kEnhance) {
        lamp(p, QPointF(inner.left() + 12, inner.center().y()), 3.6, on && look != ButtonLook::Disabled,
             QColor(0xff, 0xb0, 0x30), QColor(0x6a, 0x55, 0x3c));
        labelledKey(p, inner.adjusted(6, 0, 0, 0), QStringLiteral("PLUS"), ink, 10);
    } else if (id == kVolume) {
        paintGlyph(p, QRectF(inner.left() + 4, inner.top(), inner.height(), inner.height()), id, ink, ink);
        labelledKey(p, inner.adjusted(4, 0, 0, 0), QStringLiteral("VOLUME"), ink, 8.5);
    } else {
        paintGlyph(p, inner, id, ink, look == ButtonLook::Disabled ? ink : QColor(0xc8, 0x2c, 0x24));
    }
}

void oceanButton(QPainter& p, const QRectF& rect, int id, ButtonLook look, bool on) {
    const QRectF r = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = r.height() / 2;
    QColor top, bottom, rim, ink;
    switch (look) {
        case ButtonLook::Normal:
            top = QColor(0x23, 0x7a, 0x9c); bottom = QColor(0x0b, 0x33, 0x50);
            rim = QColor(0x6c, 0xd8, 0xec, 170); ink = QColor(0xe2, 0xfa, 0xff);
            break;
        case ButtonLook::Hover:
            top = QColor(0x34, 0x9c, 0xc0); bottom = QColor(0x10, 0x48, 0x6a);
            rim = QColor(0x9e, 0xf0, 0xff, 230); ink = QColor(0xff, 0xff, 0xff);
            break;
        case ButtonLook::Pressed:
            top = QColor(0x06, 0x22, 0x38); bottom = QColor(0x16, 0x5e, 0x80);
            rim = QColor(0x6c, 0xd8, 0xec, 200); ink = QColor(0xa8, 0xf0, 0xff);
            break;
        case ButtonLook::Disabled:
            top = QColor(0x2a, 0x40, 0x4e); bottom = QColor(0x1a, 0x28, 0x33);
            rim = QColor(0x5a, 0x74, 0x82, 120); ink = QColor(0x6e, 0x86, 0x94);
            break;
    }
    if (look == ButtonLook::Hover) {
        p.setPen(QPen(QColor(0x7c, 0xe8, 0xff, 60), 3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    p.setPen(QPen(rim, 1));
    p.setBrush(face);
    p.drawRoundedRect(r, radius, radius);
    if (look != ButtonLook::Pressed) {
        // The gloss on the upper half of the glass.
        const QRectF g = r.adjusted(2, 1.5, -2, -r.height() * 0.5);
        QLinearGradient gloss(g.topLeft(), g.bottomLeft());
        gloss.setColorAt(0, QColor(255, 255, 255, look == ButtonLook::Disabled ? 30 : 95));
        gloss.setColorAt(1, QColor(255, 255, 255, 8));
        p.setPen(Qt::NoPen);
        p.setBrush(gloss);
        p.drawRoundedRect(g, g.height() / 2, g.height() / 2);
    }
    const QRectF inner = look == ButtonLook::Pressed ? r.translated(0, 1) : r;
    if (id == kEnhance) {
        lamp(p, QPointF(inner.left() + 13, inner.center().y()), 3.6, on && look != ButtonLook::Disabled,
             QColor(0x5c, 0xff, 0xc8), QColor(0x25, 0x4a, 0x52));
        labelledKey(p, inner.adjusted(6, 0, 0, 0), on ? QStringLiteral("PLUS ON") : QStringLiteral("PLUS OFF"),
                    on ? ink : ink.darker(125), 9);
    } else {
        paintGlyph(p, inner, id, ink, look == ButtonLook::Disabled ? ink : QColor(0xff, 0x7a, 0x6a));
    }
}

void paintIcon(QPainter& p, int size) {
    const double s = size;
    const QRectF r(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    QLinearGradient sea(r.topLeft(), r.bottomLeft());
    sea.setColorAt(0, QColor(0x3c, 0xb4, 0xd4));
    sea.setColorAt(0.55, QColor(0x0e, 0x4c, 0x74));
    sea.setColorAt(1, QColor(0x06, 0x1c, 0x34));
    p.setPen(QPen(QColor(0x03, 0x12, 0x22), std::max(1.0, s / 32)));
    p.setBrush(sea);
    p.drawRoundedRect(r, s * 0.2, s * 0.2);
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.5));
    gloss.setColorAt(0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(r.adjusted(s * 0.05, s * 0.04, -s * 0.05, -r.height() * 0.5), s * 0.15, s * 0.15);
    QPainterPath play;
    play.moveTo(s * 0.34, s * 0.26);
    play.lineTo(s * 0.74, s * 0.5);
    play.lineTo(s * 0.34, s * 0.74);
    play.closeSubpath();
    p.setBrush(QColor(0xf4, 0xfd, 0xff));
    p.drawPath(play);
    if (size >= 32) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x9e, 0xf2, 0xff, 200), s / 28, Qt::SolidLine, Qt::RoundCap));
        QPainterPath wave;
        wave.moveTo(s * 0.18, s * 0.84);
        for (double x = 0.18; x <= 0.82; x += 0.02) wave.lineTo(s * x, s * (0.84 + 0.03 * std::sin(x * 22)));
        p.drawPath(wave);
    }
}

}  // namespace

const SkinLayout& skinLayout(int skin) {
    static const SkinLayout metal = makeMetal();
    static const SkinLayout ocean = makeOcean();
    return skin == kSkinBrushedMetal ? metal : ocean;
}

QString skinName(int skin) {
    return skin == kSkinBrushedMetal ? QStringLiteral("Brushed Metal") : QStringLiteral("Oceanic");
}

QString enhancementPicture(bool on) {
    return on ? QStringLiteral("PLUSU") : QStringLiteral("PLUSD");
}

void paintSkinBackground(QPainter& painter, int skin, bool extended) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (skin == kSkinBrushedMetal)
        paintMetal(painter, extended);
    else
        paintOcean(painter);
    painter.restore();
}

void paintSkinButton(QPainter& painter, const QRect& rect, int skin, int id, ButtonLook look, bool on) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (skin == kSkinBrushedMetal)
        metalButton(painter, QRectF(rect), id, look, on);
    else
        oceanButton(painter, QRectF(rect), id, look, on);
    painter.restore();
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        paintIcon(p, size);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

const SkinPalette& skinPalette(int skin) {
    static const SkinPalette metal{
        QColor(0x0c, 0x24, 0x1c), QColor(0x06, 0x14, 0x0f), QColor(0x2f, 0x5d, 0x4c),
        QColor(0x8c, 0xff, 0xc8), QColor(0x8c, 0xff, 0xc8, 26), QColor(0x5c, 0xb0, 0x8c),
        QColor(0x3a, 0x3e, 0x44), QColor(0x62, 0x67, 0x6d), QColor(0x2a, 0x2e, 0x33),
        QColor(0x9c, 0xf4, 0xcc), QColor(0x44, 0xa8, 0x84),
        QColor(0xff, 0xff, 0xff), QColor(0xd0, 0xd4, 0xd8), QColor(0x80, 0x86, 0x8d), QColor(0x3a, 0x3f, 0x45),
    };
    static const SkinPalette ocean{
        QColor(0x06, 0x22, 0x3a), QColor(0x02, 0x0e, 0x1c), QColor(0x2c, 0x7c, 0x9c),
        QColor(0x8a, 0xf0, 0xff), QColor(0x8a, 0xf0, 0xff, 24), QColor(0x52, 0xb4, 0xcc),
        QColor(0x02, 0x0a, 0x14), QColor(0x0c, 0x2a, 0x40), QColor(0x00, 0x04, 0x0a),
        QColor(0x9e, 0xf6, 0xff), QColor(0x22, 0x9c, 0xc4),
        QColor(0xff, 0xff, 0xff), QColor(0x9e, 0xe8, 0xf8), QColor(0x2a, 0x86, 0xaa), QColor(0x08, 0x30, 0x48),
    };
    return skin == kSkinBrushedMetal ? metal : ocean;
}

}  // namespace veloraplay
