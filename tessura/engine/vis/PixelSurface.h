#pragma once
// The drawing surface of the visualisations: a plain block of 32-bit pixels (0xAARRGGBB) that
// the window copies to the screen. Every operation clips to the surface, so no drawing reads
// or writes outside it. Lock and unlock guard the pixels while the zoom reshuffles them; the
// window takes the same lock when it copies the picture out. The effects work on all four
// bytes alike, so the alpha byte fades with the colours: the window shows the pixels as
// opaque RGB (alpha ignored). Black is 0.
#include <cstdint>
#include <mutex>
#include <vector>

namespace tessura {

struct VisRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class PixelSurface {
  public:
    // A width or height below 1 gives an empty surface.
    PixelSurface(int width, int height);
    void resize(int width, int height);

    uint32_t* pixels() { return pixels_.data(); }
    const uint32_t* pixels() const { return pixels_.data(); }
    int width() const { return width_; }
    int height() const { return height_; }
    int pitch() const { return width_; }  // in pixels
    VisRect bounds() const { return {0, 0, width_, height_}; }
    uint32_t at(int x, int y) const { return pixels_[index(x, y)]; }
    void set(int x, int y, uint32_t colour) { pixels_[index(x, y)] = colour; }

    void fill(const VisRect& rect, uint32_t colour);
    void line(int x0, int y0, int x1, int y1, uint32_t colour);
    // Each channel c becomes c - (c >> level), level 1-7.
    void fade(const VisRect& rect, int level);
    void blur(const VisRect& rect);
    void smoke(const VisRect& rect);
    // Factor as the settings give it: zoom level x 4096, negative for outwards.
    void zoom(const VisRect& rect, int factor);

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

  private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }
    VisRect clip(const VisRect& rect) const;

    int width_ = 0, height_ = 0;
    std::vector<uint32_t> pixels_;
    std::vector<uint32_t> scratch_;  // the zoom's copy of the rectangle
    std::mutex mutex_;
};

// The fade mask of a level: the low 8 - level bits of each byte.
uint32_t fadeMask(int level);

}  // namespace tessura
