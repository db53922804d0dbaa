#pragma once
// What "/skin.ini" says about a skin: its identity, colours, where the pieces of the shared
// images sit, and the sizes of its knobs and drawer. Every value has its built-in default, so
// a description read from nothing is the built-in skin's layout.
//
// Reading follows the profile functions: section and key names without case, integers as the
// leading decimal number of the value (sign allowed), a key that is absent takes its default.
#include "IniParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessura {

// Skins newer than this were made for a later program and are refused.
inline constexpr int kNewestSkinVersion = 130;

struct SkinPoint {
    int x = 0, y = 0;
    bool operator==(const SkinPoint&) const = default;
};

// Colours are 0xAARRGGBB: red in bits 16-23, green 8-15, blue 0-7, the same order as the
// decoded images' pixels, so a colour picked from an image of the skin writes as it reads.
// A value read from "/skin.ini" is a decimal integer whose low 24 bits are 0xRRGGBB; the
// alpha byte 0xff is added to all but the two logo start colours.
using SkinColour = std::uint32_t;

struct SkinColours {
    SkinColour systemColor1 = 0xff00ffff, systemColor2 = 0xffffff00, systemColor3 = 0xff00ff00;
    SkinColour borderColor = 0xff000001;
    SkinColour systemBkColor1 = 0xff005500, systemBkColor2 = 0xff002b45;
    SkinColour playListColor1 = 0xff00ffff, playListColor2 = 0xffff00ff;
    SkinColour progressColor1 = 0xff00ff00, progressColor2 = 0xffffff00, progressColor3 = 0xffff0000;
    SkinColour statusBarBgColor = 0xff000000, statusBarFgColor = 0xff005050;
    SkinColour statusBarTextColor = 0xff00ffff;
    SkinColour progressBkColor = 0xff606060, openFileColor = 0xffff8000;
    SkinColour ampKnobColor = 0xff00ff00, balKnobColor = 0xff6060ff, pitchKnobColor = 0xffff3030;
    SkinColour logoColor = 0xffffff00, logoRingColor = 0xff00ff00;  // SystemColor_2 / _3
    SkinColour logoStartColor = 0x00ff2200, logoRingStartColor = 0x000022ff;
    SkinColour blueBallsColor = 0xff00ffff;  // SystemColor_1
    SkinColour internalVisLeftColor = 0xff0000ff, internalVisRightColor = 0xffff0000;
    SkinColour internalVisBlendColor = 0xff00ff00;
};

// Top-left corners of the pieces of "/jpeg/misc" (section "misc locations").
struct SkinMiscLocations {
    SkinPoint pauseOn{90, 40}, prev{0, 40}, next{0, 0}, stopOn{130, 0}, stopOff{130, 40};
    SkinPoint playOn{90, 0}, sliderOn{170, 0}, sliderOff{170, 20};
    SkinPoint cyanOn{60, 20}, cyanOff{60, 0}, greenOn{30, 40}, greenOn2{60, 40};
    SkinPoint orangeOn{30, 20}, redOn{30, 0}, bigUp{280, 0}, drawer{0, 76};
    SkinPoint bigOnDown{280, 35};  // BIGUP and 35 below
    // The navigator's own copies, each defaulting to the value above.
    SkinPoint navCyanOn{60, 20}, navCyanOff{60, 0}, navGreenOn{30, 40}, navGreenOn2{60, 40};
    SkinPoint navOrangeOn{30, 20}, navRedOn{30, 0}, navPrev{0, 40}, navNext{0, 0};
    SkinPoint navStopOn{130, 0}, navStopOff{130, 40}, navPlayOn{90, 0}, navPauseOn{90, 40};
    SkinPoint sliderOnMask{-999, -999}, sliderOffMask{-999, -999};  // -999: no mask
    SkinPoint drawerPos{29, 229};  // where the drawer sits in the navigator
};

struct SkinKnob {
    int width = 0;   // one frame is width x width pixels
    int images = 0;  // frames side by side in the strip
    bool operator==(const SkinKnob&) const = default;
};

// Section "misc values" (knob strips and the navigator's drawer).
struct SkinMiscValues {
    int ncBbDistFromRight = 5;
    SkinKnob volumeKnob{18, 37};
    SkinKnob navVolumeKnob{18, 37};  // the volume knob's values
    SkinKnob smallKnob{13, 37};
    SkinKnob shuttleKnob{49, 13};
    SkinPoint drawerSliderArrayPos{22, 20};
    SkinPoint drawerSliderSize{8, 44};
    int drawerSliderPitch = 14;
    int drawerDistanceToSlide = 75;
    int drawerDistanceToSlideX = 0, drawerDistanceToSlideY = 75;
    SkinPoint drawerSliderHandleSize{8, 14};
    int midPlaylistMode = 1;
};

// Section "msm locations": the mid window's small buttons.
struct SkinMsmLocations {
    SkinPoint singleUp{44, 1}, singleDown{55, 3}, help{65, 8}, minimize{73, 16}, close{79, 26};
};

struct SkinDescription {
    std::string title = "unknown";
    int version = 100;
    int touchNavMode = 1, touchMidMode = 1, touchSmallMode = 1;
    std::string navLogoHref, midLogoHref;
    std::string author, url, urlText;  // the settings screen's
    SkinColours colours;
    SkinMiscLocations locations;
    SkinMiscValues values;
    SkinMsmLocations msm;

    bool TooNew() const { return version > kNewestSkinVersion; }
};

// How one key came out, for diagnostics (the skin tool's check).
struct SkinKeyReport {
    std::string section, key;
    std::string value;  // as used
    bool fromFile = false;  // false: the default (or a value derived from other keys)
    std::string why;        // why the default applies where the key exists or is skipped
};

// The description `ini` gives; nullptr gives the built-in defaults. `report` (optional) gets
// one line per key consulted, and the keys that the skin's version or modes leave unread.
SkinDescription ReadSkinDescription(const INIParser* ini, std::vector<SkinKeyReport>* report = nullptr);

// A colour as written in "/skin.ini" from 0xRRGGBB; and back.
SkinColour SkinColourFromIni(long long value, bool addAlpha);

}  // namespace tessura
