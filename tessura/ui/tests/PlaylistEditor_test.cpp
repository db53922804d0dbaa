// The playlist editor and the jump dialog as the user meets them: opened from the main window,
// driven by mouse and keys, their pictures saved to /tmp/tessura-grabs/ to look at.
#include "JumpDialog.h"
#include "MainWindow.h"
#include "PlaylistEditor.h"

#include "RecordingPlayer.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tessura::ui {
namespace {

using test::RecordingPlayer;

struct EditorFixture {
    explicit EditorFixture(const std::string& skin = TESSURA_DEFAULT_SKIN) {
        std::filesystem::create_directories(folder);
        for (const char* name : {"harbour lights", "night ferry", "morning tide", "the long road", "evening"})
            player.list.AddItem(std::string("/music/") + name + ".mp3");
        preferences.openWithSplash = false;
        preferences.windowState = 1;
        WindowSetup setup{player, preferences, {}, nullptr, {}, {}};
        setup.loadSkin = [this, skin] {
            return LoadSkin({settings, SkinSources{skin, TESSURA_DEFAULT_SKIN, ""}, texts, dialogs});
        };
        setup.filesDialog = [this](bool add) { player.calls.push_back(add ? "add dialog" : "open dialog"); };
        window = std::make_unique<MainWindow>(std::move(setup));
        window->start();
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const PlaylistEntry& e : player.list.entries()) out.push_back(e.file.substr(e.file.rfind('/') + 1));
        return out;
    }
    std::string folder = std::filesystem::temp_directory_path().string() + "/tessura-editor-test";
    SettingsStore settings{folder + "/settings.ini", folder};
    LanguageStore texts;
    ScriptedDialogService dialogs;
    RecordingPlayer player;
    Preferences preferences;
    std::unique_ptr<MainWindow> window;
};

void clickRow(PlaylistEditor& editor, int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mouseClick(editor.table()->viewport(), Qt::LeftButton, mods, editor.rowRect(row).center());
}

QString cell(PlaylistEditor& editor, int row, int column) {
    QAbstractItemModel* model = editor.table()->model();
    return model->data(model->index(row, column)).toString();
}

TEST(PlaylistEditor, RemovesMovesAndPlaysWhatTheUserPicks) {
    EditorFixture f;
    MainWindow& w = *f.window;
    ASSERT_EQ(w.editor(), nullptr);
    QTest::keyClick(&w, Qt::Key_W);  // the editor's key
    ASSERT_NE(w.editor(), nullptr);
    PlaylistEditor& editor = *w.editor();
    EXPECT_TRUE(editor.isVisible());
    ASSERT_EQ(editor.table()->model()->rowCount(), 5);
    EXPECT_EQ(cell(editor, 3, 0), "4");

    // Two rows with a click and a Shift+click; Delete removes both.
    clickRow(editor, 1);
    clickRow(editor, 2, Qt::ShiftModifier);
    EXPECT_EQ(editor.editing().selectedRows(), (std::vector<int>{1, 2}));
    QTest::keyClick(editor.table(), Qt::Key_Delete);
    EXPECT_EQ(f.files(), (std::vector<std::string>{"harbour lights.mp3", "the long road.mp3", "evening.mp3"}));
    EXPECT_EQ(editor.table()->model()->rowCount(), 3);
    EXPECT_EQ(editor.editing().selectedRows(), std::vector<int>{1});

    // Ctrl+Down takes the selected row one place down, and it stays selected.
    QTest::keyClick(editor.table(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(f.files(), (std::vector<std::string>{"harbour lights.mp3", "evening.mp3", "the long road.mp3"}));
    EXPECT_EQ(editor.editing().selectedRows(), std::vector<int>{2});
    // Ctrl+click adds a row apart; Ctrl+Up moves both.
    clickRow(editor, 1);
    QTest::keyClick(editor.table(), Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(f.files(), (std::vector<std::string>{"evening.mp3", "harbour lights.mp3", "the long road.mp3"}));

    // A double click plays the row's place in the play order; Enter plays the cursor's row.
    f.player.calls.clear();
    QTest::mouseDClick(editor.table()->viewport(), Qt::LeftButton, Qt::NoModifier, editor.rowRect(2).center());
    ASSERT_FALSE(f.player.calls.empty());
    EXPECT_EQ(f.player.calls.back(), "playPosition 2");
    QTest::keyClick(editor.table(), Qt::Key_Up);
    QTest::keyClick(editor.table(), Qt::Key_Return);
    EXPECT_EQ(f.player.calls.back(), "playPosition 1");

    // The main window's D removes the editor's selection.
    QTest::keyClick(&w, Qt::Key_D);
    EXPECT_EQ(f.files(), (std::vector<std::string>{"evening.mp3", "the long road.mp3"}));

    // The Add files button opens the main window's dialog.
    f.player.calls.clear();
    for (QPushButton* b : editor.findChildren<QPushButton*>())
        if (b->text() == "<playlist/add>") b->click();
    EXPECT_EQ(f.player.calls, std::vector<std::string>{"add dialog"});

    // Esc closes the editor; the key opens it again on the same list.
    QTest::keyClick(editor.table(), Qt::Key_Escape);
    EXPECT_FALSE(editor.isVisible());
    QTest::keyClick(&w, Qt::Key_W);
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(editor.table()->model()->rowCount(), 2);
}

TEST(PlaylistEditor, FollowsThePlaylistsMessagesAndTakesDroppedFiles) {
    EditorFixture f;
    MainWindow& w = *f.window;
    // A double click on the navigator's list page opens the editor.
    w.modes().request(2, 0);
    const QRect list = w.face().bounds("/rgn/nav/display");
    ASSERT_FALSE(list.isEmpty());
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, list.center() + QPoint(0, 20));
    ASSERT_NE(w.editor(), nullptr);
    PlaylistEditor& editor = *w.editor();
    EXPECT_TRUE(editor.isVisible());

    // An entry's information arrives: the window hands the message on and the row shows it.
    EntryInfo info;
    info.title = "Crossing at dawn";
    info.length = 245;
    f.player.list.ApplyModuleInfo(1, info);
    EXPECT_TRUE(w.handleMessage({playlist_message::kEntriesChanged, 1, 1, {}}));
    EXPECT_TRUE(cell(editor, 1, 1).contains("Crossing at dawn"));
    EXPECT_EQ(cell(editor, 1, 2), "4:05");

    // The list changed elsewhere (a remote command cleared it).
    f.player.list.ClearPlaylist();
    f.player.list.AddItem("/music/only one.mp3");
    EXPECT_TRUE(w.handleMessage({playlist_message::kEntriesChanged, -1, -1, {}}));
    EXPECT_EQ(editor.table()->model()->rowCount(), 1);
    EXPECT_FALSE(w.handleMessage({thread_message::kRefreshTrackInfo, 0, 0, {}}));  // the player's too

    // Files dropped from a file manager are added at the end.
    const std::string dropped = f.folder + "/dropped song.mp3";
    std::ofstream(dropped) << "x";
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&editor, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&editor, &drop);
    EXPECT_EQ(f.files(), (std::vector<std::string>{"only one.mp3", "dropped song.mp3"}));
    EXPECT_EQ(editor.table()->model()->rowCount(), 2);
}

TEST(JumpDialog, TypedWordsFindTheEntryAndEnterPlaysIt) {
    EditorFixture f;
    MainWindow& w = *f.window;
    QTest::keyClick(&w, Qt::Key_J);
    ASSERT_NE(w.jumpWindow(), nullptr);
    JumpDialog& jump = *w.jumpWindow();
    EXPECT_TRUE(jump.isVisible());
    EXPECT_EQ(jump.results()->count(), 5);
    QTest::keyClicks(jump.searchLine(), "ferry");
    ASSERT_EQ(jump.results()->count(), 1);
    EXPECT_TRUE(jump.results()->item(0)->text().startsWith("2. "));
    EXPECT_TRUE(jump.results()->item(0)->text().contains("ferry"));
    f.player.calls.clear();
    QTest::keyClick(jump.searchLine(), Qt::Key_Return);
    EXPECT_EQ(f.player.calls, std::vector<std::string>{"playPosition 1"});
    EXPECT_FALSE(jump.isVisible());

    // Up and Down move in the results; Esc closes without playing.
    QTest::keyClick(&w, Qt::Key_J);
    EXPECT_TRUE(jump.isVisible());
    EXPECT_TRUE(jump.searchLine()->text().isEmpty());
    QTest::keyClicks(jump.searchLine(), "o");  // harbour, morning, road (and not "evening"... it has no o)
    const int found = jump.results()->count();
    ASSERT_GE(found, 2);
    QTest::keyClick(jump.searchLine(), Qt::Key_Down);
    EXPECT_EQ(jump.results()->currentRow(), 1);
    f.player.calls.clear();
    QTest::keyClick(jump.searchLine(), Qt::Key_Escape);
    EXPECT_FALSE(jump.isVisible());
    EXPECT_TRUE(f.player.calls.empty());
}

TEST(PlaylistEditor, GrabsOfBothWindows) {
    const std::string out = "/tmp/tessura-grabs";
    std::filesystem::create_directories(out);
    for (const std::string& skin : {std::string(TESSURA_DEFAULT_SKIN), std::string(TESSURA_SECOND_SKIN)}) {
        EditorFixture f(skin);
        ASSERT_TRUE(f.texts.LoadLanguageList(TESSURA_LANGUAGE_DIR).empty());
        ASSERT_EQ(f.texts.SelectLanguage("English"), 0);
        // The shipped English texts, for pictures that read as the user's.
        f.player.language = [&f](const std::string& key) { return f.texts.Text(key); };
        const std::string name = std::filesystem::path(skin).stem().string();
        const int lengths[] = {212, 185, -1, 3725, 96};
        for (int i = 0; i < 5; ++i) {
            EntryInfo info;
            info.length = lengths[i];
            if (i == 1) info.title = "Across the water";
            f.player.list.ApplyModuleInfo(i, info);
        }
        f.player.list.setCurrentIndex(1);
        PlaylistEditor editor(f.player, {});
        editor.setColours(f.window->face().description().colours);
        editor.show();
        clickRow(editor, 3);
        clickRow(editor, 4, Qt::ControlModifier);
        QApplication::processEvents();
        ASSERT_TRUE(editor.grab().save(QString::fromStdString(out + "/" + name + "-playlist-editor.png")));

        JumpDialog jump(f.player);
        jump.start();
        jump.show();
        QTest::keyClicks(jump.searchLine(), "o");
        QTest::keyClick(jump.searchLine(), Qt::Key_Down);
        QApplication::processEvents();
        ASSERT_TRUE(jump.grab().save(QString::fromStdString(out + "/" + name + "-jump-dialog.png")));

        editor.editing().clear();
        editor.notify(playlist_message::kEntriesChanged, -1, -1);
        QApplication::processEvents();
        ASSERT_TRUE(editor.grab().save(QString::fromStdString(out + "/" + name + "-playlist-editor-empty.png")));
    }
}

}  // namespace
}  // namespace tessura::ui
