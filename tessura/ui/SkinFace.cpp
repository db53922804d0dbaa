#include "SkinFace.h"

#include "SkinQt.h"
#include "SkinSheets.h"

#include <algorithm>

namespace tessura::ui {

SkinFace::SkinFace(LoadedSkin skin) : skin_(std::move(skin)) {
    for (const auto& [member, loaded] : skin_.images) images_[member] = ToQImage(loaded.image);
    for (const auto& [member, loaded] : skin_.regions) regions_[member] = ToQRegion(loaded.region);
}

const QImage& SkinFace::image(const std::string& member) const {
    const auto found = images_.find(member);
    return found == images_.end() ? none_ : found->second;
}

const QRegion& SkinFace::region(const std::string& member) const {
    const auto found = regions_.find(member);
    return found == regions_.end() ? empty_ : found->second;
}

QRect SkinFace::bounds(const std::string& member) const {
    return region(member).boundingRect();
}

void SkinFace::sprite(QPainter& p, const std::string& sheet, SkinPoint from, QSize size, QPoint to) const {
    const QImage& source = image(sheet);
    if (source.isNull()) return;
    p.drawImage(QRect(to, size), source, QRect(QPoint(from.x, from.y), size));
}

void SkinFace::knob(QPainter& p, const std::string& strip, SkinKnob k, int index, const QRect& area) const {
    const QImage& source = image(strip);
    if (source.isNull() || k.width <= 0 || k.images <= 0 || area.isEmpty()) return;
    index = std::clamp(index, 0, k.images - 1);
    const QPoint at = area.center() - QPoint(k.width / 2, k.width / 2) + QPoint(1, 1);
    p.drawImage(QRect(at, QSize(k.width, k.width)), source, QRect(index * k.width, 0, k.width, k.width));
}

int SkinFace::digits(QPainter& p, const std::string& text, QPoint at, bool small) const {
    using namespace sheets;
    const QImage& sheet = image("/jpeg/navitem1");
    const int w = small ? kSmallDigitWidth : kDigitWidth, h = small ? kSmallDigitHeight : kDigitHeight;
    const int start = at.x();
    for (char c : text) {
        const int cell = DigitCell(c);
        if (cell < 0) continue;
        if (!sheet.isNull()) p.drawImage(QRect(at, QSize(w, h)), sheet, QRect(cell * w, small ? kSmallDigitRow : 0, w, h));
        at.rx() += w;
    }
    return at.x() - start;
}

void SkinFace::text(QPainter& p, const QRect& r, const QString& t, int px, QColor colour, Qt::Alignment align) const {
    QFont f("DejaVu Sans Condensed");
    f.setPixelSize(px);
    p.setFont(f);
    p.setPen(colour);
    const QRect inner = r.adjusted(4, 0, -4, 0);
    p.drawText(inner, align, p.fontMetrics().elidedText(t, Qt::ElideRight, inner.width()));
}

}  // namespace tessura::ui
