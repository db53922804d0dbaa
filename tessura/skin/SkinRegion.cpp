#include "SkinRegion.h"

#include <algorithm>

namespace tessura {
namespace {

int s16(const SkinBytes& b, std::size_t at) {
    return static_cast<std::int16_t>(std::uint16_t(b[at] | b[at + 1] << 8));
}

}  // namespace

bool SkinRegion::Contains(int x, int y) const {
    return std::any_of(rects.begin(), rects.end(), [&](const SkinRect& r) {
        return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    });
}

std::optional<SkinRegion> ParseSkinRegion(const SkinBytes& bytes) {
    if (bytes.size() < 10) return std::nullopt;
    const std::size_t count = std::size_t(bytes[0] | bytes[1] << 8);
    if (bytes.size() != 10 + 8 * count) return std::nullopt;
    SkinRegion region;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 10 + 8 * i;
        const SkinRect r{s16(bytes, at), s16(bytes, at + 2), s16(bytes, at + 4), s16(bytes, at + 6)};
        if (r.right <= r.left || r.bottom <= r.top) continue;
        if (region.rects.empty()) {
            region.bounds = r;
        } else {
            region.bounds.left = std::min(region.bounds.left, r.left);
            region.bounds.top = std::min(region.bounds.top, r.top);
            region.bounds.right = std::max(region.bounds.right, r.right);
            region.bounds.bottom = std::max(region.bounds.bottom, r.bottom);
        }
        region.rects.push_back(r);
    }
    return region;
}

std::optional<SkinRegion> LoadSkinRegion(std::string_view reference, const std::string& currentSkin,
                                         const std::string& programDir) {
    const auto bytes = ReadSkinFile(reference, currentSkin, programDir);
    if (!bytes) return std::nullopt;
    return ParseSkinRegion(*bytes);
}

}  // namespace tessura
