#include "LibraryCheck.h"
#include "LibraryModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <limits>
#include <sstream>

#include "CommandLine.h"
#include "M3u.h"
#include "RiffTestFile.h"
#include "TempFolder.h"

namespace veloraplay {
namespace {

using test::TempFolder;

struct FakeHost final : LibraryHost {
    Playlist list{[] { return 1u; }};
    std::vector<std::string> payloads;
    std::vector<int> commands;
    Playlist& folderList() override { return list; }
    void handToPlayer(const std::string& payload) override { payloads.push_back(payload); }
    void playerCommand(int id) override { commands.push_back(id); }
    void runEncoder(const std::string&) override {}
    bool playbackRunning() const override { return false; }
    void clearItemNumber() override {}
    void openHelp(const std::string&) override {}
};

// The WAVE check by name, so the model's rules are seen without files.
LibraryModel byName() {
    return LibraryModel([](const std::string& p) { return p.size() > 4 && p.substr(p.size() - 4) == ".wav"; });
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> texts(const std::vector<LibraryNode>& nodes) {
    std::vector<std::string> out;
    for (const LibraryNode& n : nodes) out.push_back(n.text);
    return out;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(LibraryModel, NothingStoredGivesMyFavouriteTunes) {
    TempFolder tmp;
    SettingsStore settings(tmp / "s.ini");
    LibraryModel model = byName();
    model.load(settings);
    ASSERT_EQ(model.roots().size(), 1u);
    EXPECT_TRUE(model.roots()[0].folder);
    EXPECT_EQ(model.roots()[0].text, "My Favourite Tunes");
    EXPECT_TRUE(model.roots()[0].children.empty());
}

TEST(LibraryModel, RestartKeepsFoldersWithFilesOnly) {
    TempFolder tmp;
    {
        SettingsStore settings(tmp / "s.ini");
        LibraryModel model = byName();
        model.load(settings);
        const NodeId tunes = model.roots()[0].id;
        model.addFiles({"/m/a.mp3", "/m/b.wav"}, tunes);
        model.createFolder();                 // stays empty
        model.addFiles({"/m/top.mp3"}, kNoNode);  // top level
        ASSERT_EQ(model.roots().size(), 3u);
        model.save(settings);
        ASSERT_TRUE(settings.save());
    }
    const std::string file = readAll(tmp / "s.ini");
    EXPECT_NE(file.find("[Playlist Manager/Folder 000]"), std::string::npos) << file;
    EXPECT_EQ(file.find("Folder 001"), std::string::npos) << file;
    EXPECT_EQ(file.find("top.mp3"), std::string::npos) << file;

    SettingsStore settings(tmp / "s.ini");
    ASSERT_TRUE(settings.load());
    EXPECT_EQ(settings.getInt("Playlist Manager", "Folders", -1), 1);
    EXPECT_EQ(settings.getInt("Playlist Manager/Folder 000", "Folder Items", -1), 2);
    EXPECT_EQ(settings.getString("Playlist Manager/Folder 000", "Item 001", ""), "/m/b.wav");
    LibraryModel again = byName();
    again.load(settings);
    ASSERT_EQ(again.roots().size(), 1u);
    EXPECT_EQ(again.roots()[0].text, "My Favourite Tunes");
    EXPECT_EQ(texts(again.roots()[0].children), (std::vector<std::string>{"/m/a.mp3", "/m/b.wav"}));
    EXPECT_FALSE(again.roots()[0].children[0].wave);
    EXPECT_TRUE(again.roots()[0].children[1].wave);
}

TEST(LibraryModel, EmptiedLibraryComesBackAsMyFavouriteTunes) {
    TempFolder tmp;
    SettingsStore settings(tmp / "s.ini");
    settings.setInt("Playlist Manager", "Folders", 1);
    settings.setInt("Playlist Manager/Folder 000", "Folder Items", 1);
    settings.setString("Playlist Manager/Folder 000", "Folder Name", "Old");
    settings.setString("Playlist Manager/Folder 000", "Item 000", "/x.mp3");
    LibraryModel model = byName();
    model.load(settings);
    ASSERT_EQ(texts(model.roots()), std::vector<std::string>{"Old"});
    model.remove(model.roots()[0].children[0].id);
    model.save(settings);
    EXPECT_EQ(settings.getInt("Playlist Manager", "Folders", -1), 0);
    // Values beyond the new count stay where they were.
    EXPECT_EQ(settings.getString("Playlist Manager/Folder 000", "Item 000", ""), "/x.mp3");
    LibraryModel again = byName();
    again.load(settings);
    EXPECT_EQ(texts(again.roots()), std::vector<std::string>{"My Favourite Tunes"});
}

TEST(LibraryModel, DamagedCountsAreCapped) {
    TempFolder tmp;
    SettingsStore settings(tmp / "s.ini");
    settings.setInt("Playlist Manager", "Folders", std::numeric_limits<int32_t>::max());
    settings.setInt("Playlist Manager/Folder 000", "Folder Items", std::numeric_limits<int32_t>::max());
    settings.setString("Playlist Manager/Folder 000", "Folder Name", "F");
    settings.setString("Playlist Manager/Folder 000", "Item 000", "/a.mp3");
    settings.setString("Playlist Manager/Folder 000", "Item 001", "/b.mp3");
    settings.setInt("Playlist Manager/Folder 001", "Folder Items", -5);
    const auto stored = readStoredLibrary(settings);
    EXPECT_EQ(stored.size(), static_cast<std::size_t>(kMaxLibraryFolders));
    EXPECT_EQ(stored[0].items, (std::vector<std::string>{"/a.mp3", "/b.mp3"}));
    EXPECT_TRUE(stored[1].items.empty());
    LibraryModel model = byName();
    model.load(settings);
    EXPECT_EQ(texts(model.roots()), std::vector<std::string>{"F"});
}

TEST(LibraryModel, PlaylistEntries) {
    struct Row {
        std::string entry, expected;
    } rows[] = {
        {"sub/song.mp3", "/lists/sub/song.mp3"},
        {"sub\\song.mp3", "/lists/sub/song.mp3"},
        {"C:\\music\\x.mp3", "C:\\music\\x.mp3"},
        {"\\\\server\\share\\x.mp3", "\\\\server\\share\\x.mp3"},
        {"/abs/x.mp3", "/abs/x.mp3"},
        {"http://host/x.mp3", "http://host/x.mp3"},
    };
    for (const Row& r : rows) EXPECT_EQ(libraryEntryPath(r.entry, "/lists/a.m3u"), r.expected) << r.entry;
    EXPECT_EQ(libraryEntryPath("x.mp3", "a.m3u"), "x.mp3");

    TempFolder tmp;
    writeText(tmp / "a.m3u", "##ListName: Mix\r\nsub\\one.mp3\r\n/abs/two.mp3\r\nD:\\three.mp3\r\n");
    writeText(tmp / "b.m3u", "x.mp3\n");
    LibraryModel model = byName();
    const auto added = model.addFiles({tmp / "a.m3u", tmp / "b.m3u"}, kNoNode);
    ASSERT_EQ(added.size(), 2u);
    ASSERT_EQ(model.roots().size(), 2u);
    EXPECT_EQ(model.roots()[0].text, "Mix");
    EXPECT_EQ(texts(model.roots()[0].children),
              (std::vector<std::string>{tmp.path() + "/sub/one.mp3", "/abs/two.mp3", "D:\\three.mp3"}));
    EXPECT_EQ(model.roots()[1].text, tmp / "b.m3u");  // no list name: the playlist's path
    // The player keeps the same entry relative.
    EXPECT_EQ(expandArguments({tmp / "a.m3u"}).front(), "sub\\one.mp3");
}

TEST(LibraryModel, PlainFilesGoToTheSelectedFolder) {
    LibraryModel model = byName();
    const NodeId f = model.createFolder();
    const NodeId a = model.addFiles({"/a.mp3"}, f).front();
    const NodeId b = model.addFiles({"/b.mp3"}, a).front();  // a file selected: its folder
    EXPECT_EQ(model.parentOf(a), f);
    EXPECT_EQ(model.parentOf(b), f);
    const NodeId c = model.addFiles({"/c.mp3"}, kNoNode).front();
    EXPECT_EQ(model.parentOf(c), kNoNode);
    EXPECT_EQ(model.roots().back().id, c);
    const NodeId h = model.addHandedFile("/enc/out.wav", b);
    EXPECT_EQ(model.parentOf(h), f);
    EXPECT_FALSE(model.isWaveFile(h));  // image 2, as handed
}

// The tree as "folder[child,child] file" for the drag-and-drop table.
std::string shape(const LibraryModel& m) {
    std::string s;
    for (const LibraryNode& r : m.roots()) {
        if (!s.empty()) s += ' ';
        s += r.text;
        if (r.folder) {
            s += '[';
            for (std::size_t i = 0; i < r.children.size(); ++i) s += (i ? "," : "") + r.children[i].text;
            s += ']';
        }
    }
    return s;
}

TEST(LibraryModel, DragAndDropRules) {
    struct Row {
        const char* what;
        std::string dragged, target;
        bool ctrl;
        DropResult result;
        std::string after;
    } rows[] = {
        {"on nothing", "a", "", false, DropResult::Beep, "F[a,b] G[c] t"},
        {"on itself", "a", "a", false, DropResult::Beep, "F[a,b] G[c] t"},
        {"file on folder", "a", "G", false, DropResult::MovedInto, "F[b] G[c,a] t"},
        {"file on file", "b", "a", false, DropResult::MovedBefore, "F[b,a] G[c] t"},
        {"file on file elsewhere", "c", "b", false, DropResult::MovedBefore, "F[a,c,b] G[] t"},
        {"ctrl swaps", "a", "c", true, DropResult::Swapped, "F[c,b] G[a] t"},
        {"ctrl swaps with top level", "t", "b", true, DropResult::Swapped, "F[a,t] G[c] b"},
        {"top-level file before file", "t", "a", false, DropResult::MovedBefore, "F[t,a,b] G[c]"},
        {"file before top-level file", "a", "t", false, DropResult::MovedBefore, "F[b] G[c] a t"},
        {"folder on folder", "F", "G", false, DropResult::Merged, "G[c,a,b] t"},
        {"folder on file", "F", "c", false, DropResult::Beep, "F[a,b] G[c] t"},
    };
    for (const Row& r : rows) {
        LibraryModel m = byName();
        const NodeId F = m.createFolder();
        m.rename(F, "F");
        const NodeId G = m.createFolder();
        m.rename(G, "G");
        std::map<std::string, NodeId> ids{{"F", F}, {"G", G}, {"", kNoNode}};
        ids["a"] = m.addFiles({"a"}, F).front();
        ids["b"] = m.addFiles({"b"}, F).front();
        ids["c"] = m.addFiles({"c"}, G).front();
        ids["t"] = m.addFiles({"t"}, kNoNode).front();
        EXPECT_EQ(m.drop(ids[r.dragged], ids[r.target], r.ctrl), r.result) << r.what;
        EXPECT_EQ(shape(m), r.after) << r.what;
    }
}

TEST(LibraryModel, MovedPlayingItemKeepsItsMark) {
    LibraryModel m = byName();
    FakeHost host;
    const NodeId F = m.createFolder();
    const NodeId G = m.createFolder();
    const NodeId a = m.addFiles({"a"}, F).front();
    m.addFiles({"b"}, F);
    m.playFolder(F, false, host);
    EXPECT_EQ(m.markItemNumber(1), a);
    m.drop(F, G, false);
    EXPECT_TRUE(m.isPlaying(a));
    EXPECT_EQ(m.markItemNumber(2), m.roots()[0].children[1].id);
    EXPECT_EQ(m.markItemNumber(0), kNoNode);
    EXPECT_EQ(m.markItemNumber(3), kNoNode);
}

TEST(LibraryModel, PlayAllHandsOverAnEmptyPayload) {
    LibraryModel m = byName();
    FakeHost host;
    host.list.setRepeat(Playlist::kStopAtEnds);
    host.list.setShuffle(true);
    const NodeId F = m.createFolder();
    m.rename(F, "Mix");
    m.addFiles({"/a.mp3", "/b b.mp3", "/c.mp3"}, F);
    ASSERT_TRUE(m.playFolder(F, false, host));
    EXPECT_EQ(host.payloads, std::vector<std::string>{""});
    EXPECT_EQ(host.list.items(), (std::vector<std::string>{"/a.mp3", "/b b.mp3", "/c.mp3"}));
    EXPECT_EQ(host.list.name(), "Mix");
    EXPECT_EQ(host.list.repeat(), Playlist::kWrap);
    EXPECT_FALSE(host.list.shuffle());
    EXPECT_EQ(host.list.position(), 1);
    EXPECT_EQ(m.playingFolder(), F);
    // What the player does with it: move to the end and Next wraps to the first item.
    host.list.moveToEnd();
    ASSERT_TRUE(host.list.next());
    EXPECT_EQ(host.list.currentItem(), "/a.mp3");
}

TEST(LibraryModel, PlayShuffledReshufflesAtTheHandOver) {
    LibraryModel m = byName();
    FakeHost host;
    const NodeId F = m.createFolder();
    m.addFiles({"1", "2", "3", "4"}, F);
    ASSERT_TRUE(m.playFolder(F, true, host));
    EXPECT_TRUE(host.list.shuffle());
    EXPECT_EQ(host.list.repeat(), Playlist::kWrap);
    EXPECT_EQ(host.payloads, std::vector<std::string>{""});
    host.list.moveToEnd();
    std::set<std::string> heard;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(host.list.next());
        heard.insert(host.list.currentItem());
    }
    EXPECT_EQ(heard.size(), 4u);
}

TEST(LibraryModel, OneItemFolderIsSentAsAQuotedPath) {
    LibraryModel m = byName();
    FakeHost host;
    const NodeId F = m.createFolder();
    m.addFiles({"/my music/one.mp3"}, F);
    ASSERT_TRUE(m.playFolder(F, false, host));
    ASSERT_EQ(host.payloads.size(), 1u);
    EXPECT_EQ(host.payloads[0], joinArguments({"/my music/one.mp3"}));
    EXPECT_EQ(splitArguments(host.payloads[0]), std::vector<std::string>{"/my music/one.mp3"});
    EXPECT_FALSE(m.playFolder(m.createFolder(), false, host));  // nothing to play
    EXPECT_EQ(host.payloads.size(), 1u);
    const NodeId file = m.roots()[0].children[0].id;
    EXPECT_TRUE(m.playNow(file, host));
    EXPECT_EQ(host.payloads.back(), joinArguments({"/my music/one.mp3"}));
}

TEST(LibraryModel, ExportLeavesWaveFilesOut) {
    TempFolder tmp;
    const std::string wav = tmp / "one.wav";
    velora::testing::WriteFile(wav, velora::testing::RiffWave(
                                        {velora::testing::FormatChunk(1, 2, 44100, 16),
                                         velora::testing::Chunk("data", velora::testing::SamplesBody({0, 0}))}));
    writeText(tmp / "two.mp3", "x");
    writeText(tmp / "three.vel", "RIFFxxxxWAVEjunk");
    LibraryModel m;  // the real WAVE check
    const NodeId F = m.createFolder();
    m.rename(F, "Set");
    m.addFiles({wav, tmp / "two.mp3", tmp / "three.vel"}, F);
    EXPECT_TRUE(m.isWaveFile(m.roots()[0].children[0].id));
    EXPECT_FALSE(m.isWaveFile(m.roots()[0].children[2].id));
    ASSERT_TRUE(m.savePlaylist(F, tmp / "out.m3u"));
    EXPECT_EQ(readAll(tmp / "out.m3u"),
              "##ListName: Set\r\n" + tmp / "two.mp3" + "\r\n" + tmp / "three.vel" + "\r\n");
    ASSERT_TRUE(m.saveHtml(F, tmp / "out.htm"));
    const std::string html = readAll(tmp / "out.htm");
    EXPECT_EQ(html.find("one.wav"), std::string::npos);
    EXPECT_NE(html.find("0) " + tmp / "two.mp3"), std::string::npos) << html;
    EXPECT_NE(html.find("1) " + tmp / "three.vel"), std::string::npos) << html;
    EXPECT_FALSE(m.savePlaylist(F, tmp.path()));  // a folder is there
}

TEST(LibraryModel, FilesFromThePlayerAreNotDoubled) {
    LibraryModel m = byName();
    const NodeId F = m.createFolder();
    const NodeId inFolder = m.addFiles({"/Music/A.mp3"}, F).front();
    const NodeId top = m.addFromPlayer("/Music/A.mp3");  // only top-level files count
    EXPECT_NE(top, inFolder);
    EXPECT_EQ(m.parentOf(top), kNoNode);
    EXPECT_EQ(m.addFromPlayer("/music/a.MP3"), top);
    EXPECT_EQ(m.roots().size(), 2u);
    EXPECT_TRUE(m.isPlaying(top));
    EXPECT_FALSE(m.isPlaying(inFolder));
}

TEST(LibraryModel, HighlightColour) {
    struct Row {
        Rgb background, expected;
    } rows[] = {
        {{255, 255, 255}, {0, 0, 255}},
        {{160, 160, 160}, {0, 0, 255}},
        {{159, 160, 160}, {0, 0, 95}},
        {{0, 0, 0}, {255, 255, 255}},
        {{15, 34, 51}, {255, 255, 204}},
        {{200, 100, 60}, {0, 255, 195}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(highlightColour(r.background), r.expected)
            << r.background.r << "," << r.background.g << "," << r.background.b;
}

std::vector<int> ids(const std::vector<MenuEntry>& menu) {
    std::vector<int> out;
    for (const MenuEntry& e : menu) out.push_back(e.separator() ? 0 : (e.submenu.empty() ? e.id : -1));
    return out;
}

TEST(LibraryModel, ContextMenu) {
    LibraryModel m = byName();
    const NodeId full = m.createFolder();
    const NodeId empty = m.createFolder();
    const NodeId wav = m.addFiles({"/x.wav"}, full).front();
    const NodeId mp3 = m.addFiles({"/x.mp3"}, full).front();
    const std::vector<int> tail = {68, 0, 69, 71, 72, 0};
    const std::vector<int> rest = {70, 78, -1, 82, 0, 80, 16, 0, 79};
    auto join = [&](std::vector<int> head, bool encoder) {
        head.insert(head.end(), tail.begin(), tail.end());
        if (encoder) head.push_back(67);
        head.insert(head.end(), rest.begin(), rest.end());
        return head;
    };
    EXPECT_EQ(ids(m.contextMenu(full, false)), join({76, 77, 0, 81, 73, 74, 75}, true));
    EXPECT_EQ(ids(m.contextMenu(empty, false)), join({73}, true));
    EXPECT_EQ(ids(m.contextMenu(wav, false)), join({67, 66}, false));
    EXPECT_EQ(ids(m.contextMenu(mp3, false)), join({66}, true));
    const auto menu = m.contextMenu(wav, true, 1);
    EXPECT_EQ(menu[0].text, "Convert to Velora");
    const auto lock = std::find_if(menu.begin(), menu.end(), [](const MenuEntry& e) { return e.id == 72; });
    EXPECT_EQ(lock->text, "Lock File Info Editing");
    EXPECT_TRUE(lock->checked);
    const auto skins = std::find_if(menu.begin(), menu.end(), [](const MenuEntry& e) { return !e.submenu.empty(); });
    EXPECT_EQ(skins->text, "Player Skin Appearance");
    EXPECT_FALSE(skins->submenu[0].checked);
    EXPECT_TRUE(skins->submenu[1].checked);
    EXPECT_EQ(menu.back().text, "&Quit Velora Audio Player");
    EXPECT_FALSE(m.contextMenu(kNoNode, false)[0].enabled);  // Delete, with nothing selected
}

TEST(LibraryModel, PassedOnCommands) {
    EXPECT_EQ(playerCommandFor(16), cmd::kAbout);
    EXPECT_EQ(playerCommandFor(100), cmd::kSkinOceanic);
    EXPECT_EQ(playerCommandFor(101), cmd::kSkinBrushedMetal);
    EXPECT_EQ(playerCommandFor(80), cmd::kMinimize);
    EXPECT_EQ(playerCommandFor(79), cmd::kSystemClose);
    EXPECT_EQ(playerCommandFor(78), cmd::kVolumeMenu);
    EXPECT_EQ(playerCommandFor(70), cmd::kConversionDirectory);
    EXPECT_EQ(playerCommandFor(76), 0);
}

TEST(LibraryModel, SortRenameDelete) {
    LibraryModel m = byName();
    const NodeId F = m.createFolder();
    EXPECT_EQ(m.find(F)->text, "New Folder");
    m.addFiles({"b", "C", "a", "B"}, F);
    ASSERT_TRUE(m.sortFolder(F));
    EXPECT_EQ(texts(m.find(F)->children), (std::vector<std::string>{"a", "b", "B", "C"}));
    EXPECT_TRUE(m.rename(F, "Renamed"));
    EXPECT_FALSE(m.rename(m.find(F)->children[0].id, "x"));
    EXPECT_TRUE(m.remove(F));
    EXPECT_TRUE(m.roots().empty());
    EXPECT_FALSE(m.remove(F));
}

TEST(LibraryModel, WindowState) {
    TempFolder tmp;
    SettingsStore settings(tmp / "s.ini");
    EXPECT_FALSE(readLibraryWindowState(settings).hasRect);
    EXPECT_FALSE(readLibraryWindowState(settings).locked);
    writeLibraryWindowState(settings, {true, 10, 20, 410, 420, true});
    auto s = readLibraryWindowState(settings);
    EXPECT_TRUE(s.hasRect);
    EXPECT_EQ(s.right, 410);
    EXPECT_TRUE(s.locked);
    writeLibraryWindowState(settings, {false, 0, 0, 0, 0, false});  // maximised: rectangle kept
    s = readLibraryWindowState(settings);
    EXPECT_EQ(s.left, 10);
    EXPECT_FALSE(s.locked);
}

TEST(LibraryModel, OpensBesideThePlayer) {
    const ScreenRect screen{0, 0, 1920, 1080};
    struct Case {
        const char* what;
        ScreenRect player;
        ScreenRect expected;
    } cases[] = {
        {"room on the right", {100, 200, 300, 120}, {408, 200, 460, 520}},
        {"no room on the right: left of it", {1500, 200, 300, 120}, {1032, 200, 460, 520}},
        {"low player: moved up to stay on screen", {100, 900, 300, 120}, {408, 560, 460, 520}},
        {"room on neither side: the wider side, kept on screen", {400, 0, 1200, 120}, {0, 0, 460, 520}},
        {"wider on the right", {100, 0, 1400, 120}, {1460, 0, 460, 520}},
    };
    for (const Case& c : cases) EXPECT_EQ(libraryBesidePlayer(c.player, 460, 520, screen), c.expected) << c.what;
    // A work area that does not start at the origin (a panel on the left, a second screen).
    EXPECT_EQ(libraryBesidePlayer({1930, 40, 300, 120}, 460, 520, {1920, 30, 1280, 1024}),
              (ScreenRect{2238, 40, 460, 520}));
}

TEST(LibraryCheck, ChecksEveryEntryButMp3Once) {
    TempFolder tmp;
    SettingsStore settings(tmp / "s.ini");
    settings.setInt("Playlist Manager", "Folders", 2);
    settings.setInt("Playlist Manager/Folder 000", "Folder Items", 2);
    settings.setString("Playlist Manager/Folder 000", "Item 000", "/a.MP3");
    settings.setString("Playlist Manager/Folder 000", "Item 001", "/b.wav");
    settings.setInt("Playlist Manager/Folder 001", "Folder Items", 1);
    settings.setString("Playlist Manager/Folder 001", "Item 000", "/c.vel");
    EXPECT_EQ(libraryCheckPaths(settings), (std::vector<std::string>{"/b.wav", "/c.vel"}));
    std::mutex lock;
    std::vector<std::string> seen;
    LibraryCheck check(settings, [&](const std::string& p) {
        std::lock_guard<std::mutex> g(lock);
        seen.push_back(p);
        return false;
    });
    check.join();
    EXPECT_TRUE(check.finished());
    EXPECT_EQ(seen, (std::vector<std::string>{"/b.wav", "/c.vel"}));
    std::thread plain = startLibraryCheck(settings);
    plain.join();
}

}  // namespace
}  // namespace veloraplay
