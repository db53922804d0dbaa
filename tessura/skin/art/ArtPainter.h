#pragma once
// Drawing pieces the project's skins are made of: panels, buttons with their glyphs, lamps,
// segment digits, knob frames and rings, in one look given by an ArtStyle.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

namespace tessura::art {

struct ArtStyle {
    QColor body, bodyDark;            // window face, top to bottom
    QColor edgeLight, edgeDark;       // bevels
    QColor panel;                     // recessed areas
    QColor lcd, lcdText, lcdDim;      // the display
    QColor face, faceLit;             // buttons
    QColor glyph, glyphLit;
    QColor accent, accent2;           // logo, rings, highlights
    QColor text;
    QColor red, orange, green, cyan;  // lamps
    double buttonRound = 0.3;         // corner radius as a share of the shorter side (0.5: round)
    double frameRadius = 14;
    QString face1 = "DejaVu Sans", face2 = "DejaVu Sans Condensed";
};

enum class Glyph { Prev, Next, Play, Pause, Stop, Eject, Up, Down, Repeat, Shuffle, Eq, Minimise, Close,
                   Help, SingleUp, SingleDown };

// Image filled with the window face gradient over `height` rows starting at `top`.
QImage FaceImage(int width, int height, const ArtStyle& s);
void FillFace(QPainter& p, const QRectF& area, const ArtStyle& s);

QPainterPath RoundedPath(const QRectF& r, double radius);
void Bevel(QPainter& p, const QPainterPath& shape, const ArtStyle& s, bool raised, double width = 1.2);
// A recessed panel (display wells, grooves).
void Well(QPainter& p, const QRectF& r, double radius, const QColor& fill, const ArtStyle& s);
void Button(QPainter& p, const QRectF& r, Glyph glyph, bool lit, const ArtStyle& s);
void DrawGlyph(QPainter& p, const QRectF& r, Glyph glyph, const QColor& colour);
void Lamp(QPainter& p, const QRectF& r, const QColor& colour, bool on, const QString& label, const ArtStyle& s);
// A seven-segment glyph (digits, ':', '-', '.', ' ') in `r`; unlit segments in `dim`.
void SegmentGlyph(QPainter& p, const QRectF& r, char c, const QColor& lit, const QColor& dim);
// One frame of a rotary knob at `turn` (0 lowest, 1 highest) over 270 degrees.
void Knob(QPainter& p, const QRectF& r, double turn, const QColor& pointer, const ArtStyle& s);
// One step of the jog wheel: dimples turned by `angle` degrees.
void Shuttle(QPainter& p, const QRectF& r, double angle, const ArtStyle& s);
void Ring(QPainter& p, const QPointF& centre, double inner, double outer, const QColor& fill, const ArtStyle& s);
void Label(QPainter& p, const QRectF& r, const QString& text, const QColor& colour, double pixelSize,
           bool bold, const ArtStyle& s, int flags = Qt::AlignCenter);
// The tessera mark, and the name beside it when `withName`.
void Logo(QPainter& p, const QRectF& r, const ArtStyle& s, bool withName = true);

}  // namespace tessura::art
