#pragma once
// JPEG decoding of skin images through libjpeg's 6b interface.
//
// The bitmap is top-down, rows packed (width * 3 bytes, no padding), each pixel three bytes in
// the order red, green, blue: what the decoder writes for JCS_RGB. The window code turns that
// into whatever its drawing surface wants; colours read from "/skin.ini" follow the same
// order (0x00RRGGBB in the low 24 bits).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessura {

struct SkinImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;    // width * height * 3
    std::vector<std::uint8_t> alpha;  // width * height (0 hidden, 255 shown); empty: opaque
};

struct SkinJpegResult {
    std::optional<SkinImage> image;
    // On failure the language key of the decoder's report, "errors/jpegfatalerror" or
    // "errors/jpegoutofmemory", and the decoder's own message.
    std::string errorKey, detail;
};

// Images larger than this are refused before their pixels are allocated.
constexpr int kMaxSkinImageSide = 8192;
constexpr std::uint64_t kMaxSkinImagePixels = 16u << 20;

SkinJpegResult DecodeSkinJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace tessura
