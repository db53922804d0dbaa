// The settings screen's table: which keys each tab shows, the ranges its controls clamp to,
// the slider texts, and what OK/Apply write (Cancel writes nothing).
#include "SettingsPages.h"

#include <gtest/gtest.h>

#include <map>

namespace tessura {
namespace {

std::vector<std::string> tabKeys(const SettingsTabInfo& tab) {
    std::vector<std::string> out;
    for (const SettingOption& o : tab.options)
        for (const std::string& k : o.keys()) out.push_back(k);
    return out;
}

const SettingOption& option(SettingsTab tab, const std::string& key) {
    for (const SettingOption& o : SettingsTabFor(tab).options)
        if (key == o.key) return o;
    ADD_FAILURE() << "no option " << key;
    static const SettingOption none;
    return none;
}

TEST(SettingsPages, EachTabShowsExactlyItsKeysInOrder) {
    const struct {
        SettingsTab tab;
        const char* tabKey;
        std::vector<std::string> keys;
    } cases[] = {
        {SettingsTab::System, "settings/tab/system",
         {"settings/alwaysontop", "settings/showontaskbar", "settings/rememberfullscreen", "settings/synctorefresh",
          "settings/invidualmodepos", "settings/lockmovement", "settings/transparent", "settings/language"}},
        {SettingsTab::Playlist, "settings/tab/playlist",
         {"settings/appendtoplaylist", "settings/playsongsimmediately", "settings/audiocdinsert",
          "settings/clearplaylistoncd", "settings/display_asspace", "settings/alwaysdisplayfilename",
          "settings/savesonginfotopl"}},
        {SettingsTab::Audio, "settings/tab/audio",
         {"settings/selectoutput", "settings/configplugin", "settings/selectdsp", "settings/alwaysusemastervol"}},
        {SettingsTab::Visual, "settings/tab/visual",
         {"settings/animsmoothness", "settings/framespersec", "settings/animchunky", "settings/animsmooth",
          "settings/animspeed", "settings/transitiontime", "settings/animslow", "settings/animfast",
          "settings/fullscreen_display", "settings/fullscreen_exclusive", "settings/fullscreen_gdi"}},
        {SettingsTab::FileTypes, "settings/tab/filetypes", {"settings/checkfiletypes", "settings/tessuramediatypes"}},
        {SettingsTab::VisualEffects, "settings/tab/visfx",
         {"settings/visoptions", "settings/visblurfx", "settings/vissmokefx", "settings/viszoomfx",
          "settings/visreverse", "settings/viseffectslevel", "settings/viszoomspeed"}},
        {SettingsTab::Internet, "settings/tab/internet",
         {"settings/internet/prebuffer", "settings/internet/prebufferoff", "settings/internet/buffersize",
          "settings/internet/connectiontype", "settings/internet/lan", "settings/internet/modem",
          "settings/internet/none", "settings/internet/usewebproxy", "settings/internet/proxyurl"}},
        {SettingsTab::Skins, "settings/tab/skins",
         {"settings/tab/skins", "settings/skinauthor", "settings/skincontact"}},
    };
    Preferences withSkins;
    const auto& tabs = GeneralSettingsTabs(withSkins);
    ASSERT_EQ(tabs.size(), std::size(cases));
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        SCOPED_TRACE(cases[i].tabKey);
        EXPECT_EQ(tabs[i].tab, cases[i].tab);
        EXPECT_STREQ(tabs[i].key, cases[i].tabKey);
        EXPECT_EQ(tabKeys(tabs[i]), cases[i].keys);
    }

    Preferences noSkins;
    noSkins.allowSkins = 0;
    const auto& seven = GeneralSettingsTabs(noSkins);
    ASSERT_EQ(seven.size(), 7u);
    for (std::size_t i = 0; i < seven.size(); ++i) EXPECT_EQ(seven[i].tab, cases[i].tab);
}

TEST(SettingsPages, ControlsClampToTheirRanges) {
    const struct {
        SettingsTab tab;
        const char* key;
        int given, stored;
        int Preferences::*field;
    } cases[] = {
        {SettingsTab::Visual, "settings/transitiontime", 0, 1, &Preferences::animationTime},
        {SettingsTab::Visual, "settings/transitiontime", 5000, 1000, &Preferences::animationTime},
        {SettingsTab::Visual, "settings/transitiontime", 500, 500, &Preferences::animationTime},
        {SettingsTab::Visual, "settings/framespersec", 500, 100, &Preferences::displayFrameRate},
        {SettingsTab::Visual, "settings/framespersec", 3, 10, &Preferences::displayFrameRate},
        {SettingsTab::VisualEffects, "settings/viseffectslevel", -1, 0, &Preferences::visFXLevel},
        {SettingsTab::VisualEffects, "settings/viseffectslevel", 8, 7, &Preferences::visFXLevel},
        {SettingsTab::VisualEffects, "settings/viszoomspeed", 1, 2, &Preferences::visZoomLevel},
        {SettingsTab::VisualEffects, "settings/viszoomspeed", 16, 15, &Preferences::visZoomLevel},
        {SettingsTab::Internet, "settings/internet/buffersize", 10, 24, &Preferences::streamBufferSize},
        {SettingsTab::Internet, "settings/internet/buffersize", 300, 256, &Preferences::streamBufferSize},
        {SettingsTab::Internet, "settings/internet/prebuffer", 101, 100, &Preferences::streamPreBufferSize},
        {SettingsTab::System, "settings/alwaysontop", 7, 1, &Preferences::alwaysOnTop},
        // Shown the other way round: the task-bar button is "not a tool window".
        {SettingsTab::System, "settings/showontaskbar", 0, 1, &Preferences::minimizeToSystemTray},
        {SettingsTab::System, "settings/showontaskbar", 1, 0, &Preferences::minimizeToSystemTray},
        {SettingsTab::Playlist, "settings/alwaysdisplayfilename", 1, 0, &Preferences::showTitleOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + std::to_string(c.given));
        SettingsValues v;
        const SettingOption& o = option(c.tab, c.key);
        SetOptionValue(o, v, c.given);
        EXPECT_EQ(v.preferences.*c.field, c.stored);
    }

    // The proxy address is cut to 256 bytes, never inside a character.
    SettingsValues v;
    const SettingOption& url = option(SettingsTab::Internet, "settings/internet/proxyurl");
    SetOptionText(url, v, std::string(255, 'a') + "\xC3\xA9" + "tail");
    EXPECT_EQ(v.preferences.webProxyURL, std::string(255, 'a'));

    // The connection type steps 0 -> 1 -> 2 -> 0; a stray stored value counts as none.
    const SettingOption& type = option(SettingsTab::Internet, "settings/internet/connectiontype");
    EXPECT_EQ(NextChoiceValue(type, 0), 1);
    EXPECT_EQ(NextChoiceValue(type, 1), 2);
    EXPECT_EQ(NextChoiceValue(type, 2), 0);
    EXPECT_EQ(NextChoiceValue(type, 7), 1);
    SetOptionValue(type, v, 7);
    EXPECT_EQ(v.connectionType, 0);
}

TEST(SettingsPages, SliderTextsGoThroughTheCheckedFormatter) {
    const std::map<std::string, std::string> english = {
        {"settings/internet/buffersize", "Buffer size: %d KB"},
        {"settings/internet/prebuffer", "Pre-buffer: %d%%"},
        {"settings/internet/prebufferoff", "Pre-buffer: off"},
    };
    const std::map<std::string, std::string> broken = {
        {"settings/internet/buffersize", "Buffer size: %s KB"},  // a string where a number goes
        {"settings/internet/prebuffer", "Pre-buffer: %n"},
        {"settings/internet/prebufferoff", "aus"},
    };
    const auto lookup = [](const std::map<std::string, std::string>& m) {
        return [&m](std::string_view k) { return m.at(std::string(k)); };
    };
    const SettingOption& size = option(SettingsTab::Internet, "settings/internet/buffersize");
    const SettingOption& pre = option(SettingsTab::Internet, "settings/internet/prebuffer");
    const SettingOption& fps = option(SettingsTab::Visual, "settings/framespersec");
    const struct {
        const SettingOption* o;
        int value;
        const std::map<std::string, std::string>* texts;
        std::string shown;
    } cases[] = {
        {&size, 64, &english, "Buffer size: 64 KB"},
        {&size, 24, &english, "Buffer size: 24 KB"},
        {&pre, 50, &english, "Pre-buffer: 50%"},
        {&pre, 0, &english, "Pre-buffer: off"},
        {&size, 64, &broken, "Buffer size: %s KB 64"},
        {&pre, 50, &broken, "Pre-buffer: %n 50"},
        {&pre, 0, &broken, "aus"},
        {&fps, 75, &english, "75"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(SliderValueText(*c.o, c.value, lookup(*c.texts)), c.shown);
    }
}

TEST(SettingsPages, ApplyWritesOnlyWhatChangedAndNamesTheLivePartsToUpdate) {
    namespace fx = settings_effect;
    SettingsValues live;
    live.preferences.displayFrameRate = 200;  // out of the slider's range, as read from the file
    live.preferences.seedNumber = 41;

    // Cancel: an edited copy that is thrown away leaves the live settings as they were.
    {
        SettingsValues edited = live;
        SetOptionValue(option(SettingsTab::System, "settings/alwaysontop"), edited, 1);
    }
    EXPECT_EQ(live.preferences.alwaysOnTop, 0);

    const struct {
        const char* name;
        void (*edit)(SettingsValues&);
        std::vector<std::string> changed;
        uint32_t effects;
    } cases[] = {
        {"nothing", [](SettingsValues&) {}, {}, fx::kNone},
        {"always on top", [](SettingsValues& v) { SetOptionValue(option(SettingsTab::System, "settings/alwaysontop"), v, 1); },
         {"settings/alwaysontop"}, fx::kAlwaysOnTop},
        {"frame rate", [](SettingsValues& v) { SetOptionValue(option(SettingsTab::Visual, "settings/framespersec"), v, 30); },
         {"settings/framespersec"}, fx::kFrameRate},
        {"vis effects",
         [](SettingsValues& v) {
             SetOptionValue(option(SettingsTab::VisualEffects, "settings/visblurfx"), v, 1);
             SetOptionValue(option(SettingsTab::VisualEffects, "settings/viszoomspeed"), v, 4);
         },
         {"settings/visblurfx", "settings/viszoomspeed"}, fx::kVisualEffects},
        {"skin and proxy",
         [](SettingsValues& v) {
             v.preferences.currentSkin = "skins/ember.tgf";
             v.preferences.webProxyURL = "http://proxy:8080/";
             v.connectionType = 2;
         },
         {"settings/internet/connectiontype", "settings/internet/proxyurl", "settings/tab/skins"},
         fx::kSkin | fx::kStreams | fx::kConnectionType},
        {"output", [](SettingsValues& v) { v.preferences.activeOutput = kBuiltInOutputGuid; }, {"settings/selectoutput"},
         fx::kOutput},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsValues target = live;
        SettingsValues edited = live;
        c.edit(edited);
        const SettingsApplyResult r = ApplySettings(target, edited);
        EXPECT_EQ(r.changedKeys, c.changed);
        EXPECT_EQ(r.effects, c.effects);
        EXPECT_EQ(r.changed(), !c.changed.empty());
        // What was not edited stays, even a value the slider could not show.
        if (std::string(c.name) != "frame rate") {
            EXPECT_EQ(target.preferences.displayFrameRate, 200);
        } else {
            EXPECT_EQ(target.preferences.displayFrameRate, 30);
        }
        EXPECT_EQ(target.preferences.seedNumber, 41);
        // Applying again finds nothing left to do.
        EXPECT_FALSE(ApplySettings(target, edited).changed());
    }
    // A key that is on no tab is never written by the screen.
    SettingsValues target = live;
    SettingsValues edited = live;
    edited.preferences.seedNumber = 99;
    EXPECT_FALSE(ApplySettings(target, edited).changed());
    EXPECT_EQ(target.preferences.seedNumber, 41);
}

TEST(SettingsPages, PluginTabsAreTheModulesWithAPageFromLastToFirst) {
    const std::vector<InputModuleEntry> modules = {
        {"Wave files", 0x10}, {"Streams", 0x20}, {"Tracker", 0x12}, {"Plain", 0}};
    EXPECT_EQ(PluginSettingsTabs(modules), (std::vector<std::size_t>{2, 0}));
    EXPECT_TRUE(PluginSettingsTabs({}).empty());
}

}  // namespace
}  // namespace tessura
