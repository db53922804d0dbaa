#include "DefaultPlaylist.h"

#include "CrashGuard.h"
#include "HistoryLists.h"
#include "PlaylistHistory.h"
#include "Preferences.h"
#include "RecordingHost.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

using test::RecordingHost;
using test::TempFolder;

// Notes the playlist guard's value on disk whenever the playlist asks about a file.
struct GuardWatchingHost : RecordingHost {
    SettingsStore* store = nullptr;
    std::vector<std::string> guardSeen;
    bool claimsFile(const std::string& name) override {
        guardSeen.push_back(store->StoredValue(kPreferencesSection, kPlaylistGuard).value_or("-"));
        return RecordingHost::claimsFile(name);
    }
};

TEST(DefaultPlaylist, SavedAtExitReadAtStartUnderItsGuard) {
    TempFolder folder;
    const std::string home = folder.file("program");
    folder.write("program/a.mp3", "");
    SettingsStore store(folder.file("config/tessura.ini"), home);
    GuardWatchingHost host;
    host.store = &store;
    {
        Playlist list(host);
        const EntryInfo info{"Title", "Author", "", "", 215};
        list.AddItem(home + "/a.mp3", {.info = &info});
        list.AddItem("/elsewhere/b.ogg");
        list.setExternalPlaylist("/lists/party.pls");
        ASSERT_TRUE(SaveDefaultPlaylist(list, home));
    }
    const std::string saved = folder.read("program/tessura.pls");
    EXPECT_NE(saved.find("File1=a.mp3\r\n"), std::string::npos);
    EXPECT_NE(saved.find("ExternalPlaylist=/lists/party.pls\r\n"), std::string::npos);

    {
        host.guardSeen.clear();
        Playlist list(host);
        const DefaultPlaylistLoad load = LoadDefaultPlaylist(list, store, home, 1);
        EXPECT_FALSE(load.skipped);
        EXPECT_EQ(load.added, 2);
        EXPECT_FALSE(load.autoplay);
        EXPECT_EQ(list.externalPlaylist(), "/lists/party.pls");
        EXPECT_EQ(list.currentIndex(), 1);
        EXPECT_EQ(list.entry(0).display, "a - Author - Title");
        EXPECT_EQ(host.guardSeen, (std::vector<std::string>{"0", "0"}));  // set while reading
        EXPECT_EQ(store.StoredValue(kPreferencesSection, kPlaylistGuard), "1");
        // Without an external playlist the key is left out.
        list.setExternalPlaylist("");
        ASSERT_TRUE(SaveDefaultPlaylist(list, home));
        EXPECT_EQ(folder.read("program/tessura.pls").find("ExternalPlaylist"), std::string::npos);
    }

    // A read that never finished: the next start skips it and tries again the time after.
    folder.write("program/tessura.pls",
                 "[playlist]\r\nFile1=a.mp3\r\nNumberOfEntries=1\r\nautoplay=1\r\n");
    store.SetSetting(kPreferencesSection, kPlaylistGuard, "0");
    {
        Playlist list(host);
        EXPECT_TRUE(LoadDefaultPlaylist(list, store, home, 0).skipped);
        EXPECT_EQ(list.size(), 0);
    }
    {
        Playlist list(host);
        const DefaultPlaylistLoad load = LoadDefaultPlaylist(list, store, home, 7);
        EXPECT_FALSE(load.skipped);
        EXPECT_TRUE(load.autoplay);
        EXPECT_EQ(list.currentIndex(), -1);  // the saved position lies outside the list
        EXPECT_FALSE(list.changed());
    }
}

TEST(PlaylistHistories, TracksAndAddressesAreKeptNewestFirstAndBounded) {
    TempFolder folder;
    SettingsStore store(folder.file("config/tessura.ini"), folder.file("program"));
    RecordingHost host;
    Playlist list(host);
    for (int i = 0; i < 120; ++i) {
        EXPECT_EQ(OpenLocation(list, store, "www.radio" + std::to_string(i) + ".example"), 1);
    }
    EXPECT_EQ(OpenLocation(list, store, "www.radio5.example"), 1);
    const auto urls = ReadUrlHistory(store);
    ASSERT_EQ(urls.size(), 100u);
    EXPECT_EQ(urls[0], "http://www.radio5.example");
    EXPECT_EQ(urls[1], "http://www.radio119.example");
    EXPECT_EQ(store.StoredValue("URL_HISTORY", "numItems"), "100");
    EXPECT_EQ(list.entry(0).file, "http://www.radio0.example");

    // A hostile count in the settings file reads no further than the cap.
    store.SetSetting("URL_HISTORY", "numItems", "2000000000");
    EXPECT_EQ(ReadUrlHistory(store).size(), 100u);

    RecordTrackStart(store, list.entry(0));
    RecordTrackStart(store, list.entry(0));
    RecordTrackStart(store, list.entry(1));
    const auto played = ReadPlayHistory(store);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0].file, "http://www.radio1.example");
    EXPECT_EQ(played[1].display, "www.radio0.example");
}

}  // namespace
}  // namespace tessura
