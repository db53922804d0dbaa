#include "ArtPainter.h"

#include <QLinearGradient>
#include <QRadialGradient>
#include <QtMath>
#include <algorithm>
#include <array>
#include <string>
#include <cmath>

namespace tessura::art {

QImage FaceImage(int width, int height, const ArtStyle& s) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    FillFace(p, QRectF(0, 0, width, height), s);
    return image;
}

// Flat, so that the pieces of "/jpeg/misc" drawn over a window match the face around them.
void FillFace(QPainter& p, const QRectF& area, const ArtStyle& s) { p.fillRect(area, s.body); }

QPainterPath RoundedPath(const QRectF& r, double radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

void Bevel(QPainter& p, const QPainterPath& shape, const ArtStyle& s, bool raised, double width) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    const QColor top = raised ? s.edgeLight : s.edgeDark;
    const QColor bottom = raised ? s.edgeDark : s.edgeLight;
    const QRectF b = shape.boundingRect();
    QLinearGradient g(b.topLeft(), b.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(QBrush(g), width));
    p.drawPath(shape);
    p.restore();
}

void Well(QPainter& p, const QRectF& r, double radius, const QColor& fill, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = RoundedPath(r, radius);
    p.fillPath(path, fill);
    Bevel(p, path, s, false, 1.5);
    p.restore();
}

void Button(QPainter& p, const QRectF& cell, Glyph glyph, bool lit, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = cell.adjusted(1.5, 1.5, -1.5, -1.5);
    const double radius = std::min(r.width(), r.height()) * s.buttonRound;
    const QPainterPath path = RoundedPath(r, radius);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    const QColor face = lit ? s.faceLit : s.face;
    g.setColorAt(0, face.lighter(lit ? 125 : 118));
    g.setColorAt(0.5, face);
    g.setColorAt(1, face.darker(lit ? 110 : 135));
    p.fillPath(path, g);
    if (lit) {
        QRadialGradient glow(r.center(), std::max(r.width(), r.height()) * 0.6);
        QColor c = s.accent;
        c.setAlpha(90);
        glow.setColorAt(0, c);
        glow.setColorAt(1, Qt::transparent);
        p.fillPath(path, glow);
    }
    Bevel(p, path, s, !lit, 1.3);
    const double inset = std::min(r.width(), r.height()) * 0.28;
    DrawGlyph(p, r.adjusted(inset, inset, -inset, -inset), glyph, lit ? s.glyphLit : s.glyph);
    p.restore();
}

void DrawGlyph(QPainter& p, const QRectF& r, Glyph glyph, const QColor& colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    const double cx = r.center().x(), cy = r.center().y();
    auto triangle = [&](QPointF a, QPointF b, QPointF c) { p.drawPolygon(QPolygonF({a, b, c})); };
    const double bar = std::max(1.5, w * 0.16);
    switch (glyph) {
    case Glyph::Play:
        triangle({x + w * 0.15, y}, {x + w * 0.15, y + h}, {x + w, cy});
        break;
    case Glyph::Pause:
        p.drawRect(QRectF(x + w * 0.15, y, w * 0.25, h));
        p.drawRect(QRectF(x + w * 0.6, y, w * 0.25, h));
        break;
    case Glyph::Stop:
        p.drawRoundedRect(QRectF(x + w * 0.08, y + h * 0.08, w * 0.84, h * 0.84), 1.5, 1.5);
        break;
    case Glyph::Next:
        triangle({x, y + h * 0.15}, {x, y + h * 0.85}, {x + w * 0.55, cy});
        triangle({x + w * 0.4, y + h * 0.15}, {x + w * 0.4, y + h * 0.85}, {x + w * 0.9, cy});
        p.drawRect(QRectF(x + w * 0.88, y + h * 0.15, bar, h * 0.7));
        break;
    case Glyph::Prev:
        p.drawRect(QRectF(x + w * 0.1 - bar + 1, y + h * 0.15, bar, h * 0.7));
        triangle({x + w * 0.6, y + h * 0.15}, {x + w * 0.6, y + h * 0.85}, {x + w * 0.1, cy});
        triangle({x + w, y + h * 0.15}, {x + w, y + h * 0.85}, {x + w * 0.45, cy});
        break;
    case Glyph::Eject:
        triangle({x + w * 0.05, y + h * 0.62}, {x + w * 0.95, y + h * 0.62}, {cx, y});
        p.drawRect(QRectF(x + w * 0.05, y + h * 0.76, w * 0.9, h * 0.2));
        break;
    case Glyph::Up:
    case Glyph::SingleUp:
        triangle({x, y + h * 0.8}, {x + w, y + h * 0.8}, {cx, y + h * 0.2});
        break;
    case Glyph::Down:
    case Glyph::SingleDown:
        triangle({x, y + h * 0.2}, {x + w, y + h * 0.2}, {cx, y + h * 0.8});
        break;
    case Glyph::Repeat: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, std::max(1.4, h * 0.16), Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(x + w * 0.1, y + h * 0.15, w * 0.8, h * 0.7), 30 * 16, 300 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        triangle({x + w * 0.72, y}, {x + w * 1.0, y + h * 0.3}, {x + w * 0.66, y + h * 0.42});
        break;
    }
    case Glyph::Shuffle: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, std::max(1.4, h * 0.14), Qt::SolidLine, Qt::RoundCap));
        QPainterPath a, b;
        a.moveTo(x, y + h * 0.25);
        a.cubicTo(x + w * 0.5, y + h * 0.25, x + w * 0.4, y + h * 0.75, x + w * 0.85, y + h * 0.75);
        b.moveTo(x, y + h * 0.75);
        b.cubicTo(x + w * 0.5, y + h * 0.75, x + w * 0.4, y + h * 0.25, x + w * 0.85, y + h * 0.25);
        p.drawPath(a);
        p.drawPath(b);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        triangle({x + w * 0.8, y + h * 0.05}, {x + w * 0.8, y + h * 0.45}, {x + w, y + h * 0.25});
        triangle({x + w * 0.8, y + h * 0.55}, {x + w * 0.8, y + h * 0.95}, {x + w, y + h * 0.75});
        break;
    }
    case Glyph::Eq:
        for (int i = 0; i < 4; ++i) {
            const double level = std::array<double, 4>{0.5, 0.9, 0.35, 0.7}[std::size_t(i)];
            p.drawRect(QRectF(x + w * (0.05 + 0.25 * i), y + h * (1 - level), w * 0.16, h * level));
        }
        break;
    case Glyph::Minimise:
        p.drawRect(QRectF(x + w * 0.1, y + h * 0.65, w * 0.8, std::max(1.5, h * 0.22)));
        break;
    case Glyph::Close: {
        p.setPen(QPen(colour, std::max(1.5, w * 0.2), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x + w * 0.15, y + h * 0.15), QPointF(x + w * 0.85, y + h * 0.85));
        p.drawLine(QPointF(x + w * 0.85, y + h * 0.15), QPointF(x + w * 0.15, y + h * 0.85));
        break;
    }
    case Glyph::Help: {
        QFont f("DejaVu Sans");
        f.setBold(true);
        f.setPixelSize(std::max(6, int(std::lround(h * 1.05))));
        p.setFont(f);
        p.setPen(colour);
        p.drawText(r.adjusted(-2, -2, 2, 2), Qt::AlignCenter, "?");
        break;
    }
    }
    p.restore();
}

void Lamp(QPainter& p, const QRectF& cell, const QColor& colour, bool on, const QString& label, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = cell.adjusted(1.5, 1.5, -1.5, -1.5);
    const QPainterPath path = RoundedPath(r, std::min(r.height() * 0.5, r.width() * s.buttonRound + 3));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, s.face.lighter(115));
    g.setColorAt(1, s.face.darker(130));
    p.fillPath(path, g);
    Bevel(p, path, s, true, 1.1);
    // The lamp: a small lens on the left, the caption beside it.
    const QRectF lens(r.x() + 2.5, r.center().y() - 3, 6, 6);
    QRadialGradient lg(lens.center() - QPointF(1, 1), 5);
    lg.setColorAt(0, on ? colour.lighter(160) : colour.darker(300));
    lg.setColorAt(1, on ? colour : colour.darker(420));
    p.setPen(QPen(s.edgeDark, 0.8));
    p.setBrush(lg);
    p.drawEllipse(lens);
    if (on) {
        QRadialGradient halo(lens.center(), 9);
        QColor c = colour;
        c.setAlpha(110);
        halo.setColorAt(0, c);
        halo.setColorAt(1, Qt::transparent);
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawEllipse(lens.center(), 9, 9);
    }
    Label(p, QRectF(lens.right() + 1, r.y(), r.right() - lens.right() - 1.5, r.height()), label,
          on ? s.glyphLit : s.glyph, 6.6, true, s);
    p.restore();
}

void SegmentGlyph(QPainter& p, const QRectF& r, char c, const QColor& lit, const QColor& dim) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double w = r.width(), h = r.height();
    const double t = std::max(1.2, w * 0.16);  // segment thickness
    const double x0 = r.x() + w * 0.12, x1 = r.x() + w * 0.88;
    const double y0 = r.y() + h * 0.06, ym = r.y() + h * 0.5, y1 = r.y() + h * 0.94;
    auto horizontal = [&](double y, bool on) {
        p.setBrush(on ? lit : dim);
        p.drawPolygon(QPolygonF({{x0 + t * 0.5, y}, {x0 + t, y - t / 2}, {x1 - t, y - t / 2}, {x1 - t * 0.5, y},
                                 {x1 - t, y + t / 2}, {x0 + t, y + t / 2}}));
    };
    auto vertical = [&](double x, double ya, double yb, bool on) {
        p.setBrush(on ? lit : dim);
        p.drawPolygon(QPolygonF({{x, ya + t * 0.5}, {x + t / 2, ya + t}, {x + t / 2, yb - t}, {x, yb - t * 0.5},
                                 {x - t / 2, yb - t}, {x - t / 2, ya + t}}));
    };
    // Segments a (top), b (top right), c (bottom right), d (bottom), e (bottom left), f (top
    // left), g (middle).
    static constexpr const char* kDigits[10] = {"abcdef", "bc", "abdeg", "abcdg", "bcfg",
                                                "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"};
    const bool digit = c >= '0' && c <= '9';
    const bool segmented = digit || c == '-' || c == ' ';
    if (segmented) {
        const std::string on = digit ? kDigits[c - '0'] : c == '-' ? "g" : "";
        auto has = [&](char s) { return on.find(s) != std::string::npos; };
        horizontal(y0 + t / 2, has('a'));
        horizontal(ym, has('g'));
        horizontal(y1 - t / 2, has('d'));
        vertical(x0 + t / 2, y0, ym, has('f'));
        vertical(x1 - t / 2, y0, ym, has('b'));
        vertical(x0 + t / 2, ym, y1, has('e'));
        vertical(x1 - t / 2, ym, y1, has('c'));
    } else if (c == ':') {
        p.setBrush(lit);
        p.drawEllipse(QPointF(r.center().x(), r.y() + h * 0.32), t * 0.6, t * 0.6);
        p.drawEllipse(QPointF(r.center().x(), r.y() + h * 0.70), t * 0.6, t * 0.6);
    } else if (c == '.') {
        p.setBrush(lit);
        p.drawEllipse(QPointF(r.center().x(), y1 - t / 2), t * 0.6, t * 0.6);
    }
    p.restore();
}

void Knob(QPainter& p, const QRectF& cell, double turn, const QColor& pointer, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = cell.adjusted(0.8, 0.8, -0.8, -0.8);
    QRadialGradient g(r.center() - QPointF(r.width() * 0.2, r.height() * 0.25), r.width() * 0.75);
    g.setColorAt(0, s.face.lighter(150));
    g.setColorAt(0.7, s.face);
    g.setColorAt(1, s.face.darker(160));
    p.setPen(QPen(s.edgeDark, 0.8));
    p.setBrush(g);
    p.drawEllipse(r);
    const double angle = qDegreesToRadians(225.0 - 270.0 * turn);  // 7:30 to 4:30 clockwise
    const QPointF c = r.center();
    const double radius = r.width() / 2;
    const QPointF tip(c.x() + std::cos(angle) * radius * 0.78, c.y() - std::sin(angle) * radius * 0.78);
    const QPointF base(c.x() + std::cos(angle) * radius * 0.25, c.y() - std::sin(angle) * radius * 0.25);
    p.setPen(QPen(pointer, std::max(1.3, radius * 0.22), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(base, tip);
    p.restore();
}

void Shuttle(QPainter& p, const QRectF& cell, double angle, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = cell.adjusted(1, 1, -1, -1);
    QRadialGradient g(r.center() - QPointF(r.width() * 0.18, r.height() * 0.22), r.width() * 0.7);
    g.setColorAt(0, s.face.lighter(140));
    g.setColorAt(0.8, s.face);
    g.setColorAt(1, s.face.darker(170));
    p.setPen(QPen(s.edgeDark, 1));
    p.setBrush(g);
    p.drawEllipse(r);
    const QPointF c = r.center();
    const double radius = r.width() / 2;
    // Grip dimples around the rim, and one bright finger dimple that shows the turn.
    for (int i = 0; i < 12; ++i) {
        const double a = qDegreesToRadians(angle + 30.0 * i);
        const QPointF d(c.x() + std::cos(a) * radius * 0.78, c.y() + std::sin(a) * radius * 0.78);
        p.setPen(Qt::NoPen);
        p.setBrush(s.face.darker(150));
        p.drawEllipse(d, radius * 0.07, radius * 0.07);
    }
    const double a = qDegreesToRadians(angle - 90.0);
    const QPointF finger(c.x() + std::cos(a) * radius * 0.5, c.y() + std::sin(a) * radius * 0.5);
    QRadialGradient fg(finger, radius * 0.2);
    fg.setColorAt(0, s.accent.lighter(130));
    fg.setColorAt(1, s.accent.darker(150));
    p.setBrush(fg);
    p.drawEllipse(finger, radius * 0.17, radius * 0.17);
    p.setBrush(s.face.darker(120));
    p.drawEllipse(c, radius * 0.12, radius * 0.12);
    p.restore();
}

void Ring(QPainter& p, const QPointF& centre, double inner, double outer, const QColor& fill, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath ring;
    ring.addEllipse(centre, outer, outer);
    QPainterPath hole;
    hole.addEllipse(centre, inner, inner);
    ring = ring.subtracted(hole);
    p.fillPath(ring, fill);
    p.setPen(QPen(s.edgeDark, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, outer, outer);
    p.setPen(QPen(s.edgeLight, 0.8));
    p.drawEllipse(centre, inner, inner);
    // Tick marks every 30 degrees so the ring reads as a scale.
    p.setPen(QPen(s.lcdDim.lighter(150), 1));
    for (int i = 0; i < 12; ++i) {
        const double a = qDegreesToRadians(30.0 * i);
        p.drawLine(QPointF(centre.x() + std::cos(a) * (outer - 2), centre.y() + std::sin(a) * (outer - 2)),
                   QPointF(centre.x() + std::cos(a) * (outer - 4.5), centre.y() + std::sin(a) * (outer - 4.5)));
    }
    p.restore();
}

void Label(QPainter& p, const QRectF& r, const QString& text, const QColor& colour, double pixelSize, bool bold,
           const ArtStyle& s, int flags) {
    p.save();
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f(pixelSize < 9 ? s.face2 : s.face1);
    f.setPixelSize(std::max(6, int(std::lround(pixelSize))));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(r, flags, text);
    p.restore();
}

void Logo(QPainter& p, const QRectF& r, const ArtStyle& s, bool withName) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // A tessera: a small tilted square of four tiles, then the name.
    const double side = r.height() * 0.8;
    const QPointF c(r.x() + side / 2 + 1, r.center().y());
    p.save();
    p.translate(c);
    p.rotate(45);
    const double tile = side * 0.33;
    const QColor tiles[4] = {s.accent, s.accent2, s.accent2.darker(130), s.accent.darker(140)};
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRectF((i % 2 ? 0.5 : -tile - 0.5), (i / 2 ? 0.5 : -tile - 0.5), tile, tile), tiles[i]);
    p.restore();
    if (withName)
        Label(p, QRectF(r.x() + side + 4, r.y(), r.width() - side - 4, r.height()), "TESSURA", s.text,
          r.height() * 0.72, true, s, Qt::AlignLeft | Qt::AlignVCenter);
    p.restore();
}

}  // namespace tessura::art
