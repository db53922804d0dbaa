#pragma once
// How the pieces are laid out inside the skin images that "/skin.ini" does not locate, so that
// the windows, the skins made by the project and the skin tool agree. Sizes in pixels at 1x.
//
// Knob strips ("/jpeg/volumeknob", "/jpeg/nav_volumeknob", "/jpeg/smallknob",
// "/jpeg/shuttle"): `images` square frames of `width` pixels side by side, left to right, frame 0
// at the knob's lowest setting and the last frame at its highest (the shuttle's frames are its
// turning steps). The knob values of "misc values" give width and count.
//
// "/jpeg/navitem1", the display glyphs: one row of kDigitGlyphs cells of kDigitWidth x
// kDigitHeight (the large time display) and below it one row of the same glyphs in cells of
// kSmallDigitWidth x kSmallDigitHeight (the small mode), then the drawer slider handle, unlit
// and lit, kHandleWidth x kHandleHeight each, at kHandleRow.
//
// "/jpeg/navitem2", the navigator's page tabs: kNavPages icons of kTabWidth x kTabHeight in a
// row, page 0 first; the first row unlit, the second lit.
//
// "/jpeg/%s/navbuttons", captions in the language: kNavCaptions cells of kCaptionWidth x
// kCaptionHeight in a row, in the order of NavCaption.
//
// "/jpeg/extra", the small mode's tabs: the upper kExtraHalf rows hold the piece shown in
// "/rgn/small/extratop", the lower ones the piece of "/rgn/small/extrabottom", each at the
// same x as its region and y relative to its half.
namespace tessura::sheets {

inline constexpr const char* kDigitGlyphs = "0123456789:-. ";
inline constexpr int kDigitGlyphCount = 14;
inline constexpr int kDigitWidth = 12, kDigitHeight = 20;
inline constexpr int kSmallDigitWidth = 7, kSmallDigitHeight = 11;
inline constexpr int kSmallDigitRow = kDigitHeight;
inline constexpr int kHandleWidth = 8, kHandleHeight = 14;
inline constexpr int kHandleRow = kDigitHeight + kSmallDigitHeight + 1;
inline constexpr int kGlyphSheetWidth = kDigitGlyphCount * kDigitWidth;
inline constexpr int kGlyphSheetHeight = kHandleRow + kHandleHeight + 1;

inline constexpr int kNavPages = 12;
inline constexpr int kTabWidth = 24, kTabHeight = 18;

enum NavCaption { kCapPrev, kCapPlay, kCapPause, kCapStop, kCapNext, kCapOpen, kCapRepeat,
                  kCapShuffle, kCapVolume, kCapAmp, kCapBalance, kCapPitch, kNavCaptions };
inline constexpr int kCaptionWidth = 44, kCaptionHeight = 10;

inline constexpr int kExtraHalf = 20;

// A glyph's cell in the digit row, or -1 for a character the sheet does not hold.
constexpr int DigitCell(char c) {
    for (int i = 0; i < kDigitGlyphCount; ++i)
        if (kDigitGlyphs[i] == c) return i;
    return -1;
}

}  // namespace tessura::sheets
