// "Play All Items" on a library folder of three files, heard through the wav: backend: the
// files in order, then (the list wraps) the first again.
#include "LibraryModel.h"
#include "LibraryWindow.h"
#include "PlayerWindow.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "WaveFileWriter.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;

struct NoLauncher final : Launcher {
    bool open(const std::string&) override { return true; }
};

// One second of a `hz` tone, both channels, as a 16-bit WAVE file.
void writeTone(const std::string& path, double hz) {
    std::vector<int16_t> pcm;
    for (int i = 0; i < kRate; ++i) {
        const auto v = static_cast<int16_t>(9000.0 * std::sin(2.0 * M_PI * hz * i / kRate));
        pcm.push_back(v);
        pcm.push_back(v);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    WaveFileWriter writer;
    ASSERT_TRUE(writer.Begin(out, 2, kRate) && writer.Append(pcm.data(), pcm.size()) && writer.Finish());
    ASSERT_EQ(std::fclose(out), 0);
}

// The tone heard in each quarter second that is not silent, from its zero crossings.
std::vector<int> tonesHeard(const std::string& wav) {
    std::string d;
    if (std::FILE* f = std::fopen(wav.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) d.append(buffer, n);
        std::fclose(f);
    }
    std::vector<int> tones;
    const size_t window = kRate / 4;
    std::vector<int16_t> left;
    for (size_t at = 44; at + 3 < d.size(); at += 4)
        left.push_back(static_cast<int16_t>(static_cast<uint8_t>(d[at]) | (static_cast<uint8_t>(d[at + 1]) << 8)));
    for (size_t start = 0; start + window <= left.size(); start += window) {
        int crossings = 0;
        int peak = 0;
        for (size_t i = start + 1; i < start + window; ++i) {
            crossings += (left[i - 1] < 0) != (left[i] < 0) ? 1 : 0;
            peak = std::max(peak, std::abs(static_cast<int>(left[i])));
        }
        if (peak < 1000) continue;
        // Two crossings a period; rounded to the tones used.
        const int hz = crossings * 2;
        tones.push_back(hz < 450 ? 300 : hz < 900 ? 600 : 1200);
    }
    // One entry per run of equal tones.
    std::vector<int> runs;
    for (int t : tones)
        if (runs.empty() || runs.back() != t) runs.push_back(t);
    return runs;
}

TEST(PlayAll, ThreeFilesInOrderThenTheFirstAgain) {
    test::TempFolder dir;
    const std::string heard = dir / "heard.wav";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("VELORAPLAY_AUDIO", ("wav:" + heard).c_str(), 1);  // before the device output is made
    static int argc = 1;
    static char name[] = "veloraplay_play_all_test";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    const std::vector<std::string> files{dir / "low.wav", dir / "middle.wav", dir / "high.wav"};
    writeTone(files[0], 300);
    writeTone(files[1], 600);
    writeTone(files[2], 1200);
    // A stored library of one folder with the three files; the window reopens it.
    SettingsStore settings(dir / "settings.ini");
    settings.setInt("Controller", "Library Window", 1);
    settings.setInt(kLibrarySection, "Folders", 1);
    settings.setString(folderSection(0), "Folder Name", "Tones");
    settings.setInt(folderSection(0), "Folder Items", 3);
    for (int i = 0; i < 3; ++i) settings.setString(folderSection(0), itemKey(i), files[static_cast<size_t>(i)]);

    NoLauncher launcher;
    HelpTopics help(dir.path(), launcher);
    MessageQueue queue;
    ScriptedDialogService dialogs(stderr);
    QObject pump;
    std::vector<std::string> played;
    {
        PlayerWindow window(settings, help, "", queue, dialogs, &launcher);
        queue.setWakeCallback([&] {
            QMetaObject::invokeMethod(
                &pump, [&] { queue.drain([&](const Message& m) { window.handle(m); }); },
                Qt::QueuedConnection);
        });
        window.show();
        ASSERT_NE(window.library(), nullptr) << "the library window opens again";
        LibraryModel& library = window.library()->model();
        ASSERT_EQ(library.roots().size(), 1u);
        ASSERT_EQ(library.roots()[0].children.size(), 3u);
        ASSERT_TRUE(library.playFolder(library.roots()[0].id, false, window.libraryHost()));

        const auto end = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < end && played.size() < 4) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            const std::string now = window.playback().file();
            if (window.playback().isRunning() && (played.empty() || played.back() != now)) played.push_back(now);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // Let the fourth be heard for a moment, then stop.
        const auto moment = Clock::now() + std::chrono::milliseconds(700);
        while (Clock::now() < moment) QApplication::processEvents(QEventLoop::AllEvents, 10);
        window.close();
        queue.setWakeCallback({});
    }
    EXPECT_EQ(played, (std::vector<std::string>{files[0], files[1], files[2], files[0]}));
    EXPECT_EQ(tonesHeard(heard), (std::vector<int>{300, 600, 1200, 300}));
}

}  // namespace
}  // namespace veloraplay
