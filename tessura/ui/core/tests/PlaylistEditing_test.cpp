// The editor's model over a real playlist: selection, removing, moving, sorting and what each
// notification asks the view to redraw.
#include "PlaylistEditing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessura::ui {
namespace {

namespace msg = playlist_message;

struct Notice {
    uint32_t code;
    intptr_t wparam, lparam;
};

struct NoticeHost final : PlaylistHost {
    std::vector<Notice> notices;
    std::vector<int> played;
    bool playing = false;
    bool isPlaying() override { return playing; }
    void playFrom(int position) override { played.push_back(position); }
    void notifyEditor(uint32_t code, intptr_t wparam, intptr_t lparam) override {
        notices.push_back({code, wparam, lparam});
    }
};

struct Rig {
    explicit Rig(const std::vector<std::string>& files, int current = -1) {
        for (const std::string& f : files) list.AddItem("/music/" + f + ".mp3");
        list.setCurrentIndex(current);
        host.notices.clear();
    }
    // The names in list order, as the short names the cases use.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const PlaylistEntry& e : list.entries()) {
            std::string f = e.file.substr(e.file.rfind('/') + 1);
            out.push_back(f.substr(0, f.size() - 4));
        }
        return out;
    }
    // What the window does with the playlist's messages: hand them to the editor.
    void deliver(PlaylistEditing& editing) {
        for (const Notice& n : host.notices) editing.notify(n.code, n.wparam, n.lparam);
        host.notices.clear();
    }
    NoticeHost host;
    Playlist list{host, PlaylistOptions{true, false, false}};
};

enum class Op { Click, Shift, Ctrl, Cursor, CursorExtend, Remove, Move, SortName, SortTitle, Reverse, Clear, All };
struct Step {
    Op op;
    int arg = 0;
};

TEST(PlaylistEditing, SelectionAndEditsKeepTheListAndTheSelectionSane) {
    const std::vector<std::string> five{"a", "b", "c", "d", "e"};
    const struct {
        const char* what;
        std::vector<std::string> files;
        int current;
        std::vector<Step> steps;
        std::vector<std::string> order;
        std::vector<int> selected;
        int cursor;
        const char* currentFile;  // "" none
    } cases[] = {
        {"shift extends from the click; Delete selects the row that took their place", five, -1,
         {{Op::Click, 1}, {Op::Shift, 3}, {Op::Remove}}, {"a", "e"}, {1}, 1, ""},
        {"ctrl picks rows apart; removing them leaves the first gap's row", five, 4,
         {{Op::Click, 0}, {Op::Ctrl, 2}, {Op::Ctrl, 4}, {Op::Ctrl, 2}, {Op::Remove}}, {"b", "c", "d"}, {0}, 0, "d"},
        {"removing the last rows selects the new last row", five, 1,
         {{Op::Click, 3}, {Op::Shift, 4}, {Op::Remove}}, {"a", "b", "c"}, {2}, 2, "b"},
        {"a block moved up stays together, selected, and the current entry follows", five, 1,
         {{Op::Click, 2}, {Op::Shift, 3}, {Op::Move, -1}}, {"a", "c", "d", "b", "e"}, {1, 2}, 2, "b"},
        {"a block at the top does not move", five, -1,
         {{Op::Click, 0}, {Op::Shift, 1}, {Op::Move, -1}}, five, {0, 1}, 1, ""},
        {"rows apart move down each past its neighbour", five, -1,
         {{Op::Click, 1}, {Op::Ctrl, 3}, {Op::Move, 1}}, {"a", "c", "b", "e", "d"}, {2, 4}, 4, ""},
        {"a block at the bottom does not move down", five, -1,
         {{Op::Click, 4}, {Op::Move, 1}, {Op::Move, 1}}, five, {4}, 4, ""},
        {"sorted by file name without regard to case, the selection follows its entry",
         {"Zeta", "alpha", "Mid", "beta"}, 0, {{Op::Click, 0}, {Op::SortName}}, {"alpha", "beta", "Mid", "Zeta"}, {3}, 3,
         "Zeta"},
        {"reversed, the selection follows", five, 0, {{Op::Click, 1}, {Op::Ctrl, 2}, {Op::Reverse}},
         {"e", "d", "c", "b", "a"}, {2, 3}, 2, "a"},
        {"the keyboard extends from the anchor and a plain step starts again", five, -1,
         {{Op::Click, 1}, {Op::CursorExtend, 1}, {Op::CursorExtend, 1}}, five, {1, 2, 3}, 3, ""},
        {"a long step ends at the last row", five, -1, {{Op::Click, 1}, {Op::Cursor, 10}}, five, {4}, 4, ""},
        {"select all, remove all", five, 2, {{Op::All}, {Op::Remove}}, {}, {}, -1, ""},
        {"clear leaves nothing selected", five, 2, {{Op::Click, 3}, {Op::Clear}}, {}, {}, -1, ""},
        {"opened on the current entry", five, 3, {}, five, {3}, 3, "d"},
    };
    for (const auto& c : cases) {
        Rig rig(c.files, c.current);
        PlaylistEditing editing(rig.list, {});
        for (const Step& s : c.steps) {
            switch (s.op) {
                case Op::Click: editing.select(s.arg, SelectHow::Only); break;
                case Op::Shift: editing.select(s.arg, SelectHow::Range); break;
                case Op::Ctrl: editing.select(s.arg, SelectHow::Toggle); break;
                case Op::Cursor: editing.moveCursor(s.arg, false); break;
                case Op::CursorExtend: editing.moveCursor(s.arg, true); break;
                case Op::Remove: EXPECT_TRUE(editing.removeSelected().reset) << c.what; break;
                case Op::Move: editing.moveSelected(s.arg); break;
                case Op::SortName: editing.sort(SortKey::FileName); break;
                case Op::SortTitle: editing.sort(SortKey::Title); break;
                case Op::Reverse: editing.reverse(); break;
                case Op::Clear: editing.clear(); break;
                case Op::All: editing.selectAll(); break;
            }
            // The playlist's own messages come after; they must not undo the editor's choice.
            rig.deliver(editing);
        }
        EXPECT_EQ(rig.names(), c.order) << c.what;
        EXPECT_EQ(editing.rowCount(), rig.list.size()) << c.what;
        EXPECT_EQ(editing.selectedRows(), c.selected) << c.what;
        EXPECT_EQ(editing.cursor(), c.cursor) << c.what;
        const int current = rig.list.currentIndex();
        const std::string currentName = current < 0 ? "" : rig.names()[static_cast<std::size_t>(current)];
        EXPECT_EQ(currentName, c.currentFile) << c.what;
        for (int r = 0; r < editing.rowCount(); ++r) {
            EXPECT_EQ(editing.row(r).current, r == current) << c.what << " row " << r;
            EXPECT_EQ(editing.row(r).selected, editing.isSelected(r)) << c.what;
        }
    }
}

TEST(PlaylistEditing, SortByTitleGivesThePlaylistsOwnOrder) {
    const std::vector<std::string> files{"night Ferry", "Harbour", "dawn", "harbour", "Alps"};
    Rig mine(files, 2), theirs(files, 2);
    PlaylistEditing editing(mine.list, {});
    editing.sort(SortKey::Title);
    theirs.list.SortPlaylist();
    EXPECT_EQ(mine.names(), theirs.names());
    EXPECT_EQ(mine.list.currentIndex(), theirs.list.currentIndex());
    // The selected entry (the current one, "dawn") is still the selected one.
    ASSERT_EQ(editing.selectedRows().size(), 1u);
    EXPECT_EQ(mine.names()[static_cast<std::size_t>(editing.selectedRows()[0])], "dawn");

    // An order that is not every entry once changes nothing.
    const std::vector<std::string> sorted = mine.names();
    for (const std::vector<int>& bad : {std::vector<int>{0, 0, 1, 2, 3}, std::vector<int>{0, 1, 2, 3},
                                        std::vector<int>{0, 1, 2, 3, 5}, std::vector<int>{-1, 1, 2, 3, 4}}) {
        mine.list.ReorderPlaylist(bad);
        EXPECT_EQ(mine.names(), sorted);
    }
}

TEST(PlaylistEditing, PlayingARowAsksForItsPlaceInThePlayOrder) {
    const struct {
        bool shuffle;
        int row;
        bool played;
    } cases[] = {{false, 2, true}, {true, 2, true}, {true, 0, true}, {false, 7, false}, {false, -1, false}};
    for (const auto& c : cases) {
        Rig rig({"a", "b", "c", "d"});
        rig.list.setTickSource([] { return 12345u; });
        if (c.shuffle) rig.list.ToggleShuffle();
        std::vector<int> asked;
        PlaylistEditing editing(rig.list, [&](int position) { asked.push_back(position); });
        EXPECT_EQ(editing.play(c.row), c.played);
        if (!c.played) {
            EXPECT_TRUE(asked.empty());
            continue;
        }
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(rig.list.EntryAtPosition(asked[0]), c.row) << "shuffle " << c.shuffle;
        EXPECT_EQ(editing.selectedRows(), std::vector<int>{c.row});
    }
}

TEST(PlaylistEditing, EachNotificationRedrawsOnlyWhatItMust) {
    const struct {
        const char* what;
        int newCurrent;   // set before the message (-2: unchanged)
        bool addFirst;    // an entry added before the message arrives
        uint32_t code;
        intptr_t wparam, lparam;
        EditorUpdate expected;
    } cases[] = {
        {"one entry's information: its row and the summary", -2, false, msg::kEntriesChanged, 2, 2, {false, 2, 2, true}},
        {"the whole list", -2, false, msg::kEntriesChanged, -1, -1, {true, -1, -1, true}},
        {"a row message after the list grew rebuilds", -2, true, msg::kEntriesChanged, 3, 3, {true, -1, -1, true}},
        {"refresh: every row, not rebuilt", -2, false, msg::kRefresh, -1, -1, {false, 0, 3, true}},
        {"playing elsewhere: the old and new current rows", 3, false, msg::kStateChanged, msg::kStatePlaying, 1,
         {false, 1, 3, false}},
        {"stopped on the same entry: nothing", -2, false, msg::kStateChanged, msg::kStateStopped, 0, {}},
        {"repeat: the summary", -2, false, msg::kStateChanged, msg::kStateRepeat, 2, {false, -1, -1, true}},
        {"shuffle: the summary", -2, false, msg::kStateChanged, msg::kStateShuffle, 1, {false, -1, -1, true}},
        {"volume: nothing", -2, false, msg::kStateChanged, msg::kStateVolume, 30000, {}},
        {"another code: nothing", -2, false, 0x8217, 0, 0, {}},
    };
    for (const auto& c : cases) {
        Rig rig({"a", "b", "c", "d"}, 1);
        PlaylistEditing editing(rig.list, {});
        if (c.newCurrent != -2) rig.list.setCurrentIndex(c.newCurrent);
        if (c.addFirst) rig.list.AddItem("/music/e.mp3");
        const EditorUpdate u = editing.notify(c.code, c.wparam, c.lparam);
        EXPECT_EQ(u.reset, c.expected.reset) << c.what;
        EXPECT_EQ(u.first, c.expected.first) << c.what;
        EXPECT_EQ(u.last, c.expected.last) << c.what;
        EXPECT_EQ(u.status, c.expected.status) << c.what;
        EXPECT_EQ(editing.rowCount(), rig.list.size()) << c.what;
    }
}

TEST(PlaylistEditing, RowsShowNumberTextAndKnownLength) {
    const struct {
        int seconds;
        const char* text;
    } lengths[] = {{-1, ""}, {0, "0:00"}, {59, "0:59"}, {61, "1:01"}, {3599, "59:59"}, {3600, "1:00:00"}, {3725, "1:02:05"}};
    for (const auto& l : lengths) EXPECT_EQ(EntryLengthText(l.seconds), l.text) << l.seconds;

    Rig rig({"a", "b"});
    EntryInfo info;
    info.title = "Night ferry";
    info.length = 185;
    rig.list.ApplyModuleInfo(1, info);
    PlaylistEditing editing(rig.list, {});
    const EditorRow r = editing.row(1);
    EXPECT_EQ(r.number, 2);
    EXPECT_NE(r.text.find("Night ferry"), std::string::npos);
    EXPECT_EQ(r.length, "3:05");
    EXPECT_EQ(editing.row(0).length, "");
    EXPECT_EQ(editing.totalSeconds(), 185);
    EXPECT_TRUE(editing.someLengthUnknown());
}

}  // namespace
}  // namespace tessura::ui
