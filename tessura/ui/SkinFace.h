#pragma once
// The loaded skin as the windows draw it: images and regions converted once, and the few ways
// pieces are put on the window (a sprite of a sheet, a knob frame, display digits, a text).
#include "SkinLoader.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <map>
#include <string>

namespace tessura::ui {

class SkinFace {
  public:
    explicit SkinFace(LoadedSkin skin);

    const LoadedSkin& skin() const { return skin_; }
    const SkinDescription& description() const { return skin_.description; }
    const QImage& image(const std::string& member) const;   // null when the skin has none
    const QRegion& region(const std::string& member) const; // empty when the skin has none
    QRect bounds(const std::string& member) const;
    static QColor colour(SkinColour c) { return QColor::fromRgb(QRgb(c)); }

    void sprite(QPainter& p, const std::string& sheet, SkinPoint from, QSize size, QPoint to) const;
    // Frame `index` (clamped to the strip) of a knob strip, centred on `area`.
    void knob(QPainter& p, const std::string& strip, SkinKnob k, int index, const QRect& area) const;
    // Display glyphs of "/jpeg/navitem1"; characters the sheet lacks are passed over.
    // Returns the width drawn.
    int digits(QPainter& p, const std::string& text, QPoint at, bool small) const;
    void text(QPainter& p, const QRect& r, const QString& t, int px, QColor colour,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) const;

  private:
    LoadedSkin skin_;
    std::map<std::string, QImage> images_;
    std::map<std::string, QRegion> regions_;
    QImage none_;
    QRegion empty_;
};

}  // namespace tessura::ui
