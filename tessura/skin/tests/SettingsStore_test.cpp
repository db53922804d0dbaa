#include "SettingsStore.h"

#include "CrashGuard.h"
#include "HistoryLists.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>

namespace tessura {
namespace {

constexpr const char* kSection = "General Preferences 0.80";

class Store : public ::testing::Test {
  protected:
    std::string settingsPath() const { return folder.file("config/Quellmark/tessura.ini"); }
    test::TempFolder folder;
};

TEST_F(Store, OlderValuesMigrateOnlyWhereTheyDifferFromTheDefault) {
    folder.write("program/tessura.ini",
                 "[General Preferences 0.80]\r\nAnimationTime=500\r\nWindowState=2\r\n"
                 "Language=Deutsch\r\nDefaultFilesDirectory=\r\nDefaultExtension=.mp3\r\n");
    SettingsStore store(settingsPath(), folder.file("program"));
    EXPECT_EQ(store.GetSettingInt(kSection, "AnimationTime", 300), 500);
    EXPECT_EQ(store.GetSettingInt(kSection, "WindowState", 2), 2);
    EXPECT_EQ(store.GetSettingText(kSection, "Language", "English"), "Deutsch");
    EXPECT_EQ(store.GetSettingText(kSection, "DefaultFilesDirectory", "/music"), "");
    EXPECT_EQ(store.GetSettingText(kSection, "DefaultExtension", ".mp3"), ".mp3");
    EXPECT_EQ(store.GetSettingInt(kSection, "Missing", 7), 7);

    SettingsStore reread(settingsPath(), folder.file("program"));
    EXPECT_EQ(reread.StoredValue(kSection, "AnimationTime"), "500");
    EXPECT_EQ(reread.StoredValue(kSection, "Language"), "Deutsch");
    EXPECT_FALSE(reread.StoredValue(kSection, "WindowState").has_value());
    EXPECT_FALSE(reread.StoredValue(kSection, "DefaultFilesDirectory").has_value());
    EXPECT_FALSE(reread.StoredValue(kSection, "DefaultExtension").has_value());
    EXPECT_FALSE(reread.StoredValue(kSection, "Missing").has_value());
    // The settings file wins over the older file from then on.
    folder.write("program/tessura.ini", "[General Preferences 0.80]\r\nAnimationTime=900\r\n");
    SettingsStore third(settingsPath(), folder.file("program"));
    EXPECT_EQ(third.GetSettingInt(kSection, "AnimationTime", 300), 500);
}

TEST_F(Store, IntegersReadWithAutomaticBase) {
    struct Case {
        const char* stored;
        int expected;
    };
    const Case cases[] = {{"42", 42},    {"0x1F", 31},  {"0X10", 16}, {"017", 15},       {"-5", -5},
                          {" +8", 8},    {"09", 0},     {"0", 0},     {"abc", 77},       {"", 77},
                          {"12abc", 12}, {"0x", 0},     {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}};
    SettingsStore store(settingsPath(), folder.file("program"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(store.SetSetting("Numbers", "value", c.stored));
        EXPECT_EQ(store.GetSettingInt("NUMBERS", "Value", 77), c.expected);
    }
}

TEST_F(Store, WritesReachTheDiskAtOnceUnlessBatchedAndTheFileIsPrivate) {
    SettingsStore store(settingsPath(), folder.file("program"));
    ASSERT_TRUE(store.usable());
    ASSERT_TRUE(store.SetSettingInt(kSection, "SeedNumber", 3));
    EXPECT_NE(folder.read("config/Quellmark/tessura.ini").find("SeedNumber=3\r\n"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    {
        SettingsStore::Batch batch(store);
        store.SetSettingInt(kSection, "SeedNumber", 4);
        store.SetSetting(kSection, "Language", "English");
        EXPECT_EQ(folder.read("config/Quellmark/tessura.ini").find("SeedNumber=4"), std::string::npos);
    }
    const std::string after = folder.read("config/Quellmark/tessura.ini");
    EXPECT_NE(after.find("SeedNumber=4\r\n"), std::string::npos);
    EXPECT_NE(after.find("Language=English\r\n"), std::string::npos);
    // A value with line breaks cannot break the file's structure.
    ASSERT_TRUE(store.SetSetting(kSection, "DefaultFilesDirectory", "/music\n[Evil]\nx=1"));
    SettingsStore reread(settingsPath(), folder.file("program"));
    EXPECT_EQ(reread.GetSettingText(kSection, "DefaultFilesDirectory", ""), "/music\n[Evil]\nx=1");
    EXPECT_EQ(reread.GetSettingText("Evil", "x", "none"), "none");
    char buffer[5];
    EXPECT_EQ(reread.GetSettingText(kSection, "Language", "", buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "Engl");
}

TEST_F(Store, ValuesOfTheStoresOwnKeyLiveInTheNamelessSection) {
    SettingsStore store(settingsPath(), folder.file("program"));
    ASSERT_TRUE(store.SetSettingInt("", "ConnectionType", 2));
    ASSERT_TRUE(store.SetSettingInt(kSection, "ConnectionType", 5));
    SettingsStore reread(settingsPath(), folder.file("program"));
    EXPECT_EQ(reread.GetSettingInt("", "ConnectionType", 0), 2);
    EXPECT_EQ(reread.GetSettingInt(kSection, "ConnectionType", 0), 5);
}

TEST_F(Store, OtherFilesAreReadAndWrittenAsTheyAre) {
    folder.write("program/vis/vis.ini", "[Tunnel]\nSpeed=12\nName=Fast tunnel\n");
    SettingsStore store(settingsPath(), folder.file("program"));
    EXPECT_EQ(store.GetSettingInt("Tunnel", "Speed", 1, "vis/vis.ini"), 12);
    EXPECT_EQ(store.GetSettingText("Tunnel", "Name", "", 0, "vis\\vis.ini"), "Fast tunnel");
    EXPECT_EQ(store.GetSettingInt("Tunnel", "Other", 5, "vis/vis.ini"), 5);
    EXPECT_EQ(store.GetSettingInt("Tunnel", "Speed", 1, "vis/missing.ini"), 1);
    ASSERT_TRUE(store.SetSetting("Tunnel", "Speed", "13", "vis/vis.ini"));
    EXPECT_EQ(folder.read("program/vis/vis.ini"), "[Tunnel]\r\nSpeed=13\r\nName=Fast tunnel\r\n\r\n");
    EXPECT_FALSE(store.StoredValue("Tunnel", "Speed").has_value());
}

TEST_F(Store, WithoutAUsableSettingsFileTheOlderFileServesAlone) {
    folder.write("blocked", "a file where the settings folder would be");
    folder.write("program/tessura.ini", "[General Preferences 0.80]\r\nAnimationTime=500\r\n");
    SettingsStore store(folder.file("blocked/Quellmark/tessura.ini"), folder.file("program"));
    EXPECT_FALSE(store.usable());
    EXPECT_EQ(store.GetSettingInt(kSection, "AnimationTime", 300), 500);
    ASSERT_TRUE(store.SetSettingInt(kSection, "AnimationTime", 600));
    EXPECT_EQ(store.GetSettingInt(kSection, "AnimationTime", 300), 600);
    EXPECT_NE(folder.read("program/tessura.ini").find("AnimationTime=600"), std::string::npos);
}

TEST_F(Store, AGuardIsZeroOnDiskWhileTheLoadRuns) {
    SettingsStore store(settingsPath(), folder.file("program"));
    EXPECT_TRUE(lastGuardedLoadFinished(store, kSkinGuard));
    {
        GuardedLoad guard(store, kSkinGuard);
        // What a start after a crash here would find.
        SettingsStore afterCrash(settingsPath(), folder.file("program"));
        EXPECT_FALSE(lastGuardedLoadFinished(afterCrash, kSkinGuard));
        EXPECT_TRUE(lastGuardedLoadFinished(afterCrash, kPlaylistGuard));
    }
    SettingsStore later(settingsPath(), folder.file("program"));
    EXPECT_TRUE(lastGuardedLoadFinished(later, kSkinGuard));
    EXPECT_EQ(later.StoredValue(kSection, "LoadSkin"), "1");
}

TEST_F(Store, HistoriesPutTheNewestFirstWithoutRepeats) {
    SettingsStore store(settingsPath(), folder.file("program"));
    for (int i = 0; i < 12; ++i) {
        RecordPlayedTrack(store, {"/music/" + std::to_string(i) + ".mp3", "Track " + std::to_string(i)});
    }
    RecordPlayedTrack(store, {"/music/5.mp3", "Track 5 again"});
    const auto played = ReadPlayHistory(store);
    ASSERT_EQ(played.size(), 10u);
    EXPECT_EQ(played[0].file, "/music/5.mp3");
    EXPECT_EQ(played[0].display, "Track 5 again");
    EXPECT_EQ(played[1].file, "/music/11.mp3");
    EXPECT_EQ(played[9].file, "/music/2.mp3");
    EXPECT_EQ(store.StoredValue("PLAY_HISTORY", "numItems"), "10");
    EXPECT_EQ(store.StoredValue("PLAY_HISTORY", "file_0"), "/music/5.mp3");

    for (int i = 0; i < 15; ++i) RecordOpenedUrl(store, "http://radio.example/" + std::to_string(i));
    RecordOpenedUrl(store, "http://radio.example/3");
    const auto urls = ReadUrlHistory(store);
    ASSERT_EQ(urls.size(), 15u);  // well below the cap
    EXPECT_EQ(urls[0], "http://radio.example/3");
    EXPECT_EQ(urls[1], "http://radio.example/14");
    EXPECT_EQ(store.StoredValue("URL_HISTORY", "url_0"), "http://radio.example/3");
}

}  // namespace
}  // namespace tessura
