// The encoder opened from the player window, in this process, offscreen: monitor playback
// stops what the player plays first, and the encoded file is handed to the open library
// window; the encoder waits modally, as a dialog of the player does.
#include "AtomicFile.h"
#include "EncoderWindow.h"
#include "LibraryWindow.h"
#include "PlayerWindow.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <thread>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

using Clock = std::chrono::steady_clock;

struct NoLauncher final : Launcher {
    bool open(const std::string&) override { return true; }
};

EncoderWindow* openEncoder() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* e = dynamic_cast<EncoderWindow*>(w); e && e->isVisible()) return e;
    }
    return nullptr;
}

QCheckBox* box(QWidget& w, const char* caption) {
    for (QCheckBox* b : w.findChildren<QCheckBox*>()) {
        if (b->text() == QLatin1String(caption)) return b;
    }
    return nullptr;
}

bool libraryHolds(const LibraryModel& library, const std::string& path) {
    for (const LibraryNode& n : library.roots()) {
        if (n.text == path) return true;
        for (const LibraryNode& c : n.children) {
            if (c.text == path) return true;
        }
    }
    return false;
}

TEST(PlayerEncoder, MonitorPlaybackStopsThePlayerAndTheFileGoesToTheLibrary) {
    test::TempFolder dir;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("VELORAPLAY_AUDIO", "null", 1);  // before the device output is made
    static int argc = 1;
    static char name[] = "veloraplay_player_encoder_test";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    const std::string song = dir / "song.mp3";
    test::makeToneFile(dir / "song.wav", song, 20);
    const std::string input = dir / "take.wav";
    test::makeToneFile(input, "", 2);
    SettingsStore settings(dir / "settings.ini");
    settings.setInt("Controller", "Library Window", 1);  // the library opens with the player

    NoLauncher launcher;
    HelpTopics help(dir.path(), launcher);
    MessageQueue queue;
    ScriptedDialogService dialogs(stderr);
    QObject pump;
    PlayerWindow window(settings, help, song, queue, dialogs, &launcher);
    queue.setWakeCallback([&] {
        QMetaObject::invokeMethod(
            &pump, [&] { queue.drain([&](const Message& m) { window.handle(m); }); }, Qt::QueuedConnection);
    });
    window.show();
    ASSERT_NE(window.library(), nullptr);
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < end && !window.playback().isRunning()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(window.playback().isRunning()) << "the player plays the song it was started with";

    // Driven from the encoder's own event loop: the input, Monitor Playback, ENCODE, and a
    // close once the job has ended.
    bool libraryOffered = false, playerStopped = false, started = false, ended = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        EncoderWindow* encoder = openEncoder();
        if (!encoder) return;
        if (!started) {
            ASSERT_TRUE(encoder->model().setInput(input));
            libraryOffered = box(*encoder, "Add File To Library")->isEnabled();
            box(*encoder, "Monitor Playback")->setChecked(true);
            encoder->startButton()->click();
            started = true;
            playerStopped = !window.playback().isRunning();
            return;
        }
        if (encoder->model().running() || ended) return;
        ended = true;
        encoder->close();
    });
    driver.start(20);
    window.command(cmd::kEncoder);  // returns when the encoder has closed
    driver.stop();

    EXPECT_TRUE(started);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(libraryOffered);
    EXPECT_TRUE(playerStopped) << "the player let go of the sound output before the job began";
    ASSERT_NE(window.library(), nullptr);
    EXPECT_TRUE(libraryHolds(window.library()->model(), dir / "take.mp3"));
    std::string encoded;
    EXPECT_TRUE(readWholeFile(dir / "take.mp3", encoded));
    EXPECT_GT(encoded.size(), 1000u);
    window.close();
    queue.setWakeCallback({});
}

}  // namespace
}  // namespace veloraplay
