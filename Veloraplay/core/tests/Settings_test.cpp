#include "AtomicFile.h"
#include "PlayerSettings.h"
#include "SettingsStore.h"
#include "TempFolder.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <csignal>

namespace veloraplay {
namespace {

using test::TempFolder;

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

TEST(Settings, AbsentFileGivesEveryDefaultOfTheTable) {
    TempFolder dir;
    SettingsStore store(dir / "Nordvale/veloraplay.ini");
    ASSERT_TRUE(store.load());
    const struct {
        PlayerSetting id;
        int32_t value;
    } expected[] = {{PlayerSetting::WindowLeft, 0},      {PlayerSetting::WindowTop, 0},
                    {PlayerSetting::SkinType, 1},        {PlayerSetting::ExtendedView, 0},
                    {PlayerSetting::TitleBar, 1},        {PlayerSetting::EqControls, 0x33333333},
                    {PlayerSetting::LibraryWindow, 0},   {PlayerSetting::VeloraEnabled, 1},
                    {PlayerSetting::VolumeLevel, 100},   {PlayerSetting::MuteState, 0},
                    {PlayerSetting::DefaultPlayerNot, 0}};
    ASSERT_EQ(std::size(expected), playerSettings().size());
    for (const auto& e : expected) EXPECT_EQ(readSetting(store, e.id), e.value);
    // The stand-alone encoder reads the skin with its own default.
    EXPECT_EQ(readSetting(store, PlayerSetting::SkinType, kSkinBrushedMetal), 0);
}

TEST(Settings, ValuesOutOfRangeAreClampedOnRead) {
    TempFolder dir;
    const std::string path = dir / "veloraplay.ini";
    ASSERT_TRUE(writeFileAtomically(path,
                                    "[controller]\n"
                                    "skin type=7\n"
                                    "Extended View=-3\n"
                                    "EQ Controls=-1\n"  // every band 15: clamped to 6
                                    "WindowRect.Left=99999999999\n"
                                    "Title Bar=garbage\n"
                                    "[Volume Panel]\n"
                                    "VolumeLevel=250\n"
                                    "MuteState=-20\n",
                                    0600));
    SettingsStore store(path);
    ASSERT_TRUE(store.load());
    EXPECT_EQ(readSetting(store, PlayerSetting::SkinType), 1);
    EXPECT_EQ(readSetting(store, PlayerSetting::ExtendedView), 1);
    EXPECT_EQ(readSetting(store, PlayerSetting::EqControls), 0x66666666);
    EXPECT_EQ(readSetting(store, PlayerSetting::WindowLeft), 1 << 20);
    EXPECT_EQ(readSetting(store, PlayerSetting::TitleBar), 1);  // unreadable: the default
    EXPECT_EQ(readSetting(store, PlayerSetting::VolumeLevel), 100);
    EXPECT_EQ(readSetting(store, PlayerSetting::MuteState), 1);
    EXPECT_EQ(clampSetting(settingDef(PlayerSetting::EqControls), 0x01234567), 0x01234566);
}

TEST(Settings, AtomicWriteKeepsUnknownLinesAndTheSpellingOfNames) {
    TempFolder dir;
    const std::string path = dir / "Nordvale/veloraplay.ini";
    const std::string original =
        "; written by hand\n"
        "[File Types]\n"
        "Default player.Not=0\n"
        "not a key line\n"
        "\n"
        "[Playlist Manager]\n"
        "Folders=2\n"
        "[Playlist Manager/Folder 000]\n"
        "Folder Name=Rock\n";
    ASSERT_TRUE(writeFileAtomically(path, original, 0644));
    SettingsStore store(path);
    ASSERT_TRUE(store.load());
    store.setInt("File Types", "Default Player.Not", 1);  // the same value, other spelling
    store.setString("Playlist Manager/Folder 000", "Item 000", "/music/dir with blanks/x.mp3");
    store.setString("Encoder", "Default Directory", " odd \"name\"\nwith lines ");
    writeSetting(store, PlayerSetting::MuteState, 0);
    ASSERT_TRUE(store.save());

    std::string text;
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text,
              "; written by hand\n"
              "[File Types]\n"
              "Default player.Not=1\n"
              "not a key line\n"
              "\n"
              "[Playlist Manager]\n"
              "Folders=2\n"
              "[Playlist Manager/Folder 000]\n"
              "Folder Name=Rock\n"
              "Item 000=/music/dir with blanks/x.mp3\n"
              "\n"
              "[Encoder]\n"
              "Default Directory=\" odd \\\"name\\\"\\nwith lines \"\n"
              "\n"
              "[Volume Panel]\n"
              "MuteState=0\n");
    EXPECT_EQ(test::modeOf(path), 0600u);
    EXPECT_EQ(namesIn(dir / "Nordvale"), std::vector<std::string>{"veloraplay.ini"});

    SettingsStore again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.getInt("FILE TYPES", "default PLAYER.not", 0), 1);
    EXPECT_EQ(again.getString("encoder", "default directory", ""), " odd \"name\"\nwith lines ");
}

TEST(Settings, SaveKeepsWhatAnotherProcessWroteMeanwhile) {
    TempFolder dir;
    const std::string path = dir / "veloraplay.ini";
    SettingsStore player(path);
    SettingsStore encoder(path);
    ASSERT_TRUE(player.load());
    ASSERT_TRUE(encoder.load());
    encoder.setInt("Encoder", "Monitor Playback", 1);
    ASSERT_TRUE(encoder.save());
    writeSetting(player, PlayerSetting::VolumeLevel, 40);
    ASSERT_TRUE(player.save());
    SettingsStore reader(path);
    ASSERT_TRUE(reader.load());
    EXPECT_EQ(reader.getInt("Encoder", "Monitor Playback", 0), 1);
    EXPECT_EQ(readSetting(reader, PlayerSetting::VolumeLevel), 40);
}

TEST(Settings, FailedSaveLeavesThePreviousFile) {
    TempFolder dir;
    const std::string path = dir / "veloraplay.ini";
    const std::string before = "[Controller]\nSkin Type=0\n";
    ASSERT_TRUE(writeFileAtomically(path, before, 0600));
    SettingsStore store(path);
    ASSERT_TRUE(store.load());
    store.setString("Encoder", "Default Directory", std::string(4096, 'd'));
    // A disk that fills up half way through the write: files may not grow beyond 1 KiB.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = store.save();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved1);
    std::string text;
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text, before);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"veloraplay.ini"});
    // The change is kept for the next save, which succeeds.
    EXPECT_TRUE(store.save());
    SettingsStore reread(path);
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.getString("Encoder", "Default Directory", "").size(), 4096u);
}

}  // namespace
}  // namespace veloraplay
