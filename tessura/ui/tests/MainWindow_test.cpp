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

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

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
        setup.askText = [this](const std::string& title, const std::string& text) {
            asked.push_back(title + " | " + text);
            return answer;
        };
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
    std::vector<std::string> asked;       // the questions the window put, "title | text"
    std::optional<std::string> answer;    // what the user answers them
    std::unique_ptr<MainWindow> window;
};

void click(QWidget& w, QPoint at) {
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, at);
}

// Press, move with the button held, release.
void drag(QWidget& w, QPoint from, QPoint to) {
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), w.mapToGlobal(QPointF(to)), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, to);
}

bool has(const std::vector<std::string>& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
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

TEST(MainWindow, TheNavigatorsDrawerEditsTheEqualiserTurnsItsKnobsAndSavesPresets) {
    const std::string out = "/tmp/tessura-grabs";
    std::filesystem::create_directories(out);
    for (const std::string& skin : {std::string(TESSURA_DEFAULT_SKIN), std::string(TESSURA_SECOND_SKIN)}) {
        SCOPED_TRACE(skin);
        const std::string name = std::filesystem::path(skin).stem().string();
        WindowFixture f(skin);
        MainWindow& w = *f.window;
        f.player.preset = 2;
        f.player.gains = {1.3, 1.3, 1.2, 1.1, 1.0, 1.2, 1.3, 1.3, 1.1, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.4};
        f.player.eq = true;
        w.start();
        w.modes().request(2, 2);
        const SkinFace& face = w.face();
        const QSize body = face.image("/jpeg/navigator").size();
        EXPECT_EQ(w.size(), body);
        EXPECT_FALSE(w.drawer().showing());

        // The pull tab opens it; it slides out over a few frames and the window's shape grows.
        click(w, face.bounds("/rgn/nav/drawertop").center());
        EXPECT_TRUE(w.drawer().open());
        for (int i = 0; i < 8; ++i) w.frame();
        const QRect open = w.drawer().openRect(face);
        EXPECT_EQ(w.drawer().rect(face), open);
        EXPECT_GE(w.height(), open.bottom() + 1);
        EXPECT_TRUE(w.mask().contains(QPoint(open.center().x(), open.bottom() - 10)));
        w.picture().save(QString::fromStdString(out + "/" + name + "-navigator-drawer-rock.png"));

        // Dragging band 5 sets the model's gain there (and pulls its neighbours a little); the
        // preset becomes Custom.
        const EqGeometry g = w.drawer().sliderGeometry(face);
        const QPoint from(int(g.bandX(5)), int(std::lround(g.valueY(f.player.gains[5]))));
        const QPoint to(from.x() + 3, int(std::lround(g.valueY(1.75))));
        drag(w, from, to);
        EXPECT_NEAR(f.player.gains[5], g.valueAt(to.y()), 1e-9);
        EXPECT_GT(f.player.gains[5], 1.6);
        EXPECT_GT(f.player.gains[4], 1.0);   // pulled along
        EXPECT_NEAR(f.player.gains[15], 1.0, 1e-9);  // too far to feel it
        EXPECT_EQ(f.player.preset, 6);

        // A knob dragged upwards reaches the player and says what it is.
        f.player.calls.clear();
        const QRect amp = w.drawer().knobRect(face, Knob::Amplifier);
        drag(w, amp.center(), amp.center() - QPoint(0, 12));
        EXPECT_TRUE(has(f.player.calls, "amp " + std::to_string(32768 + 12 * kKnobDragStep))) << f.player.calls.size();
        EXPECT_EQ(f.player.status.back(), "Amplify");
        const QRect balance = w.drawer().knobRect(face, Knob::Balance);
        drag(w, balance.center(), balance.center() + QPoint(0, 8));
        EXPECT_EQ(f.player.balanceValue, uint32_t(32768 - 8 * kKnobDragStep));

        // The preset choice steps on from Custom to the first user preset; "save preset" asks a
        // name and stores the curve there.
        click(w, w.drawer().partRect(face, NavigatorDrawer::Part::PresetNext).center());
        EXPECT_EQ(f.player.preset, 100);
        f.answer = "Harbour";
        click(w, w.drawer().partRect(face, NavigatorDrawer::Part::Save).center());
        ASSERT_EQ(f.asked.size(), 1u);
        EXPECT_EQ(f.asked[0], "Save preset | Enter Preset Name");
        EXPECT_TRUE(has(f.player.calls, "save 100 Harbour"));
        click(w, w.drawer().partRect(face, NavigatorDrawer::Part::Lamp).center());
        EXPECT_FALSE(f.player.eq);
        click(w, w.drawer().partRect(face, NavigatorDrawer::Part::Lamp).center());
        EXPECT_TRUE(f.player.eq);

        // The keyboard: a click in the drawer or Tab hands it to the drawer, whose keys come
        // before the key table; Tab or Esc hands it back, and Up is the volume again.
        EXPECT_TRUE(w.drawer().focused());
        QTest::keyClick(&w, Qt::Key_Tab);
        EXPECT_FALSE(w.drawer().focused());
        QTest::keyClick(&w, Qt::Key_Tab);
        ASSERT_TRUE(w.drawer().focused());
        for (int i = 0; i < 30; ++i) QTest::keyClick(&w, Qt::Key_Left);
        for (int i = 0; i < 2; ++i) QTest::keyClick(&w, Qt::Key_Right);
        const double before = f.player.gains[2];
        f.player.calls.clear();
        QTest::keyClick(&w, Qt::Key_Up);
        // A key step lands on the steps' grid.
        EXPECT_NEAR(f.player.gains[2], std::round((before + kEqKeyStep) / kEqKeyStep) * kEqKeyStep, 1e-9);
        EXPECT_GT(f.player.gains[2], before);
        EXPECT_TRUE(f.player.calls.empty());  // not the volume
        QTest::keyClick(&w, Qt::Key_PageDown);
        EXPECT_EQ(f.player.calls.back(), "preset 100");
        w.frame();
        w.picture().save(QString::fromStdString(out + "/" + name + "-navigator-drawer-custom.png"));
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.drawer().focused());
        QTest::keyClick(&w, Qt::Key_Up);
        EXPECT_EQ(f.player.calls.back(), "volume " + std::to_string(30000 + 2048));

        // Dragging on the equaliser page's curve edits the same model.
        w.modes().request(2, 2);
        const QRect display = face.bounds("/rgn/nav/display");
        const QRect area(display.x() + 4, display.y() + 26, display.width() - 8, display.height() - 28);
        const EqGeometry pg = NavigatorDrawer::pageGeometry(area);
        drag(w, QPoint(int(pg.bandX(12)), int(pg.valueY(1.0))), QPoint(int(pg.bandX(12)), int(pg.top + pg.height)));
        EXPECT_NEAR(f.player.gains[12], 0.0, 1e-9);

        // Closed again, the window is the body alone.
        click(w, face.bounds("/rgn/nav/drawertop").center());
        for (int i = 0; i < 8; ++i) w.frame();
        EXPECT_FALSE(w.drawer().showing());
        EXPECT_EQ(w.size(), body);
        EXPECT_EQ(w.mask(), face.region("/rgn/nav/frame"));
    }
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
