#include "Preferences.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

class PreferencesTest : public ::testing::Test {
  protected:
    PreferencesTest() {
        context.programFolder = folder.file("program");
        context.screenWidth = 1600;
        context.screenHeight = 900;
        context.deviceVolume = 40000;
        context.visualisationCount = 3;
    }
    std::string settingsPath() const { return folder.file("config/tessura.ini"); }
    void store(const char* key, const char* value) {
        SettingsStore s(settingsPath(), context.programFolder);
        s.SetSetting(kPreferencesSection, key, value);
    }
    Preferences load() {
        SettingsStore s(settingsPath(), context.programFolder);
        return LoadPreferences(s, context);
    }
    test::TempFolder folder;
    PreferenceContext context;
};

TEST_F(PreferencesTest, AnEmptyStoreGivesEveryDefault) {
    const Preferences p = load();
    EXPECT_EQ(p.showSplashScreen, 1);
    EXPECT_EQ(p.audioVolume, 40000);  // the device's own level
    EXPECT_EQ(p.audioBalance, 32768);
    EXPECT_EQ(p.displayFrameRate, 75);
    EXPECT_EQ(p.mainWindowX, 800);
    EXPECT_EQ(p.mainWindowY, 450);
    EXPECT_EQ(p.windowX[2], 800);
    EXPECT_EQ(p.windowY[0], 450);
    EXPECT_EQ(p.animationTime, 300);
    EXPECT_EQ(p.visualisationLayers(), 4);
    EXPECT_EQ(p.windowState, 2);
    EXPECT_EQ(p.readPlaylistInfoIdleWait, 1000);
    EXPECT_EQ(p.readPlaylistInfoIdleInterval, 100);
    EXPECT_EQ(p.visSmoke, 1);
    EXPECT_EQ(p.visFXLevel, 3);
    EXPECT_EQ(p.visZoomLevel, 10);
    EXPECT_EQ(p.defaultExtension, ".mp3");
    EXPECT_EQ(p.tellmIRCString, "/ame is listening to %s in Tessura %s");
    EXPECT_EQ(p.defaultSkin, "system/tessura.tgf");
    EXPECT_EQ(p.currentSkin, "system/tessura.tgf");
    EXPECT_EQ(p.streamBufferSize, 64);
    EXPECT_EQ(p.streamPreBufferSize, 50);
    EXPECT_EQ(p.language, "English");
    EXPECT_TRUE(p.activeDSP.isNull());
    EXPECT_EQ(p.activeOutput, kBuiltInOutputGuid);
    EXPECT_EQ(p.doubledFullscreen, 1);
    EXPECT_EQ(p.fullscreenModeDepth, 1);
    EXPECT_EQ(p.loadPlayList, 1);
    EXPECT_EQ(p.loadSkin, 1);
    EXPECT_EQ(p.seedNumber, 1);
    EXPECT_TRUE(p.openWithSplash);
    SettingsStore s(settingsPath(), context.programFolder);
    EXPECT_EQ(s.StoredValue(kPreferencesSection, "TessuraPath"), context.programFolder);
}

TEST_F(PreferencesTest, OutOfRangeValuesAreClamped) {
    struct Case {
        const char* key;
        const char* stored;
        int Preferences::*field;
        int expected;
    };
    const Case cases[] = {
        {"AnimationTime", "0", &Preferences::animationTime, 1},
        {"AnimationTime", "5000", &Preferences::animationTime, 1000},
        {"StreamBufferSize", "10", &Preferences::streamBufferSize, 24},
        {"StreamBufferSize", "0x200", &Preferences::streamBufferSize, 256},
        {"StreamPreBufferSize", "250", &Preferences::streamPreBufferSize, 100},
        {"WindowState", "0", &Preferences::windowState, 1},
        {"WindowState", "4", &Preferences::windowState, 3},
        {"NavWindowState", "12", &Preferences::navWindowState, 11},
        {"NavWindowState", "-1", &Preferences::navWindowState, 0},
        {"RepeatMode", "3", &Preferences::repeatMode, 2},
        {"VisFXLevel", "8", &Preferences::visFXLevel, 7},
        {"VisZoomLevel", "1", &Preferences::visZoomLevel, 2},
        {"VisZoomLevel", "16", &Preferences::visZoomLevel, 15},
        {"VisNumber", "7", &Preferences::visNumber, 2},
        {"VisNumber", "-3", &Preferences::visNumber, 0},
        {"AudioVolume", "70000", &Preferences::audioVolume, 65535},
        {"AudioVolume", "-1", &Preferences::audioVolume, 0},
        {"AudioBalance", "0x10000", &Preferences::audioBalance, 65535},
        {"DisplayFrameRate", "0", &Preferences::displayFrameRate, 1},
        {"ReadPlaylistInfoIdleWait", "-100", &Preferences::readPlaylistInfoIdleWait, 0},
        {"AnimationTime", "0500", &Preferences::animationTime, 320},  // octal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.stored);
        store(c.key, c.stored);
        EXPECT_EQ(load().*c.field, c.expected);
    }
}

TEST_F(PreferencesTest, OlderIniValueIsReadAndCopiedIntoTheStore) {
    folder.write("program/tessura.ini", "[General Preferences 0.80]\r\nAnimationTime=500\r\n");
    EXPECT_EQ(load().animationTime, 500);
    SettingsStore s(settingsPath(), context.programFolder);
    EXPECT_EQ(s.StoredValue(kPreferencesSection, "AnimationTime"), "500");
}

TEST_F(PreferencesTest, SkinsOutputsAndTheAnnouncementFallBackWhenTheyCannotBeUsed) {
    store("DefaultSkin", "skins\\gone.tgf");
    store("ActiveOutput", "12345678-1234-1234-1234-123456789ABC");
    store("ActiveDSP", "not a guid");
    store("TellmIRCString", "%s%n%s");
    Preferences p = load();
    EXPECT_EQ(p.defaultSkin, "system/tessura.tgf");
    EXPECT_EQ(p.currentSkin, "system/tessura.tgf");
    EXPECT_EQ(p.activeOutput, kBuiltInOutputGuid);
    EXPECT_TRUE(p.activeDSP.isNull());
    EXPECT_EQ(p.tellmIRCString, "/ame is listening to %s in Tessura %s");

    folder.write("program/skins/mine.tgf", "skin");
    store("DefaultSkin", "skins\\mine.tgf");
    const Guid installed = *parseGuid("12345678-1234-1234-1234-123456789ABC");
    context.outputs = {installed};
    store("TellmIRCString", "/me plays %s (Tessura %s)");
    p = load();
    EXPECT_EQ(p.defaultSkin, "skins/mine.tgf");
    EXPECT_EQ(p.currentSkin, "skins/mine.tgf");
    EXPECT_EQ(p.activeOutput, installed);
    EXPECT_EQ(p.tellmIRCString, "/me plays %s (Tessura %s)");
}

TEST_F(PreferencesTest, TheSplashShowsOnAVersionChangeAndEveryTenthStart) {
    store("ShowSplashScreen", "0");
    store("TessuraVersion", "1.96");
    store("SeedNumber", "8");
    Preferences p = load();
    EXPECT_EQ(p.seedNumber, 9);
    EXPECT_FALSE(p.openWithSplash);
    store("SeedNumber", "9");
    EXPECT_TRUE(load().openWithSplash);
    store("SeedNumber", "3");
    store("TessuraVersion", "1.95");
    EXPECT_TRUE(load().openWithSplash);
}

TEST_F(PreferencesTest, SavedPreferencesReadBackTheSame) {
    Preferences p = load();
    p.alwaysOnTop = 1;
    p.audioVolume = 1234;
    p.mainWindowX = -20;
    p.windowY[1] = 77;
    p.animationTime = 450;
    p.visNumber = 2;
    p.repeatMode = 2;
    p.defaultFilesDirectory = "/home/me/Music with blanks ";
    p.defaultExtension = ".ogg";
    p.language = "Deutsch";
    p.webProxyURL = "http://proxy.example:8080/";
    p.webProxyUserName = "me";
    p.webProxyPassword = "s3cret pass";
    p.activeDSP = *parseGuid("00000001-0002-0003-0405-060708090A0B");
    p.displayFadeRate = 5;
    context.audioCdHandlerIsOurs = true;
    {
        SettingsStore s(settingsPath(), context.programFolder);
        SavePreferences(s, p, context);
    }
    const std::string file = folder.read("config/tessura.ini");
    EXPECT_EQ(file.find("s3cret"), std::string::npos);  // the password is not stored legibly
    EXPECT_NE(file.find("TessuraVersion=1.96\r\n"), std::string::npos);
    EXPECT_NE(file.find("AutoCDInsert=1\r\n"), std::string::npos);
    EXPECT_NE(file.find("DisplayFadeRate=1\r\n"), std::string::npos);
    EXPECT_NE(file.find("ActiveOutput=DDDCE15A-BEBC-4F0B-980D-1DD79F804323\r\n"), std::string::npos);
    EXPECT_EQ(file.find("LoadSkin"), std::string::npos);  // the guards are not written at exit

    const Preferences q = load();
    EXPECT_EQ(q.alwaysOnTop, 1);
    EXPECT_EQ(q.audioVolume, 1234);
    EXPECT_EQ(q.mainWindowX, -20);
    EXPECT_EQ(q.windowY[1], 77);
    EXPECT_EQ(q.animationTime, 450);
    EXPECT_EQ(q.visNumber, 2);
    EXPECT_EQ(q.repeatMode, 2);
    EXPECT_EQ(q.defaultFilesDirectory, "/home/me/Music with blanks ");
    EXPECT_EQ(q.defaultExtension, ".ogg");
    EXPECT_EQ(q.language, "Deutsch");
    EXPECT_EQ(q.webProxyURL, "http://proxy.example:8080/");
    EXPECT_EQ(q.webProxyPassword, "s3cret pass");
    EXPECT_EQ(q.activeDSP, p.activeDSP);
    EXPECT_EQ(q.seedNumber, p.seedNumber + 1);
    EXPECT_EQ(q.tessuraVersion, "1.96");
}

TEST_F(PreferencesTest, TextsAreCutToTheirBuffers) {
    store("DefaultExtension", "0123456789012345678901234");
    store("TellmIRCString", std::string(200, 'x').c_str());
    const Preferences p = load();
    EXPECT_EQ(p.defaultExtension.size(), 19u);
    EXPECT_EQ(p.tellmIRCString.size(), 119u);
}

TEST_F(PreferencesTest, TheBuiltInOutputsSettingsAreClamped) {
    SettingsStore s(settingsPath(), context.programFolder);
    OutputDeviceSettings d = LoadOutputDeviceSettings(s);
    EXPECT_EQ(d.fragmentSize, 32768);
    EXPECT_EQ(d.outputDevice, -1);
    EXPECT_EQ(d.numBuffers, 9);
    s.SetSetting(kPreferencesSection, "WAOFragmentSize", "100");
    s.SetSetting(kPreferencesSection, "WAONumBuffers", "0");
    s.SetSetting(kPreferencesSection, "WAOOutputDevice", "-7");
    d = LoadOutputDeviceSettings(s);
    EXPECT_EQ(d.fragmentSize, 4096);
    EXPECT_EQ(d.numBuffers, 3);
    EXPECT_EQ(d.outputDevice, -1);
    d.fragmentSize = 1 << 20;
    d.numBuffers = 1000;
    d.outputDevice = 2;
    SaveOutputDeviceSettings(s, d);
    EXPECT_EQ(s.StoredValue(kPreferencesSection, "WAOFragmentSize"), "32768");
    EXPECT_EQ(s.StoredValue(kPreferencesSection, "WAONumBuffers"), "9");
    EXPECT_EQ(s.StoredValue(kPreferencesSection, "WAOOutputDevice"), "2");
}

TEST(ProxyPassword, ScramblingIsReversible) {
    const std::string clears[] = {"", "a", "p@ss word", std::string(63, 'z'), "\xC3\xA9t\xC3\xA9"};
    for (const std::string& clear : clears) {
        const std::string stored = scramblePassword(clear);
        EXPECT_EQ(unscramblePassword(stored), clear);
        if (clear.size() > 2) {  // not legible (a short text may match hex digits by chance)
            EXPECT_EQ(stored.find(clear), std::string::npos);
        }
    }
    EXPECT_EQ(unscramblePassword("zz"), "");
}

}  // namespace
}  // namespace tessura
