#pragma once
// The skin's plain data as Qt's drawing types, for the windows: images as QImage (with the
// mask as alpha), regions as QRegion (right and bottom exclusive on both sides, so a rectangle
// keeps its width), and back from a QRegion for the programs that make skins.
#include "SkinJpeg.h"
#include "SkinRegion.h"

#include <QImage>
#include <QRegion>
#include <vector>

namespace tessura {

QImage ToQImage(const SkinImage& image);
QRegion ToQRegion(const SkinRegion& region);
std::vector<SkinRect> RectsFromQRegion(const QRegion& region);

}  // namespace tessura
