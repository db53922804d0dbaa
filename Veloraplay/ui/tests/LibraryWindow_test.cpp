// The library window in this process, offscreen, over a settings file in a temporary folder
// and a player that records what it is asked.
#include "InfoEditor.h"
#include "LibraryWindow.h"
#include "MpegBytes.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "WaveFileWriter.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
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

// With VELORAPLAY_GRAB_DIR set, the windows are saved there as pictures to look at.
void grab(QWidget& w, const std::string& name) {
    if (const char* dir = std::getenv("VELORAPLAY_GRAB_DIR"))
        w.grab().save(QString::fromStdString(std::string(dir) + "/" + name));
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

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

using test::mpegAudio;

void writeWave(const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const std::vector<int16_t> pcm(2 * 441, 0);
    WaveFileWriter writer;
    EXPECT_TRUE(writer.Begin(out, 2, 44100) && writer.Append(pcm.data(), pcm.size()) && writer.Finish());
    std::fclose(out);
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* folder, const std::string& text) {
    for (int i = 0; i < folder->childCount(); ++i)
        if (folder->child(i)->text(0).toStdString() == text) return folder->child(i);
    return nullptr;
}

std::vector<std::string> childTexts(QTreeWidgetItem* folder) {
    std::vector<std::string> texts;
    for (int i = 0; i < folder->childCount(); ++i) texts.push_back(folder->child(i)->text(0).toStdString());
    return texts;
}

struct WindowFixture : ::testing::Test {
    test::TempFolder tmp;
    SettingsStore settings{tmp / "veloraplay.ini"};
    RecordingHost host;
    ScriptedDialogService dialogs{nullptr};
    NoLauncher launcher;
    WebLink web{launcher, dialogs};

    std::unique_ptr<LibraryWindow> open() {
        application();
        auto window = std::make_unique<LibraryWindow>(settings, host, dialogs, web);
        window->show();
        QApplication::processEvents();
        return window;
    }
    void storeFolder(int number, const std::string& name, const std::vector<std::string>& items) {
        settings.setInt("Playlist Manager", "Folders", number + 1);
        settings.setString(folderSection(number), "Folder Name", name);
        settings.setInt(folderSection(number), "Folder Items", static_cast<int>(items.size()));
        for (size_t i = 0; i < items.size(); ++i)
            settings.setString(folderSection(number), itemKey(static_cast<int>(i)), items[i]);
    }
};

using LibraryWindowFiles = WindowFixture;

TEST_F(LibraryWindowFiles, PlaylistExportAndAWindowsPlaylistImport) {
    const std::string wav = tmp / "intro.wav", one = tmp / "one.mp3", two = tmp / "two.mp3";
    writeWave(wav);
    writeFile(one, mpegAudio(417));
    writeFile(two, mpegAudio(417));
    storeFolder(0, "Mix", {wav, one, two});
    auto window = open();
    QTreeWidget* tree = window->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    tree->setCurrentItem(tree->topLevelItem(0));

    // The WAVE file stays out of the list; a name typed without extension gets ".m3u".
    dialogs.addAnswer("Save As Playlist File", tmp / "mix");
    window->command(libcmd::kSavePlaylist);
    EXPECT_EQ(readAll(tmp / "mix.m3u"), "##ListName: Mix\r\n" + one + "\r\n" + two + "\r\n");

    // A list written on Windows: CR LF, '\\' separators, relative and absolute entries.
    const std::string folder = tmp / "lists";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    writeFile(folder + "/road.m3u",
              "##ListName: Road Trip\r\n#EXTM3U\r\nsongs\\first.mp3\r\n  second.mp3  \r\n"
              "C:\\Music\\third.mp3\r\n\\\\server\\share\\fourth.mp3\r\n\r\n");
    dialogs.addAnswer("Add to Library", folder + "/road.m3u");
    window->command(libcmd::kAdd);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* road = tree->topLevelItem(1);
    EXPECT_EQ(road->text(0), "Road Trip");
    EXPECT_EQ(childTexts(road), (std::vector<std::string>{folder + "/songs/first.mp3", folder + "/second.mp3",
                                                          "C:\\Music\\third.mp3", "\\\\server\\share\\fourth.mp3"}));
    grab(*window, "library-imported.png");
}

TEST_F(LibraryWindowFiles, FolderCommandsDragAndDropAndRestart) {
    storeFolder(0, "Evening", {"/music/a.mp3", "/music/b.mp3", "/music/c.mp3", "/music/d.mp3"});
    storeFolder(1, "Morning", {"/music/e.mp3"});
    auto window = open();
    QTreeWidget* tree = window->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* evening = tree->topLevelItem(0);

    // Play Shuffled: an empty hand-over with every item once in the order.
    tree->setCurrentItem(evening);
    window->command(libcmd::kPlayShuffled);
    EXPECT_EQ(host.payloads, std::vector<std::string>{""});
    ASSERT_EQ(host.list.size(), 4u);
    EXPECT_TRUE(host.list.shuffle());
    std::vector<uint32_t> order;
    host.list.moveToEnd();
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(host.list.next());
        order.push_back(host.list.currentNumber());
    }
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3, 4}));

    // Rename through its dialog.
    evening = tree->topLevelItem(0);
    tree->setCurrentItem(evening);
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Rename Folder");
        auto* edit = dialog->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), "Evening");
        edit->setText("Late Evening");
        dialog->accept();
    });
    window->command(libcmd::kRename);
    evening = tree->topLevelItem(0);
    EXPECT_EQ(evening->text(0), "Late Evening");

    // Drops as a person makes them: the drag enters the tree and is released over an item.
    const auto dropAt = [&](QTreeWidgetItem* target, QMimeData& mime, Qt::KeyboardModifiers mods) {
        tree->scrollToItem(target);
        const QPoint at = tree->visualItemRect(target).center();
        QDragEnterEvent enter(at, Qt::MoveAction | Qt::CopyAction, &mime, Qt::LeftButton, mods);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDropEvent drop(QPointF(at), Qt::MoveAction | Qt::CopyAction, &mime, Qt::LeftButton, mods);
        QApplication::sendEvent(tree->viewport(), &drop);
    };
    const auto dropOn = [&](QTreeWidgetItem* dragged, QTreeWidgetItem* target, Qt::KeyboardModifiers mods) {
        QMimeData mime;
        mime.setData("application/x-veloraplay-library-node",
                     QByteArray::number(dragged->data(0, Qt::UserRole + 1).toULongLong()));
        dropAt(target, mime, mods);
    };
    tree->expandAll();
    dropOn(childNamed(evening, "/music/d.mp3"), childNamed(evening, "/music/a.mp3"), Qt::NoModifier);
    evening = tree->topLevelItem(0);
    EXPECT_EQ(childTexts(evening),
              (std::vector<std::string>{"/music/d.mp3", "/music/a.mp3", "/music/b.mp3", "/music/c.mp3"}));
    tree->expandAll();
    dropOn(childNamed(evening, "/music/d.mp3"), childNamed(evening, "/music/c.mp3"), Qt::ControlModifier);
    evening = tree->topLevelItem(0);
    EXPECT_EQ(childTexts(evening),
              (std::vector<std::string>{"/music/c.mp3", "/music/a.mp3", "/music/b.mp3", "/music/d.mp3"}));
    tree->expandAll();
    dropOn(tree->topLevelItem(1), evening, Qt::NoModifier);  // a folder on a folder: merged
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 5);

    // A file from a file manager goes into the folder it is dropped on.
    tree->expandAll();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(tmp / "dropped.mp3"))});
    dropAt(tree->topLevelItem(0), files, Qt::NoModifier);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 6);

    // An empty folder and a top-level file do not survive a restart; the rest does, in order.
    window->command(libcmd::kCreateFolder);
    window->addFromPlayer("/music/loose.mp3");
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    window->close();
    window.reset();
    auto reopened = open();
    ASSERT_EQ(reopened->tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* kept = reopened->tree()->topLevelItem(0);
    EXPECT_EQ(kept->text(0), "Late Evening");
    EXPECT_EQ(childTexts(kept), (std::vector<std::string>{"/music/c.mp3", "/music/a.mp3", "/music/b.mp3",
                                                          "/music/d.mp3", "/music/e.mp3", tmp / "dropped.mp3"}));
}

// The tag editor strip as a person uses it, read back by an outside reader of the tag.
TEST_F(LibraryWindowFiles, TagEditorUpdatesAnUntaggedFileOnce) {
    const std::string song = tmp / "song.mp3";
    writeFile(song, mpegAudio(4000));
    storeFolder(0, "Tags", {song});
    auto window = open();
    window->resize(360, 320);  // the smallest size: every field must still be usable
    QApplication::processEvents();
    QTreeWidget* tree = window->tree();
    tree->expandAll();
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    QApplication::processEvents();
    // A file keeps its file image when "expand all" reaches it; its folder shows itself open.
    EXPECT_NE(tree->topLevelItem(0)->child(0)->icon(0).pixmap(18).toImage(),
              tree->topLevelItem(0)->icon(0).pixmap(18).toImage());

    InfoEditor* editor = window->infoEditor();
    auto* update = editor->findChild<QPushButton*>("update");
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(update->isEnabled());
    const auto set = [&](const char* name, const QString& text) {
        auto* edit = editor->findChild<QLineEdit*>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_TRUE(edit->isVisible()) << name;
        EXPECT_GE(edit->width(), 40) << name;
        edit->setText(text);
    };
    set("title", QString(40, QChar('T')));
    set("artist", QString::fromUtf8("Björk Ensemble"));
    set("year", "2026");
    set("track", "7");
    auto* genre = editor->findChild<QComboBox*>("genre");
    ASSERT_NE(genre, nullptr);
    genre->setCurrentIndex(genre->findText("Jazz"));
    // The strip's controls lie inside it, whole, and do not overlap one another.
    std::vector<std::pair<QWidget*, QRect>> boxes;
    for (QWidget* w : editor->findChildren<QWidget*>()) {
        if (!w->isVisible() || !(qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QComboBox*>(w) || qobject_cast<QPushButton*>(w)))
            continue;
        if (qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parentWidget())) continue;
        const QRect box(w->mapTo(editor, QPoint(0, 0)), w->size());
        EXPECT_TRUE(editor->rect().contains(box)) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
        boxes.emplace_back(w, box);
    }
    EXPECT_GE(boxes.size(), 15u);
    for (size_t i = 0; i < boxes.size(); ++i)
        for (size_t j = i + 1; j < boxes.size(); ++j)
            EXPECT_FALSE(boxes[i].second.intersects(boxes[j].second))
                << boxes[i].first->metaObject()->className() << " " << boxes[i].first->objectName().toStdString()
                << " and " << boxes[j].first->metaObject()->className() << " "
                << boxes[j].first->objectName().toStdString();

    update->click();
    update->click();
    grab(*window, "library-editor-minimum.png");
    const std::string bytes = readAll(song);
    ASSERT_EQ(bytes.size(), 4000u + 128u);
    EXPECT_EQ(bytes.substr(4000 + 3, 30), std::string(30, 'T'));
    EXPECT_EQ(bytes.substr(4000 + 33, 14), "Bj\xF6rk Ensemble");  // Latin-1 on disk
    const std::string out = tmp / "listing.txt";
    ASSERT_EQ(std::system(("id3v2 -l '" + song + "' > '" + out + "' 2>&1").c_str()), 0);
    const std::string listing = readAll(out);
    EXPECT_NE(listing.find(std::string(30, 'T')), std::string::npos) << listing;
    EXPECT_NE(listing.find("Jazz"), std::string::npos) << listing;
    EXPECT_NE(listing.find("2026"), std::string::npos) << listing;
}

}  // namespace
}  // namespace veloraplay
