#include "Playlist.h"

#include "RecordingHost.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace tessura {
namespace {

using test::RecordingHost;
using test::TempFolder;

std::vector<std::string> files(const Playlist& list) {
    std::vector<std::string> out;
    for (const auto& e : list.entries()) out.push_back(e.file);
    return out;
}

TEST(PlaylistAdd, FoldersPlaylistsSkinsAndAddresses) {
    TempFolder folder;
    const std::string m = folder.file("music");
    folder.write("music/a.mp3", "");
    folder.write("music/B.ogg", "");
    folder.write("music/.hidden.mp3", "");
    folder.write("music/notes.txt", "");
    folder.write("music/sub/c.wav", "");
    folder.write("music/look.tgf", "");
    std::filesystem::create_directory_symlink(m, m + "/sub/loop");  // back up the tree
    std::filesystem::create_directory_symlink(m + "/sub", m + "/sub2");  // the same folder again

    RecordingHost host;
    Playlist list(host);
    EXPECT_EQ(list.AddItem(m), 3);
    EXPECT_EQ(files(list), (std::vector<std::string>{m + "/B.ogg", m + "/a.mp3", m + "/sub/c.wav"}));
    EXPECT_EQ(host.skins, std::vector<std::string>{m + "/look.tgf"});

    // The next add is a new walk: through the link back up, the whole tree comes round once.
    EXPECT_EQ(list.AddItem(m + "/sub2"), 3);
    EXPECT_EQ(list.entry(3).file, m + "/sub2/c.wav");
    EXPECT_EQ(list.entry(4).file, m + "/sub2/loop/B.ogg");
    // Files no module claims only by setting.
    list.setOptions({.allowDefaultType = true});
    EXPECT_EQ(list.AddItem(m + "/notes.txt"), 1);
    list.setOptions({});
    EXPECT_EQ(list.AddItem(m + "/notes.txt"), 0);
    EXPECT_EQ(list.AddItem("http://radio.example/live"), 1);
    EXPECT_EQ(list.entry(7).display, "radio.example/live");
    EXPECT_EQ(list.AddItem(""), 0);
    EXPECT_EQ(list.AddItem("/m/" + std::string(5000, 'x') + ".mp3"), 0);

    // The current entry is not added twice unless asked for.
    list.setCurrentIndex(1);
    int existing = -1;
    EXPECT_EQ(list.AddItem(m + "/a.mp3", {.existingIndex = &existing}), 0);
    EXPECT_EQ(existing, 1);
    EXPECT_EQ(list.AddItem(m + "/a.mp3", {.allowDuplicates = true}), 1);
    EXPECT_EQ(list.size(), 9);
}

TEST(PlaylistAdd, NestedPlaylistsAreBounded) {
    TempFolder folder;
    for (int i = 1; i <= 12; ++i) {
        const std::string n = std::to_string(i), next = std::to_string(i + 1);
        folder.write(std::string("p").append(n).append(".m3u"),
                     std::string("x").append(n).append(".mp3\np").append(next).append(".m3u\n"));
    }
    folder.write("self.pls",
                 "[playlist]\nFile1=self.pls\nFile2=a.mp3\nFile3=self.pls\nNumberOfEntries=3\n");
    folder.write("diamond.m3u", "leaf.m3u\nleaf.m3u\n");
    std::string fan;
    for (int i = 0; i < 300; ++i) fan += "leaf.m3u\n";
    folder.write("fan.m3u", fan);
    folder.write("leaf.m3u", "x.mp3\n");
    folder.write("sub/y.mp3", "");
    folder.write("folders.m3u", "/\nsub\nsub/y.mp3\n");

    RecordingHost host;
    struct Case {
        const char* file;
        int added;
    };
    const Case cases[] = {
        {"p1.m3u", 9},        // nine reads active at once, the tenth refused
        {"self.pls", 1},      // a list naming itself is not read again inside itself
        {"diamond.m3u", 2},   // the same list twice, one after the other
        {"fan.m3u", Playlist::kMaxReadsPerLoad - 1},  // one outer read opens at most this many
        {"missing.m3u", 0},
        {"folders.m3u", 1},   // folders named in a list are not walked ("/" would crawl the disk)
    };
    for (const Case& c : cases) {
        Playlist list(host);
        EXPECT_EQ(list.AddItem(folder.file(c.file)), c.added) << c.file;
        EXPECT_EQ(list.size(), c.added) << c.file;
    }
    Playlist chain(host);
    chain.AddItem(folder.file("p1.m3u"));
    EXPECT_EQ(chain.entry(8).file, folder.file("x9.mp3"));
}

TEST(PlaylistAdd, APlsReadInPlaceOfTheListBecomesTheExternalPlaylist) {
    TempFolder folder;
    const std::string pls = folder.write("mix.pls", "[playlist]\nFile1=a.mp3\nNumberOfEntries=1\n");
    const std::string m3u = folder.write("mix.m3u", "a.mp3\n");
    RecordingHost host;
    Playlist list(host);
    list.AddItem(pls);
    EXPECT_EQ(list.externalPlaylist(), "");
    list.AddItem(m3u, {.append = false});
    EXPECT_EQ(list.externalPlaylist(), "");
    list.AddItem(pls, {.append = false});
    EXPECT_EQ(list.externalPlaylist(), pls);
}

Playlist& fill(Playlist& list, const std::vector<std::string>& names) {
    for (const auto& n : names) list.AddItem("/m/" + n + ".mp3", {.allowDuplicates = true});
    return list;
}

TEST(PlaylistOrder, SortReverseAndShuffleKeepTheirIndicesOnTheirEntries) {
    RecordingHost host;
    Playlist list(host);
    fill(list, {"delta", "Alpha", "charlie", "bravo", "ALPHA", "echo"});
    list.setCurrentIndex(2);      // charlie
    list.setLastPlayedIndex(5);   // echo
    list.SortPlaylist();
    std::vector<std::string> shown;
    for (const auto& e : list.entries()) shown.push_back(e.display);
    EXPECT_EQ(shown, (std::vector<std::string>{"Alpha", "ALPHA", "bravo", "charlie", "delta", "echo"}));
    EXPECT_EQ(list.entry(list.currentIndex()).display, "charlie");
    EXPECT_EQ(list.entry(list.lastPlayedIndex()).display, "echo");

    list.ReversePlaylist();
    EXPECT_EQ(list.entry(0).display, "echo");
    EXPECT_EQ(list.entry(list.currentIndex()).display, "charlie");
    EXPECT_EQ(list.entry(list.lastPlayedIndex()).display, "echo");

    Playlist big(host);
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) names.push_back(std::string("t").append(std::to_string(i)));
    fill(big, names);
    big.setCurrentIndex(199);  // the last position: a generator past 15 bits would leave the list
    big.setLastPlayedIndex(0);
    const auto before = files(big);
    for (uint32_t seed : {1u, 2u, 0xFFFFFFFFu}) {
        big.seedShuffle(seed);
        big.ShufflePlaylist();
        EXPECT_EQ(big.entry(big.currentIndex()).display, "t199");
        EXPECT_EQ(big.entry(big.lastPlayedIndex()).display, "t0");
    }
    auto after = files(big);
    EXPECT_NE(after, before);
    std::sort(after.begin(), after.end());
    auto sorted = before;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(after, sorted);
}

TEST(PlaylistOrder, RandomNumbersStayInFifteenBits) {
    Random15 random(12345);
    int highest = 0;
    for (int i = 0; i < 100000; ++i) {
        const int r = random.next();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
        highest = std::max(highest, r);
        ASSERT_LT(random.below(7), 7);
    }
    EXPECT_GT(highest, 32000);
}

TEST(PlaylistOrder, ToggleShuffleBuildsAPlayOrderStartingWithThePlayingEntry) {
    RecordingHost host;
    Playlist list(host);
    fill(list, {"a", "b", "c", "d", "e", "f", "g", "h"});
    list.setTickSource([] { return 777u; });
    list.setCurrentIndex(3);
    host.playing = true;
    list.ToggleShuffle();
    EXPECT_TRUE(list.shuffle());
    std::vector<int> order = list.playOrder();
    ASSERT_EQ(order.size(), 8u);
    EXPECT_EQ(order[0], 3);
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(host.statuses.back(), "main/shuffleon");
    EXPECT_TRUE(host.playedFrom.empty());
    EXPECT_EQ(host.notes.back(), (std::vector<intptr_t>{0x8205, 64, 1}));
    for (int p = 0; p < 8; ++p) EXPECT_EQ(list.PositionOfEntry(list.EntryAtPosition(p)), p);

    fill(list, {"i"});  // a longer list gets a new order that holds the new entry
    EXPECT_EQ(list.PositionOfEntry(8) >= 0, true);
    EXPECT_EQ(list.playOrder().size(), 9u);

    host.playing = false;
    list.ToggleShuffle();
    EXPECT_EQ(host.statuses.back(), "main/shuffleoff");
    EXPECT_EQ(host.playedFrom, std::vector<int>{0});
    EXPECT_EQ(list.EntryAtPosition(4), 4);
    EXPECT_EQ(list.EntryAtPosition(9), -1);
}

TEST(PlaylistDisplay, TextsFromFileAuthorAndTitle) {
    struct Case {
        const char* file;
        const char* author;
        const char* title;
        bool titleOnly;
        const char* shown;
    };
    const Case cases[] = {
        {"/m/song.mp3", "", "", false, "song"},
        {"/m/song.mp3", "Band", "", false, "song - Band"},
        {"/m/song.mp3", "", "Tune", false, "song - Tune"},
        {"/m/song.mp3", "Band", "Tune", false, "song - Band - Tune"},
        {"/m/song.mp3", "", "", true, "song"},
        {"/m/song.mp3", "Band", "", true, "Band"},
        {"/m/song.mp3", "Band", "Tune", true, "Band - Tune"},
        {"http://radio.example/", "", "", false, "radio.example"},
    };
    RecordingHost host;
    for (const Case& c : cases) {
        Playlist list(host, {.showTitleOnly = c.titleOnly});
        const EntryInfo info{c.title, c.author, "", "", 10};
        list.AddItem(c.file, {.info = &info});
        EXPECT_EQ(list.entry(0).display, c.shown) << c.file << c.author << c.title;
    }

    Playlist list(host, {.underscore2Space = true});
    list.AddItem("/m/x.mp3");
    list.ApplyModuleInfo(0, {"My_Song", "", "info", "more", 0});
    EXPECT_EQ(list.entry(0).title, "My Song");
    EXPECT_EQ(list.entry(0).length, -1);  // 0 seconds is not a length
    EXPECT_TRUE(list.entry(0).infoReported);
    EXPECT_EQ(list.entry(0).display, "x - My Song");
    list.ApplyModuleInfo(0, {"T", "", "", "", 90});
    EXPECT_EQ(list.entry(0).length, 90);
}

TEST(PlaylistRemove, PlaybackMovesOnOrStops) {
    RecordingHost host;
    Playlist list(host);
    fill(list, {"a", "b", "c", "d", "e"});
    list.setCurrentIndex(3);
    list.RemoveEntry(1);
    EXPECT_EQ(list.entry(list.currentIndex()).display, "d");
    host.playing = true;
    list.RemoveEntry(list.currentIndex());  // d goes; e takes its place and plays
    EXPECT_EQ(list.entry(list.currentIndex()).display, "e");
    EXPECT_EQ(host.playedFrom, std::vector<int>{2});
    list.RemoveEntry(list.currentIndex());  // e was the last: stop
    EXPECT_EQ(host.stops, 1);

    Playlist range(host);
    fill(range, {"a", "b", "c", "d", "e", "f"});
    range.setCurrentIndex(5);
    range.setLastPlayedIndex(5);
    range.RemoveRange(3, 1);  // either order
    EXPECT_EQ(range.size(), 3);
    EXPECT_EQ(range.entry(range.currentIndex()).display, "f");
    EXPECT_EQ(range.entry(range.lastPlayedIndex()).display, "f");
    range.ClearPlaylist();
    EXPECT_EQ(range.size(), 0);
    EXPECT_EQ(range.currentIndex(), -1);
}

TEST(PlaylistSave, AFileReadsBackIdenticallyAndAFailedSaveKeepsTheOldOne) {
    TempFolder folder;
    folder.write("list/near.mp3", "");
    RecordingHost host;
    Playlist list(host);
    const EntryInfo info{"Ti\"tle\r\nFile1=/etc/passwd", "Au#thor", "Info", "Extra", 321};
    list.AddItem(folder.file("list/near.mp3"), {.info = &info});
    list.AddItem(folder.file("other/far \xff.ogg"));
    list.AddItem("http://radio.example/a?b=#c");
    const std::string path = folder.file("list/saved.pls");
    ASSERT_TRUE(list.SavePlaylistFile(path, true, true));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_NE(folder.read("list/saved.pls").find("File1=near.mp3\r\n"), std::string::npos);

    Playlist again(host);
    EXPECT_EQ(again.AddItem(path), 3);
    const auto a = list.entries(), b = again.entries();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].file, a[i].file);
        EXPECT_EQ(b[i].title, a[i].title);
        EXPECT_EQ(b[i].author, a[i].author);
        EXPECT_EQ(b[i].info, a[i].info);
        EXPECT_EQ(b[i].extraInfo, a[i].extraInfo);
        EXPECT_EQ(b[i].display, a[i].display);
        EXPECT_EQ(b[i].length, a[i].length == -1 ? 0 : a[i].length);  // missing length reads 0
    }

    // A bare name with a control character is written with '?' and, when asked, warned about.
    list.AddItem(folder.file("list/bell\a.mp3"));
    ASSERT_TRUE(list.SavePlaylistFile(path, true, false));
    EXPECT_TRUE(host.messages.empty());
    ASSERT_TRUE(list.SavePlaylistFile(path, true, true));
    EXPECT_EQ(host.messages, std::vector<std::string>{"errors/tessurawarning|errors/playlistwarning"});

    // A save that cannot be completed (here: the file size limit) leaves the old file whole.
    const std::string old = folder.read("list/saved.pls");
    for (int i = 0; i < 50; ++i) list.AddItem("http://radio.example/" + std::to_string(i));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = list.SavePlaylistFile(path, true, false);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(folder.read("list/saved.pls"), old);
    std::size_t leftovers = 0;
    for (const auto& f : std::filesystem::directory_iterator(folder.file("list"))) {
        leftovers += f.path().filename().string().rfind("saved.pls.", 0) == 0;
    }
    EXPECT_EQ(leftovers, 0u);
}

}  // namespace
}  // namespace tessura
