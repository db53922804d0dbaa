#include "VisFrame.h"

namespace tessura {

const VisBlock& VisFrame::newest() const {
    static const VisBlock kSilence{};
    return blocks != nullptr && blockCount > 0 ? blocks[blockCount - 1] : kSilence;
}

VisFrame frameOf(PixelSurface& surface, const VisBlock* blocks, int count) {
    VisFrame frame;
    frame.pixels = surface.pixels();
    frame.width = surface.width();
    frame.height = surface.height();
    frame.pitch = surface.pitch();
    frame.blocks = blocks;
    frame.blockCount = count;
    frame.surface = &surface;
    return frame;
}

}  // namespace tessura
