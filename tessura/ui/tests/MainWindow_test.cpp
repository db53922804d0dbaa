// The main window without a display (offscreen): every mode and navigator page of both skins
// drawn to /tmp/tessura-grabs/ to look at, the window's shape from the skin, and clicks on the
// controls reaching the player.
#include "MainWindow.h"

#include "RecordingPlayer.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace tessura::ui {
namespace {

using test::RecordingPlayer;

struct WindowFixture {
    explicit WindowFixture(const std::string& skin) {
        std::filesystem::create_directories(folder);
        // The shipped English texts, from the program folder the skins are in.
        texts.LoadLanguageList(std::filesystem::path(TESSURA_DEFAULT_SKIN).parent_path().string());
        texts.SelectLanguage("English");
        player.language = [this](const std::string& key) { return texts.Text(key); };
        player.list.AddItem("/music/harbour lights.mp3");
        player.list.AddItem("/music/night ferry.mp3");
        preferences.openWithSplash = false;
        preferences.windowState = 1;
        WindowSetup setup{player, preferences, {}, nullptr, {}, {}};
        setup.loadSkin = [this, skin] {
            return LoadSkin({settings, SkinSources{skin, TESSURA_DEFAULT_SKIN, ""}, texts, dialogs});
        };
        window = std::make_unique<MainWindow>(std::move(setup));
    }
    std::string folder = std::filesystem::temp_directory_path().string() + "/tessura-window-test";
    SettingsStore settings{folder + "/settings.ini", folder};
    LanguageStore texts;
    ScriptedDialogService dialogs;
    RecordingPlayer player;
    Preferences preferences;
    std::unique_ptr<MainWindow> window;
};

void click(QWidget& w, QPoint at) {
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, at);
}

TEST(MainWindow, EveryModeOfBothSkinsIsDrawnFromTheSkinAndShapedByItsFrame) {
    const std::string out = "/tmp/tessura-grabs";
    std::filesystem::create_directories(out);
    for (const std::string& skin : {std::string(TESSURA_DEFAULT_SKIN), std::string(TESSURA_SECOND_SKIN)}) {
        WindowFixture f(skin);
        MainWindow& w = *f.window;
        const std::string name = std::filesystem::path(skin).stem().string();
        f.player.isPlaying = true;
        f.player.at = 83000;
        w.start();
        const struct {
            int mode, page;
            std::string file;
        } shots[] = {{1, 0, "mid"}, {3, 0, "small"}, {4, 0, "splash"}};
        for (const auto& s : shots) {
            f.preferences.openWithSplash = false;
            w.modes().request(s.mode, s.page);
            for (int i = 0; i < 3; ++i) w.frame();
            const QImage picture = w.picture();
            ASSERT_FALSE(picture.isNull());
            EXPECT_EQ(w.modes().current(), s.mode);
            // The window's size is its face's; the frame region cuts it (a pixel outside is clear).
            if (s.mode == 1) {
                EXPECT_EQ(w.size(), f.window->face().image("/jpeg/midtessura").size());
                EXPECT_FALSE(w.mask().isEmpty());
                EXPECT_EQ(w.mask(), f.window->face().region("/rgn/mid/frame"));
            }
            picture.save(QString::fromStdString(out + "/" + name + "-" + s.file + ".png"));
        }
        for (int page = 0; page < kNavigatorPages; ++page) {
            w.modes().request(2, page);
            EXPECT_EQ(w.modes().navPage(), page);
            for (int i = 0; i < 3; ++i) w.frame();
            w.picture().save(QString::fromStdString(out + "/" + name + "-navigator-page" + std::to_string(page) + ".png"));
        }
        EXPECT_EQ(w.mask(), f.window->face().region("/rgn/nav/frame"));
    }
}

TEST(MainWindow, ClicksOnTheControlsReachThePlayer) {
    WindowFixture f(TESSURA_DEFAULT_SKIN);
    MainWindow& w = *f.window;
    w.start();
    ASSERT_EQ(w.modes().current(), 1);
    const struct {
        Control control;
        const char* call;
    } cases[] = {{Control::Play, "play"}, {Control::Next, "-playnext"}, {Control::Pause, "pause"}};
    for (int mode : {1, 2, 3}) {
        w.modes().request(mode, 0);
        for (const auto& c : cases) {
            const QRect r = w.controlRect(c.control);
            ASSERT_FALSE(r.isEmpty()) << "mode " << mode;
            f.player.calls.clear();
            click(w, r.center());
            ASSERT_FALSE(f.player.calls.empty()) << "mode " << mode << " " << c.call;
            EXPECT_EQ(f.player.calls.front(), c.call) << "mode " << mode;
        }
    }
    // Keys go the same way: X plays, Ctrl+F is the full-screen visualisation, Esc the navigator.
    w.modes().request(1, 0);
    f.player.calls.clear();
    QTest::keyClick(&w, Qt::Key_X);
    EXPECT_EQ(f.player.calls, std::vector<std::string>{"play"});
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(w.modes().current(), 5);
    ASSERT_NE(w.fullScreenWindow(), nullptr);
    EXPECT_TRUE(w.fullScreenWindow()->isVisible());
    QTest::keyClick(w.fullScreenWindow(), Qt::Key_Escape);
    EXPECT_EQ(w.modes().current(), 1);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_EQ(w.modes().current(), 2);
    QTest::keyClick(&w, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(w.modes().current(), 3);
}

TEST(MainWindow, TheSwitchMessageAndALockedWindowStayPut) {
    WindowFixture f(TESSURA_SECOND_SKIN);
    MainWindow& w = *f.window;
    w.start();
    EXPECT_TRUE(w.handleMessage({thread_message::kSwitchMode, 2, 4, {}}));
    EXPECT_EQ(w.modes().current(), 2);
    EXPECT_EQ(w.modes().navPage(), 4);
    EXPECT_FALSE(w.handleMessage({thread_message::kQuit, 0, 0, {}}));
    f.preferences.lockWindowMovement = 1;
    const QPoint before = w.pos();
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseMove(&w, QPoint(60, 60));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
    EXPECT_EQ(w.pos(), before);
}

}  // namespace
}  // namespace tessura::ui

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
