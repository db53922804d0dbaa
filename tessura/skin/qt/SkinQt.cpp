#include "SkinQt.h"

namespace tessura {

QImage ToQImage(const SkinImage& image) {
    const bool masked = !image.alpha.empty();
    QImage out(image.width, image.height, masked ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < image.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(image.width) + std::size_t(x);
            const std::uint8_t* p = &image.rgb[3 * i];
            line[x] = qRgba(p[0], p[1], p[2], masked ? image.alpha[i] : 255);
        }
    }
    return out;
}

QRegion ToQRegion(const SkinRegion& region) {
    QRegion out;
    for (const SkinRect& r : region.rects)
        out += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    return out;
}

std::vector<SkinRect> RectsFromQRegion(const QRegion& region) {
    std::vector<SkinRect> rects;
    for (const QRect& r : region)
        rects.push_back({r.x(), r.y(), r.x() + r.width(), r.y() + r.height()});
    return rects;
}

}  // namespace tessura
