#pragma once
// What a visualisation's Render receives each frame.
#include "PixelSurface.h"
#include "TessuraVisAbi.h"

#include <array>
#include <cstdint>

namespace tessura {

// One visualisation-data block (layout in TessuraVisAbi.h).
struct VisBlock {
    std::array<uint8_t, TESSURA_VIS_BLOCK_BYTES> bytes{};

    int8_t left(int i) const { return static_cast<int8_t>(bytes[static_cast<std::size_t>(TESSURA_VIS_LEFT_SAMPLES + i)]); }
    int8_t right(int i) const { return static_cast<int8_t>(bytes[static_cast<std::size_t>(TESSURA_VIS_RIGHT_SAMPLES + i)]); }
    uint8_t leftBin(int i) const { return bytes[static_cast<std::size_t>(TESSURA_VIS_LEFT_SPECTRUM + i)]; }
    uint8_t rightBin(int i) const { return bytes[static_cast<std::size_t>(TESSURA_VIS_RIGHT_SPECTRUM + i)]; }
};

struct VisFrame {
    uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    int pitch = 0;  // in pixels
    const VisBlock* blocks = nullptr;  // the newest last
    int blockCount = 0;
    PixelSurface* surface = nullptr;  // owns the pixels

    VisRect rect() const { return {0, 0, width, height}; }
    // The newest block, or a silent one when there is none.
    const VisBlock& newest() const;
};

// A frame over the whole of `surface`.
VisFrame frameOf(PixelSurface& surface, const VisBlock* blocks, int count);

}  // namespace tessura
