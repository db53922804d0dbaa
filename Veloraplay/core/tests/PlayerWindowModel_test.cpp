// The player window's behaviour over a recording controller and view: commands, menus,
// skins, gains, meters, the folder list and the settings it keeps.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "MessageQueue.h"
#include "PlayerSettings.h"
#include "PlayerWindowModel.h"
#include "ScriptedDialogService.h"
#include "SliderModel.h"

#include <cstdio>
#include <map>

namespace veloraplay {
namespace {

class FakePlayback final : public PlaybackControl {
  public:
    void setFile(const std::string& name) override { file_ = name; }
    const std::string& file() const override { return file_; }
    bool isWaveFile() const override {
        return file_.size() > 4 && file_.compare(file_.size() - 4, 4, ".wav") == 0;
    }
    void start() override {
        paused_ = false;
        if (running_ || file_.empty()) return;
        running_ = true;
        started.push_back(file_);
    }
    void stop() override {
        if (running_) ++unreported;
        running_ = false;
        paused_ = false;
        ++stops;
    }
    void togglePause() override {
        if (running_) paused_ = !paused_;
    }
    bool isRunning() const override { return running_; }
    bool isPaused() const override { return paused_; }
    bool decodingToFile() const override { return false; }
    void requestSeek(int percent) override { seeks.push_back(percent); }
    bool toggleEnhancement() override { return live_ = !live_; }
    bool enhancement() const override { return live_; }
    void setEnhancementDefault(bool on) override { default_ = on; }
    bool enhancementDefault() const override { return default_; }
    void setBandGain(int band, int step) override { gains.at(static_cast<size_t>(band)) = step; }
    std::array<uint8_t, kBandCount> takeBandPeaks() override {
        auto taken = peaks;
        peaks.fill(0);
        return taken;
    }

    std::vector<std::string> started;
    std::vector<int> seeks;
    int stops = 0;
    int unreported = 0;  // runs stopped whose "stopped" report the window has not had yet
    std::array<int, kBandCount> gains{-1, -1, -1, -1, -1, -1, -1, -1};
    std::array<uint8_t, kBandCount> peaks{};

  private:
    std::string file_;
    bool running_ = false;
    bool paused_ = false;
    bool live_ = true;
    bool default_ = true;
};

class FakeView final : public PlayerView {
  public:
    void showPlaying(bool on) override { playing = on; }
    void showEnhancementButton(bool visible, bool on) override {
        enhancementVisible = visible;
        enhancementOn = on;
    }
    void enableBandControls(bool enabled) override { bandsEnabled = enabled; }
    void showBandSteps(const std::array<int, BandMeters::kBands>& s) override { steps = s; }
    void showMeters(const std::array<int, BandMeters::kBands>& m) override {
        meters = m;
        ++meterDraws;
    }
    void applySkin() override { ++skinApplied; }
    void relayout(KeptCorner corner) override { layouts.push_back(corner); }
    void notifyDisplay(uintptr_t code, intptr_t value) override { display[code] = value; }
    void showFile(const std::string& path) override { file = path; }
    void showPosition(int value) override { position = value; }
    void showVolume(int level) override { volume = level; }
    void openVolumePanel() override { ++volumePanels; }
    void showAbout() override { ++abouts; }
    void runEncoder(const std::string& input) override { encoderInputs.push_back(input); }
    void writeDecodedFile() override { ++decodes; }
    void openHelp() override { ++helps; }
    void minimize() override { ++minimized; }
    void closeWindow() override { ++closed; }
    void after(int ms, std::function<void()> then) override {
        delays.push_back(ms);
        pending.push_back(std::move(then));
    }
    void runPending() {
        auto work = std::move(pending);
        pending.clear();
        for (auto& f : work) f();
    }

    bool playing = false;
    bool enhancementVisible = true;
    bool enhancementOn = false;
    bool bandsEnabled = true;
    std::array<int, BandMeters::kBands> steps{};
    std::array<int, BandMeters::kBands> meters{};
    int meterDraws = 0;
    int skinApplied = 0;
    std::vector<KeptCorner> layouts;
    std::map<uintptr_t, intptr_t> display;
    std::string file = "unset";
    int position = -1;
    int volume = -1;
    int volumePanels = 0, abouts = 0, decodes = 0, helps = 0;
    int minimized = 0, closed = 0;
    std::vector<std::string> encoderInputs;
    std::vector<int> delays;
    std::vector<std::function<void()>> pending;
};

class FakeLibrary final : public LibraryLink {
  public:
    bool visible() const override { return shown; }
    void open() override {
        shown = true;
        ++opens;
    }
    void select(uint32_t item) override { selected.push_back(item); }
    void add(const std::string& path) override { added.push_back(path); }

    bool shown = false;
    int opens = 0;
    std::vector<uint32_t> selected;
    std::vector<std::string> added;
};

struct Window {
    explicit Window(std::map<std::string, int32_t> stored = {}) : settings("/nonexistent/x.ini") {
        for (const auto& [key, value] : stored) settings.setInt("Controller", key, value);
        model = std::make_unique<PlayerWindowModel>(settings, playback, dialogs,
                                                    [this](int level) { volumes.push_back(level); });
        model->attach(&view, &library);
    }
    void open(const std::string& commandLine = {}) { model->initialise(commandLine); }
    // A folder list the library set, played from its start as "Play All Items" does.
    void playFolder(std::vector<std::string> items) {
        model->folderList().setItems(std::move(items), true);
        model->folderList().setRepeat(Playlist::kWrap);
        model->copyData({});
    }
    // The worker's end of the run now playing: its Stop and Next, then the stopped state.
    void runEnds(bool advance) {
        reportStopped();
        playback.stop();
        playback.unreported = 0;
        model->command(cmd::kStop, true);
        if (advance) model->command(cmd::kNext, true);
        model->playerNotify(notify::kState, notify::kStopped);
    }

    // The "stopped" reports of runs the user stopped, as the queue delivers them later.
    void reportStopped() {
        for (; playback.unreported > 0; --playback.unreported)
            model->playerNotify(notify::kState, notify::kStopped);
    }

    SettingsStore settings;
    FakePlayback playback;
    ScriptedDialogService dialogs{nullptr};
    FakeView view;
    FakeLibrary library;
    std::vector<int> volumes;
    std::unique_ptr<PlayerWindowModel> model;
};

std::vector<std::string> menuTexts(const std::vector<MenuEntry>& menu) {
    std::vector<std::string> texts;
    for (const MenuEntry& e : menu) texts.push_back(e.separator() ? "-" : e.text);
    return texts;
}

// The entry with `id`; one with id -1 when the menu has none.
MenuEntry findEntry(const std::vector<MenuEntry>& menu, int id) {
    for (const MenuEntry& e : menu)
        if (e.id == id) return e;
    MenuEntry none;
    none.id = -1;
    return none;
}

TEST(PlayerWindowModel, ContextMenuFollowsSkinViewCaptionAndState) {
    Window brushed({{"Skin Type", 0}});
    brushed.open();
    EXPECT_EQ(menuTexts(brushed.model->contextMenu()),
              (std::vector<std::string>{"&Open mp3 File...", "&Write Decoded PCM File...",
                                        "Extended &Controls", "Hide Window Caption Bar", "-",
                                        "Ne&xt Item in Folder", "&Previous Item in Folder", "-",
                                        "Audio File &Library", "Velora E&ncoder",
                                        "Select &Conversion Directory", "Adjust Playback &Volume",
                                        "Reset &Gain Levels", "Player Skin Appearance",
                                        "&Help Topics for this Window", "-", "&Minimize Application",
                                        "&About Velora Audio Player", "-",
                                        "&Quit Velora Audio Player"}));
    auto menu = brushed.model->contextMenu();
    EXPECT_FALSE(findEntry(menu, cmd::kWriteDecoded).enabled) << "no file set";
    EXPECT_FALSE(findEntry(menu, cmd::kNextMenu).enabled);
    EXPECT_FALSE(findEntry(menu, cmd::kPreviousMenu).enabled);
    const MenuEntry& skins = menu[13];
    ASSERT_EQ(skins.submenu.size(), 2u);
    EXPECT_EQ(skins.submenu[0].text, "Brushed Metal");
    EXPECT_EQ(skins.submenu[0].id, cmd::kSkinBrushedMetal);
    EXPECT_TRUE(skins.submenu[0].checked);
    EXPECT_FALSE(skins.submenu[1].checked);
    EXPECT_EQ(findEntry(menu, cmd::kSystemClose).id, 0xF060);
    EXPECT_EQ(findEntry(menu, cmd::kMinimize).id, 0xF020);

    // The view and caption items name what a click does; a library on screen drops its item.
    brushed.model->command(cmd::kToggleExtended);
    brushed.model->command(cmd::kToggleCaption);
    brushed.model->command(cmd::kLibrary);
    brushed.model->openCommandLine("/music/a.mp3");
    brushed.playFolder({"/m/1.mp3", "/m/2.mp3"});
    menu = brushed.model->contextMenu();
    EXPECT_EQ(menu[2].text, "Basic &Controls");
    EXPECT_EQ(menu[3].text, "Show Window Caption Bar");
    EXPECT_EQ(findEntry(menu, cmd::kLibraryMenu).id, -1);
    EXPECT_TRUE(findEntry(menu, cmd::kWriteDecoded).enabled);
    EXPECT_TRUE(findEntry(menu, cmd::kNextMenu).enabled);

    // Oceanic: no view item, no volume or gain items; a WAVE file cannot be decoded to one.
    Window oceanic;
    oceanic.open("/music/take.wav");
    menu = oceanic.model->contextMenu();
    for (int gone : {cmd::kToggleExtended, cmd::kVolumeMenu, cmd::kResetGains})
        EXPECT_EQ(findEntry(menu, gone).id, -1) << gone;
    EXPECT_FALSE(findEntry(menu, cmd::kWriteDecoded).enabled);
    EXPECT_TRUE(menu[menu.size() - 7].submenu[1].checked);
}

TEST(PlayerWindowModel, SettingsReadClampedAndWrittenBack) {
    // Nibbles above 6 are heard and shown as 6; the extended view needs the Brushed Metal skin.
    Window w({{"Skin Type", 1}, {"Extended View", 1}, {"EQ Controls", static_cast<int32_t>(0x0F0A0203)},
              {"Velora.Enabled", 0}, {"Title Bar", 0}});
    w.open();
    EXPECT_FALSE(w.model->extended());
    EXPECT_FALSE(w.model->captionShown());
    EXPECT_EQ(w.model->bandSteps(), (std::array<int, 8>{3, 0, 2, 0, 6, 0, 6, 0}));
    EXPECT_EQ(w.playback.gains, (std::array<int, 8>{3, 0, 2, 0, 6, 0, 6, 0}));
    EXPECT_FALSE(w.playback.enhancementDefault());

    // The enhancement button switches the playback, never the stored start state.
    w.model->command(cmd::kEnhancement);
    w.model->command(cmd::kToggleCaption);
    w.model->save(120, 80);
    EXPECT_EQ(w.settings.getInt("Controller", "Velora.Enabled", -1), 0);
    EXPECT_EQ(w.settings.getInt("Controller", "Title Bar", -1), 1);
    EXPECT_EQ(w.settings.getInt("Controller", "WindowRect.Left", -1), 120);
    EXPECT_EQ(w.settings.getInt("Controller", "WindowRect.Top", -1), 80);
    EXPECT_EQ(w.settings.getInt("Controller", "EQ Controls", -1), 0x06060203);
    EXPECT_EQ(w.settings.getInt("Controller", "Library Window", -1), 0);

    // A second window reads what the first wrote.
    Window again({{"Skin Type", 0}, {"Extended View", 1}});
    again.open();
    EXPECT_TRUE(again.model->extended());
    EXPECT_EQ(again.model->bandSteps(), (std::array<int, 8>{3, 3, 3, 3, 3, 3, 3, 3}));
    again.model->command(cmd::kLibrary);
    again.model->save(0, 0);
    EXPECT_EQ(again.settings.getInt("Controller", "Library Window", -1), 1);
    EXPECT_EQ(again.settings.getInt("Controller", "Extended View", -1), 1);
    EXPECT_EQ(again.settings.getInt("Controller", "Skin Type", -1), 0);
}

TEST(PlayerWindowModel, GainsReachTheControllerOnEveryChange) {
    Window w({{"Skin Type", 0}, {"Extended View", 0}, {"EQ Controls", 0x01234560}});
    w.open();
    EXPECT_EQ(w.playback.gains, (std::array<int, 8>{0, 6, 5, 4, 3, 2, 1, 0}));
    w.model->setBandStep(2, 6);
    EXPECT_EQ(w.playback.gains[2], 6);
    w.model->setBandStep(9, 1);  // no such band: nothing changes
    w.model->setBandStep(1, 44);
    EXPECT_EQ(w.playback.gains[1], 6);
    // Reset in the basic view, where no meter tick runs, is still heard at once.
    w.model->command(cmd::kResetGains);
    EXPECT_EQ(w.playback.gains, (std::array<int, 8>{3, 3, 3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(w.view.steps, w.playback.gains);
    w.model->setBandStep(0, 0);
    // Oceanic starts every band at unity; switching stops the playback first.
    w.model->openCommandLine("/m/a.mp3");
    const int stopsBefore = w.playback.stops;
    w.model->command(cmd::kSkinOceanic);
    EXPECT_GT(w.playback.stops, stopsBefore);
    EXPECT_FALSE(w.playback.isRunning());
    EXPECT_EQ(w.playback.gains[0], 3);
    EXPECT_EQ(w.model->skin(), 1);
    // Back in Brushed Metal the gains stay as they were.
    w.model->setBandStep(5, 1);
    w.model->command(cmd::kSkinBrushedMetal);
    EXPECT_EQ(w.playback.gains[5], 1);
    EXPECT_FALSE(w.model->extended());
    w.model->command(cmd::kToggleExtended);
    EXPECT_TRUE(w.model->extended());
    w.model->command(cmd::kSkinOceanic);
    EXPECT_FALSE(w.model->extended()) << "Oceanic has no extended view";
    w.model->command(cmd::kToggleExtended);
    EXPECT_FALSE(w.model->extended());
}

TEST(PlayerWindowModel, MetersTickOnlyInTheExtendedViewAndShowLevelsLate) {
    Window w({{"Skin Type", 0}, {"Extended View", 1}});
    w.open("/m/a.mp3");
    w.playback.peaks.fill(127);
    w.model->meterTick();
    EXPECT_EQ(w.playback.peaks[0], 0) << "the tick takes the peaks";
    for (int t = 1; t < 10; ++t) {
        EXPECT_EQ(w.view.meters[0], 0) << t;
        w.model->meterTick();
    }
    w.model->meterTick();
    EXPECT_EQ(w.view.meters[0], 7) << "ten ticks later";
    // Paused: all meters fall to 0 at once.
    w.model->command(cmd::kPause);
    w.model->meterTick();
    EXPECT_EQ(w.view.meters, (std::array<int, 8>{}));
    // Basic view: the tick draws nothing and leaves the peaks.
    w.model->command(cmd::kPause);
    w.model->command(cmd::kToggleExtended);
    const int draws = w.view.meterDraws;
    w.playback.peaks.fill(64);
    w.model->meterTick();
    EXPECT_EQ(w.view.meterDraws, draws);
    EXPECT_EQ(w.playback.peaks[3], 64);
}

TEST(PlayerWindowModel, CommandLinePlaysOnlyItsFirstItem) {
    Window w;
    w.open(joinArguments({"/m/first.mp3", "/m/second.mp3"}));
    EXPECT_EQ(w.playback.started, (std::vector<std::string>{"/m/first.mp3"}));
    EXPECT_TRUE(w.view.playing);
    EXPECT_EQ(w.view.file, "/m/first.mp3");
    EXPECT_EQ(w.view.display[notify::kItem], 0);
    // Next and Previous do nothing without a folder list of two.
    w.model->command(cmd::kNext);
    w.model->command(cmd::kPrevious);
    EXPECT_EQ(w.playback.started.size(), 1u);
    // A name the argument splitter would break still arrives whole.
    const std::string odd = "/m/a \"quoted\" name\\";
    w.model->openCommandLine(joinArguments({odd}));
    EXPECT_EQ(w.playback.file(), odd);
    // Nothing to open: nothing stops.
    const int stops = w.playback.stops;
    w.model->openCommandLine("   ");
    EXPECT_EQ(w.playback.stops, stops);
    EXPECT_EQ(w.playback.file(), odd);
}

TEST(PlayerWindowModel, FolderListWalksNextAndPrevious) {
    Window w;
    w.open();
    w.playFolder({"/m/1.mp3", "/m/2.mp3", "/m/3.mp3"});
    // Play All: position at the end, then Next wraps to the first item.
    EXPECT_EQ(w.playback.started.back(), "/m/1.mp3");
    EXPECT_EQ(w.view.display[notify::kItem], 1);
    EXPECT_EQ(w.library.selected.back(), 1u);
    w.model->command(cmd::kNext);
    EXPECT_EQ(w.playback.started.back(), "/m/2.mp3");
    // Previous steps back twice, then Next.
    w.model->command(cmd::kPreviousMenu);
    EXPECT_EQ(w.playback.started.back(), "/m/1.mp3");
    w.model->command(cmd::kPrevious);
    EXPECT_EQ(w.playback.started.back(), "/m/3.mp3") << "wraps backwards";
    EXPECT_EQ(w.view.display[notify::kItem], 3);
    // The end of a file moves on, wrapping to the first.
    w.runEnds(true);
    EXPECT_EQ(w.playback.started.back(), "/m/1.mp3");
    EXPECT_TRUE(w.view.playing);
    // Play after a stop plays the list's current item and shows its number.
    w.model->command(cmd::kStop);
    EXPECT_FALSE(w.view.playing);
    w.model->command(cmd::kPlay);
    EXPECT_EQ(w.playback.started.back(), "/m/1.mp3");
    EXPECT_EQ(w.view.display[notify::kItem], 1);
    // A single file opened replaces the list.
    w.model->dropFiles({"/m/dropped.mp3", "/m/ignored.mp3"});
    EXPECT_EQ(w.playback.started.back(), "/m/dropped.mp3");
    EXPECT_EQ(w.library.added.back(), "/m/dropped.mp3");
    EXPECT_EQ(w.model->folderList().size(), 0u);
}

TEST(PlayerWindowModel, StaleWorkerStopAndNextLeaveTheNewRunAlone) {
    Window w;
    w.open();
    w.playFolder({"/m/1.mp3", "/m/2.mp3"});
    // The user opens another file while the old run's Stop and Next are still queued.
    w.model->openCommandLine("/m/other.mp3");
    const std::size_t starts = w.playback.started.size();
    w.model->command(cmd::kStop, true);
    w.model->command(cmd::kNext, true);
    w.reportStopped();
    EXPECT_TRUE(w.playback.isRunning());
    EXPECT_EQ(w.playback.started.size(), starts);
    EXPECT_EQ(w.playback.file(), "/m/other.mp3");
    // The new run's own end is honoured.
    w.runEnds(false);
    EXPECT_FALSE(w.view.playing);
}

TEST(PlayerWindowModel, PlayWithoutFileAsksForOne) {
    Window w;
    w.open();
    w.model->command(cmd::kPlay);
    EXPECT_EQ(w.dialogs.shownCount(), 1) << "the open dialog";
    EXPECT_TRUE(w.playback.started.empty());
    w.dialogs.addAnswer("Select Source File", "/m/chosen.mp3");
    w.model->command(cmd::kEject);
    EXPECT_EQ(w.playback.started, (std::vector<std::string>{"/m/chosen.mp3"}));
    EXPECT_EQ(w.library.added, (std::vector<std::string>{"/m/chosen.mp3"}));
    // The encoder's folder is kept in the settings.
    w.dialogs.addAnswer("Select Default Encoder Output Directory", "/m/out");
    w.model->command(cmd::kConversionDirectory);
    EXPECT_EQ(w.settings.getString(kEncoderSection, kDefaultDirectoryKey, ""), "/m/out");
}

TEST(PlayerWindowModel, PositionVolumeEnhancementAndClose) {
    Window w({{"Skin Type", 1}});
    w.settings.setInt("Volume Panel", "VolumeLevel", 35);
    w.open();
    EXPECT_EQ(w.view.volume, 35);
    EXPECT_EQ(w.view.position, SliderModel::kIdle);
    // No seek while idle; seeks while playing.
    w.model->positionFromUser(50);
    EXPECT_TRUE(w.playback.seeks.empty());
    w.model->openCommandLine("/m/a.mp3");
    w.model->positionFromUser(100);
    w.model->positionFromUser(242);
    EXPECT_EQ(w.playback.seeks, (std::vector<int>{100}));
    w.model->positionFromPlayback(42);
    EXPECT_EQ(w.view.position, 42);

    // The volume control sets the device and the stored level, and unmutes.
    w.settings.setInt("Volume Panel", "MuteState", 1);
    w.model->volumeFromUser(70);
    EXPECT_EQ(w.volumes, (std::vector<int>{70}));
    EXPECT_EQ(w.settings.getInt("Volume Panel", "VolumeLevel", -1), 70);
    EXPECT_EQ(w.settings.getInt("Volume Panel", "MuteState", -1), 0);
    // The panel closed muted: the control shows 0.
    w.settings.setInt("Volume Panel", "MuteState", 1);
    w.model->volumePanelClosed();
    EXPECT_EQ(w.view.volume, 0);

    // A Velora stream shows the enhancement button in the default's state and enables the
    // bands; the button's toggle shows after a timer, never a sleep.
    w.model->streamKind(true);
    EXPECT_TRUE(w.view.enhancementVisible);
    EXPECT_TRUE(w.view.enhancementOn);
    EXPECT_TRUE(w.view.bandsEnabled);
    w.model->command(cmd::kEnhancement);
    EXPECT_EQ(w.view.delays, (std::vector<int>{600}));
    EXPECT_TRUE(w.view.enhancementOn) << "not before the wait";
    w.view.runPending();
    EXPECT_FALSE(w.view.enhancementOn);
    w.model->streamKind(false);
    EXPECT_FALSE(w.view.enhancementVisible);
    EXPECT_FALSE(w.view.bandsEnabled);

    // The encoder gets the current file only when it is a WAVE file.
    w.model->command(cmd::kEncoder);
    w.model->openCommandLine("/m/take.wav");
    w.model->command(cmd::kEncoderMenu);
    EXPECT_EQ(w.view.encoderInputs, (std::vector<std::string>{"", "/m/take.wav"}));
    w.model->command(cmd::kWriteDecoded);
    EXPECT_EQ(w.view.decodes, 0) << "a WAVE file is not decoded to one";

    // Escape stops, then closes after a short wait.
    w.model->command(cmd::kClose);
    EXPECT_FALSE(w.playback.isRunning());
    EXPECT_EQ(w.view.closed, 0);
    w.view.runPending();
    EXPECT_EQ(w.view.closed, 1);
}

TEST(PlayerWindowModel, LayoutCornersAndStoredOrigin) {
    Window w({{"Skin Type", 0}});
    w.open();
    w.view.layouts.clear();
    w.model->command(cmd::kToggleExtended);
    w.model->command(cmd::kToggleCaption);
    EXPECT_EQ(w.view.layouts, (std::vector<KeptCorner>{KeptCorner::TopLeft, KeptCorner::BottomRight}));

    EXPECT_EQ(keepCorner({100, 50, 400, 200}, 400, 300, KeptCorner::TopLeft),
              (ScreenRect{100, 50, 400, 300}));
    EXPECT_EQ(keepCorner({100, 50, 400, 230}, 400, 200, KeptCorner::BottomRight),
              (ScreenRect{100, 80, 400, 200}));
    struct Case {
        int left, top, frameLeft, frameTop;
        bool applies;
    };
    for (const Case& c : {Case{0, 0, 0, 0, false}, Case{0, 0, 4, 28, false}, Case{4, 28, 4, 28, false},
                          Case{5, 28, 4, 28, true}, Case{0, 200, 4, 28, true}, Case{300, 0, 0, 0, true},
                          Case{-50, -20, 0, 0, false}}) {
        EXPECT_EQ(storedOriginApplies(c.left, c.top, c.frameLeft, c.frameTop), c.applies)
            << c.left << "," << c.top;
    }
}

}  // namespace
}  // namespace veloraplay
