#pragma once
// Window-shape regions of a skin: a "/rgn/..." member holding an unsigned 16-bit count N, the
// bounding rectangle and N rectangles, each four signed 16-bit values (left, top, right,
// bottom), 10 + 8 * N bytes in all. The region is the union of the rectangles.
//
// Edges: right and bottom are exclusive, as in the window-region calls the format was made
// for: a rectangle covers left <= x < right, top <= y < bottom, so it is (right - left) pixels
// wide. A rectangle with right <= left or bottom <= top covers nothing and is dropped. The
// stored bounding rectangle is not trusted; the bounds are computed from the rectangles.
// A member whose size is not exactly 10 + 8 * N is damaged and reads as no region.
#include "SkinArchive.h"

#include <optional>
#include <string_view>
#include <vector>

namespace tessura {

struct SkinRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const SkinRect&) const = default;
};

struct SkinRegion {
    SkinRect bounds;               // of the kept rectangles; all 0 when empty
    std::vector<SkinRect> rects;   // non-empty rectangles in file order
    bool Empty() const { return rects.empty(); }
    bool Contains(int x, int y) const;
};

std::optional<SkinRegion> ParseSkinRegion(const SkinBytes& bytes);

// `reference` is a member name of the current skin or "archive|member".
std::optional<SkinRegion> LoadSkinRegion(std::string_view reference, const std::string& currentSkin,
                                         const std::string& programDir);

}  // namespace tessura
