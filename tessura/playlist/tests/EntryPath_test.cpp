#include "EntryPath.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

TEST(EntryPath, NamesResolveAgainstThePlaylistFolder) {
    struct Case {
        const char* folder;
        const char* name;
        const char* resolved;
    };
    const Case cases[] = {
        // Files written on Windows.
        {"C:\\Music\\Lists", "song.mp3", "C:\\Music\\Lists\\song.mp3"},
        {"C:\\Music\\Lists", "\\Other\\song.mp3", "C:\\Other\\song.mp3"},
        {"C:\\Music\\Lists", "\\\\server\\share\\a.mp3", "\\\\server\\share\\a.mp3"},
        {"C:\\Music\\Lists", "D:\\a.mp3", "D:\\a.mp3"},
        {"\\\\server\\share\\lists", "\\top.mp3", "\\\\server\\top.mp3"},
        {"\\\\server\\share\\lists", "x.mp3", "\\\\server\\share\\lists\\x.mp3"},
        // Here: '/' and the '\' of Windows names read as '/'.
        {"/home/u/music", "song.mp3", "/home/u/music/song.mp3"},
        {"/home/u/music", "Album\\01 Intro.mp3", "/home/u/music/Album/01 Intro.mp3"},
        {"/home/u/music", "\\srv\\a.mp3", "/srv/a.mp3"},
        {"/home/u/music", "/abs/a.mp3", "/abs/a.mp3"},
        {"/home/u/music", "/abs/back\\slash.mp3", "/abs/back\\slash.mp3"},
        {"/home/u/music", "sub/back\\slash.mp3", "/home/u/music/sub/back\\slash.mp3"},
        {"/home/u/music", "../up.mp3", "/home/u/music/../up.mp3"},
        {"/", "root.mp3", "/root.mp3"},
        {"/home/u/music", "http://radio.example/live", "http://radio.example/live"},
        // A list read from an address.
        {"http://host.example/lists", "a.mp3", "http://host.example/lists/a.mp3"},
        {"http://host.example/lists", "\\x\\b.mp3", "http://host.example/x/b.mp3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolveEntryPath(c.folder, c.name), c.resolved) << c.folder << " + " << c.name;
    }
}

TEST(EntryPath, BareNamesOnlyForFilesThatReadBackTheSame) {
    struct Case {
        const char* folder;
        const char* path;
        const char* bare;
    };
    const Case cases[] = {
        {"/m", "/m/a.mp3", "a.mp3"},
        {"/m", "/m/sub/a.mp3", ""},           // another folder: the stored path
        {"/m", "/other/a.mp3", ""},
        {"/m", "/m/a\\b.mp3", ""},            // would read back as a/b.mp3
        {"/m", "/m/C:x.mp3", ""},             // would read back as a drive name
        {"/m", "/m/x://y", ""},
        {"/m", "http://radio.example/a.mp3", ""},
        {"/", "/a.mp3", "a.mp3"},
    };
    for (const Case& c : cases) EXPECT_EQ(nameInFolder(c.folder, c.path), c.bare) << c.path;
}

TEST(EntryPath, ShownTitlesExtensionsAndTypedLocations) {
    EXPECT_EQ(shownFileTitle("/m/Artist - Song.mp3"), "Artist - Song");
    EXPECT_EQ(shownFileTitle("C:\\Music\\Song.ogg"), "Song");
    EXPECT_EQ(shownFileTitle("/m/.hidden"), ".hidden");
    EXPECT_EQ(shownFileTitle("http://radio.example/live/"), "radio.example/live");
    EXPECT_EQ(extensionOf("/m/x.y/file"), "");
    EXPECT_EQ(extensionOf("/m/file.MP3"), "MP3");
    EXPECT_EQ(folderOfPath("/m/list.pls"), "/m");
    EXPECT_EQ(folderOfPath("/list.pls"), "/");
    EXPECT_EQ(folderOfPath("C:\\m\\list.pls"), "C:\\m");

    EXPECT_EQ(locationToUrl("www.radio.example/live"), "http://www.radio.example/live");
    EXPECT_EQ(locationToUrl("192.168.0.2:8000"), "http://192.168.0.2:8000");
    EXPECT_EQ(locationToUrl("FTP.files.example/a.mp3"), "ftp://FTP.files.example/a.mp3");
    EXPECT_EQ(locationToUrl("mms://stream.example/x"), "mms://stream.example/x");
    EXPECT_EQ(locationToUrl("radio"), "radio");
}

}  // namespace
}  // namespace tessura
