#include "BackgroundEffects.h"

namespace tessura {

void ApplyEffects(const VisFrame& frame, const VisSettings& settings) {
    PixelSurface* surface = frame.surface;
    if (surface == nullptr) return;
    const VisRect rect = frame.rect();
    if (settings.fxLevel <= 0) {
        surface->fill(rect, 0);
        return;
    }
    surface->fade(rect, settings.fxLevel);
    if (settings.blur) surface->blur(rect);
    if (settings.smoke) surface->smoke(rect);
    if (settings.zoom && settings.newZoom) {
        surface->lock();
        surface->zoom(rect, settings.zoomFactor());
        surface->unlock();
    }
}

}  // namespace tessura
