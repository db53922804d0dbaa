// "/skin.ini" read into a skin description: every key's default, the defaults that follow other
// keys, and the keys a skin's version or layout flags leave unread.
#include "SkinDescription.h"

#include <cctype>
#include <functional>
#include <gtest/gtest.h>

namespace tessura {
namespace {

SkinDescription read(const std::string& text) {
    INIParser ini;
    EXPECT_GE(ini.OpenMemory(text), 0);
    return ReadSkinDescription(&ini);
}

TEST(SkinDescription, NothingReadGivesTheBuiltInValues) {
    const SkinDescription d = ReadSkinDescription(nullptr);
    EXPECT_EQ(d.title, "unknown");
    EXPECT_EQ(d.version, 100);
    EXPECT_EQ(d.touchNavMode, 1);
    EXPECT_EQ(d.touchMidMode, 1);
    EXPECT_EQ(d.touchSmallMode, 1);
    EXPECT_EQ(d.navLogoHref, "");
    EXPECT_EQ(d.colours.systemColor1, 0xff00ffffu);
    EXPECT_EQ(d.colours.borderColor, 0xff000001u);
    EXPECT_EQ(d.colours.logoColor, d.colours.systemColor2);
    EXPECT_EQ(d.colours.logoRingColor, d.colours.systemColor3);
    EXPECT_EQ(d.colours.blueBallsColor, d.colours.systemColor1);
    EXPECT_EQ(d.colours.logoStartColor, 0x00ff2200u);
    EXPECT_EQ(d.colours.logoRingStartColor, 0x000022ffu);
    EXPECT_EQ(d.colours.internalVisBlendColor, 0xff00ff00u);
    EXPECT_EQ(d.locations.bigOnDown, (SkinPoint{280, 35}));
    EXPECT_EQ(d.locations.navPauseOn, d.locations.pauseOn);
    EXPECT_EQ(d.locations.sliderOnMask, (SkinPoint{-999, -999}));
    EXPECT_EQ(d.locations.drawerPos, (SkinPoint{29, 229}));
    EXPECT_EQ(d.values.volumeKnob, (SkinKnob{18, 37}));
    EXPECT_EQ(d.values.navVolumeKnob, d.values.volumeKnob);
    EXPECT_EQ(d.values.smallKnob, (SkinKnob{13, 37}));
    EXPECT_EQ(d.values.shuttleKnob, (SkinKnob{49, 13}));
    EXPECT_EQ(d.values.drawerSliderHandleSize, (SkinPoint{8, 14}));
    EXPECT_EQ(d.values.drawerDistanceToSlide, 75);
    EXPECT_EQ(d.values.midPlaylistMode, 1);
    EXPECT_EQ(d.msm.close, (SkinPoint{79, 26}));
    // An empty file reads the same as none.
    const SkinDescription empty = read("");
    EXPECT_EQ(empty.title, d.title);
    EXPECT_EQ(empty.colours.playListColor2, d.colours.playListColor2);
    EXPECT_EQ(empty.values.shuttleKnob, d.values.shuttleKnob);
}

struct KeyCase {
    const char* what;
    const char* ini;
    std::function<long long(const SkinDescription&)> value;
    long long expected;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.what; }

class SkinDescriptionKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SkinDescriptionKeys, ReadsAsTheRulesSay) {
    const KeyCase& c = GetParam();
    EXPECT_EQ(c.value(read(c.ini)), c.expected) << c.what << "\n" << c.ini;
}

const KeyCase kKeyCases[] = {
    {"a colour takes the alpha byte", "[tessura colors]\nSystemColor_1=255\n",
     [](const SkinDescription& d) { return d.colours.systemColor1; }, 0xff0000ff},
    {"the logo start colours stay without it", "[tessura colors]\nLogoStartColor=255\n",
     [](const SkinDescription& d) { return d.colours.logoStartColor; }, 0x000000ff},
    {"LogoColor follows SystemColor_2 as read", "[tessura colors]\nSystemColor_2=4660\n",
     [](const SkinDescription& d) { return d.colours.logoColor; }, 0xff001234},
    {"LogoRingColor follows SystemColor_3", "[tessura colors]\nSystemColor_3=1\n",
     [](const SkinDescription& d) { return d.colours.logoRingColor; }, 0xff000001},
    {"BlueBallsColor follows SystemColor_1", "[tessura colors]\nSystemColor_1=16\n",
     [](const SkinDescription& d) { return d.colours.blueBallsColor; }, 0xff000010},
    {"an own LogoColor wins", "[tessura colors]\nSystemColor_2=1\nLogoColor=2\n",
     [](const SkinDescription& d) { return d.colours.logoColor; }, 0xff000002},
    {"the third progress colour", "", [](const SkinDescription& d) { return d.colours.progressColor3; }, 0xffff0000},
    {"BIGON_DOWN follows BIGUP", "[misc locations]\nBIGUP_x=10\nBIGUP_y=5\n",
     [](const SkinDescription& d) { return d.locations.bigOnDown.y * 1000 + d.locations.bigOnDown.x; }, 40010},
    {"NAV_PREV follows PREV", "[misc locations]\nPREV_x=7\n",
     [](const SkinDescription& d) { return d.locations.navPrev.x; }, 7},
    {"an own NAV_PREV wins", "[misc locations]\nPREV_x=7\nNAV_PREV_x=8\n",
     [](const SkinDescription& d) { return d.locations.navPrev.x; }, 8},
    {"negative positions read", "[misc locations]\nSLIDERON_MASK_x=-5\n",
     [](const SkinDescription& d) { return d.locations.sliderOnMask.x; }, -5},
    {"a number ends at its first non-digit", "[misc locations]\nPLAYON_x= 12px\n",
     [](const SkinDescription& d) { return d.locations.playOn.x; }, 12},
    {"names compare without case", "[SKIN]\ntouchnavmode=0\n",
     [](const SkinDescription& d) { return d.touchNavMode; }, 0},
    {"version 104: MISC_DRAWER_POS is not read", "[skin]\nversion=104\n[misc values]\nMISC_DRAWER_POS_x=3\n",
     [](const SkinDescription& d) { return d.locations.drawerPos.x; }, 29},
    {"version 105: MISC_DRAWER_POS replaces 29/229", "[skin]\nversion=105\n[misc values]\nMISC_DRAWER_POS_x=3\n",
     [](const SkinDescription& d) { return d.locations.drawerPos.x; }, 3},
    {"version 105: an own DRAWER_POS stays",
     "[skin]\nversion=105\n[misc locations]\nDRAWER_POS_x=1\n[misc values]\nMISC_DRAWER_POS_x=3\n",
     [](const SkinDescription& d) { return d.locations.drawerPos.x; }, 1},
    {"older skins keep NC_BB_DIST_FROM_RIGHT at 5", "[skin]\nversion=100\n[misc values]\nNC_BB_DIST_FROM_RIGHT=9\n",
     [](const SkinDescription& d) { return d.values.ncBbDistFromRight; }, 5},
    {"newer skins read it", "[skin]\nversion=120\n[misc values]\nNC_BB_DIST_FROM_RIGHT=9\n",
     [](const SkinDescription& d) { return d.values.ncBbDistFromRight; }, 9},
    {"the volume knob needs TouchMidMode", "[skin]\nTouchMidMode=0\n[misc values]\nMISC_VOLUME_KNOB_width=30\n",
     [](const SkinDescription& d) { return d.values.volumeKnob.width; }, 18},
    {"the navigator's volume knob follows the volume knob", "[misc values]\nMISC_VOLUME_KNOB_images=21\n",
     [](const SkinDescription& d) { return d.values.navVolumeKnob.images; }, 21},
    {"the small knob needs TouchNavMode", "[skin]\nTouchNavMode=0\n[misc values]\nMISC_SMALL_KNOB_width=20\n",
     [](const SkinDescription& d) { return d.values.smallKnob.width; }, 13},
    {"the small knob with TouchNavMode", "[misc values]\nMISC_SMALL_KNOB_width=20\n",
     [](const SkinDescription& d) { return d.values.smallKnob.width; }, 20},
    {"TOSLIDE_X only for version 130", "[skin]\nversion=129\n[misc values]\nMISC_DRAWER_DISTANCE_TOSLIDE_X=4\n",
     [](const SkinDescription& d) { return d.values.drawerDistanceToSlideX; }, 0},
    {"TOSLIDE_X for version 130", "[skin]\nversion=130\n[misc values]\nMISC_DRAWER_DISTANCE_TOSLIDE_X=4\n",
     [](const SkinDescription& d) { return d.values.drawerDistanceToSlideX; }, 4},
    {"TOSLIDE_Y when TOSLIDE is 75", "[skin]\nversion=130\n[misc values]\nMISC_DRAWER_DISTANCE_TOSLIDE_Y=10\n",
     [](const SkinDescription& d) { return d.values.drawerDistanceToSlideY; }, 10},
    {"TOSLIDE_Y not when TOSLIDE is not 75",
     "[skin]\nversion=130\n[misc values]\nMISC_DRAWER_DISTANCE_TOSLIDE=60\nMISC_DRAWER_DISTANCE_TOSLIDE_Y=10\n",
     [](const SkinDescription& d) { return d.values.drawerDistanceToSlideY; }, 60},
    {"the drawer's handle size", "[misc values]\nMISC_DRAWER_SLIDER_HANDLE_SIZE_height=20\n",
     [](const SkinDescription& d) { return d.values.drawerSliderHandleSize.y; }, 20},
    {"msm locations need TouchMidMode", "[skin]\nTouchMidMode=0\n[msm locations]\nMSM_CLOSE_x=1\n",
     [](const SkinDescription& d) { return d.msm.close.x; }, 79},
    {"msm locations with TouchMidMode", "[msm locations]\nMSM_CLOSE_x=1\n",
     [](const SkinDescription& d) { return d.msm.close.x; }, 1},
    {"mid_playlistmode", "[misc values]\nmid_playlistmode=0\n",
     [](const SkinDescription& d) { return d.values.midPlaylistMode; }, 0},
    {"version 131 is too new", "[skin]\nversion=131\n", [](const SkinDescription& d) { return d.TooNew(); }, 1},
    {"version 130 is not", "[skin]\nversion=130\n", [](const SkinDescription& d) { return d.TooNew(); }, 0},
};

// Each case named after what it checks, in letters and digits only.
INSTANTIATE_TEST_SUITE_P(Keys, SkinDescriptionKeys, ::testing::ValuesIn(kKeyCases),
                         [](const ::testing::TestParamInfo<KeyCase>& param) {
                             std::string name;
                             bool upper = true;
                             for (const char* c = param.param.what; *c; ++c) {
                                 const bool alnum = std::isalnum(static_cast<unsigned char>(*c)) != 0;
                                 if (alnum) name += upper ? char(std::toupper(static_cast<unsigned char>(*c))) : *c;
                                 upper = !alnum;
                             }
                             return name;
                         });

TEST(SkinDescription, TheReportNamesSkippedKeys) {
    INIParser ini;
    ASSERT_GE(ini.OpenMemory("[skin]\nTouchMidMode=0\nversion=100\n[misc values]\nMISC_VOLUME_KNOB_width=30\n"
                             "NC_BB_DIST_FROM_RIGHT=2\n"),
              0);
    std::vector<SkinKeyReport> report;
    ReadSkinDescription(&ini, &report);
    auto find = [&](const std::string& key) {
        for (const SkinKeyReport& r : report)
            if (r.key == key) return r;
        return SkinKeyReport{"", "<not reported>", "", false, ""};
    };
    EXPECT_NE(find("MISC_VOLUME_KNOB_width").why.find("TouchMidMode"), std::string::npos);
    EXPECT_NE(find("NC_BB_DIST_FROM_RIGHT").why.find("104"), std::string::npos);
    EXPECT_TRUE(find("TouchMidMode").fromFile);
    EXPECT_EQ(find("title").key, "title");
    EXPECT_FALSE(find("title").fromFile);
    EXPECT_EQ(find("title").value, "unknown");
}

}  // namespace
}  // namespace tessura
