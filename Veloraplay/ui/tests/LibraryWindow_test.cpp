// The library window in this process, offscreen, over a settings file in a temporary folder
// and a player that records what it is asked.
#include "LibraryWindow.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QPixmap>
#include <cstdlib>
#include <fstream>
#include <sstream>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "veloraplay_library_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

struct NoLauncher final : Launcher {
    bool open(const std::string&) override { return true; }
};

struct RecordingHost final : LibraryHost {
    Playlist list;
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

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void grab(QWidget& w, const std::string& name) {
    w.grab().save(QString::fromStdString("/work/grabs/library/" + name));
}

TEST(LibraryWindow, ShowsPlaysAndSavesTheStoredLibrary) {
    application();
    test::TempFolder tmp;
    SettingsStore settings(tmp / "veloraplay.ini");
    settings.setInt("Playlist Manager", "Folders", 2);
    settings.setString("Playlist Manager/Folder 000", "Folder Name", "Evening");
    settings.setInt("Playlist Manager/Folder 000", "Folder Items", 3);
    settings.setString("Playlist Manager/Folder 000", "Item 000", "/music/Nocturne in blue.mp3");
    settings.setString("Playlist Manager/Folder 000", "Item 001", "/music/Harbour lights.mp3");
    settings.setString("Playlist Manager/Folder 000", "Item 002", "/music/Night train.mp3");
    settings.setString("Playlist Manager/Folder 001", "Folder Name", "Road Trip");
    settings.setInt("Playlist Manager/Folder 001", "Folder Items", 1);
    settings.setString("Playlist Manager/Folder 001", "Item 000", "/music/Open highway.mp3");
    settings.setInt("Playlist Manager", "WindowRect.Left", 40);
    settings.setInt("Playlist Manager", "WindowRect.Top", 50);
    settings.setInt("Playlist Manager", "WindowRect.Right", 540);
    settings.setInt("Playlist Manager", "WindowRect.Bottom", 610);
    ASSERT_TRUE(settings.save());

    RecordingHost host;
    ScriptedDialogService dialogs(nullptr);
    NoLauncher launcher;
    WebLink web(launcher, dialogs);
    auto* window = new LibraryWindow(settings, host, dialogs, web);
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(window->width(), 500);
    EXPECT_GE(window->minimumWidth(), 360);
    QTreeWidget* tree = window->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Evening");
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 3);
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Road Trip");

    tree->setCurrentItem(tree->topLevelItem(0));
    window->command(libcmd::kPlayAll);
    EXPECT_EQ(host.payloads, std::vector<std::string>{""});
    EXPECT_EQ(host.list.size(), 3u);
    EXPECT_EQ(host.list.name(), "Evening");
    window->selectItemNumber(2);
    EXPECT_EQ(tree->currentItem()->text(0), "/music/Harbour lights.mp3");
    window->addFromPlayer("/music/Single.mp3");
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    window->command(cmd::kAbout);
    EXPECT_EQ(host.commands, std::vector<int>{cmd::kAbout});
    QApplication::processEvents();
    grab(*window, "library.png");

    window->command(libcmd::kCreateFolder);  // empty: not kept
    window->close();
    delete window;
    SettingsStore reread(tmp / "veloraplay.ini");
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.getInt("Playlist Manager", "Folders", -1), 2);
    EXPECT_EQ(reread.getInt("Playlist Manager", "WindowRect.Right", -1) -
                  reread.getInt("Playlist Manager", "WindowRect.Left", -1), 500);
    EXPECT_TRUE(reread.contains("Playlist Manager", "Write Enabled"));
    EXPECT_EQ(readAll(tmp / "veloraplay.ini").find("Single.mp3"), std::string::npos);
}

TEST(LibraryWindow, EmptyLibraryShowsMyFavouriteTunes) {
    application();
    test::TempFolder tmp;
    SettingsStore settings(tmp / "veloraplay.ini");
    RecordingHost host;
    ScriptedDialogService dialogs(nullptr);
    NoLauncher launcher;
    WebLink web(launcher, dialogs);
    auto* window = new LibraryWindow(settings, host, dialogs, web);
    window->resize(360, 320);
    window->show();
    QApplication::processEvents();
    ASSERT_EQ(window->tree()->topLevelItemCount(), 1);
    EXPECT_EQ(window->tree()->topLevelItem(0)->text(0), "My Favourite Tunes");
    grab(*window, "library-empty-minimum.png");
    delete window;
}

}  // namespace
}  // namespace veloraplay
