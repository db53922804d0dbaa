// The background effects on tiny pictures, pixel for pixel against values worked out by hand
// from the fade, blur, smoke and zoom rules; and the effect settings' clamps.
#include "BackgroundEffects.h"
#include "PixelSurface.h"
#include "VisSettings.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessura {
namespace {

using Pixels = std::vector<uint32_t>;

void paint(PixelSurface& surface, const Pixels& pixels) {
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            surface.set(x, y, pixels[static_cast<std::size_t>(y * surface.width() + x)]);
}

Pixels pixelsOf(const PixelSurface& surface) {
    return Pixels(surface.pixels(), surface.pixels() + surface.width() * surface.height());
}

struct FadeCase {
    int level;
    uint32_t before, after;
};

TEST(BackgroundEffects, FadeTakesTheShiftedChannelsOff) {
    const FadeCase cases[] = {
        {1, 0xFF804020u, 0x80402010u}, {2, 0x00030405u, 0x00030304u}, {3, 0xFFFFFFFFu, 0xE0E0E0E0u},
        {4, 0x10203040u, 0x0F1E2D3Cu}, {5, 0xFF000020u, 0xF800001Fu}, {6, 0x40404040u, 0x3F3F3F3Fu},
        {7, 0xFF80017Fu, 0xFE7F017Fu}, {7, 0x00000000u, 0x00000000u},
    };
    for (const FadeCase& c : cases) {
        PixelSurface surface(1, 1);
    paint(surface, {c.before});
        surface.fade(surface.bounds(), c.level);
        EXPECT_EQ(surface.at(0, 0), c.after) << "level " << c.level << std::hex << " on " << c.before;
    }
    const uint32_t masks[] = {0x7F7F7F7Fu, 0x3F3F3F3Fu, 0x1F1F1F1Fu, 0x0F0F0F0Fu, 0x07070707u, 0x03030303u, 0x01010101u};
    for (int level = 1; level <= 7; ++level) EXPECT_EQ(fadeMask(level), masks[level - 1]) << level;
}

struct PictureCase {
    const char* name;
    int width, height;
    Pixels before, after;
};

// Blur on 4x4: the edges go black, row 2 of the group is blurred left to right before row 1
// right to left, each seeing the values already blurred.
// Blur on 5x3 of white: one inner row, right to left. Blur on 1x1: the frame covers it.
TEST(BackgroundEffects, BlurDrawsTheFrameAndBlursInPlaceInItsRowOrder) {
    const uint32_t W = 0xFFFFFFFFu;
    const PictureCase cases[] = {
        {"4x4", 4, 4,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x80, 0x40, 0x66, 0x77, 0x20, 0x10, 0x88, 0x99, 0xAA, 0xBB, 0xCC},
         {0, 0, 0, 0, 0, 0x4A, 0x32, 0, 0, 0x22, 0x14, 0, 0, 0, 0, 0}},
        {"5x3", 5, 3, {W, W, W, W, W, W, W, W, W, W, W, W, W, W, W},
         {0, 0, 0, 0, 0, 0, 0x95959595u, 0xB2B2B2B2u, 0x9E9E9E9Eu, 0, 0, 0, 0, 0, 0}},
        {"1x1", 1, 1, {W}, {0}},
        {"2x1", 2, 1, {W, W}, {0, 0}},
    };
    for (const PictureCase& c : cases) {
        PixelSurface surface(c.width, c.height);
    paint(surface, c.before);
        surface.blur(surface.bounds());
        EXPECT_EQ(pixelsOf(surface), c.after) << c.name;
    }
}

// Smoke on 4x4: row 1 rises from row 2, then row 2 sinks from the smoked row 1; the outermost
// rows and columns stay. On 3x3 of white the one inner pixel, in the lower half, takes four
// quarters of white.
TEST(BackgroundEffects, SmokeRisesInTheUpperHalfAndSinksInTheLower) {
    const uint32_t W = 0xFFFFFFFFu;
    const PictureCase cases[] = {
        {"4x4", 4, 4,
         {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0},
         {0x01, 0x02, 0x03, 0x04, 0x10, 0x50, 0x60, 0x40, 0x50, 0x48, 0x58, 0x80, 0x90, 0xA0, 0xB0, 0xC0}},
        {"3x3", 3, 3, {W, W, W, W, W, W, W, W, W}, {W, W, W, W, 0xFCFCFCFCu, W, W, W, W}},
        {"1x1", 1, 1, {0x12345678u}, {0x12345678u}},
        {"5x2", 5, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const PictureCase& c : cases) {
        PixelSurface surface(c.width, c.height);
    paint(surface, c.before);
        surface.smoke(surface.bounds());
        EXPECT_EQ(pixelsOf(surface), c.after) << c.name;
    }
}

// A 40x1 row holding 1..40: inwards each pixel takes one nearer the centre, outwards one
// farther out, with black where the source falls off the picture.
TEST(BackgroundEffects, ZoomMovesPixelsTowardsOrAwayFromTheCentre) {
    struct ZoomCase {
        int factor;
        std::vector<std::pair<int, uint32_t>> expected;  // x, value
    };
    const ZoomCase cases[] = {
        {10 * 4096, {{0, 2}, {10, 12}, {19, 20}, {20, 21}, {39, 39}}},
        {-10 * 4096, {{0, 0}, {1, 2}, {19, 20}, {20, 21}, {38, 40}, {39, 0}}},
        {0, {{0, 1}, {39, 40}}},
    };
    for (const ZoomCase& c : cases) {
        PixelSurface surface(40, 1);
        for (int x = 0; x < 40; ++x) surface.set(x, 0, static_cast<uint32_t>(x + 1));
        surface.zoom(surface.bounds(), c.factor);
        for (const auto& [x, value] : c.expected) EXPECT_EQ(surface.at(x, 0), value) << c.factor << " at " << x;
    }
    PixelSurface one(1, 1);
    one.set(0, 0, 7);
    one.zoom(one.bounds(), 15 * 4096);
    EXPECT_EQ(one.at(0, 0), 7u);
}

TEST(BackgroundEffects, LevelZeroClearsTheFrameWhateverElseIsOn) {
    VisSettings settings;
    settings.fxLevel = 0;
    settings.blur = settings.smoke = settings.zoom = settings.newZoom = true;
    PixelSurface surface(3, 2);
    paint(surface, {1, 2, 3, 4, 5, 6});
    ApplyEffects(frameOf(surface, nullptr, 0), settings);
    EXPECT_EQ(pixelsOf(surface), Pixels(6, 0));
}

TEST(BackgroundEffects, EffectsRunInOrderAndOnlyWhenOn) {
    VisSettings onlyFade;
    onlyFade.fxLevel = 1;
    onlyFade.smoke = onlyFade.zoom = false;
    PixelSurface surface(3, 3);
    paint(surface, Pixels(9, 0xFFFFFFFFu));
    ApplyEffects(frameOf(surface, nullptr, 0), onlyFade);
    EXPECT_EQ(pixelsOf(surface), Pixels(9, 0x80808080u));

    // Fade then blur: the frame is black and the centre is half of 0x80 (no neighbours left).
    VisSettings fadeAndBlur = onlyFade;
    fadeAndBlur.blur = true;
    paint(surface, Pixels(9, 0xFFFFFFFFu));
    ApplyEffects(frameOf(surface, nullptr, 0), fadeAndBlur);
    EXPECT_EQ(pixelsOf(surface), (Pixels{0, 0, 0, 0, 0x40404040u, 0, 0, 0, 0}));

    // The zoom needs both switches.
    VisSettings zoomWithoutNew = onlyFade;
    zoomWithoutNew.fxLevel = 7;
    zoomWithoutNew.zoom = true;
    zoomWithoutNew.newZoom = false;
    PixelSurface row(40, 1);
    for (int x = 0; x < 40; ++x) row.set(x, 0, static_cast<uint32_t>(x + 1));
    ApplyEffects(frameOf(row, nullptr, 0), zoomWithoutNew);
    EXPECT_EQ(row.at(0, 0), 1u);
    zoomWithoutNew.newZoom = true;
    ApplyEffects(frameOf(row, nullptr, 0), zoomWithoutNew);
    EXPECT_EQ(row.at(0, 0), 2u);
}

TEST(BackgroundEffects, EffectsStayInsideTheirRectangle) {
    PixelSurface surface(6, 6);
    paint(surface, Pixels(36, 0xFFFFFFFFu));
    const VisRect inner{2, 2, 2, 2};
    surface.fade(inner, 1);
    surface.blur(inner);
    surface.smoke(inner);
    surface.zoom(inner, -15 * 4096);
    surface.fade({-5, -5, 3, 3}, 1);  // wholly outside
    surface.fill({4, 4, 1000, 1000}, 0x01u);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 4 && y >= 2 && y < 4, filled = x >= 4 && y >= 4;
            if (filled) {
                EXPECT_EQ(surface.at(x, y), 0x01u) << x << "," << y;
            } else if (!inside) {
                EXPECT_EQ(surface.at(x, y), 0xFFFFFFFFu) << x << "," << y;
            }
        }
}

TEST(VisSettings, ReadValuesAreClamped) {
    struct Case {
        int fx, zoomLevel, number;
        int wantFx, wantZoomLevel, wantNumber;
    };
    const Case cases[] = {{9, 1, -4, 7, 2, 0}, {-1, 20, 3, 0, 15, 3}, {3, 10, 0, 3, 10, 0}};
    for (const Case& c : cases) {
        Preferences p;
        p.visFXLevel = c.fx;
        p.visZoomLevel = c.zoomLevel;
        p.visNumber = c.number;
        const VisSettings s = visSettingsFrom(p);
        EXPECT_EQ(s.fxLevel, c.wantFx);
        EXPECT_EQ(s.zoomLevel, c.wantZoomLevel);
        EXPECT_EQ(s.number, c.wantNumber);
    }
    Preferences p;
    p.visZoomReverse = 1;
    p.visZoomLevel = 12;
    EXPECT_EQ(visSettingsFrom(p).zoomFactor(), -12 * 4096);
    Preferences back;
    VisSettings changed;
    changed.fxLevel = 5;
    changed.blur = true;
    changed.smoke = false;
    changed.zoomLevel = 4;
    changed.number = 6;
    storeVisSettings(changed, back);
    EXPECT_EQ(back.visFXLevel, 5);
    EXPECT_EQ(back.visBlur, 1);
    EXPECT_EQ(back.visSmoke, 0);
    EXPECT_EQ(back.visZoomLevel, 4);
    EXPECT_EQ(back.visNumber, 6);
    EXPECT_EQ(visSettingsFrom(back).number, 6);
    EXPECT_EQ(visIniPath("/opt/tessura"), "/opt/tessura/vis.ini");
    EXPECT_EQ(visPluginFolder("/opt/tessura"), "/opt/tessura/vis");
}

}  // namespace
}  // namespace tessura
