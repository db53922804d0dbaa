// The player window in this process, offscreen, over the real controller, the null sound
// device and scripted dialogs: what a click on "Write Decoded PCM File..." leads to.
#include "AtomicFile.h"
#include "PlayerWindow.h"
#include "BandMeter.h"
#include "PositionSlider.h"
#include "ProgressDialog.h"
#include "SkinButton.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <dirent.h>
#include "FolderNames.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <thread>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

using test::namesIn;

using Clock = std::chrono::steady_clock;

QApplication& application() {
    static int argc = 1;
    static char name[] = "veloraplay_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("VELORAPLAY_AUDIO", "null", 1);  // before the device output is made
        return new QApplication(argc, argv);
    }();
    return *app;
}

struct NoLauncher final : Launcher {
    bool open(const std::string&) override { return true; }
};

// Runs the interface thread until `done` or a minute has passed (only a hang gets there).
bool pumpUntil(const std::function<bool()>& done) {
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

ProgressDialog* progressDialog() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = dynamic_cast<ProgressDialog*>(w)) return d;
    }
    return nullptr;
}


// The samples of a 16-bit WAVE file's data chunk, with its format fields.
struct Pcm {
    std::string format;  // the fmt chunk's 16 bytes
    std::vector<int16_t> samples;
};

Pcm readPcm(const std::string& path) {
    std::string d;
    readWholeFile(path, d);
    Pcm pcm;
    size_t at = 12;
    while (at + 8 <= d.size()) {
        uint32_t size = 0;
        for (size_t i = 0; i < 4; ++i)
            size |= static_cast<uint32_t>(static_cast<unsigned char>(d[at + 4 + i])) << (8 * i);
        const std::string id = d.substr(at, 4);
        if (id == "fmt ") pcm.format = d.substr(at + 8, 16);
        if (id == "data") {
            const size_t n = std::min<size_t>(size, d.size() - at - 8) / 2;
            for (size_t i = 0; i < n; ++i) {
                const auto lo = static_cast<unsigned char>(d[at + 8 + 2 * i]);
                const auto hi = static_cast<unsigned char>(d[at + 9 + 2 * i]);
                pcm.samples.push_back(static_cast<int16_t>(lo | (hi << 8)));
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return pcm;
}

class Player {
  public:
    Player(const test::TempFolder& dir, const std::string& file)
        : settings_(dir / "settings.ini"),
          loaded_(settings_.load()),
          help_(dir.path(), launcher_),
          dialogs_(stderr),
          window_(settings_, help_, file, queue_, dialogs_) {
        queue_.setWakeCallback([this] {
            QMetaObject::invokeMethod(
                &pump_, [this] { queue_.drain([this](const Message& m) { window_.handle(m); }); },
                Qt::QueuedConnection);
        });
        window_.show();
    }
    ~Player() {
        window_.close();
        queue_.setWakeCallback({});
    }

    ScriptedDialogService& dialogs() { return dialogs_; }
    PlayerWindow& window() { return window_; }
    // The context menu's item `id` as it is now (id -1 when the menu has none).
    MenuEntry menuItem(int id) {
        for (const MenuEntry& e : window_.model().contextMenu())
            if (e.id == id) return e;
        MenuEntry none;
        none.id = -1;
        return none;
    }
    bool canWriteDecoded() { return menuItem(cmd::kWriteDecoded).enabled; }

    SettingsStore& settings() { return settings_; }

  private:
    SettingsStore settings_;
    bool loaded_;  // an earlier window's settings, when there are any
    NoLauncher launcher_;
    HelpTopics help_;
    MessageQueue queue_;
    ScriptedDialogService dialogs_;
    QObject pump_;
    PlayerWindow window_;
};

TEST(PlayerWindow, WritesTheDecodedFileAsTheCommandDoes) {
    application();
    test::TempFolder dir;
    const std::string file = dir / "tone.mp3";
    test::makeToneFile(dir / "tone.wav", file, 2);
    ASSERT_EQ(std::system((std::string(VELORA_BINARY) + " decode '" + file + "' '" +
                           (dir / "reference.wav") + "' >/dev/null 2>&1")
                              .c_str()),
              0);

    Player player(dir, file);
    player.dialogs().addAnswer("Select Output File", dir / "decoded");  // no extension
    ASSERT_TRUE(pumpUntil([&] { return player.canWriteDecoded(); }));
    EXPECT_EQ(player.menuItem(cmd::kWriteDecoded).text, "&Write Decoded PCM File...");

    player.window().command(cmd::kWriteDecoded);
    ProgressDialog* progress = progressDialog();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_FALSE(progress->isModal());
    EXPECT_TRUE(progress->windowTitle().isEmpty());
    EXPECT_FALSE(player.window().isEnabled()) << "the player waits while the dialog is open";
    EXPECT_EQ(progress->frameText(), QStringLiteral("Decoding to file:  Frame #0"));
    EXPECT_EQ(progress->model().source(), file);
    EXPECT_EQ(progress->model().destination(), dir / "decoded.wav");
    QStringList texts;
    for (const QLabel* l : progress->findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Input:")));
    EXPECT_TRUE(texts.contains(QString::fromStdString(dir / "decoded.wav")));

    ASSERT_TRUE(pumpUntil([&] { return !progressDialog() && player.window().isEnabled(); }));
    const Pcm got = readPcm(dir / "decoded.wav");
    const Pcm want = readPcm(dir / "reference.wav");
    ASSERT_FALSE(want.samples.empty());
    EXPECT_EQ(got.format, want.format);
    ASSERT_EQ(got.samples.size(), want.samples.size());
    EXPECT_TRUE(got.samples == want.samples) << "sample for sample";
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"decoded.wav", "reference.wav",
                                                             "tone.mp3", "tone.wav"}))
        << "no temporary left";
    EXPECT_TRUE(player.canWriteDecoded());
}

TEST(PlayerWindow, ClosingTheProgressDialogStopsTheDecodeAndLeavesNoFile) {
    application();
    test::TempFolder dir;
    test::makeToneFile(dir / "tone.wav", dir / "tone.mp3", 2);
    // Frame after frame of the same stream: a few minutes of audio, decoded in about a second.
    std::string tone;
    readWholeFile(dir / "tone.mp3", tone);
    std::string longer;
    for (int i = 0; i < 300; ++i) longer += tone;
    const std::string file = dir / "long.mp3";
    ASSERT_TRUE(writeFileAtomically(file, longer, 0600));
    ::unlink((dir / "tone.mp3").c_str());

    Player player(dir, file);
    player.dialogs().addAnswer("Select Output File", dir / "cancelled.wav");
    ASSERT_TRUE(pumpUntil([&] { return player.canWriteDecoded(); }));
    player.window().command(cmd::kWriteDecoded);
    ProgressDialog* progress = progressDialog();
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(player.window().isEnabled());
    progress->close();  // as from its close box
    EXPECT_TRUE(player.window().isEnabled()) << "enabled again at once";
    ASSERT_TRUE(pumpUntil([&] { return !progressDialog() && !player.window().playback().isRunning(); }));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"long.mp3", "tone.wav"}))
        << "the partial output is discarded";
}

// A run that fails before its first frame sends the dialog no close of its own; the end of the
// run takes the dialog down and gives the window back.
TEST(PlayerWindow, ADecodeThatCannotOpenItsInputClosesTheDialog) {
    application();
    test::TempFolder dir;
    const std::string missing = dir / "missing.mp3";
    Player player(dir, missing);
    player.dialogs().addAnswer("Select Output File", dir / "out.wav");
    ASSERT_TRUE(pumpUntil([&] { return player.canWriteDecoded() && player.dialogs().shownCount() == 1; }))
        << "the playback's own failure is shown first";
    player.window().command(cmd::kWriteDecoded);
    ASSERT_NE(progressDialog(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return !progressDialog() && player.window().isEnabled(); }));
    ASSERT_TRUE(pumpUntil([&] { return player.dialogs().shownCount() == 3; }))
        << "the save dialog, then the decode's message";
    EXPECT_TRUE(namesIn(dir.path()).empty());
    EXPECT_TRUE(player.canWriteDecoded());
}

// The window's controls of one kind (they carry no meta-object of their own, so the type is
// told by a dynamic cast).
template <typename T>
std::vector<T*> controls(PlayerWindow& window) {
    std::vector<T*> found;
    for (QWidget* w : window.findChildren<QWidget*>())
        if (auto* t = dynamic_cast<T*>(w)) found.push_back(t);
    return found;
}

int visibleBands(PlayerWindow& window) {
    int n = 0;
    for (const BandMeter* m : controls<BandMeter>(window)) n += m->isVisible() ? 1 : 0;
    return n;
}

bool buttonShown(PlayerWindow& window, int id) {
    for (const SkinButton* b : controls<SkinButton>(window))
        if (b->id() == id) return b->isVisible();
    return false;
}

// Oceanic has a volume slider and no band controls; Brushed Metal a volume key, and the band
// controls only in its extended view. Play and Stop take turns in one place.
TEST(PlayerWindow, EachSkinShowsItsOwnControls) {
    application();
    test::TempFolder dir;
    Player player(dir, "");
    PlayerWindow& w = player.window();
    ASSERT_EQ(controls<PositionSlider>(w).size(), 2u);
    const auto visibleSliders = [&] {
        int n = 0;
        for (const PositionSlider* s : controls<PositionSlider>(w)) n += s->isVisible() ? 1 : 0;
        return n;
    };
    EXPECT_EQ(w.model().skin(), 1) << "Oceanic when nothing is stored";
    EXPECT_EQ(visibleSliders(), 2);
    EXPECT_FALSE(buttonShown(w, cmd::kVolume));
    EXPECT_EQ(visibleBands(w), 0);
    EXPECT_TRUE(buttonShown(w, cmd::kPlay));
    EXPECT_FALSE(buttonShown(w, cmd::kStop));
    const QSize oceanic = w.size();

    w.command(cmd::kSkinBrushedMetal);
    EXPECT_EQ(visibleSliders(), 1);
    EXPECT_TRUE(buttonShown(w, cmd::kVolume));
    EXPECT_EQ(visibleBands(w), 0);
    const QSize basic = w.size();
    w.command(cmd::kToggleExtended);
    EXPECT_EQ(visibleBands(w), 8);
    EXPECT_GT(w.size().height(), basic.height()) << "the extended panel below the body";
    EXPECT_EQ(w.size().width(), basic.width());
    w.command(cmd::kSkinOceanic);
    EXPECT_EQ(visibleBands(w), 0);
    EXPECT_EQ(w.size(), oceanic);
}

// Where the window was, its skin and its view come back at the next start.
TEST(PlayerWindow, PositionSkinAndViewSurviveARestart) {
    application();
    test::TempFolder dir;
    {
        Player player(dir, "");
        player.window().command(cmd::kSkinBrushedMetal);
        player.window().command(cmd::kToggleExtended);
        player.window().command(cmd::kToggleCaption);
        // The window is framed again after the caption's change; then the user moves it.
        const auto settled = Clock::now() + std::chrono::milliseconds(200);
        pumpUntil([&] { return Clock::now() > settled; });
        player.window().move(210, 140);
        pumpUntil([&] { return Clock::now() > settled + std::chrono::milliseconds(100); });
        ASSERT_EQ(player.window().pos(), QPoint(210, 140));
    }
    SettingsStore saved(dir / "settings.ini");
    ASSERT_TRUE(saved.load());
    EXPECT_EQ(saved.getInt("Controller", "Extended View", -1), 1);
    EXPECT_EQ(saved.getInt("Controller", "Title Bar", -1), 0);
    Player again(dir, "");
    EXPECT_EQ(again.window().model().skin(), 0);
    EXPECT_TRUE(again.window().model().extended());
    EXPECT_FALSE(again.window().model().captionShown());
    EXPECT_EQ(visibleBands(again.window()), 8);
    EXPECT_EQ(again.window().mapToGlobal(QPoint(0, 0)),
              QPoint(saved.getInt("Controller", "WindowRect.Left", -1), saved.getInt("Controller", "WindowRect.Top", -1)));
    EXPECT_NE(again.window().mapToGlobal(QPoint(0, 0)), QPoint(0, 0));
}

// A file manager drops percent-encoded file:// addresses; the player opens the file they name.
TEST(PlayerWindow, ADroppedFileAddressOpensTheFileItNames) {
    application();
    test::TempFolder dir;
    ::mkdir((dir / "a dir #1").c_str(), 0700);
    const std::string file = dir / "a dir #1/t\u00f6ne 100%.mp3";
    test::makeToneFile(dir / "tone.wav", file, 1);
    Player player(dir, "");
    auto* data = new QMimeData;
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(file));
    ASSERT_TRUE(url.toEncoded().contains("%25")) << "the address is percent-encoded";
    data->setUrls({url, QUrl::fromLocalFile(QStringLiteral("/elsewhere/second.mp3"))});
    // The drop goes where the drag entered, as a drag from another program does.
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&player.window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&player.window(), &drop);
    EXPECT_EQ(player.window().playback().file(), file);
    ASSERT_TRUE(pumpUntil([&] { return !player.window().playback().isRunning(); }));
    EXPECT_EQ(player.dialogs().shownCount(), 0) << "it played without a complaint";
    delete data;
}

}  // namespace
}  // namespace veloraplay
