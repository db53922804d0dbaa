#include "PixelSurface.h"

#include <algorithm>
#include <cstdlib>

namespace tessura {

namespace {

constexpr uint32_t kHalfMask = 0x7F7F7F7Fu;
constexpr uint32_t kQuarterMask = 0x3F3F3F3Fu;

uint32_t quarter(uint32_t p) {
    return (p >> 2) & kQuarterMask;
}

// The pixel in the middle of its four neighbours: about half of itself plus an eighth of each.
uint32_t blurred(uint32_t p, uint32_t up, uint32_t down, uint32_t left, uint32_t right) {
    const uint32_t around = quarter(up) + quarter(down) + quarter(left) + quarter(right);
    return ((p >> 1) & kHalfMask) + ((around >> 1) & kHalfMask);
}

uint32_t smoked(uint32_t p, uint32_t a, uint32_t b, uint32_t c) {
    return quarter(p) + quarter(a) + quarter(b) + quarter(c);
}

// Zoom arithmetic in 20-bit fixed point: each frame the picture is scaled about the
// rectangle's centre by (1 - factor / 2^20), so level 10 moves it about 4% a frame.
constexpr int64_t kZoomOne = int64_t{1} << 20;

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

uint32_t fadeMask(int level) {
    level = std::clamp(level, 1, 7);
    const uint32_t byte = (0xFFu >> level);
    return byte * 0x01010101u;
}

PixelSurface::PixelSurface(int width, int height) {
    resize(width, height);
}

void PixelSurface::resize(int width, int height) {
    if (width < 1 || height < 1) width = height = 0;
    width_ = width;
    height_ = height;
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    scratch_.assign(pixels_.size(), 0);
}

VisRect PixelSurface::clip(const VisRect& rect) const {
    const int64_t left = std::max<int64_t>(rect.x, 0), top = std::max<int64_t>(rect.y, 0);
    const int64_t right = std::max(left, std::min<int64_t>(int64_t{rect.x} + std::max(rect.width, 0), width_));
    const int64_t bottom = std::max(top, std::min<int64_t>(int64_t{rect.y} + std::max(rect.height, 0), height_));
    if (left >= width_ || top >= height_) return {0, 0, 0, 0};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

void PixelSurface::fill(const VisRect& rect, uint32_t colour) {
    const VisRect r = clip(rect);
    for (int y = r.y; y < r.y + r.height; ++y)
        std::fill_n(pixels_.begin() + static_cast<std::ptrdiff_t>(index(r.x, y)), r.width, colour);
}

void PixelSurface::line(int x0, int y0, int x1, int y1, uint32_t colour) {
    // Bresenham over the whole segment; only the points on the surface are drawn.
    const int64_t dx = std::llabs(int64_t{x1} - x0), dy = -std::llabs(int64_t{y1} - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t error = dx + dy;
    int64_t x = x0, y = y0;
    for (;;) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) set(static_cast<int>(x), static_cast<int>(y), colour);
        if (x == x1 && y == y1) break;
        const int64_t twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

void PixelSurface::fade(const VisRect& rect, int level) {
    const VisRect r = clip(rect);
    const uint32_t mask = fadeMask(level);
    level = std::clamp(level, 1, 7);
    for (int y = r.y; y < r.y + r.height; ++y) {
        uint32_t* row = &pixels_[index(r.x, y)];
        for (int x = 0; x < r.width; ++x) row[x] -= (row[x] >> level) & mask;
    }
}

void PixelSurface::blur(const VisRect& rect) {
    const VisRect r = clip(rect);
    if (r.width == 0 || r.height == 0) return;
    const int right = r.x + r.width - 1, bottom = r.y + r.height - 1;
    line(r.x, r.y, right, r.y, 0);
    line(r.x, r.y, r.x, bottom, 0);
    line(r.x, bottom, right, bottom, 0);
    line(right, r.y, right, bottom, 0);
    // The outermost row and column of the surface are left out: their neighbours are missing.
    const int firstX = std::max(r.x, 1), lastX = std::min(right, width_ - 2);
    const int firstY = std::max(r.y, 1), lastY = std::min(bottom, height_ - 2);
    if (firstX > lastX || firstY > lastY) return;
    auto blurAt = [this](int x, int y) {
        set(x, y, blurred(at(x, y), at(x, y - 1), at(x, y + 1), at(x - 1, y), at(x + 1, y)));
    };
    // In groups of four rows from the rectangle's top: the first and third left to right, then
    // the second and fourth right to left.
    constexpr int kOrder[4] = {0, 2, 1, 3};
    for (int group = r.y; group <= bottom; group += 4) {
        for (int offset : kOrder) {
            const int y = group + offset;
            if (y < firstY || y > lastY) continue;
            if (offset % 2 == 0)
                for (int x = firstX; x <= lastX; ++x) blurAt(x, y);
            else
                for (int x = lastX; x >= firstX; --x) blurAt(x, y);
        }
    }
}

void PixelSurface::smoke(const VisRect& rect) {
    const VisRect r = clip(rect);
    if (r.width == 0 || r.height == 0) return;
    const int middle = r.y + r.height / 2;
    const int firstX = std::max(r.x, 1), lastX = std::min(r.x + r.width - 1, width_ - 2);
    if (firstX > lastX) return;
    // Upward on the upper half, top to bottom, from the row below.
    for (int y = std::max(r.y, 1); y < middle && y <= height_ - 2; ++y)
        for (int x = firstX; x <= lastX; ++x)
            set(x, y, smoked(at(x, y), at(x - 1, y + 1), at(x, y + 1), at(x + 1, y + 1)));
    // Downward on the lower half, bottom to top, from the row above.
    for (int y = std::min(r.y + r.height - 1, height_ - 2); y >= std::max(middle, 1); --y)
        for (int x = firstX; x <= lastX; ++x)
            set(x, y, smoked(at(x, y), at(x - 1, y - 1), at(x, y - 1), at(x + 1, y - 1)));
}

void PixelSurface::zoom(const VisRect& rect, int factor) {
    const VisRect r = clip(rect);
    if (r.width == 0 || r.height == 0 || factor == 0) return;
    for (int y = 0; y < r.height; ++y)
        std::copy_n(&pixels_[index(r.x, r.y + y)], r.width,
                    scratch_.begin() + static_cast<std::ptrdiff_t>(y) * r.width);
    // Each pixel takes the one nearer the centre (inwards) or farther out (outwards); sources
    // outside the rectangle are black. Coordinates are in half pixels about the centre, so
    // both even and odd sizes stay symmetric, and rounded to the nearest.
    const int64_t scale = kZoomOne - factor;
    auto source = [scale](int destination, int size) -> int64_t {
        const int64_t offset = 2 * int64_t{destination} + 1 - size;
        const int64_t scaled = floorDiv(offset * scale + kZoomOne / 2, kZoomOne);
        return floorDiv(scaled + size, 2);
    };
    for (int y = 0; y < r.height; ++y) {
        const int64_t sy = source(y, r.height);
        uint32_t* row = &pixels_[index(r.x, r.y + y)];
        for (int x = 0; x < r.width; ++x) {
            const int64_t sx = source(x, r.width);
            row[x] = sx >= 0 && sy >= 0 && sx < r.width && sy < r.height
                         ? scratch_[static_cast<std::size_t>(sy * r.width + sx)]
                         : 0u;
        }
    }
}

}  // namespace tessura
