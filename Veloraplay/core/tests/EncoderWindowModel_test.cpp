// The encoder window's rules without widgets: derived paths, the information and status
// lines, the parameter list the encoder offers, the enable rules, the start checks with
// their messages and the overwrite question, the player stopped for monitor playback, the
// settings, and the job's reports brought to the interface thread.
#include "EncoderWindowModel.h"

#include "EncoderTestKit.h"
#include "EncoderTexts.h"
#include "PlayerWindowModel.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

namespace veloraplay {
namespace {

using test::RecordingDialogs;
using test::TempFolder;

TEST(EncoderTexts, DerivedOutputPaths) {
    struct Case {
        const char* input;
        const char* directory;
        const char* output;
    } const cases[] = {
        {"/music/song.wav", "", "/music/song.mp3"},
        {"/music/song", "", "/music/song.mp3"},
        {"/music/live.2001/take", "", "/music/live.2001/take.mp3"},  // the folder's dot stays
        {"/music/a.b.wav", "", "/music/a.b.mp3"},
        {"song.wav", "", "song.mp3"},
        {"/music/song.wav", "/out", "/out/song.mp3"},
        {"/music/song.wav", "/out/", "/out/song.mp3"},
        {"/music/live.2001/take", "/out", "/out/take.mp3"},
        {"/music/song.wav", "/", "/song.mp3"},
    };
    for (const Case& c : cases) EXPECT_EQ(derivedOutputPath(c.input, c.directory), c.output) << c.input;
}

TEST(EncoderTexts, InfoAndStatusLines) {
    EXPECT_EQ(encoderInfoLine(44100, 2, 44100ull * 4 * 3725), "WAVE 44100 Hz Stereo - Linear PCM - 01:02:05");
    EXPECT_EQ(encoderInfoLine(22050, 1, 22050ull * 2 * 59 + 5), "WAVE 22050 Hz Mono - Linear PCM - 00:00:59");
    EXPECT_EQ(encoderInfoLine(48000, 2, 0), "WAVE 48000 Hz Stereo - Linear PCM - 00:00:00");
    EXPECT_EQ(encodeStatusLine(176400ull * 65, 176400, 2), "Duration: 00:01:05  Time: 00:00:02  Speed: 32.5");
    EXPECT_EQ(encodeStatusLine(176400ull * 3, 176400, 0), "Duration: 00:00:03  Time: 00:00:00  Speed: 1.0");
    EXPECT_EQ(monitorStatusLine(176400ull * 65, 176400, 44100, 2, true), "Encoding: 00:01:05 - 44100 Hz stereo - Velora");
    EXPECT_EQ(monitorStatusLine(88200, 88200, 22050, 1, false), "Encoding: 00:00:01 - 22050 Hz mono");
    EXPECT_EQ(parameterEntryText(64, 44100, true), "64 kbps - 44100 Hz Velora");

    StatusThrottle throttle;
    const int elapsed[] = {0, 0, 1, 1, 1, 2, 4, 4, 5};
    const bool due[] = {false, false, true, false, false, true, true, false, true};
    for (size_t i = 0; i < std::size(elapsed); ++i) EXPECT_EQ(throttle.due(elapsed[i]), due[i]) << i;
}

struct FakePlayer final : EncoderPlayerLink {
    int stops = 0;
    mutable int asked = 0;
    int playingFor = 0;  // answers "still playing" this many times
    void stopPlaying() override { ++stops; }
    bool stillPlaying() const override { return asked++ < playingFor; }
};

struct FakeLibrary final : EncoderLibraryLink {
    bool there = true;
    std::vector<std::string> added;
    bool exists() const override { return there; }
    void add(const std::string& path) override { added.push_back(path); }
};

struct FakeView final : EncoderView {
    int refreshes = 0, beeps = 0;
    std::vector<int> progress;
    std::vector<std::string> statuses;
    void refresh() override { ++refreshes; }
    void showProgress(int p) override { progress.push_back(p); }
    void showStatus(const std::string& s) override { statuses.push_back(s); }
    void beep() override { ++beeps; }
};

// The interface thread's queue of posted tasks, run by the test.
class Posted {
  public:
    EncoderWindowModel::Post poster() {
        return [this](std::function<void()> task) {
            std::lock_guard<std::mutex> lock(m_);
            tasks_.push_back(std::move(task));
        };
    }
    void runAll() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(m_);
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

  private:
    std::mutex m_;
    std::deque<std::function<void()>> tasks_;
};

struct Window {
    TempFolder dir;
    SettingsStore settings{dir / "settings.ini"};
    RecordingDialogs dialogs;
    FakePlayer player;
    FakeLibrary library;
    FakeView view;
    Posted posted;
    std::vector<int> sleeps;
    test::CollectingMonitor monitor;
    std::unique_ptr<EncoderWindowModel> model;

    explicit Window(bool withLinks = true) { make(withLinks); }
    void make(bool withLinks = true) {
        model = std::make_unique<EncoderWindowModel>(
            settings, dialogs, withLinks ? &player : nullptr, withLinks ? &library : nullptr, &monitor,
            posted.poster(), [this](int ms) { sleeps.push_back(ms); });
        model->attach(view);
    }
    // Runs the posted reports until the job has ended.
    void finish() {
        while (model->running()) {
            posted.runAll();
            std::this_thread::yield();
        }
    }
    std::string wave(const std::string& name, int rate, int channels, int frames = 4410) {
        const std::string path = dir / name;
        test::writeWave(path, rate, channels, test::toneSamples(rate, channels, frames));
        return path;
    }
};

// Entries written short: the bit rate and V (Velora) or m (plain mp3).
std::string shortList(const std::vector<ParameterEntry>& entries, int rate) {
    std::string text;
    for (const ParameterEntry& e : entries) {
        const std::string velora = parameterEntryText(e.kbps, rate, true);
        const std::string mp3 = parameterEntryText(e.kbps, rate, false);
        if (!text.empty()) text += ' ';
        text += std::to_string(e.kbps);
        text += e.text == velora ? 'V' : e.text == mp3 ? 'm' : '?';
    }
    return text;
}

TEST(EncoderWindowModel, TheParameterListIsWhatTheEncoderOffersForTheInputAndMode) {
    const std::string stereo = "8m 16m 24m 32V 40V 48V 56V 64V 80V 96V 112V 128V 144m 160m 192m 224m 256m 320m";
    const std::string mono = "8m 16m 24V 32V 40V 48V 56m 64m 80m 96m 112m 128m 144m 160m 192m 224m 256m 320m";
    struct Case {
        int rate, channels, mode;  // mode: list index, -1 = as the file selects
        int selectedMode;
        std::string entries;
        int selected;  // 64 kbit/s, what the encode command takes unless told otherwise
        int beeps;
    } const cases[] = {
        {44100, 2, -1, 1, stereo, 7, 0},
        {48000, 2, -1, 1, stereo, 7, 0},
        {44100, 2, 3, 3, stereo, 7, 0},                  // Dual Mono
        {44100, 2, 2, 2, "24V 32V 40V 48V", 0, 0},       // LC Stereo: no 64 kbit/s
        {44100, 2, 0, 0, mono, 7, 0},
        {44100, 1, -1, 0, mono, 7, 0},
        {32000, 2, -1, 1, "8m 16m 24m 32V 40V 48V 56V 64V 80V 96V 112m 128m 144m 160m 192m 224m 256m 320m", 7, 0},
        {8000, 2, -1, 1, "8m 16m 24m 32m 40m 48m 56m 64m 80m 96m 112m 128m 144m 160m", 7, 0},
        {11000, 2, -1, 1, "", -1, 1},  // a rate the encoder does not take: a beep, and no start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch, mode " + std::to_string(c.mode));
        Window w;
        ASSERT_TRUE(w.model->setInput(w.wave("in.wav", c.rate, c.channels)));
        if (c.mode >= 0) w.model->setChannelMode(c.mode);
        const EncoderFields& f = w.model->fields();
        EXPECT_EQ(f.channelMode, c.selectedMode);
        EXPECT_EQ(shortList(f.parameters, c.rate), c.entries);
        EXPECT_EQ(f.parameter, c.selected);
        EXPECT_EQ(w.model->startEnabled(), !c.entries.empty());
        EXPECT_EQ(w.view.beeps, c.beeps);
    }
    Window w;
    ASSERT_TRUE(w.model->setInput(w.wave("in.wav", 44100, 2)));
    EXPECT_EQ(w.model->fields().parameters[7].text, "64 kbps - 44100 Hz Velora");
    // A chosen bit rate stays chosen when the mode changes and still offers it.
    w.model->setParameter(4);
    w.model->setChannelMode(3);
    EXPECT_EQ(w.model->fields().parameters[static_cast<size_t>(w.model->fields().parameter)].kbps, 40);
    EXPECT_EQ(w.model->jobSettings().options.bitrateKbps, 40);
}

TEST(EncoderWindowModel, TheInputIsCheckedAndTheOutputDerived) {
    Window w;
    const std::string good = w.wave("take.one.wav", 44100, 2, 44100 * 3);
    const std::string floatWave = w.dir / "float.wav";
    test::writeWave(floatWave, 44100, 2, test::toneSamples(44100, 2, 100), 3);
    const std::string text = w.dir / "notes.txt";
    velora::testing::WriteFile(text, {'h', 'i'});

    EXPECT_FALSE(w.model->setInput(floatWave));
    EXPECT_EQ(w.dialogs.lastText(), unsupportedInputText(floatWave));
    EXPECT_FALSE(w.model->setInput(text));
    EXPECT_EQ(w.dialogs.boxes.size(), 2u);
    EXPECT_TRUE(w.model->fields().inputPath.empty());
    EXPECT_FALSE(w.model->startEnabled());

    EXPECT_TRUE(w.model->setInput(good));
    EXPECT_EQ(w.model->fields().outputPath, w.dir / "take.one.mp3");
    EXPECT_EQ(w.model->fields().infoLine, "WAVE 44100 Hz Stereo - Linear PCM - 00:00:03");
    EXPECT_TRUE(w.model->startEnabled());

    // With a default directory the output goes there; the folder browser stores it at once.
    w.dialogs.paths = {w.dir / "out"};
    w.model->chooseDefaultDirectory();
    EXPECT_EQ(w.dialogs.folders, std::vector<std::string>{kSelectDirectoryTitle});
    SettingsStore reread(w.dir / "settings.ini");
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.getString(kEncoderSection, kDefaultDirectoryKey, ""), w.dir / "out");
    w.dialogs.paths = {good};
    w.model->chooseInput();
    EXPECT_EQ(w.model->fields().outputPath, w.dir / "out/take.one.mp3");
    ASSERT_EQ(w.dialogs.files.size(), 1u);
    EXPECT_EQ(w.dialogs.files[0].title, kSelectSourceTitle);
    EXPECT_EQ(w.dialogs.files[0].filters[0].label, "Wave Files (*.wav)");
    EXPECT_EQ(w.dialogs.files[0].filters[1].label, "All Files (*.*)");
    EXPECT_TRUE(w.dialogs.files[0].mustExist);

    w.dialogs.paths = {w.dir / "chosen"};
    w.model->chooseOutput();
    EXPECT_EQ(w.model->fields().outputPath, w.dir / "chosen.mp3");
    EXPECT_EQ(w.model->fields().confirmedOutputPath, w.dir / "chosen.mp3");
    EXPECT_EQ(w.dialogs.files[1].title, kSelectOutputTitle);
    EXPECT_EQ(w.dialogs.files[1].filters[0].label, "MPEG Layer-3 Files (*.mp3)");
    EXPECT_TRUE(w.dialogs.files[1].save);
}

TEST(EncoderWindowModel, EnableRules) {
    struct Case {
        bool vbr, libraryThere, withLinks;
        bool slider, parameterList, addToLibrary;
    } const cases[] = {
        {false, true, true, false, true, true},
        {true, true, true, true, false, true},
        {false, false, true, false, true, false},
        {true, false, false, true, false, false},  // a stand-alone encoder has no library
    };
    for (const Case& c : cases) {
        Window w(c.withLinks);
        w.library.there = c.libraryThere;
        w.model->setVbr(c.vbr);
        EXPECT_EQ(w.model->vbrSliderEnabled(), c.slider);
        EXPECT_EQ(w.model->parameterListEnabled(), c.parameterList);
        EXPECT_EQ(w.model->addToLibraryEnabled(), c.addToLibrary);
        EXPECT_EQ(w.model->jobSettings().addToLibrary, c.addToLibrary);
        EXPECT_STREQ(w.model->startText(), "ENCODE");
    }
    // The slider runs 1..100: 0 would silently mean constant bit rate.
    Window w;
    const int asked[] = {-5, 0, 1, 50, 100, 101};
    const int kept[] = {1, 1, 1, 50, 100, 100};
    for (size_t i = 0; i < std::size(asked); ++i) {
        w.model->setVbrQuality(asked[i]);
        EXPECT_EQ(w.model->fields().vbrQuality, kept[i]);
    }
}

TEST(EncoderWindowModel, StartChecksAndTheirMessages) {
    Window w;
    const std::string in = w.wave("in.wav", 44100, 2);
    const std::string existing = w.dir / "old.mp3";
    velora::testing::WriteFile(existing, {1, 2, 3});
    const std::string namedMp3 = w.dir / "wave.mp3";  // a WAVE file whose derived output is itself
    test::writeWave(namedMp3, 44100, 2, test::toneSamples(44100, 2, 100));

    struct Case {
        const char* what;
        std::string input, output;
        bool monitor;
        std::vector<DialogButton> answers;
        std::string text;  // the message or question shown ("" none)
        bool starts;
    };
    const std::vector<Case> cases = {
        {"no input", "", "", false, {}, kNoInputText, false},
        {"no output, no monitor", in, "", false, {}, kNoOutputText, false},
        {"output is the input", namedMp3, namedMp3, false, {}, outputIsInputText(namedMp3), false},
        {"overwrite refused", in, existing, false, {DialogButton::No}, overwriteQuestionText(existing), false},
        {"overwrite unanswered", in, existing, false, {}, overwriteQuestionText(existing), false},
        {"overwrite accepted", in, existing, false, {DialogButton::Yes}, overwriteQuestionText(existing), true},
        {"monitor only", in, "", true, {}, "", true},
        {"new file", in, w.dir / "new.mp3", false, {}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.make();
        w.dialogs.boxes.clear();
        w.dialogs.buttons.assign(c.answers.begin(), c.answers.end());
        if (!c.input.empty()) {
            ASSERT_TRUE(w.model->setInput(c.input));
        }
        w.model->setOutputPath(c.output);
        w.model->setMonitorPlayback(c.monitor);
        w.model->startStop();
        EXPECT_EQ(w.dialogs.lastText(), c.text);
        if (!c.text.empty()) {
            const MessageBoxRequest& box = w.dialogs.boxes.back();
            const bool question = c.text == overwriteQuestionText(existing);
            EXPECT_EQ(box.icon, question ? DialogIcon::Warning : DialogIcon::Error);
            EXPECT_EQ(box.buttons, question ? DialogButtons::YesNo : DialogButtons::Ok);
        }
        EXPECT_EQ(w.model->running(), c.starts);
        if (c.starts) {
            EXPECT_STREQ(w.model->startText(), "STOP");
        }
        w.finish();
    }
    // A path the save dialog confirmed is not asked about again.
    w.make();
    w.dialogs.boxes.clear();
    ASSERT_TRUE(w.model->setInput(in));
    w.dialogs.paths = {existing};
    w.model->chooseOutput();
    w.model->startStop();
    EXPECT_TRUE(w.dialogs.boxes.empty());
    EXPECT_TRUE(w.model->running());
    w.finish();
}

TEST(EncoderWindowModel, MonitorPlaybackStopsThePlayerFirst) {
    struct Case {
        bool monitor;
        int playingFor;
        int stops;
        size_t sleeps;
        bool monitored;
    } const cases[] = {
        {false, 5, 0, 0, false},  // no monitor: the player plays on
        {true, 0, 1, 0, true},
        {true, 3, 1, 3, true},
        {true, 10, 1, 10, true},   // the tenth answer was the last "yes"
        {true, 11, 1, 10, false},  // still playing after ten waits: this job is not heard
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.playingFor);
        Window w;
        w.player.playingFor = c.playingFor;
        ASSERT_TRUE(w.model->setInput(w.wave("in.wav", 44100, 2)));
        w.model->setMonitorPlayback(c.monitor);
        w.model->startStop();
        ASSERT_TRUE(w.model->running());
        w.finish();
        EXPECT_EQ(w.player.stops, c.stops);
        EXPECT_EQ(w.sleeps.size(), c.sleeps);
        for (int ms : w.sleeps) EXPECT_EQ(ms, EncoderWindowModel::kPlayerWaitMs);
        EXPECT_EQ(w.monitor.opens, c.monitored ? 1 : 0);
    }
}

TEST(EncoderWindowModel, TheJobsReportsReachTheWindowAndTheLibrary) {
    for (const bool libraryThere : {true, false}) {
        Window w;
        ASSERT_TRUE(w.model->setInput(w.wave("in.wav", 44100, 2, 44100)));
        w.model->startStop();
        // The library window may close while the job runs.
        w.library.there = libraryThere;
        w.finish();
        EXPECT_FALSE(w.model->running());
        EXPECT_STREQ(w.model->startText(), "ENCODE");
        EXPECT_EQ(w.model->progress(), 0);
        ASSERT_GE(w.view.progress.size(), 2u);
        EXPECT_EQ(w.view.progress[w.view.progress.size() - 2], kProgressRange);
        EXPECT_EQ(w.view.progress.back(), 0);
        EXPECT_EQ(w.view.beeps, 1);
        EXPECT_EQ(w.library.added, libraryThere ? std::vector<std::string>{w.dir / "in.mp3"} : std::vector<std::string>{});
        EXPECT_GT(test::readFile(w.dir / "in.mp3").size(), 1000u);
    }
}

TEST(EncoderWindowModel, ClosingStopsTheJobAndKeepsMonitorPlayback) {
    Window w;
    EXPECT_FALSE(w.model->fields().monitorPlayback);  // off unless stored
    ASSERT_TRUE(w.model->setInput(w.wave("long.wav", 44100, 2, 44100 * 20)));
    w.model->setMonitorPlayback(true);
    w.monitor.refuseOpen = true;  // heard nowhere, so the job runs at full speed
    w.model->startStop();
    ASSERT_TRUE(w.model->running());
    w.model->close();  // waits for the job, which removes what it wrote
    EXPECT_FALSE(w.model->running());
    EXPECT_TRUE(test::readFile(w.dir / "long.mp3").empty());
    w.posted.runAll();
    w.model.reset();
    w.posted.runAll();  // reports posted for a window that is gone do nothing

    SettingsStore reread(w.dir / "settings.ini");
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.getInt(kEncoderSection, kMonitorPlaybackKey, 0), 1);
    w.settings.load();
    w.make();
    EXPECT_TRUE(w.model->fields().monitorPlayback);
}

}  // namespace
}  // namespace veloraplay
