#include "VisPicture.h"

#include <cstring>

namespace tessura::ui {

QImage VisPicture::render(QSize size) {
    if (size.width() < 1 || size.height() < 1) return {};
    if (surface_.width() != size.width() || surface_.height() != size.height())
        surface_.resize(size.width(), size.height());
    list_.renderCurrent(surface_, analysis_.newestBlocks());
    QImage out(size, QImage::Format_RGB32);
    surface_.lock();
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(out.scanLine(y), surface_.pixels() + std::size_t(y) * std::size_t(surface_.pitch()),
                    std::size_t(size.width()) * 4);
    surface_.unlock();
    return out;
}

}  // namespace tessura::ui
