#include "SkinDescription.h"

#include <climits>
#include <cstdio>
#include <optional>

namespace tessura {
namespace {

constexpr const char* kSkin = "skin";
constexpr const char* kColors = "tessura colors";
constexpr const char* kLocations = "misc locations";
constexpr const char* kValues = "misc values";
constexpr const char* kMsm = "msm locations";

// A profile integer: optional blanks and sign, then decimal digits, read as far as they go.
long long profileNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < (1ll << 40)) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int clampInt(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v); }

std::string hexColour(SkinColour c) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", c);
    return text;
}

class Reader {
  public:
    Reader(const INIParser* ini, std::vector<SkinKeyReport>* report) : ini_(ini), report_(report) {}

    std::optional<std::string> raw(const char* section, const std::string& key) const {
        return ini_ ? ini_->Find(section, key) : std::nullopt;
    }

    int number(const char* section, const std::string& key, int fallback) {
        const auto text = raw(section, key);
        const int value = text ? clampInt(profileNumber(*text)) : fallback;
        note(section, key, std::to_string(value), text.has_value());
        return value;
    }
    std::string text(const char* section, const std::string& key, const std::string& fallback) {
        const auto text = raw(section, key);
        note(section, key, text ? *text : fallback, text.has_value());
        return text ? *text : fallback;
    }
    SkinColour colour(const std::string& key, SkinColour fallback, bool addAlpha = true) {
        const auto text = raw(kColors, key);
        const SkinColour value = text ? SkinColourFromIni(profileNumber(*text), addAlpha) : fallback;
        note(kColors, key, hexColour(value), text.has_value());
        return value;
    }
    SkinPoint point(const char* section, const std::string& key, SkinPoint fallback) {
        return {number(section, key + "_x", fallback.x), number(section, key + "_y", fallback.y)};
    }
    SkinKnob knob(const std::string& key, SkinKnob fallback) {
        return {number(kValues, key + "_width", fallback.width),
                number(kValues, key + "_images", fallback.images)};
    }
    // A key that exists but is not read for this skin, and why.
    void skipped(const char* section, const std::string& key, const std::string& why) {
        if (!report_ || !raw(section, key)) return;
        report_->push_back({section, key, "(default)", false, why});
    }
    void skippedPoint(const char* section, const std::string& key, const std::string& why) {
        skipped(section, key + "_x", why);
        skipped(section, key + "_y", why);
    }
    void skippedKnob(const std::string& key, const std::string& why) {
        skipped(kValues, key + "_width", why);
        skipped(kValues, key + "_images", why);
    }
    void note(const char* section, const std::string& key, const std::string& value, bool fromFile,
              std::string why = {}) {
        if (report_) report_->push_back({section, key, value, fromFile, std::move(why)});
    }

  private:
    const INIParser* ini_;
    std::vector<SkinKeyReport>* report_;
};

void readSkinSection(Reader& r, SkinDescription& d) {
    d.title = r.text(kSkin, "title", d.title);
    d.version = r.number(kSkin, "version", d.version);
    d.touchNavMode = r.number(kSkin, "TouchNavMode", d.touchNavMode);
    d.touchMidMode = r.number(kSkin, "TouchMidMode", d.touchMidMode);
    d.touchSmallMode = r.number(kSkin, "TouchSmallMode", d.touchSmallMode);
    d.navLogoHref = r.text(kSkin, "nav_logo_href", d.navLogoHref);
    d.midLogoHref = r.text(kSkin, "mid_logo_href", d.midLogoHref);
    d.author = r.text(kSkin, "author", d.author);
    d.url = r.text(kSkin, "url", d.url);
    d.urlText = r.text(kSkin, "url_text", d.urlText);
}

void readColours(Reader& r, SkinColours& c) {
    c.systemColor1 = r.colour("SystemColor_1", c.systemColor1);
    c.systemColor2 = r.colour("SystemColor_2", c.systemColor2);
    c.systemColor3 = r.colour("SystemColor_3", c.systemColor3);
    c.borderColor = r.colour("BorderColor", c.borderColor);
    c.systemBkColor1 = r.colour("SystemBkColor_1", c.systemBkColor1);
    c.systemBkColor2 = r.colour("SystemBkColor_2", c.systemBkColor2);
    c.playListColor1 = r.colour("PlayListColor_1", c.playListColor1);
    c.playListColor2 = r.colour("PlayListColor_2", c.playListColor2);
    c.progressColor1 = r.colour("ProgressColor_1", c.progressColor1);
    c.progressColor2 = r.colour("ProgressColor_2", c.progressColor2);
    c.progressColor3 = r.colour("ProgressColor_3", c.progressColor3);
    c.statusBarBgColor = r.colour("StatusBarBgColor", c.statusBarBgColor);
    c.statusBarFgColor = r.colour("StatusBarFgColor", c.statusBarFgColor);
    c.statusBarTextColor = r.colour("StatusBarTextColor", c.statusBarTextColor);
    c.progressBkColor = r.colour("ProgressBkColor", c.progressBkColor);
    c.openFileColor = r.colour("OpenFileColor", c.openFileColor);
    c.ampKnobColor = r.colour("AmpKnobColor", c.ampKnobColor);
    c.balKnobColor = r.colour("BalKnobColor", c.balKnobColor);
    c.pitchKnobColor = r.colour("PitchKnobColor", c.pitchKnobColor);
    c.logoColor = r.colour("LogoColor", c.systemColor2);
    c.logoRingColor = r.colour("LogoRingColor", c.systemColor3);
    c.logoStartColor = r.colour("LogoStartColor", c.logoStartColor, false);
    c.logoRingStartColor = r.colour("LogoRingStartColor", c.logoRingStartColor, false);
    c.blueBallsColor = r.colour("BlueBallsColor", c.systemColor1);
    c.internalVisLeftColor = r.colour("InternalVisLeftColor", c.internalVisLeftColor);
    c.internalVisRightColor = r.colour("InternalVisRightColor", c.internalVisRightColor);
    c.internalVisBlendColor = r.colour("InternalVisBlendColor", c.internalVisBlendColor);
}

void readLocations(Reader& r, SkinMiscLocations& l) {
    struct Row {
        const char* key;
        SkinPoint SkinMiscLocations::*field;
    };
    static constexpr Row kShared[] = {
        {"PAUSEON", &SkinMiscLocations::pauseOn},   {"PREV", &SkinMiscLocations::prev},
        {"NEXT", &SkinMiscLocations::next},         {"STOPON", &SkinMiscLocations::stopOn},
        {"STOPOFF", &SkinMiscLocations::stopOff},   {"PLAYON", &SkinMiscLocations::playOn},
        {"SLIDERON", &SkinMiscLocations::sliderOn}, {"SLIDEROFF", &SkinMiscLocations::sliderOff},
        {"CYANON", &SkinMiscLocations::cyanOn},     {"CYANOFF", &SkinMiscLocations::cyanOff},
        {"GREENON", &SkinMiscLocations::greenOn},   {"GREENON2", &SkinMiscLocations::greenOn2},
        {"ORANGEON", &SkinMiscLocations::orangeOn}, {"REDON", &SkinMiscLocations::redOn},
        {"BIGUP", &SkinMiscLocations::bigUp},       {"DRAWER", &SkinMiscLocations::drawer},
    };
    for (const Row& row : kShared) l.*row.field = r.point(kLocations, row.key, l.*row.field);
    l.bigOnDown = r.point(kLocations, "BIGON_DOWN", {l.bigUp.x, l.bigUp.y + 35});

    // The navigator's copies default to the shared values just read.
    struct NavRow {
        const char* key;
        SkinPoint SkinMiscLocations::*field;
        SkinPoint SkinMiscLocations::*shared;
    };
    static constexpr NavRow kNav[] = {
        {"NAV_CYANON", &SkinMiscLocations::navCyanOn, &SkinMiscLocations::cyanOn},
        {"NAV_CYANOFF", &SkinMiscLocations::navCyanOff, &SkinMiscLocations::cyanOff},
        {"NAV_GREENON", &SkinMiscLocations::navGreenOn, &SkinMiscLocations::greenOn},
        {"NAV_GREENON2", &SkinMiscLocations::navGreenOn2, &SkinMiscLocations::greenOn2},
        {"NAV_ORANGEON", &SkinMiscLocations::navOrangeOn, &SkinMiscLocations::orangeOn},
        {"NAV_REDON", &SkinMiscLocations::navRedOn, &SkinMiscLocations::redOn},
        {"NAV_PREV", &SkinMiscLocations::navPrev, &SkinMiscLocations::prev},
        {"NAV_NEXT", &SkinMiscLocations::navNext, &SkinMiscLocations::next},
        {"NAV_STOPON", &SkinMiscLocations::navStopOn, &SkinMiscLocations::stopOn},
        {"NAV_STOPOFF", &SkinMiscLocations::navStopOff, &SkinMiscLocations::stopOff},
        {"NAV_PLAYON", &SkinMiscLocations::navPlayOn, &SkinMiscLocations::playOn},
        {"NAV_PAUSEON", &SkinMiscLocations::navPauseOn, &SkinMiscLocations::pauseOn},
    };
    for (const NavRow& row : kNav) l.*row.field = r.point(kLocations, row.key, l.*row.shared);
    l.sliderOnMask = r.point(kLocations, "SLIDERON_MASK", l.sliderOnMask);
    l.sliderOffMask = r.point(kLocations, "SLIDEROFF_MASK", l.sliderOffMask);
    l.drawerPos = r.point(kLocations, "DRAWER_POS", l.drawerPos);
}

void readValues(Reader& r, SkinDescription& d) {
    SkinMiscValues& v = d.values;
    const std::string olderSkin = "read only for skins of version above 104";
    if (d.version > 104) {
        if (d.locations.drawerPos == SkinPoint{29, 229})
            d.locations.drawerPos = r.point(kValues, "MISC_DRAWER_POS", d.locations.drawerPos);
        else
            r.skippedPoint(kValues, "MISC_DRAWER_POS", "DRAWER_POS is not 29/229, so it stays");
        v.ncBbDistFromRight = r.number(kValues, "NC_BB_DIST_FROM_RIGHT", v.ncBbDistFromRight);
    } else {
        r.skippedPoint(kValues, "MISC_DRAWER_POS", olderSkin);
        r.skipped(kValues, "NC_BB_DIST_FROM_RIGHT", olderSkin);
    }

    if (d.touchMidMode) {
        v.volumeKnob = r.knob("MISC_VOLUME_KNOB", v.volumeKnob);
    } else {
        r.skippedKnob("MISC_VOLUME_KNOB", "TouchMidMode is 0: the built-in mid layout applies");
    }
    v.navVolumeKnob = v.volumeKnob;

    const std::string untouchedNav = "TouchNavMode is 0: the built-in navigator layout applies";
    if (d.touchNavMode) {
        v.drawerSliderArrayPos = r.point(kValues, "MISC_DRAWER_SLIDER_ARRAY_POS", v.drawerSliderArrayPos);
        v.drawerSliderSize = r.point(kValues, "MISC_DRAWER_SLIDER_SIZE", v.drawerSliderSize);
        v.drawerSliderPitch = r.number(kValues, "MISC_DRAWER_SLIDER_PITCH", v.drawerSliderPitch);
        v.drawerDistanceToSlide = r.number(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE", v.drawerDistanceToSlide);
        v.drawerDistanceToSlideY = v.drawerDistanceToSlide;
        if (d.version >= 130) {
            v.drawerDistanceToSlideX = r.number(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE_X", 0);
            if (v.drawerDistanceToSlide == 75)
                v.drawerDistanceToSlideY = r.number(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE_Y", 75);
            else
                r.skipped(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE_Y",
                          "MISC_DRAWER_DISTANCE_TOSLIDE is not 75 and gives the vertical distance");
        } else {
            r.skipped(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE_X", "read only for version 130 skins");
            r.skipped(kValues, "MISC_DRAWER_DISTANCE_TOSLIDE_Y", "read only for version 130 skins");
        }
        v.navVolumeKnob = r.knob("MISC_NAV_VOLUME_KNOB", v.volumeKnob);
        v.smallKnob = r.knob("MISC_SMALL_KNOB", v.smallKnob);
        v.shuttleKnob = r.knob("MISC_SHUTTLE_KNOB", v.shuttleKnob);
        v.drawerSliderHandleSize = {r.number(kValues, "MISC_DRAWER_SLIDER_HANDLE_SIZE_width", 8),
                                    r.number(kValues, "MISC_DRAWER_SLIDER_HANDLE_SIZE_height", 14)};
    } else {
        for (const char* key : {"MISC_DRAWER_SLIDER_ARRAY_POS", "MISC_DRAWER_SLIDER_SIZE"})
            r.skippedPoint(kValues, key, untouchedNav);
        for (const char* key : {"MISC_DRAWER_SLIDER_PITCH", "MISC_DRAWER_DISTANCE_TOSLIDE",
                                "MISC_DRAWER_DISTANCE_TOSLIDE_X", "MISC_DRAWER_DISTANCE_TOSLIDE_Y",
                                "MISC_DRAWER_SLIDER_HANDLE_SIZE_width",
                                "MISC_DRAWER_SLIDER_HANDLE_SIZE_height"})
            r.skipped(kValues, key, untouchedNav);
        for (const char* key : {"MISC_NAV_VOLUME_KNOB", "MISC_SMALL_KNOB", "MISC_SHUTTLE_KNOB"})
            r.skippedKnob(key, untouchedNav);
    }
    // The mid window's playlist mode is not tied to a layout flag.
    v.midPlaylistMode = r.number(kValues, "mid_playlistmode", v.midPlaylistMode);
}

void readMsm(Reader& r, SkinDescription& d) {
    SkinMsmLocations& m = d.msm;
    struct Row {
        const char* key;
        SkinPoint SkinMsmLocations::*field;
    };
    static constexpr Row kRows[] = {
        {"MSM_SINGLEUP", &SkinMsmLocations::singleUp}, {"MSM_SINGLEDOWN", &SkinMsmLocations::singleDown},
        {"MSM_HELP", &SkinMsmLocations::help},         {"MSM_MINIMIZE", &SkinMsmLocations::minimize},
        {"MSM_CLOSE", &SkinMsmLocations::close},
    };
    for (const Row& row : kRows) {
        if (d.touchMidMode)
            m.*row.field = r.point(kMsm, row.key, m.*row.field);
        else
            r.skippedPoint(kMsm, row.key, "TouchMidMode is 0: the built-in mid layout applies");
    }
}

}  // namespace

SkinColour SkinColourFromIni(long long value, bool addAlpha) {
    const auto low = static_cast<SkinColour>(static_cast<unsigned long long>(value) & 0xffffffffu);
    return addAlpha ? (low | 0xff000000u) : low;
}

SkinDescription ReadSkinDescription(const INIParser* ini, std::vector<SkinKeyReport>* report) {
    SkinDescription d;
    Reader r(ini, report);
    readSkinSection(r, d);
    readColours(r, d.colours);
    readLocations(r, d.locations);
    readValues(r, d);
    readMsm(r, d);
    return d;
}

}  // namespace tessura
