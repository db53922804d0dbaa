// The player window in this process, offscreen, over the real controller, the null sound
// device and scripted dialogs: what a click on "Write Decoded PCM File..." leads to.
#include "AtomicFile.h"
#include "PlayerWindow.h"
#include "ProgressDialog.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
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

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
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
    QPushButton* button(const char* name) {
        return window_.findChild<QPushButton*>(QString::fromLatin1(name));
    }

  private:
    SettingsStore settings_;
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
    QPushButton* write = player.button("writeDecoded");
    ASSERT_NE(write, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return write->isEnabled(); }));
    EXPECT_EQ(write->text(), QStringLiteral("Write Decoded PCM File..."));

    write->click();
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
    EXPECT_TRUE(write->isEnabled());
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
    QPushButton* write = player.button("writeDecoded");
    ASSERT_TRUE(pumpUntil([&] { return write->isEnabled(); }));
    write->click();
    ProgressDialog* progress = progressDialog();
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(player.window().isEnabled());
    progress->close();  // as from its close box
    EXPECT_TRUE(player.window().isEnabled()) << "enabled again at once";
    ASSERT_TRUE(pumpUntil([&] { return !progressDialog() && player.button("play")->isEnabled(); }));
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
    QPushButton* write = player.button("writeDecoded");
    ASSERT_TRUE(pumpUntil([&] { return write->isEnabled() && player.dialogs().shownCount() == 1; }))
        << "the playback's own failure is shown first";
    write->click();
    ASSERT_NE(progressDialog(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return !progressDialog() && player.window().isEnabled(); }));
    ASSERT_TRUE(pumpUntil([&] { return player.dialogs().shownCount() == 3; }))
        << "the save dialog, then the decode's message";
    EXPECT_TRUE(namesIn(dir.path()).empty());
    EXPECT_TRUE(write->isEnabled());
}

}  // namespace
}  // namespace veloraplay
