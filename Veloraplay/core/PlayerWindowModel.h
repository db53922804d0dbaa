#pragma once
// The player window's behaviour without its widgets: the commands of its buttons and menus,
// the skins and views, the band gains and meters, the current folder list, what it opens and
// what it stores. The window forwards input and messages here and draws what it is told
// through PlayerView; every platform call is behind an interface, so all of it is tested
// without a display or a sound card.
#include "BandMeters.h"
#include "DialogService.h"
#include "PlaybackControl.h"
#include "Playlist.h"
#include "SettingsStore.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veloraplay {

// Command ids of the window's buttons and menu items.
namespace cmd {
inline constexpr int kClose = 2;
inline constexpr int kAbout = 16;
inline constexpr int kOpenFile = 66;
inline constexpr int kWriteDecoded = 67;
inline constexpr int kLibraryMenu = 69;
inline constexpr int kEncoderMenu = 70;
inline constexpr int kVolumeMenu = 71;
inline constexpr int kConversionDirectory = 72;
inline constexpr int kNextMenu = 73;
inline constexpr int kPreviousMenu = 74;
inline constexpr int kToggleExtended = 75;
inline constexpr int kToggleCaption = 76;
inline constexpr int kResetGains = 77;
inline constexpr int kHelp = 78;
inline constexpr int kSkinOceanic = 100;
inline constexpr int kSkinBrushedMetal = 101;
inline constexpr int kPlay = 1000;
inline constexpr int kStop = 1001;
inline constexpr int kEject = 1002;
inline constexpr int kNext = 1003;
inline constexpr int kEnhancement = 1008;
inline constexpr int kVolume = 1010;
inline constexpr int kEncoder = 1013;
inline constexpr int kPrevious = 1022;
inline constexpr int kLibrary = 1024;
inline constexpr int kPause = 1029;
inline constexpr int kMinimize = 0xF020;
inline constexpr int kSystemClose = 0xF060;
inline constexpr int kFirstBand = 3;  // band controls 3..10
}  // namespace cmd

inline constexpr char kAboutMenuText[] = "&About Velora Audio Player";
// Where the encoder writes when no other folder is given.
inline constexpr char kEncoderSection[] = "Encoder";
inline constexpr char kDefaultDirectoryKey[] = "Default Directory";

// One entry of the context menu: an item, a separator (id 0, empty text) or a submenu.
struct MenuEntry {
    std::string text;
    int id = 0;
    bool enabled = true;
    bool checked = false;
    std::vector<MenuEntry> submenu;

    bool separator() const { return text.empty(); }
};

// Which corner of the window stays where it is when the window changes size.
enum class KeptCorner { TopLeft, BottomRight };

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// The window's new frame when its size changes from `frame` to `width` x `height`.
ScreenRect keepCorner(const ScreenRect& frame, int width, int height, KeptCorner corner);
// Whether a stored client origin is used: not when both coordinates put the window's frame
// at or left of / above the screen's origin (where an absent setting, 0, would put it).
bool storedOriginApplies(int left, int top, int frameLeft, int frameTop);

// What the window draws and opens; the Qt window implements it.
class PlayerView {
  public:
    virtual ~PlayerView() = default;
    // Stop shown and Play hidden (true), or the other way round.
    virtual void showPlaying(bool playing) = 0;
    virtual void showEnhancementButton(bool visible, bool on) = 0;
    virtual void enableBandControls(bool enabled) = 0;
    virtual void showBandSteps(const std::array<int, BandMeters::kBands>& steps) = 0;
    virtual void showMeters(const std::array<int, BandMeters::kBands>& meters) = 0;
    // Rebuilds the artwork for the model's skin and shows that skin's controls.
    virtual void applySkin() = 0;
    // Sizes the window for the model's skin, view and caption, keeping `corner` in place.
    virtual void relayout(KeptCorner corner) = 0;
    // A status display code as the controller sends it (PlayerNotify).
    virtual void notifyDisplay(uintptr_t code, intptr_t value) = 0;
    // The current file, for the display and its tooltip ("Status Display" when empty).
    virtual void showFile(const std::string& path) = 0;
    virtual void showPosition(int value) = 0;
    // Skin 1's volume control.
    virtual void showVolume(int level) = 0;
    virtual void openVolumePanel() = 0;
    virtual void showAbout() = 0;
    virtual void runEncoder(const std::string& waveInput) = 0;
    virtual void writeDecodedFile() = 0;
    virtual void openHelp() = 0;
    virtual void minimize() = 0;
    virtual void closeWindow() = 0;
    // Runs `then` on the interface thread after `ms` milliseconds, without blocking it.
    virtual void after(int ms, std::function<void()> then) = 0;
};

// The audio file library window, as far as the player window reaches it.
class LibraryLink {
  public:
    virtual ~LibraryLink() = default;
    virtual bool visible() const = 0;
    // Creates and shows the window (a hidden old one is deleted first).
    virtual void open() = 0;
    virtual void select(uint32_t itemNumber) = 0;
    virtual void add(const std::string& path) = 0;
};

class PlayerWindowModel {
  public:
    static constexpr int kMeterTickMs = BandMeters::kTickMs;
    static constexpr int kEnhancementWaitMs = 600;
    static constexpr int kCloseWaitMs = 20;
    static constexpr std::size_t kMaxDroppedPath = 4096;

    // Reads the skin, view, caption, gains and enhancement default from `settings`.
    PlayerWindowModel(SettingsStore& settings, PlaybackControl& playback, DialogService& dialogs,
                      std::function<void(int)> setDeviceVolume);

    void attach(PlayerView* view, LibraryLink* library);

    // The window's start: gains to the controller, the volume shown, the library reopened,
    // and `commandLine` opened when not empty. Call once the view can draw.
    void initialise(const std::string& commandLine);

    // A button, menu item or the worker's Stop/Next (`fromWorker`).
    void command(int id, bool fromWorker = false);
    void openCommandLine(const std::string& text);
    // The copy-data message: a command line, or (empty) "play the folder list from its start".
    void copyData(const std::string& payload);
    void dropFiles(const std::vector<std::string>& paths);

    void playerNotify(uintptr_t code, intptr_t value);
    void streamKind(bool velora);
    // The worker's position (0..100, 242 idle) and the user's seek from the position control.
    void positionFromPlayback(int value);
    void positionFromUser(int percent);
    // The volume control's value (skin 1) and the panel's close.
    void volumeFromUser(int level);
    void volumePanelClosed();

    void meterTick();
    // A band control's new step from the mouse.
    void setBandStep(int band, int step);

    // The menu as it is now.
    std::vector<MenuEntry> contextMenu() const;

    // A run the window started itself (a decode to file) counts as the current run.
    void runStarted() { ++runsStarted_; }

    // Writes every setting the window keeps; the caller gives its client origin.
    void save(int clientLeft, int clientTop);

    int skin() const { return skin_; }
    bool extended() const { return extended_; }
    bool captionShown() const { return captionShown_; }
    const std::array<int, BandMeters::kBands>& bandSteps() const { return steps_; }
    bool bandControlsEnabled() const { return bandsEnabled_; }
    bool hasFile() const { return !playback_.file().empty(); }
    Playlist& folderList() { return folderList_; }
    const Playlist& folderList() const { return folderList_; }
    // The library window was open at the last exit and opens again.
    bool libraryAtStart() const { return libraryAtStart_; }
    int storedLeft() const { return storedLeft_; }
    int storedTop() const { return storedTop_; }
    // The volume control's level: the stored level, or 0 when muted.
    int savedVolume() const;

  private:
    void play();
    void stopPlayback();
    void next();
    void previous();
    void openFileDialog();
    void toggleExtended();
    void toggleCaption();
    void setSkin(int skin);
    void resetGains();
    void pushGains();
    void startFile(const std::string& path);
    bool fromCurrentRun() const { return runsEnded_ + 1 == runsStarted_; }
    void chooseConversionDirectory();
    uint32_t shownItemNumber() const;

    SettingsStore& settings_;
    PlaybackControl& playback_;
    DialogService& dialogs_;
    std::function<void(int)> setDeviceVolume_;
    PlayerView* view_ = nullptr;
    LibraryLink* library_ = nullptr;

    int skin_;
    bool extended_;
    bool captionShown_;
    bool libraryAtStart_;
    bool enhancementDefault_;
    int storedLeft_;
    int storedTop_;
    std::array<int, BandMeters::kBands> steps_{};
    BandMeters meters_;
    bool bandsEnabled_ = false;
    Playlist folderList_;
    // Runs started and ended: a Stop or Next the worker posted belongs to the run now going,
    // not to one the user stopped since.
    unsigned long runsStarted_ = 0;
    unsigned long runsEnded_ = 0;
};

}  // namespace veloraplay
