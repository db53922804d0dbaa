// The encoder window in this process, offscreen, driven through its own controls: what it
// writes equals the encode command's file at CBR 64 and VBR 50, what monitor playback sends
// to the wav: sound output equals the decode command's output, and a stop or a close while
// encoding leaves no file behind. Pictures of the window go to $VELORAPLAY_GRAB_DIR if set.
#include "AtomicFile.h"
#include "EncoderTestKit.h"
#include "EncoderWindow.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

// Where the monitor's sound goes, fixed before the process's sound output is made.
const std::string& heardPath() {
    static const std::string path = "/tmp/vpt-encoder-heard-" + std::to_string(::getpid()) + ".wav";
    return path;
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "veloraplay_encoder_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("VELORAPLAY_AUDIO", ("wav:" + heardPath()).c_str(), 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

struct NoLauncher final : Launcher {
    bool open(const std::string&) override { return true; }
};

// Runs the interface thread until `done` or two minutes have passed (only a hang gets there).
bool pumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

using test::namesIn;

std::string contents(const std::string& path) {
    std::string bytes;
    readWholeFile(path, bytes);
    return bytes;
}

// The 16-bit samples of a WAVE file's data chunk.
std::vector<int16_t> samplesOf(const std::string& path) {
    const std::string d = contents(path);
    std::vector<int16_t> samples;
    size_t at = 12;
    while (at + 8 <= d.size()) {
        uint32_t size = 0;
        for (size_t i = 0; i < 4; ++i)
            size |= static_cast<uint32_t>(static_cast<unsigned char>(d[at + 4 + i])) << (8 * i);
        if (d.compare(at, 4, "data") == 0) {
            const size_t n = std::min<size_t>(size, d.size() - at - 8) / 2;
            for (size_t i = 0; i < n; ++i) {
                const auto lo = static_cast<unsigned char>(d[at + 8 + 2 * i]);
                const auto hi = static_cast<unsigned char>(d[at + 9 + 2 * i]);
                samples.push_back(static_cast<int16_t>(lo | (hi << 8)));
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

void run(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

void grab(QWidget& w, const std::string& name) {
    if (const char* dir = std::getenv("VELORAPLAY_GRAB_DIR")) {
        EXPECT_TRUE(w.grab().save(QString::fromStdString(std::string(dir) + "/" + name)));
    }
}

class EncoderWindowTest : public ::testing::Test {
  protected:
    EncoderWindowTest() : settings_(dir_ / "settings.ini"), dialogs_(stderr), help_(dir_.path(), launcher_) {
        application();
    }
    std::unique_ptr<EncoderWindow> open(int skin, const std::string& input) {
        auto w = std::make_unique<EncoderWindow>(skin, input, settings_, dialogs_, help_);
        w->show();
        QApplication::processEvents();
        return w;
    }
    QCheckBox* box(EncoderWindow& w, const char* caption) {
        for (QCheckBox* b : w.findChildren<QCheckBox*>()) {
            if (b->text() == QLatin1String(caption)) return b;
        }
        ADD_FAILURE() << "no check box " << caption;
        return nullptr;
    }
    // Clicks ENCODE and runs the interface until the job has ended.
    void encode(EncoderWindow& w) {
        ASSERT_EQ(w.startButton()->text(), QStringLiteral("ENCODE"));
        w.startButton()->click();
        ASSERT_EQ(w.startButton()->text(), QStringLiteral("STOP"));
        ASSERT_TRUE(pumpUntil([&] { return !w.model().running(); }));
        EXPECT_EQ(w.startButton()->text(), QStringLiteral("ENCODE"));
        EXPECT_EQ(w.progressBar()->value(), 0);
    }

    test::TempFolder dir_;
    SettingsStore settings_;
    ScriptedDialogService dialogs_;
    NoLauncher launcher_;
    HelpTopics help_;
};

TEST_F(EncoderWindowTest, WritesWhatTheEncodeCommandWritesAtCbr64AndVbr50) {
    const std::string in = dir_ / "tone.wav";
    test::makeToneFile(in, "", 3);
    run(std::string(VELORA_BINARY) + " encode '" + in + "' '" + (dir_ / "cbr.mp3") + "'");
    run(std::string(VELORA_BINARY) + " encode -V 50 '" + in + "' '" + (dir_ / "vbr.mp3") + "'");

    for (int skin : {0, 1}) {
        auto idle = open(skin, in);
        grab(*idle, "encoder-idle-skin" + std::to_string(skin) + ".png");
    }
    auto w = open(1, in);
    EXPECT_EQ(w->infoLine()->text(), QStringLiteral("WAVE 44100 Hz Stereo - Linear PCM - 00:00:03"));
    const std::string out = dir_ / "tone.mp3";
    encode(*w);
    EXPECT_TRUE(contents(out) == contents(dir_ / "cbr.mp3")) << "CBR 64 differs from the encode command's file";

    box(*w, "VBR - Variable Bitrate Encoding:")->click();
    EXPECT_TRUE(w->findChild<QSlider*>()->isEnabled());
    dialogs_.addAnswer("Velora Encoder", "Yes");  // the file exists now: overwrite it
    encode(*w);
    EXPECT_TRUE(contents(out) == contents(dir_ / "vbr.mp3")) << "VBR 50 differs from the encode command's file";
    EXPECT_EQ(namesIn(dir_.path()), (std::vector<std::string>{"cbr.mp3", "settings.ini", "tone.mp3", "tone.wav", "vbr.mp3"}));
}

TEST_F(EncoderWindowTest, MonitorPlaybackIsWhatTheDecodeCommandGives) {
    const std::string in = dir_ / "tone.wav";
    // Long enough that reading goes on past the first second (it runs ahead of what is heard
    // by the output's buffers), so the status line appears.
    test::makeToneFile(in, "", 4);
    auto w = open(0, in);
    box(*w, "Monitor Playback")->click();
    std::remove(heardPath().c_str());
    w->startButton()->click();
    // Heard in real time, so the job still runs when the first status line comes, a second in.
    ASSERT_TRUE(pumpUntil([&] { return w->statusLine()->text().startsWith("Encoding:") || !w->model().running(); }));
    ASSERT_TRUE(w->model().running());
    EXPECT_GT(w->progressBar()->value(), 0);
    grab(*w, "encoder-encoding-skin0.png");
    ASSERT_TRUE(pumpUntil([&] { return !w->model().running(); }));
    EXPECT_EQ(w->statusLine()->text().left(9), QStringLiteral("Encoding:"));
    EXPECT_TRUE(w->statusLine()->text().endsWith(QStringLiteral("44100 Hz stereo - Velora")))
        << w->statusLine()->text().toStdString();

    run(std::string(VELORA_BINARY) + " decode '" + (dir_ / "tone.mp3") + "' '" + (dir_ / "decoded.wav") + "'");
    const std::vector<int16_t> heard = samplesOf(heardPath());
    const std::vector<int16_t> decoded = samplesOf(dir_ / "decoded.wav");
    ASSERT_GT(decoded.size(), 44100u * 2);
    EXPECT_TRUE(heard == decoded) << "heard " << heard.size() << " samples, the decode has " << decoded.size();
    std::remove(heardPath().c_str());
    // The option is kept for the next window.
    w->close();
    SettingsStore reread(dir_ / "settings.ini");
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.getInt("Encoder", "Monitor Playback", 0), 1);
}

TEST_F(EncoderWindowTest, StopOrCloseWhileEncodingLeavesNoFile) {
    const std::string in = dir_ / "tone.wav";
    test::makeToneFile(in, "", 6);
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        auto w = open(1, in);
        box(*w, "Monitor Playback")->setChecked(true);  // heard in real time: slow enough to stop
        w->startButton()->click();
        ASSERT_TRUE(pumpUntil([&] { return w->progressBar()->value() > 0 || !w->model().running(); }));
        ASSERT_TRUE(w->model().running());
        if (close) {
            w->close();
            EXPECT_FALSE(w->model().running());
        } else {
            w->startButton()->click();  // STOP
            ASSERT_TRUE(pumpUntil([&] { return !w->model().running(); }));
            EXPECT_EQ(w->startButton()->text(), QStringLiteral("ENCODE"));
        }
        w.reset();
        EXPECT_EQ(namesIn(dir_.path()), (std::vector<std::string>{"settings.ini", "tone.wav"}));
    }
    std::remove(heardPath().c_str());
}

}  // namespace
}  // namespace veloraplay
